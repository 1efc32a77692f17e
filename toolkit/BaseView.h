#pragma once

#include "platform/ui/View.h"
#include "toolkit/VisualObject.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace corvex {

class Layer;
class Layouter;

// The base of nearly every view of the system: layer-backed, flipped (y down from the top
// left), laying out the views it hosts through layout blocks, letting a separate Layouter
// (usually its view controller) place its subviews, batching layout requests in nested
// layout transactions, able to refuse implicit layer animations for itself and the BaseViews
// below it, and able to stop clicks from travelling up the responder chain.
//
// Construction is in two phases, the constructor and then the preparation step
// (prepareBaseView), which runs once the whole object, subclass included, is built: make
// views with the factories (create..., or make<T>... for subclasses, which construct T and
// then run the initialiser's steps). A subclass with a preparation step of its own writes a
// factory that calls make<T> and then its step.
//
// Layout runs (applyLayout: the Layouter first, then the hosted views in the order they were
// hosted) on each layout pass of the update cycle, on each size change, on forceDirtyLayout
// when the bounds are not empty, and at the end of the outermost layout transaction; while a
// transaction is open, none of these lay out. A request to lay out made while the view is
// laying itself out (a layout block hosting a view, say) is left to the next layout pass of
// the update cycle, and layout walks a snapshot of the hosted views taken after the Layouter
// ran, skipping those removed meanwhile, so a layout block or Layouter may change the hosted
// views safely (views a block hosts are placed by the next pass).
//
// Implicit animation: a BaseView's layer animates changes (frame moves, 0.25 s by default)
// unless disableAnimations is set on it or on a BaseView above it through an unbroken chain
// of BaseView superviews. A layer never committed does not animate, so a new view placed by
// its first layout does not fly in from the zero rectangle. Main thread only.
class BaseView : public View, public VisualObject
{
public:
    // Called with the hosted view and the host's bounds; sets the frame the view should have.
    using LayoutBlock = std::function<void(View& hostedView, const Rect& hostBounds)>;

    // Unprepared: use the factories.
    BaseView();
    explicit BaseView(const Rect& frame);
    ~BaseView() override;

    // The zero rectangle.
    static std::shared_ptr<BaseView> create();
    static std::shared_ptr<BaseView> create(const Rect& frame);
    // The zero rectangle; the Layouter is held weakly and asked first at each layout.
    static std::shared_ptr<BaseView> createWithLayouter(const std::shared_ptr<Layouter>& layouter);
    // The zero rectangle, hosting `layer` (it keeps its own anchor point) with the view as its
    // delegate.
    static std::shared_ptr<BaseView> createWithCustomLayer(const std::shared_ptr<Layer>& layer);

    // The same initialisers for subclasses: T is constructed from `args`, then prepared.
    template <class T = BaseView, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto view = std::make_shared<T>(std::forward<Args>(args)...);
        static_cast<BaseView&>(*view).prepareBaseView();
        return view;
    }
    template <class T = BaseView, class... Args>
    static std::shared_ptr<T> makeWithLayouter(const std::shared_ptr<Layouter>& layouter, Args&&... args)
    {
        auto view = make<T>(std::forward<Args>(args)...);
        static_cast<BaseView&>(*view).mLayouter = layouter;
        return view;
    }
    template <class T = BaseView, class... Args>
    static std::shared_ptr<T> makeWithCustomLayer(const std::shared_ptr<Layer>& layer, Args&&... args)
    {
        auto view = std::make_shared<T>(std::forward<Args>(args)...);
        static_cast<BaseView&>(*view).installCustomLayer(layer);
        static_cast<BaseView&>(*view).prepareBaseView();
        return view;
    }

    // ---- Properties ----
    // This view and every BaseView below it refuse implicit layer animations.
    bool disableAnimations() const { return mDisableAnimations; }
    void setDisableAnimations(bool disable) { mDisableAnimations = disable; }
    // Mouse-down and mouse-up events end at this view.
    bool eatMouseEvents() const { return mEatMouseEvents; }
    void setEatMouseEvents(bool eat) { mEatMouseEvents = eat; }
    // A free label for diagnostics; the view never reads it.
    const QString& debugTag() const { return mDebugTag; }
    void setDebugTag(const QString& tag) { mDebugTag = tag; }
    // False when disableAnimations is set here; else what a BaseView superview says; else
    // true.
    bool shouldAllowImplicitAnimations() const;
    std::shared_ptr<Layouter> layouter() const { return mLayouter.lock(); }

    // ---- Hosted views ----
    // Appends a record (hosting a view again adds a second one), gives the view the host's
    // bounds, adds it on top of the subviews and forces a layout.
    void addHostedView(const std::shared_ptr<View>& view, LayoutBlock layout = {});
    // Takes the view out of the host; its records go with it (willRemoveSubview). A view
    // that is not hosted is left alone.
    void removeHostedView(const View* view);
    void removeHostedView(const std::shared_ptr<View>& view) { removeHostedView(view.get()); }
    void removeAllHostedViews();
    // The hosted views, one per record, in the order they were hosted.
    std::vector<std::shared_ptr<View>> hostedViews() const;
    // Drops the records of a view that leaves the host, whichever way it leaves.
    void willRemoveSubview(View* subview) override;

    // ---- Layout ----
    // Asks the Layouter (when it still exists), then lays out the hosted views: a record's
    // block places its view, a view without a block fills the bounds. Subclasses override
    // it, call this version and then place their own subviews.
    virtual void applyLayout();
    void callApplyLayout();
    // Lays out now, unless a transaction is open or the bounds are empty.
    void forceDirtyLayout();
    // Nested: only the outermost endLayout lays out, and it always does. A stray endLayout
    // (no transaction open) logs the assertion line and changes nothing.
    void beginLayout();
    void endLayout();
    qint64 layoutTransactionCount() const { return mLayoutTransaction; }
    void layout() override;
    // Lays out instead of autoresizing the subviews.
    void resizeSubviewsWithOldSize(Size oldSize) override;

    // ---- View ----
    bool isFlipped() const override;
    // Nothing of its own (the layer goes on to its default action) when implicit animations
    // are allowed, else the null action.
    LayerAction actionForLayer(Layer& layer, const QString& key) override;
    // End here when eatMouseEvents is set, else travel the responder chain.
    void mouseDown(const Event& event) override;
    void mouseUp(const Event& event) override;

    // ---- VisualObject ----
    Point center() const override;
    Rect frame() const override { return View::frame(); }

protected:
    // The preparation step every initialiser ends with: layer-backed, contents redrawn on
    // setNeedsDisplay only.
    void prepareBaseView();

private:
    struct ViewPart;

    void installCustomLayer(const std::shared_ptr<Layer>& layer);
    // Lays out unless the view is laying itself out already; then the next layout pass does.
    void runLayout();

    std::vector<std::shared_ptr<ViewPart>> mParts;
    std::weak_ptr<Layouter> mLayouter;
    qint64 mLayoutTransaction = 0;
    QString mDebugTag;
    const View* mRehosting = nullptr; // a hosted view being added again: its records stay
    bool mDisableAnimations = false;
    bool mEatMouseEvents = false;
    bool mInLayout = false;
};

} // namespace corvex
