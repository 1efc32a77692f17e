// The state machine of window-level drag and drop: the source side (a drag this window
// started), the target side (a drag over this window), the delay flags and the ending that
// runs once both sides are idle.

#include "shell/DragSupportWindow.h"

#include "mindmap/IdeaView.h"
#include "platform/core/Log.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/DragSessionRunner.h"
#include "platform/ui/PromisedFileMimeData.h"
#include "platform/ui/QtDragDestinationAdapter.h"
#include "shell/DragOutFilePromise.h"
#include "storage/IdeaEditingService.h"
#include "storage/PersistenceController.h"
#include "toolkit/BaseViewController.h"
#include "toolkit/Logger.h"

#include <QMimeData>

namespace corvex {

namespace {

// The window whose own drag runs now (only one at a time); cleared when it ends or the
// window goes.
DragSupportWindow* gDragSourceWindow = nullptr;

// The return target a file dragged in from outside carries: not zero, since the window tells
// only a zero target from every other kind.
constexpr quint64 OutsideFileReturnTarget = 1;

// The dragged idea as its window shows it (an edit not stored yet, as on a full disk, goes
// with it); from storage when no window has its document open.
void fetchDraggedIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                      DragOutFilePromise::IdeaCompletion loaded)
{
    if (IdeaPtr shown = IdeaEditingService::ideaOfOpenTree(ideaIdentifier, docIdentifier))
        return loaded(shown);
    PersistenceController::singleton().fetchIdea(ideaIdentifier, docIdentifier, std::move(loaded));
}

} // namespace

DragSupportWindow::DragSupportWindow(Size contentSize) : MyWindow(contentSize) {}

DragSupportWindow::~DragSupportWindow()
{
    if (gDragSourceWindow == this)
        gDragSourceWindow = nullptr;
    if (mAdapter) {
        mAdapter->detach();
        delete mAdapter.data();
    }
}

std::shared_ptr<DragSupportWindow> DragSupportWindow::create(Size contentSize)
{
    return std::make_shared<DragSupportWindow>(contentSize);
}

DragSupportWindow* DragSupportWindow::currentDragSourceWindow()
{
    return gDragSourceWindow;
}

void DragSupportWindow::hostWidgetCreated(QWidget& host)
{
    MyWindow::hostWidgetCreated(host);
    mAdapter = new QtDragDestinationAdapter(host, *this, *this);
}

DragSupportDelegate* DragSupportWindow::dragSupportDelegate() const
{
    return dynamic_cast<DragSupportDelegate*>(mDelegateScreen.lock().get());
}

void DragSupportWindow::switchToViewController(const std::shared_ptr<BaseViewController>& screen,
                                               bool animated, Completion<> completion)
{
    mDelegateScreen = dynamic_cast<DragSupportDelegate*>(screen.get()) ? screen : nullptr;
    MyWindow::switchToViewController(screen, animated, std::move(completion));
}

void DragSupportWindow::setDockedIdea(const IdeaPtr& idea, const QString& docIdentifier)
{
    mDockedIdea = idea;
    mDockedIdeaRoot = idea ? idea->root() : nullptr;
    mDockedDocIdentifier = idea ? docIdentifier : QString();
}

// ---- Source side

