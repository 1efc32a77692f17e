#pragma once

#include "platform/gfx/Rect.h"
#include "platform/ui/LayerDelegate.h"
#include "platform/ui/Responder.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class Event;
class GraphicsContext;
class Layer;
class Menu;
class TrackingArea;
class Window;

// A view: a rectangle of a window with its own coordinate system, a place in the view tree,
// a layer, drawing, layout and event handling.
//
// Coordinates. A view's frame is in its superview's coordinates: y down from the top when
// the superview is flipped, y up from the bottom otherwise (a view without a superview uses
// its superview space as if unflipped: a content view's frame is in window base
// coordinates). Its bounds are its own coordinate system: origin bounds().origin (scrolling),
// size always the frame's size, y down when isFlipped(). Conversions, frames and hit testing
// use view geometry only: transforms set on layers never count.
//
// Layers. Every view is layer-backed. The backing layer (Layer::createBackingLayer, anchor
// (0, 0)) is made on first need, so that the final class's isFlipped() decides it; a hosted
// layer given with setLayer() keeps its own anchor point. Either way the view is the layer's
// delegate, the layer sits in the superview's layer in subview order, its position and
// bounds follow the frame and bounds, its opacity the alpha value and it is hidden with the
// view. geometryFlipped is set when the view's flippedness differs from its superview's
// (the window's base space counts as unflipped), so that subviews, raw sublayers and
// drawing all use the view's own coordinates whatever the nesting.
//
// Update cycle. setNeedsLayout and setNeedsDisplay only mark; once per main-loop turn (a
// task on the main queue) the marked trees are laid out top-down, tracking areas of views
// whose geometry changed are updated, marked views are drawn (drawRect into the layer's
// contents), and the turn's implicit transaction is committed.
//
// Ownership. Views live in std::shared_ptr: a superview owns its subviews, a view points
// back at its superview and window without owning them (both clear the pointer when they
// go). Views made before they are owned by a shared_ptr (in a constructor) work, but the
// update cycle only sees them once they are owned. Main thread only.
class View : public Responder, public LayerDelegate, public std::enable_shared_from_this<View>
{
public:
    // Autoresizing mask bits.
    enum AutoresizingMask : unsigned
    {
        NotSizable = 0,
        MinXMargin = 1,
        WidthSizable = 2,
        MaxXMargin = 4,
        MinYMargin = 8,
        HeightSizable = 16,
        MaxYMargin = 32,
    };
    // Where addSubview(view, ordering, relativeTo) puts a view.
    enum class Ordering
    {
        Below = -1,
        Above = 1,
    };
    // Layer contents redraw policies.
    enum LayerContentsRedrawPolicy : int
    {
        RedrawNever = 0,
        RedrawOnSetNeedsDisplay = 1,
        RedrawDuringViewResize = 2,
        RedrawBeforeViewResize = 3,
        RedrawCrossfade = 4,
    };
    static constexpr double NoIntrinsicMetric = -1;

    // Shows a menu of menuForEvent (installed by the menu runner's owner); without one, the
    // default rightMouseDown drops the menu.
    using ContextMenuPresenter = std::function<void(const std::shared_ptr<Menu>&, const Event&, View&)>;

    View();
    explicit View(const Rect& frame);
    ~View() override;
    static std::shared_ptr<View> create(const Rect& frame = Rect());

    // The class name shown by description(): the C++ class name without namespace.
    virtual QString className() const;
    // "<ClassName: 0xADDR>".
    QString description() const;

    // ---- Geometry ----
    const Rect& frame() const { return mFrame; }
    // setFrameOrigin and setFrameSize go through setFrame, so overriding it sees every frame
    // change. A size change calls resizeSubviewsWithOldSize and, with the redraw policies
    // "during" or "before view resize", setNeedsDisplay.
    virtual void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setFrameSize(Size size);
    Rect bounds() const { return Rect(mBoundsOrigin, mFrame.size); }
    // The origin moves the view's coordinate system (scrolling); the size resizes the frame
    // (bounds are never scaled here).
    void setBounds(const Rect& bounds);
    void setBoundsOrigin(Point origin);
    virtual bool isFlipped() const;
    // The part of the bounds not clipped by the superviews' bounds; empty when hidden or
    // clipped away.
    Rect visibleRect() const;

