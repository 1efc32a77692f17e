#include "platform/ui/UrlOpener.h"

#include "platform/core/Log.h"

#include <QDesktopServices>

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

} // namespace corvex
