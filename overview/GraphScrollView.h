#pragma once

#include "mindmap/MindMapScreenSeams.h"
#include "mindmap/NoteHoverUtilityDelegate.h"
#include "overview/ScaledGraphView.h"
#include "overview/ScaledGraphViewDelegate.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/MenuBar.h"
#include "toolkit/BaseView.h"
#include "toolkit/TapPanSwipeDetectorDelegate.h"
#include "toolkit/UserInteractionProtocol.h"

#include <atomic>
#include <memory>
#include <optional>

namespace corvex {

class Animator;
class GraphTileFactory;
class NoteHoverUtility;
class TapPanSwipeDetector;
class TrackingArea;

// The overview screen area of an open document: the whole idea tree drawn radially, zoomable
// between a fit of the whole tree and 1.75, pannable by mouse, wheel and trackpad with a short
// glide after a swipe, with a context menu, note hover and a click that picks an idea (after
// a short focus animation the delegate is told and the screen leaves the overview).
//
// It shows one tiled view rendered at one scale and scaled by a layer transform to the exact
// zoom, and prepares a second at a better scale, switching once all its visible tiles are
// there. Wheel zoom: Ctrl (our Command flag) or Super (our Control flag) with the wheel; one
// notch (10 points of scrolling) zooms by 1.1. Main thread only.
class GraphScrollView : public BaseView,
                        public OverviewGraph,
                        public TapPanSwipeDetectorDelegate,
                        public UserInteractionProtocol,
                        public NoteHoverUtilityDelegate,
                        public ScaledGraphViewDelegate,
                        public ActionTarget
{
public:
    static constexpr float kMaxZoomScale = 1.75f;

    static std::shared_ptr<GraphScrollView> create();
    // Unprepared: use create.
    GraphScrollView();
    ~GraphScrollView() override;

    // ---- OverviewGraph ----
    std::shared_ptr<View> view() const override;
    void setDelegate(std::weak_ptr<OverviewGraphDelegate> delegate) override
    {
        mDelegate = std::move(delegate);
    }
    // A search's walk of the tree runs on a global queue: the keystroke that asked for it
    // costs the main thread no walk of a large map, and the factory it makes replaces the
    // shown one once done (a newer search gives up the older's walk).
    void setCurrentIdea(const IdeaPtr& root, const QString& searchText) override;
    // Whether a search's walk is under way.
    bool searching() const { return mSearchWalk != nullptr; }

    void setFrame(const Rect& frame) override;

    // ---- State ----
    Point dataCenter() const { return mDataCenter; }
    float zoomScale() const { return mZoomScale; }
    float minZoomScale() const { return mMinZoomScale; }
    float maxZoomScale() const { return mMaxZoomScale; }
    bool dismissed() const { return mDismissed; }
    bool ideaChangePending() const { return mIdeaChangePending; }
    const std::shared_ptr<ScaledGraphView>& graphView() const { return mGraphView; }
    const std::shared_ptr<ScaledGraphView>& nextGraphView() const { return mNextGraphView; }
    const std::shared_ptr<GraphTileFactory>& tileFactory() const { return mGraphTileFactory; }
    const std::shared_ptr<Animator>& animator() const { return mAnimator; }
    NoteHoverUtility* noteHoverUtility() const { return mNoteHoverUtility.get(); }

    // The visible content rectangle at a scale.
    Rect dataRectAtScale(double scale) const;
    // The content point under a point of this view.
    Point contentPoint(Point viewPoint) const;
    float tentativeZoom(float factor) const;

    // ---- Moving and zooming ----
    void addSomePan(Point vector);
    void handlePanDone(Point swipe);
    void zoomInCenter(float factor);
    void qvZoomIn();
    void qvZoomOut();
    void qvActualSize();
    // Picks an idea: a link jumps to its linked idea, any other is focused and reported.
    void openOrFocusIdea(const IdeaPtr& idea);

    // ---- UserInteractionProtocol: always enabled ----
    bool userInteractionEnabled() const override { return true; }
    void setUserInteractionEnabled(bool) override {}

    // ---- Events ----
    bool acceptsFirstResponder() const override { return true; }
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;
    void mouseMoved(const Event& event) override;
    void cursorUpdate(const Event& event) override;
    void scrollWheel(const Event& event) override;
    void magnifyWithEvent(const Event& event) override;
    void keyDown(const Event& event) override;
    std::shared_ptr<Menu> menuForEvent(const Event& event) override;
    void updateTrackingAreas() override;

    // ---- TapPanSwipeDetectorDelegate ----
    void panGestureStarted(Point point) override;
    void panGestureUpdate(Point movement) override;
    void panGestureDone(Point movement, Point swipe) override;
    void singleTap(Point point) override;
    void doubleTap(Point point) override;

    // ---- NoteHoverUtilityDelegate ----
    std::shared_ptr<View> hostViewForNoteHoverDisplay() override;
    // Only while the user works on the overview: its window key, the pointer over it, no
    // other screen over it.
    bool isNoteHoverDisplayAllowed() const override;

    // ---- ScaledGraphViewDelegate ----
    void handleScaledGraphViewReady(ScaledGraphView& view) override;

    // ---- ActionTarget ----
    bool respondsToAction(const QString& actionId) const override;
    bool validateAction(const QString& actionId, const MenuItem& item) override;
    void performAction(const QString& actionId, MenuItem& item) override;

private:
    void prepare();
    void updateScaling();
    // Shows the factory's drawing of a tree at the fit zoom.
    void showFactory(std::shared_ptr<GraphTileFactory> factory);
    void updateAtMode(ScaledGraphView::Mode mode);
    void makeNextViewIfNeeded();
    void retire(std::shared_ptr<ScaledGraphView>& view);
    void centerTiledView(ScaledGraphView& view) const;
    Point clampedToContent(Point center) const;
    void stopAnimation();
    void closeNoteHover();
    void appearanceSettingsChanged();
    void focusFrame(Animator& animator, Point start, Point target, const QString& identifier);
    std::shared_ptr<MenuItem> pickItem(const QString& title, const IdeaPtr& idea, bool newWindow);
    std::shared_ptr<MenuItem> zoomItem(const QString& title, const QString& actionId, const QString& key);

    std::shared_ptr<ScaledGraphView> mGraphView;
    std::shared_ptr<ScaledGraphView> mNextGraphView;
    std::shared_ptr<GraphTileFactory> mGraphTileFactory;
    // The walk of the last search asked for, until its factory is shown; false gives it up.
    std::shared_ptr<std::atomic<bool>> mSearchWalk;
    IdeaPtr mRootIdea;
    Point mDataCenter;
    float mZoomScale = 1;
    float mMinZoomScale = 1;
    float mMaxZoomScale = 1;
    std::shared_ptr<Animator> mAnimator;
    bool mIdeaChangePending = false;
    bool mDismissed = false;
    std::shared_ptr<TapPanSwipeDetector> mTapPanSwipeDetector;
    std::shared_ptr<TrackingArea> mTrackingArea;
    std::unique_ptr<NoteHoverUtility> mNoteHoverUtility;
    std::weak_ptr<OverviewGraphDelegate> mDelegate;
    NotificationCenter::ObserverToken mAppearanceObserver;
};

} // namespace corvex