void DragSupportWindow::startDragForEvent(const Event& event, View& /*the host's widget is the source*/,
                                          const std::shared_ptr<IdeaView>& exampleIdeaView,
                                          const DragTarget& returnTarget)
{
    DragSupportDelegate* screen = dragSupportDelegate();
    if (!exampleIdeaView || exampleIdeaView->docIdentifier().isEmpty())
        Log::assertionFailure(
            __LINE__, "-[DragSupportWindow startDragForEvent:fromView:withExampleIdeaView:returnTarget:]");
    if (!exampleIdeaView || mDragSourceSessionNumber != NoSession || mDragTargetSessionNumber != NoSession) {
        // Refused: one drag at a time, and none without an idea to drag. The screen hears
        // that this drag (not the one running) took nothing, so a dock it came out of shows
        // its idea again; but not while it decides a drop made here, as it would take that
        // end for the pending drop's and drop its decision, leaving both windows waiting for
        // an answer that never comes.
        if (screen && !(mDelayDragEnding && mDragTargetSessionNumber != NoSession)) {
            DragInfoForIdea refused;
            refused.objectType = DragInfo::ObjectType::IdeaObject;
            refused.source = DragInfo::Source::ThisWindow;
            refused.returnTarget = returnTarget;
            refused.location = event.locationInWindow();
            if (exampleIdeaView) {
                refused.ideaIdentifier = exampleIdeaView->ideaIdentifier();
                refused.docIdentifier = exampleIdeaView->docIdentifier();
            }
            screen->dragOperationEndedWithResult(refused, DragResult::NotAccepted);
        }
        return;
    }
    std::shared_ptr<IdeaView> copy = exampleIdeaView->copyForDragging();
    mDragExampleView = copy ? copy : exampleIdeaView;
    mDraggedDocIdentifier = exampleIdeaView->docIdentifier();
    mDraggedIdeaIdentifier = exampleIdeaView->ideaIdentifier();
    mDragSourceInfo = std::make_shared<DragInfoForIdea>();
    mDragSourceInfo->objectType = DragInfo::ObjectType::IdeaObject;
    mDragSourceInfo->returnTarget = returnTarget;
    mDragSourceInfo->ideaIdentifier = mDraggedIdeaIdentifier;
    mDragSourceInfo->docIdentifier = mDraggedDocIdentifier;
    mDragSourceInfo->location = event.locationInWindow();

    // The file a destination outside the application may ask for, made only then.
    const QString ideaIdentifier = mDraggedIdeaIdentifier;
    const QString docIdentifier = mDraggedDocIdentifier;
    WindowRef self = ref();
    mDragOutPromise = std::make_shared<DragOutFilePromise>(
        mDragExampleView->representativeTitle(), docIdentifier,
        [self, ideaIdentifier, docIdentifier](DragOutFilePromise::IdeaCompletion loaded) {
            DragSupportWindow* window = self.get();
            const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
            if (docIdentifier.isNull() && docked && docked->identifier() == ideaIdentifier &&
                window->currentDockedDocIdentifier().isNull()) {
                loaded(docked);
                return;
            }
            fetchDraggedIdea(ideaIdentifier, docIdentifier, std::move(loaded));
        });
    std::shared_ptr<DragOutFilePromise> promise = mDragOutPromise;
    PromisedFileMimeData::Promise filePromise;
    filePromise.fulfil = [promise] { promise->fulfil(); };
    filePromise.settled = [promise] { return promise->settled(); };
    filePromise.urls = [promise] { return promise->urls(); };

    DragSessionRunner::Request request;
    request.source = hasHostWidget() ? hostWidget() : nullptr;
    request.data = std::make_unique<PromisedFileMimeData>(filePromise, PromiseWaitSeconds);
    // The windows draw the planet themselves, as the idea looks, shrinking near a target; Qt
    // cannot change a running drag's image, and any picture it shows lies over the window's
    // own planet: the drag's picture is a clear one.
    request.image = QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
    request.image.fill(Qt::transparent);
    request.hotSpot = QPoint(0, 0);
    request.copyCursor =
        PlatformImage::imageNamed(QStringLiteral("accept_active")).bestRepresentation(Rect());

    const std::shared_ptr<DragSessionRunner> runner = DragSessionRunner::current();
    draggingSessionWillBegin(DragSessionRegistry::nextSequenceNumber());
    // The window may be closed while the drag runs.
    const WindowRef alive = ref();
    const bool performed = runner->runDrag(std::move(request));
    DragSessionRegistry::setRunningSessionNumber(NoSession);
    if (alive.get())
        draggingSessionEnded(performed);
}

void DragSupportWindow::draggingSessionWillBegin(qint64 sequenceNumber)
{
    mDragSourceSessionNumber = sequenceNumber;
    gDragSourceWindow = this;
    DragSessionRegistry::setRunningSessionNumber(sequenceNumber);
}

void DragSupportWindow::draggingSessionEnded(bool operationPerformed)
{
    if (gDragSourceWindow == this)
        gDragSourceWindow = nullptr;
    // Taken outside the windows counts only when the promised file was written: a
    // destination that got no file took nothing.
    const bool taken = operationPerformed && (!mDragOutPromise || mDragOutPromise->succeeded());
    handleDragEndingForSource(true, false, taken ? DragResult::Copied : DragResult::NotAccepted);
}

// ---- Target side

