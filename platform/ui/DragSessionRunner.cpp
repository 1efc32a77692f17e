#include "platform/ui/DragSessionRunner.h"

#include "platform/ui/WindowTeardown.h"

#include <QDrag>
#include <QMimeData>
#include <QPixmap>
#include <QWidget>

namespace corvex {

namespace {
std::shared_ptr<DragSessionRunner>& installedDragRunner()
{
    static std::shared_ptr<DragSessionRunner> runner;
    return runner;
}
} // namespace

DragSessionRunner::~DragSessionRunner() = default;

std::shared_ptr<DragSessionRunner> DragSessionRunner::current()
{
    if (!installedDragRunner())
        installedDragRunner() = std::make_shared<QtDragSessionRunner>();
    return installedDragRunner();
}

std::shared_ptr<DragSessionRunner> DragSessionRunner::install(std::shared_ptr<DragSessionRunner> runner)
{
    std::shared_ptr<DragSessionRunner> previous = std::move(installedDragRunner());
    installedDragRunner() = std::move(runner);
    return previous;
}

bool QtDragSessionRunner::runDrag(Request request)
{
    if (!request.source || !request.data)
        return false;
    // Parented to the source widget, which Qt's drop events answer as the drag's source.
    auto* drag = new QDrag(request.source);
    drag->setMimeData(request.data.release());
    if (!request.image.isNull()) {
        drag->setPixmap(QPixmap::fromImage(request.image));
        drag->setHotSpot(request.hotSpot);
    }
    if (!request.copyCursor.isNull())
        drag->setDragCursor(QPixmap::fromImage(request.copyCursor), Qt::CopyAction);
    Qt::DropAction action = Qt::IgnoreAction;
    {
        const WindowTeardown::ModalLoop loop;
        action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    }
    drag->deleteLater();
    return action != Qt::IgnoreAction;
}

} // namespace corvex
