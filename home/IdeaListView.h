#pragma once

#include "home/BigAdderForIPadDelegate.h"
#include "storage/IdeaProxy.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/LongTapAndDragGestureDetectorDelegate.h"
#include "toolkit/UserInteractionProtocol.h"

#include <QString>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <vector>

namespace corvex {

class BaseView;
class Debouncer;
class DeleteAreaView;
class DockAreaView;
class IdeaListViewDelegate;
class IdeaView;
class LongTapAndDragDetector;
class RepeatingTimer;
class TextLabel;
class TrackingArea;

// The home screen's scrolling grid of documents: slots of 218 points in rows, the big adder
// in slot 0 (not while read-only, when the grid shows search results), one planet item per
// document after it. Only the items of the rows in view (and one slot beyond) exist; they
// come from and go back to a pool per class. During a drag (docking mode) the grid tracks a
// focus among the delete area, the dock, the planets and the insertion markers, and scrolls
// when the pointer nears its top or bottom edge. Main thread only.
class IdeaListView : public BaseScrollView,
                     public BigAdderForIPadDelegate,
                     public LongTapAndDragGestureDetectorDelegate,
                     public UserInteractionProtocol
{
public:
    static constexpr double Margin = 32;
    static constexpr double ColumnWidth = 218;
    static constexpr std::uint64_t NotFound = std::numeric_limits<std::int64_t>::max();
    static const QString AdderKey;
    static const QString EndMarkerKey;

    // Unprepared: use create().
    using BaseScrollView::BaseScrollView;
    ~IdeaListView() override;
    static std::shared_ptr<IdeaListView> create();

    void setDelegate(std::weak_ptr<IdeaListViewDelegate> delegate) { mDelegate = std::move(delegate); }

    // ---- Content ----
    void appendProxy(const IdeaProxyPtr& proxy, bool silently);
    void prependProxySilently(const IdeaProxyPtr& proxy);
    void insertProxy(const IdeaProxyPtr& proxy, std::uint64_t index);
    void updateProxy(const IdeaProxyPtr& proxy);
    void removeProxyWithDocIdentifer(const QString& docIdentifier);
    void removeProxyAtIndex(std::uint64_t index);
    void moveProxyAtIndex(std::uint64_t from, std::uint64_t to);
    void removeAllContent();
    // The whole list at once (a search's results): visible items whose documents stay are
    // kept as they are drawn.
    void replaceProxies(std::vector<IdeaProxyPtr> proxies);
    IdeaProxyPtr findProxy(const QString& docIdentifier) const;
    const std::vector<IdeaProxyPtr>& proxies() const { return mIdeaProxies; }
    IdeaView* visibleIdeaViewForDocument(const QString& docIdentifier) const;

    bool readOnly() const { return mReadOnly; }
    void setReadOnlyMode(bool readOnly);
    bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) override;

    // ---- Geometry ----
    static std::int64_t itemsPerRowForWidth(double width);
    double contentHeightForWidth(double width) const;
    std::int64_t numberOfSlots() const;
    // The centre of a slot in the document view.
    Point centerOfSlot(std::int64_t slot) const;

    // ---- Refresh ----
    void updateView();
    void reloadView();
    const std::shared_ptr<BaseView>& hugeView() const { return mHugeView; }
    const std::map<QString, std::shared_ptr<View>>& visibleItems() const { return mVisibleItemsByKey; }
    // Item views made so far (not taken from the pool).
    int createdItemCount() const { return mCreatedItems; }
    // Planet items a search may still make. Once the grid has rested a moment, it makes them
    // ahead with their pictures' memory, one per main-queue turn (0 once they are ready).
    static constexpr double SpareItemsRest = 0.3;
    std::int64_t missingSpareItems() const;
    const std::shared_ptr<TextLabel>& placeHolderView() const { return mPlaceHolderView; }

    // ---- Hit tests (document view coordinates) ----
    IdeaView* ideaViewAtPoint(Point point) const;
    View* viewAtPoint(Point point) const;

