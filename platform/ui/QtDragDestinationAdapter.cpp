#include "platform/ui/QtDragDestinationAdapter.h"

#include "platform/ui/DragDestination.h"
#include "platform/ui/DragSessionRegistry.h"
#include "platform/ui/Window.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace corvex {

namespace {

// The local files among the URLs; absent without a URL list.
std::optional<QStringList> localFilesOf(const QMimeData& data)
{
    if (!data.hasFormat(QtDragDestinationAdapter::UriListType))
        return std::nullopt;
    QStringList files;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url.toLocalFile());
    }
    return files;
}

} // namespace

QtDragDestinationAdapter::QtDragDestinationAdapter(QWidget& host, Window& window,
                                                   DragDestination& destination)
    : QObject(&host), mWindow(&window), mDestination(&destination)
{
    host.setAcceptDrops(true);
    host.installEventFilter(this);
}

DragOperation QtDragDestinationAdapter::operationMaskFromQt(Qt::DropActions actions)
{
    DragOperation mask = DragOperation::None;
    if (actions & Qt::CopyAction)
        mask |= DragOperation::Copy | DragOperation::Generic;
    if (actions & Qt::MoveAction)
        mask |= DragOperation::Move;
    if (actions & Qt::LinkAction)
        mask |= DragOperation::Link;
    return mask;
}

Qt::DropAction QtDragDestinationAdapter::actionFromOperation(DragOperation operation,
                                                             Qt::DropActions possible)
{
    if (hasAnyOf(operation, DragOperation::Copy | DragOperation::Generic) && (possible & Qt::CopyAction))
        return Qt::CopyAction;
    if (hasAnyOf(operation, DragOperation::Move) && (possible & Qt::MoveAction))
        return Qt::MoveAction;
    if (hasAnyOf(operation, DragOperation::Link) && (possible & Qt::LinkAction))
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

bool QtDragDestinationAdapter::describe(QDropEvent& event, bool entering)
{
    const QMimeData* data = event.mimeData();
    if (!data)
        return false;
    if (entering) {
        mFromApplication = event.source() != nullptr;
        mFileNames.reset();
        if (mFromApplication) {
            // The application's own drag: its URL list is a promise, never read here.
            if (!data->hasFormat(UriListType) && !data->hasFormat(OwnFileType))
                return false;
            const qint64 running = DragSessionRegistry::runningSessionNumber();
            mSequenceNumber = running != DragSessionRegistry::NoSession
                                  ? running
                                  : DragSessionRegistry::nextSequenceNumber();
        } else {
            mFileNames = localFilesOf(*data);
            const bool ownType = data->hasFormat(OwnFileType);
            if ((!mFileNames || mFileNames->isEmpty()) && !ownType)
                return false;
            if (mFileNames && mFileNames->isEmpty())
                mFileNames.reset();
            mSequenceNumber = DragSessionRegistry::nextSequenceNumber();
        }
    }
    return true;
}

Qt::DropAction QtDragDestinationAdapter::forFilesFromOutside(Qt::DropAction action)
{
    return action == Qt::CopyAction ? action : Qt::IgnoreAction;
}

void QtDragDestinationAdapter::answer(QDropEvent& event, Qt::DropAction action)
{
    if (mFileNames && !mFromApplication)
        action = forFilesFromOutside(action);
    // A refusal is an ignore, so that a source never takes a drop refused here for done.
    if (action == Qt::IgnoreAction) {
        event.setDropAction(Qt::IgnoreAction);
        event.ignore();
        return;
    }
    event.setDropAction(action);
    event.accept();
}

bool QtDragDestinationAdapter::eventFilter(QObject* watched, QEvent* event)
{
    if (!mDestination || !mWindow)
        return QObject::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::DragLeave &&
        type != QEvent::Drop)
        return QObject::eventFilter(watched, event);

    if (type == QEvent::DragLeave) {
        if (mServing) {
            mServing = false;
            DragDestination::Drag drag;
            drag.sequenceNumber = mSequenceNumber;
            drag.hasDraggingSource = mFromApplication;
            drag.location = mWindow->mouseLocationOutsideOfEventStream();
            mDestination->draggingExited(drag);
        }
        event->accept();
        return true;
    }

    auto& dropEvent = static_cast<QDropEvent&>(*event);
    const bool entering = type == QEvent::DragEnter;
    if (entering && !describe(dropEvent, true)) {
        mServing = false;
        dropEvent.ignore();
        return true;
    }
    if (!mServing && !entering) {
        dropEvent.ignore();
        return true;
    }
    DragDestination::Drag drag;
    drag.sequenceNumber = mSequenceNumber;
    drag.hasDraggingSource = mFromApplication;
    drag.location = mWindow->convertPointFromWidget(dropEvent.position());
    drag.fileNames = mFileNames;
    drag.sourceOperationMask = operationMaskFromQt(dropEvent.possibleActions());

    const Qt::DropActions possible = dropEvent.possibleActions();
    if (entering) {
        mServing = true;
        mHoverAction = actionFromOperation(mDestination->draggingEntered(drag), possible);
        if (mFileNames && !mFromApplication)
            mHoverAction = forFilesFromOutside(mHoverAction);
        // The window now follows the drag (a refusal shows as its overlay): the enter is taken
        // even then, so that Qt goes on with moves and ends with the leave or the drop, and
        // the source hears the moves' answers (an ignore for a refusal). An enter ignored
        // would have Qt enter again on every move and never tell the end.
        dropEvent.setDropAction(mHoverAction);
        dropEvent.accept();
    } else if (type == QEvent::DragMove) {
        mHoverAction = actionFromOperation(mDestination->draggingUpdated(drag), possible);
        answer(dropEvent, mHoverAction);
    } else {
        mServing = false;
        DragDestination* destination = mDestination;
        const bool taken = destination->performDragOperation(drag);
        // A drop taken performs what the hover promised (a drop without a hover: a copy where
        // the source allows one).
        Qt::DropAction performed = mHoverAction != Qt::IgnoreAction
                                       ? mHoverAction
                                       : actionFromOperation(DragOperation::Every, possible);
        mHoverAction = Qt::IgnoreAction;
        answer(dropEvent, taken ? performed : Qt::IgnoreAction);
        if (mDestination)
            mDestination->draggingEnded(drag);
    }
    return true;
}

} // namespace corvex
