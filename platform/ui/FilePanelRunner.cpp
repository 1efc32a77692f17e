#include "platform/ui/FilePanelRunner.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

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

FilePanelRunner::Completion FilePanelRunner::answeredOnce(Completion completion, const char* panelKind,
                                                          std::shared_ptr<PresentCall> inCall)
{
    // Whatever the runner does, the caller hears back once, and never from inside the call.
    struct State
    {
        Completion completion;
        bool answered = false;
    };
    auto state = std::make_shared<State>();
    state->completion = std::move(completion);
    return [state, panelKind, inCall](int response, const QList<QUrl>& urls) {
        if (state->answered) {
            Log::assertionFailure(QStringLiteral("%1 panel answered twice").arg(QLatin1String(panelKind)));
            return;
        }
        state->answered = true;
        Completion call = std::move(state->completion);
        state->completion = nullptr;
        if (!call)
            return;
        if (inCall->running)
            MainQueue::post([call, response, urls] { call(response, urls); });
        else
            call(response, urls);
    };
}

void FilePanelRunner::beginOpenPanel(OpenPanel panel, Window* window, Completion completion)
{
    if (panel.directory.isEmpty())
        panel.directory = desktopDirectory();
    auto inCall = std::make_shared<PresentCall>();
    present(panel, window, answeredOnce(std::move(completion), "Open", inCall));
    inCall->running = false;
}

void FilePanelRunner::beginSavePanel(SavePanel panel, Window* window, SaveCompletion completion)
{
    if (panel.directory.isEmpty())
        panel.directory = desktopDirectory();
    Completion chosen = [panel, completion = std::move(completion)](int response, const QList<QUrl>& urls) {
        if (!completion)
            return;
        if (response != OK || urls.isEmpty() || urls.first().isEmpty()) {
            completion(Cancel, QUrl());
            return;
        }
        completion(OK, panel.withAllowedExtension(urls.first()));
    };
    auto inCall = std::make_shared<PresentCall>();
    presentSave(panel, window, answeredOnce(std::move(chosen), "Save", inCall));
    inCall->running = false;
}

} // namespace corvex