    // ---- Drag tracking ----
    const std::shared_ptr<DockAreaView>& dockAreaView() const { return mDockAreaView; }
    const std::shared_ptr<DeleteAreaView>& deleteAreaView() const { return mDeleteAreaView; }
    bool dockingMode() const { return mDockingMode; }
    void startTrackingFocusAt(Point point, const View* view);
    float trackFocusAt(Point point, const View* view);
    void stopTrackingFocus();
    void trackMouseAt(Point point, const View* view);
    void stopTrackingMouse();
    std::uint64_t indexOfIdeaAtFocus() const { return mIdeaViewAtFocus; }
    std::uint64_t indexOfIdeaAdderAtFocus() const { return mIdeaAdderAtFocus; }
    View* viewAtFocus() const { return mViewAtFocus.get(); }
    std::int64_t autoScrollPixelSpeed() const { return mAutoScrollPixelSpeed; }

    // ---- Events ----
    void pleaseCreateNewIdea() override;
    std::shared_ptr<void> startDragGestureIfPossible(Point point) override;
    void dragGestureUpdate(Point) override {}
    void dragGestureDone(Point) override {}
    void dragGestureCancel(Point) override {}
    void singleTap(Point point) override;
    void doubleTap(Point point) override;
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;
    void mouseMoved(const Event& event) override;
    void cursorUpdate(const Event& event) override;
    void updateTrackingAreas() override;
    std::shared_ptr<Menu> menuForEvent(const Event& event) override;
    // First responder for the screen's sake: it uses no keys itself, so each goes on to the
    // screen (Ctrl+F starts the search).
    bool acceptsFirstResponder() const override { return true; }
    void layout() override;
    void reflectScrolledClipView() override;
    QString className() const override;

private:
    void prepareIdeaListView();
    std::shared_ptr<IdeaListViewDelegate> delegate() const { return mDelegate.lock(); }
    double contentWidth() const;
    std::int64_t documentIndexOfSlot(std::int64_t slot) const;
    void neededSlots(std::int64_t& first, std::int64_t& last) const;
    bool addMissingSlot(std::int64_t slot);
    void addMissingItems();
    void repositionItems();
    void updatePlaceHolder();
    // From the pool when it holds one, preferring an item that last showed `key`'s document.
    std::shared_ptr<View> takeItem(const QString& className, const QString& key = QString());
    // Whether a new planet is made for `key`'s document, keeping the pictures of the pool.
    bool keepsPictureOf(const QString& key) const;
    std::shared_ptr<View> makeItem(const QString& className);
    // Makes one spare item and asks for the next on a later turn, while the grid rests.
    void addSpareItem();
    void returnItem(const QString& key);
    void setDockingMode(bool on);
    float updateFocusAt(Point point);
    void focusNearestMarker(Point point, float& distance, float& best);
    void autoScrollTick();
    IdeaView* tappedIdeaView(Point windowPoint) const;
    void tapOnView(const std::shared_ptr<IdeaView>& view);
    // The pointing hand over any item, the arrow elsewhere.
    void updateCursor(const Event& event);

    std::weak_ptr<IdeaListViewDelegate> mDelegate;
    std::vector<IdeaProxyPtr> mIdeaProxies;
    std::map<QString, std::shared_ptr<View>> mVisibleItemsByKey;
    std::map<QString, std::vector<std::shared_ptr<View>>> mReusableItemViewsByType;
    std::shared_ptr<BaseView> mHugeView;
    std::shared_ptr<DockAreaView> mDockAreaView;
    std::shared_ptr<DeleteAreaView> mDeleteAreaView;
    std::shared_ptr<LongTapAndDragDetector> mLongTapAndDragDetector;
    std::shared_ptr<TextLabel> mPlaceHolderView;
    std::shared_ptr<TrackingArea> mTrackingArea;
    bool mReadOnly = false;
    bool mUserInteractionEnabled = true;
    bool mSingleTapPending = false;
    bool mDoubleTapDetected = false;
    bool mDockingMode = false;
    std::uint64_t mIdeaAdderAtFocus = NotFound;
    std::uint64_t mIdeaViewAtFocus = NotFound;
    float mFocusStrength = 0;
    std::shared_ptr<View> mViewAtFocus;
    std::unique_ptr<RepeatingTimer> mAutoScrollTimer;
    std::int64_t mAutoScrollPixelSpeed = 0;
    double mLastAutoScrollStartTime = 0;
    int mCreatedItems = 0;
    bool mRefreshing = false;
    std::unique_ptr<Debouncer> mSpareItemsAtRest;
};

} // namespace corvex
