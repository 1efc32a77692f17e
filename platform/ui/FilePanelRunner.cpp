#include "platform/ui/FilePanelRunner.h"

#include "platform/core/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <memory>

namespace corvex {

namespace {

QString filePanelNameFilter(const QStringList& types)
{
    QStringList patterns;
    for (const QString& type : types) {
        if (!type.isEmpty())
            patterns.append(QStringLiteral("*.") + type);
    }
    return patterns.join(QLatin1Char(' '));
}

} // namespace

FilePanelRunner::~FilePanelRunner() = default;

QString FilePanelRunner::OpenPanel::nameFilter() const
{
    return filePanelNameFilter(allowedFileTypes);
}

QString FilePanelRunner::SavePanel::nameFilter() const
{
    return filePanelNameFilter(allowedFileTypes);
}

QUrl FilePanelRunner::SavePanel::withAllowedExtension(const QUrl& url) const
{
    if (!url.isLocalFile())
        return url;
    const QString path = url.toLocalFile();
    const QString suffix = QFileInfo(path).suffix();
    QString first;
    for (const QString& type : allowedFileTypes) {
        if (type.isEmpty())
            continue;
        if (suffix.compare(type, Qt::CaseInsensitive) == 0)
            return url;
        if (first.isEmpty())
            first = type;
    }
    if (first.isEmpty())
        return url;
    return QUrl::fromLocalFile(path + QLatin1Char('.') + first);
}

QString FilePanelRunner::desktopDirectory()
{
    // A folder that does not exist would leave the dialog wherever the process was started.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return desktop;
    return QDir::homePath();
}

struct FilePanelRunner::Reply::State
{
    UniqueFunction<void(int response, const QList<QUrl>& urls)> answer;
    const char* panelKind = "";
    bool answered = false;
};

void FilePanelRunner::Reply::operator()(int response, const QList<QUrl>& urls) const
{
    if (mState->answered) {
        Log::assertionFailure(
            QStringLiteral("%1 panel answered twice").arg(QLatin1String(mState->panelKind)));
        return;
    }
    mState->answered = true;
    // The caller's completion posts its answer: never inside the call that began the panel.
    auto answer = std::move(mState->answer);
    answer(response, urls);
}

FilePanelRunner::Reply FilePanelRunner::replyFor(UniqueFunction<void(int, const QList<QUrl>&)> answer,
                                                 const char* panelKind)
{
    auto state = std::make_shared<Reply::State>();
    state->answer = std::move(answer);
    state->panelKind = panelKind;
    return Reply(std::move(state));
}

void FilePanelRunner::beginOpenPanel(OpenPanel panel, Window* window, Completion completion)
{
    if (panel.directory.isEmpty())
        panel.directory = desktopDirectory();
    present(panel, window,
            replyFor([completion = std::move(completion)](
                         int response, const QList<QUrl>& urls) mutable { completion(response, urls); },
                     "Open"));
}

void FilePanelRunner::beginSavePanel(SavePanel panel, Window* window, SaveCompletion completion)
{
    if (panel.directory.isEmpty())
        panel.directory = desktopDirectory();
    auto chosen = [panel, completion = std::move(completion)](int response, const QList<QUrl>& urls) mutable {
        if (response != OK || urls.isEmpty() || urls.first().isEmpty()) {
            completion(Cancel, QUrl());
            return;
        }
        completion(OK, panel.withAllowedExtension(urls.first()));
    };
    presentSave(panel, window, replyFor(std::move(chosen), "Save"));
}

} // namespace corvex
