#include "platform/ui/UrlOpener.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

#include <QDesktopServices>
#include <QProcess>

namespace corvex {

namespace {

struct UrlOpenerSlot
{
    std::shared_ptr<UrlOpener> installed;
    std::shared_ptr<UrlOpener> fallback;
};

UrlOpenerSlot& urlOpenerSlot()
{
    static UrlOpenerSlot slot;
    return slot;
}

} // namespace

UrlOpener::~UrlOpener() = default;

bool UrlOpener::isOpenable(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    return !url.host().isEmpty();
}

bool UrlOpener::open(const QUrl& url)
{
    if (!isOpenable(url)) {
        Log::warning(QStringLiteral("Refused to open the address \"%1\": only http and https open")
                         .arg(url.toString(QUrl::RemoveUserInfo)));
        return false;
    }
    return openCheckedUrl(url);
}

void UrlOpener::openWatchingStart(const QUrl& url, std::function<void()> failed)
{
    if (!isOpenable(url)) {
        open(url); // says why
        MainQueue::post(std::move(failed));
        return;
    }
    openCheckedUrlWatchingStart(url, std::move(failed));
}

void UrlOpener::openCheckedUrlWatchingStart(const QUrl& url, std::function<void()> failed)
{
    if (!openCheckedUrl(url))
        MainQueue::post(std::move(failed));
}

std::shared_ptr<UrlOpener> UrlOpener::current()
{
    UrlOpenerSlot& slot = urlOpenerSlot();
    if (slot.installed)
        return slot.installed;
    if (!slot.fallback)
        slot.fallback = std::make_shared<QtUrlOpener>();
    return slot.fallback;
}

std::shared_ptr<UrlOpener> UrlOpener::setCurrent(std::shared_ptr<UrlOpener> opener)
{
    std::swap(urlOpenerSlot().installed, opener);
    return opener;
}

bool QtUrlOpener::openCheckedUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void QtUrlOpener::openCheckedUrlWatchingStart(const QUrl& url, std::function<void()> failed)
{
    // Without a parent and never deleted while it runs: ending Corvex must not end the browser.
    auto* opener = new QProcess();
    auto told = std::make_shared<bool>(false);
    const auto fail = [told, failed = std::move(failed)](const QString& why) {
        if (*told)
            return;
        *told = true;
        Log::warning(QStringLiteral("No browser could be started: %1").arg(why));
        MainQueue::post(failed);
    };
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            fail(QStringLiteral("xdg-open did not start"));
            opener->deleteLater();
        }
    });
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, fail](int exitCode, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || exitCode != 0)
                             fail(QStringLiteral("xdg-open ended with %1").arg(exitCode));
                         opener->deleteLater();
                     });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

} // namespace corvex