    // ---- Hierarchy ----
    View* superview() const { return mSuperview; }
    // Back to front.
    const std::vector<std::shared_ptr<View>>& subviews() const { return mSubviews; }
    // On top of the subviews. A view in another superview (or already here: bringing it to
    // front) is removed first, through willRemoveSubview. Adding a view to itself or to one
    // of its descendants logs and does nothing.
    void addSubview(const std::shared_ptr<View>& view);
    // Above or below `relativeTo` (one of the subviews), or above or below all subviews when
    // it is null or not a subview.
    void addSubview(const std::shared_ptr<View>& view, Ordering ordering, const View* relativeTo);
    // Tells the superview (willRemoveSubview) and leaves it.
    void removeFromSuperview();
    // `replacement` takes the old view's place; the old view leaves through willRemoveSubview.
    void replaceSubview(const View* oldView, const std::shared_ptr<View>& replacement);
    // True for the view itself too.
    bool isDescendantOf(const View* view) const;
    Window* window() const;

    // Hooks, called on every path that changes the hierarchy.
    virtual void willRemoveSubview(View* subview);
    virtual void didAddSubview(View* subview);
    virtual void viewWillMoveToSuperview(View* newSuperview);
    virtual void didMoveToSuperview();
    virtual void viewWillMoveToWindow(Window* newWindow);
    virtual void viewDidMoveToWindow();

    // ---- Layer ----
    // Every view has a layer here; the flag is kept for the callers that set it.
    bool wantsLayer() const { return mWantsLayer; }
    void setWantsLayer(bool wants) { mWantsLayer = wants; }
    // The backing layer, made on first use, or the hosted layer.
    const std::shared_ptr<Layer>& layer() const;
    // Hosts `layer` (null goes back to a backing layer made on next use): the view becomes its
    // delegate and it takes the old layer's place in the tree, with the subviews' layers.
    void setLayer(const std::shared_ptr<Layer>& layer);
    bool hostsLayer() const { return mHostsLayer; }
    int layerContentsRedrawPolicy() const { return mRedrawPolicy; }
    void setLayerContentsRedrawPolicy(int policy) { mRedrawPolicy = policy; }
    double alphaValue() const { return mAlpha; }
    void setAlphaValue(double alpha);
    bool isHidden() const { return mHidden; }
    void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    // Re-applies the layer's geometry and flippedness (after isFlipped() changed its answer).
    void updateLayerGeometry();

    // LayerDelegate. A plain view answers the null action: only views that say otherwise
    // (BaseView) animate implicitly.
    LayerAction actionForLayer(Layer& layer, const QString& key) override;
    bool displayLayer(Layer& layer) override;
    void drawLayer(Layer& layer, GraphicsContext& context) override;

    // ---- Layout ----
    bool needsLayout() const { return mNeedsLayout; }
    void setNeedsLayout(bool needs = true);
    // Places the subviews; called by the update cycle for views that need layout. Default:
    // nothing.
    virtual void layout();
    // Lays out this view and its subtree now, top-down, where marked.
    void layoutSubtreeIfNeeded();
    // Called after every size change. Default: each subview's resizeWithOldSuperviewSize
    // when autoresizesSubviews is set.
    virtual void resizeSubviewsWithOldSize(Size oldSize);
    // Applies the autoresizing mask: along each axis the size change is shared between the
    // flexible margins and size in proportion to their current lengths (evenly when those
    // are all 0).
    virtual void resizeWithOldSuperviewSize(Size oldSize);
    bool autoresizesSubviews() const { return mAutoresizesSubviews; }
    void setAutoresizesSubviews(bool autoresizes) { mAutoresizesSubviews = autoresizes; }
    unsigned autoresizingMask() const { return mAutoresizingMask; }
    void setAutoresizingMask(unsigned mask) { mAutoresizingMask = mask; }
    // NoIntrinsicMetric in both by default.
    virtual Size intrinsicContentSize() const;
    // Default: nothing.
    virtual void sizeToFit();

    // ---- Drawing ----
    bool needsDisplay() const { return mNeedsDisplay; }
    // The whole view is redrawn: a layer's contents are redrawn as a whole, so a part would
    // leave the rest blank.
    void setNeedsDisplay(bool needs = true);
    void setNeedsDisplayInRect(const Rect& rect);
    // Draws this view and its subviews now.
    void display();
    // Draws the marked views of this subtree now.
    void displayIfNeeded();
    // Draws the view into its layer's contents. The context's user space is the bounds, y
    // down when the view is flipped; dirtyRect is the bounds. The default draws nothing and
    // marks the view as drawing nothing, so that its layer keeps no contents: overrides do
    // not call it.
    virtual void drawRect(const Rect& dirtyRect, GraphicsContext& context);
    // Whether drawRect would draw nothing as the view now stands (a scroll view without a
    // border): its layer then keeps no contents, rather than a clear picture the size of the
    // view that every frame blends.
    virtual bool drawsNothingNow() const { return false; }
    virtual bool isOpaque() const;

