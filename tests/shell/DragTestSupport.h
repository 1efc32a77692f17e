#pragma once

// Window-level drags in tests: a drag session runner that runs a script in place of Qt's
// nested drag loop, a screen that records what the window tells it, and drags as the
// adapter would describe them.

#include "mindmap/DragSupportDelegate.h"
#include "platform/ui/DragDestination.h"
#include "platform/ui/DragSessionRegistry.h"
#include "platform/ui/DragSessionRunner.h"
#include "toolkit/BaseViewController.h"

#include <QMimeData>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex::test {

// Runs the installed script while "the drag" runs; answers what the script answers (false
// without one). Installed for its lifetime.
class ScriptedDragRunner final : public DragSessionRunner
{
public:
    using Script = std::function<bool(QMimeData& data)>;

    bool runDrag(Request request) override
    {
        ++runs;
        lastImage = request.image;
        if (!script || !request.data)
            return false;
        const Script current = script;
        return current(*request.data);
    }

    Script script;
    int runs = 0;
    QImage lastImage;
};

class ScopedDragRunner
{
public:
    ScopedDragRunner() : runner(std::make_shared<ScriptedDragRunner>())
    {
        mPrevious = DragSessionRunner::install(runner);
    }
    ~ScopedDragRunner() { DragSessionRunner::install(mPrevious); }
    ScopedDragRunner(const ScopedDragRunner&) = delete;
    ScopedDragRunner& operator=(const ScopedDragRunner&) = delete;

    std::shared_ptr<ScriptedDragRunner> runner;

private:
    std::shared_ptr<DragSessionRunner> mPrevious;
};

// A drag of the application's running session at a window point.
inline DragDestination::Drag appDrag(Point location)
{
    DragDestination::Drag drag;
    drag.sequenceNumber = DragSessionRegistry::runningSessionNumber();
    drag.hasDraggingSource = true;
    drag.location = location;
    drag.sourceOperationMask = DragOperation::Copy | DragOperation::Generic;
    return drag;
}

// A drag from the file manager carrying these files.
inline DragDestination::Drag fileDrag(qint64 sequenceNumber, Point location, std::optional<QStringList> files,
                                      DragOperation mask = DragOperation::Copy | DragOperation::Generic |
                                                           DragOperation::Move)
{
    DragDestination::Drag drag;
    drag.sequenceNumber = sequenceNumber;
    drag.location = location;
    drag.fileNames = std::move(files);
    drag.sourceOperationMask = mask;
    return drag;
}

// A screen that answers drags as scripted and records every call as a line:
// "started <source>", "update", "exited", "accept <idea text>", "ended <result>".
class RecordingDragScreen final : public BaseViewController, public DragSupportDelegate
{
public:
    bool dragOperationStarted(const DragInfo& info) override
    {
        calls.push_back(QStringLiteral("started %1").arg(static_cast<quint64>(info.source)));
        lastInfoSource = info.source;
        return takesPart;
    }
    DragTarget dragOperationUpdate(const DragInfo&) override
    {
        calls.push_back(QStringLiteral("update"));
        return target;
    }
    void dragOperationExited() override { calls.push_back(QStringLiteral("exited")); }
    void dragOperationEndedAcceptingIdea(const DragInfo&, const IdeaPtr& idea, const QString&,
                                         DropCompletion completion) override
    {
        calls.push_back(QStringLiteral("accept %1").arg(idea ? idea->text() : QStringLiteral("-")));
        pending = std::move(completion);
        if (answerAtOnce)
            answer(*answerAtOnce);
    }
    void dragOperationEndedWithResult(const DragInfo&, DragResult result) override
    {
        calls.push_back(QStringLiteral("ended %1").arg(dragResultCode(result)));
    }
    // Calls the acceptance's completion.
    void answer(DragResult result)
    {
        auto completion = std::move(pending);
        pending = nullptr;
        if (completion)
            completion(result);
    }

    bool takesPart = true;
    DragTarget target;
    std::optional<DragResult> answerAtOnce;
    DropCompletion pending;
    std::optional<DragInfo::Source> lastInfoSource;
    QStringList calls;
};

} // namespace corvex::test