DragOperation DragSupportWindow::draggingEntered(const Drag& drag)
{
    if (mDragTargetSessionNumber != NoSession)
        return DragOperation::None;
    if (isVisible())
        makeKeyAndOrderFront();
    mDragTargetSessionNumber = drag.sequenceNumber;
    if (!drag.hasDraggingSource) {
        const bool accept = !supportedFilePathFromDrag(drag).isEmpty();
        mDragTargetSourceWindow = WindowRef();
        mDragTargetInfo = std::make_shared<DragInfo>();
        mDragTargetInfo->source = DragInfo::Source::OutsideApplication;
        mDragTargetInfo->returnTarget.object = OutsideFileReturnTarget;
        mDragTargetInfo->objectType = DragInfo::ObjectType::FileObject;
        addOverlay(accept);
    } else {
        DragSupportWindow* from = currentDragSourceWindow();
        mDragTargetSourceWindow = from ? from->ref() : WindowRef();
        mDragExampleView = from ? from->mDragExampleView : nullptr;
        mDraggedIdeaIdentifier = from ? from->mDraggedIdeaIdentifier : QString();
        mDraggedDocIdentifier = from ? from->mDraggedDocIdentifier : QString();
        auto info = std::make_shared<DragInfoForIdea>();
        info->objectType = DragInfo::ObjectType::IdeaObject;
        info->source = mDragSourceSessionNumber == mDragTargetSessionNumber ? DragInfo::Source::ThisWindow
                                                                            : DragInfo::Source::OtherWindow;
        if (from && from->mDragSourceInfo) {
            info->docIdentifier = from->mDragSourceInfo->docIdentifier;
            info->ideaIdentifier = from->mDragSourceInfo->ideaIdentifier;
            info->returnTarget = from->mDragSourceInfo->returnTarget;
        }
        mDragTargetInfo = info;
    }
    mDragTargetInfo->location = drag.location;
    DragSupportDelegate* screen = dragSupportDelegate();
    if (!screen || !screen->dragOperationStarted(*mDragTargetInfo)) {
        removeTargetIdeaViewAndOverlays();
        mDragTargetSessionNumber = NoSession;
        mDragTargetInfo.reset();
        mDragTargetSourceWindow = WindowRef();
        return DragOperation::None;
    }
    if (mDragTargetInfo->objectType == DragInfo::ObjectType::IdeaObject) {
        screen->dragOperationUpdate(*mDragTargetInfo);
        showPlanetCopy(drag.location);
        return DragOperation::Every;
    }
    // Files: the source hears what a drop would do, so that a drop refused here (the overlay
    // shows it) is never taken for done.
    return fileDropOperation(drag);
}

DragOperation DragSupportWindow::draggingUpdated(const Drag& drag)
{
    if (drag.sequenceNumber != mDragTargetSessionNumber || !mDragTargetInfo)
        return DragOperation::None;
    mDragTargetInfo->location = drag.location;
    if (mDragTargetIdeaView) {
        DragSupportDelegate* screen = dragSupportDelegate();
        const DragTarget target = screen ? screen->dragOperationUpdate(*mDragTargetInfo) : DragTarget();
        movePlanetCopy(drag.location, target);
    }
    if (mDragTargetInfo->objectType == DragInfo::ObjectType::FileObject)
        return fileDropOperation(drag);
    return DragOperation::Every;
}

void DragSupportWindow::draggingExited(const Drag& drag)
{
    if (drag.sequenceNumber != mDragTargetSessionNumber)
        return;
    // The drag may be going out of the application: its file is made from now on.
    if (DragSupportWindow* from = mDragTargetSourceWindow.get();
        from && from->mDragOutPromise && from->mDragSourceSessionNumber != NoSession)
        from->mDragOutPromise->fulfil();
    handleDragEndingForSource(false, true, DragResult::NotAccepted);
}

void DragSupportWindow::draggingEnded(const Drag&)
{
    handleDragEndingForSource(false, true, DragResult::NotAccepted);
}

bool DragSupportWindow::performDragOperation(const Drag& drag)
{
    if (drag.sequenceNumber != mDragTargetSessionNumber || !mDragTargetInfo)
        return false;
    const DragOperation mask = drag.sourceOperationMask;
    if (mDragTargetInfo->source == DragInfo::Source::OutsideApplication) {
        const QString path = supportedFilePathFromDrag(drag);
        if (path.isEmpty() || !hasAnyOf(mask, DragOperation::Copy | DragOperation::Generic)) {
            // Nothing done is answered as nothing done; a source offering only a move is
            // refused, as the file is only ever copied.
            handleDragEndingForSource(true, true, DragResult::NotAccepted);
            return false;
        }
        mDelayDragEnding = true;
        WindowRef self = ref();
        // A file that cannot be read at all (an unreadable picture) is refused to the source
        // as well; the import's end still tells the user.
        return handleDataFromFile(path, [self](const IdeaPtr& idea, const QString& docIdentifier) {
            if (DragSupportWindow* window = self.get())
                window->fileImported(idea, docIdentifier);
        });
    }

    mDragTargetInfo->location = drag.location;
    DragSupportDelegate* screen = dragSupportDelegate();
    const DragTarget target = screen ? screen->dragOperationUpdate(*mDragTargetInfo) : DragTarget();
    if (target.object == DragTarget::None) {
        // No target here: the drag ends as not taken for both windows, so a dock the idea
        // came out of keeps it.
        handleDragEndingForSource(true, true, DragResult::NotAccepted);
        return false;
    }
    snapPlanetCopy(target, drag.location);
    mDelayDragEnding = true;
    WindowRef from = mDragTargetSourceWindow;
    if (DragSupportWindow* sourceWindow = from.get())
        sourceWindow->mDelayDragEnding = true;
    const std::shared_ptr<DragInfo> info = mDragTargetInfo;
    WindowRef self = ref();
    afterLoadingDraggedIdea([self, info, from](const IdeaPtr& idea) {
        if (DragSupportWindow* window = self.get())
            window->acceptLoadedIdea(idea, info, from);
    });
    handleDragEndingForSource(true, true, DragResult::NotAccepted);
    return true;
}