    // ---- Hit testing and conversion ----
    // The deepest non-hidden view of this subtree whose frame holds the point (given in the
    // superview's coordinates), subviews checked front to back; null when outside.
    virtual View* hitTest(Point pointInSuperview);
    // `view` null: the window's base coordinates (for a view in no window, the space of its
    // topmost superview's frame). Views of different windows convert through the screen.
    Point convertPointFromView(Point point, const View* view) const;
    Point convertPointToView(Point point, const View* view) const;
    Rect convertRectFromView(const Rect& rect, const View* view) const;
    Rect convertRectToView(const Rect& rect, const View* view) const;
    // Whether the point, in this view's coordinates, lies in the rectangle: the top edge is
    // inside and the bottom edge is not (whichever way y grows).
    bool mouseInRect(Point point, const Rect& rect) const;

    // ---- Responder ----
    // The next responder set by hand, else defaultNextResponder().
    Responder* nextResponder() const override;
    // The superview, else the window.
    Responder* defaultNextResponder() const;
    // Shows menuForEvent's menu through the presenter when there is one; otherwise passes
    // the event on.
    void rightMouseDown(const Event& event) override;
    // Default: null.
    virtual std::shared_ptr<Menu> menuForEvent(const Event& event);
    static void setContextMenuPresenter(ContextMenuPresenter presenter);
    static bool hasContextMenuPresenter();

    // ---- Tracking areas ----
    void addTrackingArea(const std::shared_ptr<TrackingArea>& area);
    void removeTrackingArea(const TrackingArea* area);
    const std::vector<std::shared_ptr<TrackingArea>>& trackingAreas() const { return mTrackingAreas; }
    // Called by the update cycle after the view's frame, bounds or window changed (while it
    // is in a window), so that the view can replace its areas. Default: nothing.
    virtual void updateTrackingAreas();

    // ---- Dragging (recorded only, for now) ----
    void registerForDraggedTypes(const QStringList& types);
    void unregisterDraggedTypes();
    const QStringList& registeredDraggedTypes() const { return mDraggedTypes; }

    // ---- Update cycle ----
    // Runs the pending layout, tracking and display passes now (a window host does before it
    // paints); the turn's task then finds nothing to do.
    static void runUpdateCycle();
    static bool isUpdateCyclePending();

    template <class T> std::shared_ptr<T> sharedAs()
    {
        return std::static_pointer_cast<T>(shared_from_this());
    }

private:
    friend class UpdateCycle;
    // The calls its window makes (WindowViewLink_p.h): entering or leaving as content view,
    // and a new backing scale.
    friend class WindowToViewLink;

    void setWindowForContentView(Window* window);
    void attachSubview(const std::shared_ptr<View>& view, Ordering ordering, const View* relativeTo);
    void detachSubview(View* view);
    void willMoveToWindowRecursive(Window* window);
    void setWindowRecursive(Window* window);
    void didMoveToWindowRecursive();
    Layer& ensureLayer() const;
    void insertLayerOf(View& view, Ordering ordering, const View* relativeTo);
    void applyLayerGeometry();
    void applyLayerFlipped();
    void applyContentsScale();
    void geometryChanged(bool sizeChanged, Size oldSize);
    void markAncestorsForLayout();
    void enqueuePendingWork();
    void drawNow();
    bool superviewIsFlipped() const;
    Point convertToSuperview(Point point) const;
    Point convertFromSuperview(Point point) const;
    Point convertToBase(Point point) const;
    Point convertFromBase(Point point) const;

    Rect mFrame;
    Point mBoundsOrigin;
    View* mSuperview = nullptr; // not owned: the superview owns this view
    std::vector<std::shared_ptr<View>> mSubviews;
    Responder::Ref mWindow;
    mutable std::shared_ptr<Layer> mLayer;
    std::vector<std::shared_ptr<TrackingArea>> mTrackingAreas;
    QStringList mDraggedTypes;
    double mAlpha = 1;
    unsigned mAutoresizingMask = NotSizable;
    int mRedrawPolicy = RedrawDuringViewResize;
    bool mHidden = false;
    bool mWantsLayer = false;
    bool mHostsLayer = false;
    bool mAutoresizesSubviews = true;
    bool mNeedsLayout = false;
    bool mSubtreeNeedsLayout = false;
    bool mNeedsDisplay = false;
    bool mTrackingNeedsUpdate = false;
    bool mDrawsNothing = false;
};

} // namespace corvex
