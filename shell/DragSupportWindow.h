#pragma once

#include "mindmap/DragInfoForIdea.h"
#include "mindmap/DragSupportDelegate.h"
#include "platform/ui/DragDestination.h"
#include "platform/ui/DragSessionRegistry.h"
#include "shell/MyWindow.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class DragOutFilePromise;
class DragOverlayView;
class IdeaView;
class QtDragDestinationAdapter;

// A main window that carries every drag and drop touching it: ideas moved inside it, ideas
// between windows of the application, ideas dragged out as files, and one document or
// picture file dropped from outside, which is imported and docked. It keeps the state of
// at most one drag it started (source side) and one drag over it (target side), each
// running while its sequence number is not NoSession, asks the screen it shows
// (DragSupportDelegate) where a drop lands and what it means, draws its own copy of the
// dragged planet and the drop overlay, and holds the window's dock.
//
// While a drop's outcome is pending (the screen asking the user, the dragged idea loading,
// a dropped file importing) the delay flag of the window under the drop, and of the window
// where the drag began, makes every request to end a drag there do nothing; the pending
// outcome clears it and ends the drag itself. Qt's drag events reach it through its host's
// QtDragDestinationAdapter; its own drags run through the installed DragSessionRunner. Main
// thread only.
class DragSupportWindow : public MyWindow, public DragDestination
{
public:
    static constexpr qint64 NoSession = DragSessionRegistry::NoSession;
    // How long a destination asking for a dragged-out file waits for it to be written.
    static constexpr double PromiseWaitSeconds = 10;
    // The planet copy's scale, and the side of the square a starting drag's image takes.
    static constexpr double PlanetCopyScale = 0.75;
    static constexpr double ReturnFlightDuration = 0.2;

    explicit DragSupportWindow(Size contentSize);
    ~DragSupportWindow() override;
    static std::shared_ptr<DragSupportWindow> create(Size contentSize);

    // The screen the window shows when it adopts DragSupportDelegate; null otherwise.
    DragSupportDelegate* dragSupportDelegate() const;
    void switchToViewController(const std::shared_ptr<BaseViewController>& screen, bool animated,
                                Completion<> completion) override;

    // ---- The dock (its idea's root is held while docked, so that its parent chain stays) ----
    IdeaPtr currentDockedIdea() const override { return mDockedIdea; }
    QString currentDockedDocIdentifier() const override { return mDockedDocIdentifier; }
    void setDockedIdea(const IdeaPtr& idea, const QString& docIdentifier) override;

    // ---- Source side ----
    void startDragForEvent(const Event& event, View& fromView,
                           const std::shared_ptr<IdeaView>& exampleIdeaView,
                           const DragTarget& returnTarget) override;
    // The platform's begin and end of the drag this window started.
    void draggingSessionWillBegin(qint64 sequenceNumber);
    void draggingSessionEnded(bool operationPerformed);
    // The window whose own drag runs now; null when none.
    static DragSupportWindow* currentDragSourceWindow();

    // ---- Target side (DragDestination) ----
    DragOperation draggingEntered(const Drag& drag) override;
    DragOperation draggingUpdated(const Drag& drag) override;
    void draggingExited(const Drag& drag) override;
    bool performDragOperation(const Drag& drag) override;
    void draggingEnded(const Drag& drag) override;

    // ---- Files from outside ----
    static bool isPathReferringToSupportedImage(const QString& path);
    static bool isPathReferringToIdeaDocumentFile(const QString& path);
    static bool isPathReferringToSupportedFileType(const QString& path);
    // The one supported file of the drag; empty for none, several or an unsupported one.
    static QString supportedFilePathFromDrag(const Drag& drag);
    // What a drop of the drag from outside would do: a copy (a move when the source allows
    // only that) of its one supported file; none for anything else.
    static DragOperation fileDropOperation(const Drag& drag);
    using FileCompletion = Completion<const IdeaPtr&, const QString&>;
    // Imports the file into location 0 as a new document: its root idea and identifier, or
    // null and empty (a file that is no regular file, an unreadable picture, a failed
    // import). False when it failed at once (the completion still runs, later).
    static bool handleDataFromFile(const QString& path, FileCompletion completion);

    // ---- The planet copy and the overlay ----
    // The copy's scale near a target: PlanetCopyScale, shrinking linearly towards the area's
    // size within the target's gravity radius of its centre (never above PlanetCopyScale).
    static double planetScaleFor(Size copySize, const DragTarget& target, Point location);
    void animateReturnDraggedViewAndRemoveIt(const DragInfo* info);
    void removeTargetIdeaViewAndOverlays();

    // ---- State, for the screens and for tests ----
    qint64 dragSourceSessionNumber() const { return mDragSourceSessionNumber; }
    qint64 dragTargetSessionNumber() const { return mDragTargetSessionNumber; }
    bool delayDragEnding() const { return mDelayDragEnding; }
    const DragInfo* dragTargetInfo() const { return mDragTargetInfo.get(); }
    const std::shared_ptr<IdeaView>& dragTargetIdeaView() const { return mDragTargetIdeaView; }
    const std::shared_ptr<DragOverlayView>& dragTargetOverlay() const { return mDragTargetOverlay; }
    // The file promise of the drag this window started last (null before the first drag).
    const std::shared_ptr<DragOutFilePromise>& dragOutPromise() const { return mDragOutPromise; }

protected:
    void hostWidgetCreated(QWidget& host) override;

private:
    // A window of a drag, held weakly: null once the window is destroyed.
    struct WindowRef
    {
        Responder::Ref window;
        DragSupportWindow* get() const { return static_cast<DragSupportWindow*>(window.get()); }
    };
    WindowRef ref() { return WindowRef{this}; }

    void handleDragEndingForSource(bool source, bool target, DragResult result);
    void afterLoadingDraggedIdea(Completion<const IdeaPtr&> loaded);
    void acceptLoadedIdea(const IdeaPtr& idea, const std::shared_ptr<DragInfo>& info, WindowRef sourceWindow);
    void fileImported(const IdeaPtr& idea, const QString& docIdentifier);
    void showPlanetCopy(Point location);
    void movePlanetCopy(Point location, const DragTarget& target);
    void snapPlanetCopy(const DragTarget& target, Point location);
    void addOverlay(bool accept);
    Point inContainer(Point windowPoint) const;

    std::weak_ptr<BaseViewController> mDelegateScreen;
    IdeaPtr mDockedIdea;
    IdeaPtr mDockedIdeaRoot;
    QString mDockedDocIdentifier;

    qint64 mDragSourceSessionNumber = NoSession;
    std::shared_ptr<DragInfoForIdea> mDragSourceInfo;
    std::shared_ptr<IdeaView> mDragExampleView;
    QString mDraggedIdeaIdentifier;
    QString mDraggedDocIdentifier;
    std::shared_ptr<DragOutFilePromise> mDragOutPromise;

    qint64 mDragTargetSessionNumber = NoSession;
    std::shared_ptr<DragInfo> mDragTargetInfo;
    WindowRef mDragTargetSourceWindow;
    std::shared_ptr<DragOverlayView> mDragTargetOverlay;
    std::shared_ptr<IdeaView> mDragTargetIdeaView;
    bool mDelayDragEnding = false;
    bool mDragAcceptCalled = false;

    QPointer<QtDragDestinationAdapter> mAdapter;
};

} // namespace corvex
