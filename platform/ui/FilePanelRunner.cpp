#include "platform/ui/FilePanelRunner.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

#include <QStandardPaths>
#include <memory>

namespace corvex {

FilePanelRunner::~FilePanelRunner() = default;

QString FilePanelRunner::OpenPanel::nameFilter() const
{
    QStringList patterns;
    for (const QString& type : allowedFileTypes) {
        if (!type.isEmpty())
            patterns.append(QStringLiteral("*.") + type);
    }
    return patterns.join(QLatin1Char(' '));
}

QString FilePanelRunner::desktopDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void FilePanelRunner::beginOpenPanel(OpenPanel panel, Window* window, Completion completion)
{
    if (panel.directory.isEmpty())
        panel.directory = desktopDirectory();
    // Whatever the runner does, the caller hears back once, and never from inside this call.
    struct State
    {
        Completion completion;
        bool answered = false;
        bool inCall = true;
    };
    auto state = std::make_shared<State>();
    state->completion = std::move(completion);
    Completion once = [state](int response, const QList<QUrl>& urls) {
        if (state->answered) {
            Log::assertionFailure(QStringLiteral("Open panel answered twice"));
            return;
        }
        state->answered = true;
        Completion call = std::move(state->completion);
        state->completion = nullptr;
        if (!call)
            return;
        if (state->inCall)
            MainQueue::post([call, response, urls] { call(response, urls); });
        else
            call(response, urls);
    };
    present(panel, window, std::move(once));
    state->inCall = false;
}

} // namespace corvex