void DragSupportWindow::acceptLoadedIdea(const IdeaPtr& idea, const std::shared_ptr<DragInfo>& info,
                                         WindowRef sourceWindow)
{
    DragSupportDelegate* screen = dragSupportDelegate();
    if (idea && screen) {
        WindowRef self = ref();
        auto answered = [self](DragResult result) {
            DragSupportWindow* window = self.get();
            if (!window)
                return;
            window->mDragAcceptCalled = true;
            window->mDelayDragEnding = false;
            window->handleDragEndingForSource(true, true, result);
        };
        screen->dragOperationEndedAcceptingIdea(*info, idea, mDraggedDocIdentifier, std::move(answered));
        return;
    }
    mDelayDragEnding = false;
    handleDragEndingForSource(true, true, DragResult::NotAccepted);
    DragSupportWindow* from = sourceWindow.get();
    if (from && from != this) {
        from->mDelayDragEnding = false;
        from->handleDragEndingForSource(true, false, DragResult::NotAccepted);
    }
}

void DragSupportWindow::afterLoadingDraggedIdea(Completion<const IdeaPtr&> loaded)
{
    if (!loaded)
        return;
    DragSupportWindow* from = mDragTargetSourceWindow.get();
    const bool fromApplication =
        !mDragTargetInfo || mDragTargetInfo->source != DragInfo::Source::OutsideApplication;
    const IdeaPtr docked = from ? from->currentDockedIdea() : nullptr;
    if (fromApplication && mDraggedDocIdentifier.isNull() && docked &&
        docked->identifier() == mDraggedIdeaIdentifier && from->currentDockedDocIdentifier().isNull()) {
        loaded(docked);
        return;
    }
    fetchDraggedIdea(mDraggedIdeaIdentifier, mDraggedDocIdentifier, std::move(loaded));
}

// ---- Ending

void DragSupportWindow::handleDragEndingForSource(bool source, bool target, DragResult result)
{
    if (mDelayDragEnding)
        return;
    std::shared_ptr<DragInfo> record;
    if (source && mDragSourceSessionNumber != NoSession) {
        mDragSourceSessionNumber = NoSession;
        record = mDragSourceInfo;
        mDragSourceInfo.reset();
    }
    if (target && mDragTargetSessionNumber != NoSession) {
        mDragTargetSessionNumber = NoSession;
        record = mDragTargetInfo;
        mDragTargetInfo.reset();
        if (source && result == DragResult::NotAccepted)
            animateReturnDraggedViewAndRemoveIt(record.get());
        else
            removeTargetIdeaViewAndOverlays();
        if (mDragSourceSessionNumber != NoSession && record &&
            record->source == DragInfo::Source::ThisWindow) {
            if (DragSupportDelegate* screen = dragSupportDelegate())
                screen->dragOperationExited();
        }
    }
    if (!record || mDragSourceSessionNumber != NoSession || mDragTargetSessionNumber != NoSession)
        return;
    mDelayDragEnding = false;
    mDraggedIdeaIdentifier.clear();
    mDraggedDocIdentifier.clear();
    mDragExampleView.reset();
    if (mDragAcceptCalled) {
        DragSupportWindow* from = mDragTargetSourceWindow.get();
        if (from && from != this) {
            from->mDelayDragEnding = false;
            from->handleDragEndingForSource(true, false, result);
        }
    } else if (DragSupportDelegate* screen = dragSupportDelegate()) {
        Logger::trace(this, __LINE__, "-[DragSupportWindow handleDragEndingForSource:andTarget:withResult:]",
                      QStringLiteral("the screen hears the end with result %1").arg(dragResultCode(result)));
        screen->dragOperationEndedWithResult(*record, result);
    }
    mDragAcceptCalled = false;
    mDragTargetSourceWindow = WindowRef();
}

} // namespace corvex
