#include "home/IdeaListView.h"

#include "home/BigAdderLayer.h"
#include "home/BigAdderView.h"
#include "home/HomePlanetLayer.h"
#include "home/IdeaListViewDelegate.h"
#include "home/IdeaViewForIPadListItem.h"
#include "home/NormalIdeaListItemForIPad.h"
#include "home/SmallDockView.h"
#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "model/Globals.h"
#include "platform/core/Debouncer.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RepeatingTimer.h"
#include "platform/core/Scheduler.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Window.h"
#include "toolkit/BaseView.h"
#include "toolkit/ClipView.h"
#include "toolkit/LongTapAndDragDetector.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// A planet item that has never shown a document: its picture's memory is taken, nothing
// drawn in it is kept.
bool isSpare(const std::shared_ptr<View>& item)
{
    const auto* planet = dynamic_cast<const NormalIdeaListItemForIPad*>(item.get());
    return planet && !planet->ideaProxy();
}

// Moving and recycling items never animates.
void silenceItemLayer(View& view)
{
    if (const auto& layer = view.layer()) {
        for (const char* key : {"onOrderIn", "onOrderOut", "sublayers", "contents", "bounds", "position"})
            layer->setAction(QString::fromLatin1(key), LayerAction::null());
    }
}

// The target strength of a box around `centre` (0 outside it).
float focusStrengthOf(Point p, Point centre, double halfWidth, double halfHeight)
{
    const float dx = std::fabs(float(p.x - centre.x));
    const float dy = std::fabs(float(p.y - centre.y));
    if (dx > float(halfWidth) || dy > float(halfHeight))
        return 0;
    return 1.0f - std::max(dx / float(halfWidth), dy / float(halfHeight));
}

float distanceBetween(Point a, Point b)
{
    return float(std::hypot(a.x - b.x, a.y - b.y));
}

} // namespace

const QString IdeaListView::AdderKey = QStringLiteral("-1");
const QString IdeaListView::EndMarkerKey = QStringLiteral("-2");

IdeaListView::~IdeaListView()
{
    NotificationCenter::defaultCenter().removeObservers(this);
}

std::shared_ptr<IdeaListView> IdeaListView::create()
{
    auto view = BaseScrollView::make<IdeaListView>();
    view->prepareIdeaListView();
    return view;
}

QString IdeaListView::className() const
{
    return QStringLiteral("IdeaListView");
}

void IdeaListView::prepareIdeaListView()
{
    mSpareItemsAtRest = std::make_unique<Debouncer>(
        SpareItemsRest, [weak = std::weak_ptr<IdeaListView>(sharedAs<IdeaListView>())] {
            if (const auto self = weak.lock())
                self->addSpareItem();
        });
    mLongTapAndDragDetector = LongTapAndDragDetector::create();
    mLongTapAndDragDetector->setDelegate(sharedAs<IdeaListView>());
    mDockAreaView = DockAreaView::create();
    mDeleteAreaView = DeleteAreaView::create();
    addSubview(mDockAreaView);
    addSubview(mDeleteAreaView);
    setHasVerticalScroller(true);
    setAutohidesScrollers(true);
    setHasHorizontalScroller(false);
    setDrawsBackground(false);
    setLineScroll(1);
    mHugeView = BaseView::create();
    setDocumentView(mHugeView);
    std::weak_ptr<IdeaListView> weak = sharedAs<IdeaListView>();
    NotificationCenter::defaultCenter().addObserver(
        Globals::AppearanceSettingsChangedNotification, weak, nullptr,
        [weak](const NotificationCenter::Notification&) {
            auto self = weak.lock();
            if (!self)
                return;
            for (const auto& [key, item] : self->mVisibleItemsByKey) {
                if (auto* document = dynamic_cast<NormalIdeaListItemForIPad*>(item.get()))
                    document->ideaView()->updateAppearance();
            }
            // Pooled items come back without a new picture when their documents do.
            for (const auto& item :
                 self->mReusableItemViewsByType[QStringLiteral("NormalIdeaListItemForIPad")])
                static_cast<NormalIdeaListItemForIPad&>(*item).ideaView()->updateAppearance();
        });
}

// ---- Content

void IdeaListView::appendProxy(const IdeaProxyPtr& proxy, bool silently)
{
    if (!proxy)
        return;
    mIdeaProxies.push_back(proxy);
    if (!silently)
        updateView();
}

void IdeaListView::prependProxySilently(const IdeaProxyPtr& proxy)
{
    if (proxy)
        mIdeaProxies.insert(mIdeaProxies.begin(), proxy);
}

void IdeaListView::insertProxy(const IdeaProxyPtr& proxy, std::uint64_t index)
{
    if (!proxy)
        return;
    index = std::min<std::uint64_t>(index, mIdeaProxies.size());
    mIdeaProxies.insert(mIdeaProxies.begin() + std::ptrdiff_t(index), proxy);
    if (mDockingMode)
        setDockingMode(false);
    // The new item may already have a view under its key (a document listed twice): it keeps it.
    const std::int64_t slot = std::int64_t(index) + (mReadOnly ? 0 : 1);
    if (addMissingSlot(slot)) {
        const auto& item = mVisibleItemsByKey[proxy->docIdentifier()];
        mHugeView->addSubview(item, View::Ordering::Below, nullptr);
    }
    updateView();
}

void IdeaListView::updateProxy(const IdeaProxyPtr& proxy)
{
    if (!proxy)
        return;
    const auto found = std::find_if(mIdeaProxies.begin(), mIdeaProxies.end(), [&](const IdeaProxyPtr& p) {
        return p->docIdentifier() == proxy->docIdentifier();
    });
    if (found == mIdeaProxies.end())
        return;
    *found = proxy;
    for (const auto& pooled : mReusableItemViewsByType[QStringLiteral("NormalIdeaListItemForIPad")]) {
        auto& item = static_cast<NormalIdeaListItemForIPad&>(*pooled);
        if (item.key() == proxy->docIdentifier())
            item.setIdeaProxy(proxy);
    }
    const auto visible = mVisibleItemsByKey.find(proxy->docIdentifier());
    if (visible != mVisibleItemsByKey.end()) {
        if (auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(visible->second.get()))
            item->setIdeaProxy(proxy);
        updateView();
    }
}

void IdeaListView::removeProxyWithDocIdentifer(const QString& docIdentifier)
{
    for (std::size_t i = 0; i < mIdeaProxies.size(); ++i) {
        if (mIdeaProxies[i]->docIdentifier() == docIdentifier) {
            removeProxyAtIndex(i);
            return;
        }
    }
}

void IdeaListView::removeProxyAtIndex(std::uint64_t index)
{
    if (index >= mIdeaProxies.size())
        return;
    mIdeaProxies.erase(mIdeaProxies.begin() + std::ptrdiff_t(index));
    if (mDockingMode)
        setDockingMode(false);
    addMissingItems();
    repositionItems();
    updatePlaceHolder();
}

void IdeaListView::moveProxyAtIndex(std::uint64_t from, std::uint64_t to)
{
    if (from >= mIdeaProxies.size())
        return;
    const IdeaProxyPtr proxy = mIdeaProxies[from];
    mIdeaProxies.erase(mIdeaProxies.begin() + std::ptrdiff_t(from));
    const std::uint64_t target = std::min<std::uint64_t>(from < to ? to - 1 : to, mIdeaProxies.size());
    mIdeaProxies.insert(mIdeaProxies.begin() + std::ptrdiff_t(target), proxy);
    if (mDockingMode)
        setDockingMode(false);
    addMissingItems();
    repositionItems();
}

void IdeaListView::replaceProxies(std::vector<IdeaProxyPtr> proxies)
{
    // Items of documents still in view stay as drawn (only moved); those that left go back
    // to the pool, keeping their pictures for when their documents come back.
    std::erase(proxies, nullptr);
    mIdeaProxies = std::move(proxies);
    if (mDockingMode)
        setDockingMode(false);
    updateView();
}

void IdeaListView::removeAllContent()
{
    mIdeaProxies.clear();
    reloadView();
}

IdeaProxyPtr IdeaListView::findProxy(const QString& docIdentifier) const
{
    return IdeaProxy::findProxyInArray(mIdeaProxies, docIdentifier);
}

IdeaView* IdeaListView::visibleIdeaViewForDocument(const QString& docIdentifier) const
{
    const auto found = mVisibleItemsByKey.find(docIdentifier);
    if (found == mVisibleItemsByKey.end())
        return nullptr;
    auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(found->second.get());
    return item ? item->ideaView().get() : nullptr;
}

void IdeaListView::setReadOnlyMode(bool readOnly)
{
    if (readOnly == mReadOnly)
        return;
    mReadOnly = readOnly;
    updateView();
}

void IdeaListView::setUserInteractionEnabled(bool enabled)
{
    mUserInteractionEnabled = enabled;
    for (const auto& [key, item] : mVisibleItemsByKey) {
        if (auto* adder = dynamic_cast<UserInteractionProtocol*>(item.get()))
            adder->setUserInteractionEnabled(enabled);
    }
}

// ---- Geometry

std::int64_t IdeaListView::itemsPerRowForWidth(double width)
{
    return std::max<std::int64_t>(1, std::int64_t((width - 2 * Margin) / ColumnWidth));
}

double IdeaListView::contentWidth() const
{
    return contentSize().width;
}

std::int64_t IdeaListView::numberOfSlots() const
{
    return std::int64_t(mIdeaProxies.size()) + (mReadOnly ? 0 : 1);
}

double IdeaListView::contentHeightForWidth(double width) const
{
    const std::int64_t perRow = itemsPerRowForWidth(width);
    const std::int64_t rows = std::max<std::int64_t>(1, (numberOfSlots() - 1) / perRow + 1);
    return 2 * Margin + ColumnWidth * double(rows);
}

std::int64_t IdeaListView::documentIndexOfSlot(std::int64_t slot) const
{
    return mReadOnly ? slot : slot - 1;
}

Point IdeaListView::centerOfSlot(std::int64_t slot) const
{
    const std::int64_t perRow = itemsPerRowForWidth(contentWidth());
    const std::int64_t row = slot / perRow;
    const std::int64_t column = slot - row * perRow;
    float a = 0;
    float b = 0;
    if (documentIndexOfSlot(slot) >= std::int64_t(mIdeaProxies.size())) {
        if (column != 0)
            a = 0.5f;
        else
            b = 0.25f;
    }
    const float x = float(Margin) + 109.0f + 218.0f * (float(column) - a);
    const float y = float(Margin) + 109.0f + 218.0f * (float(row) - b) - 10.0f;
    return Point(std::trunc(x), std::trunc(y));
}

// ---- Refresh

void IdeaListView::neededSlots(std::int64_t& first, std::int64_t& last) const
{
    const Rect visible = contentView() ? contentView()->bounds() : Rect();
    const std::int64_t perRow = itemsPerRowForWidth(contentWidth());
    const std::int64_t firstRow = std::int64_t(visible.origin.y / ColumnWidth);
    const std::int64_t lastRow = std::int64_t((visible.origin.y + visible.size.height) / ColumnWidth);
    const std::int64_t d = mDockingMode ? 1 : 0;
    first = std::max<std::int64_t>(0, perRow * firstRow);
    last = std::min(numberOfSlots() + d - 1, perRow * (lastRow + 1) + d);
}

void IdeaListView::updateView()
{
    // Setting the document view's frame re-tiles the scroll view, which reports back here.
    if (!mHugeView || mRefreshing)
        return;
    mRefreshing = true;
    const double width = contentWidth();
    mHugeView->setFrame(Rect(0, 0, width, contentHeightForWidth(width)));
    const double height = frame().size.height;
    ViewExtensions::setCenter(*mDockAreaView, Point(std::round(width - 30), 30));
    ViewExtensions::setCenter(*mDeleteAreaView, Point(std::round(width - 30), std::round(height - 30)));
    addMissingItems();
    repositionItems();
    updatePlaceHolder();
    if (missingSpareItems() > 0)
        mSpareItemsAtRest->trigger();
    mRefreshing = false;
}

void IdeaListView::reloadView()
{
    std::vector<QString> keys;
    for (const auto& [key, item] : mVisibleItemsByKey)
        keys.push_back(key);
    for (const QString& key : keys)
        returnItem(key);
    updateView();
}

void IdeaListView::layout()
{
    BaseScrollView::layout();
    updateView();
}

void IdeaListView::reflectScrolledClipView()
{
    BaseScrollView::reflectScrolledClipView();
    updateView();
}

bool IdeaListView::keepsPictureOf(const QString& key) const
{
    // While searching, results come and go as the text changes: a new planet is made rather
    // than a kept picture drawn over, up to as many planets again as there are slots in view.
    return mReadOnly && !key.isEmpty() && missingSpareItems() > 0;
}

std::shared_ptr<View> IdeaListView::takeItem(const QString& className, const QString& key)
{
    auto& pool = mReusableItemViewsByType[className];
    // An item that last showed the same document needs no new picture.
    auto found = key.isEmpty() ? pool.end() : std::find_if(pool.begin(), pool.end(), [&](const auto& item) {
        const auto* document = dynamic_cast<const NormalIdeaListItemForIPad*>(item.get());
        return document && document->key() == key;
    });
    // Else a spare, which holds no picture to lose; else, unless a search keeps the pooled
    // pictures of documents that may come back, the oldest picture is drawn over.
    if (found == pool.end())
        found = std::find_if(pool.begin(), pool.end(), isSpare);
    if (found == pool.end() && !keepsPictureOf(key))
        found = pool.begin();
    std::shared_ptr<View> view;
    if (found != pool.end()) {
        view = *found;
        pool.erase(found);
    } else {
        view = makeItem(className);
    }
    mHugeView->addSubview(view);
    return view;
}

std::shared_ptr<View> IdeaListView::makeItem(const QString& className)
{
    std::shared_ptr<View> view;
    if (className == QLatin1String("NormalIdeaListItemForIPad"))
        view = NormalIdeaListItemForIPad::create();
    else if (className == QLatin1String("BigAdderView"))
        view = BigAdderView::create();
    else
        view = SmallDockView::create();
    ++mCreatedItems;
    silenceItemLayer(*view);
    return view;
}

std::int64_t IdeaListView::missingSpareItems() const
{
    std::int64_t first = 0;
    std::int64_t last = -1;
    neededSlots(first, last);
    const std::int64_t slots = std::max<std::int64_t>(0, last - first + 1);
    // Planets only: a search's results take the adder's slot too.
    const auto pool = mReusableItemViewsByType.find(QStringLiteral("NormalIdeaListItemForIPad"));
    std::int64_t planets = pool == mReusableItemViewsByType.end() ? 0 : std::int64_t(pool->second.size());
    for (const auto& [key, item] : mVisibleItemsByKey)
        planets += dynamic_cast<const NormalIdeaListItemForIPad*>(item.get()) ? 1 : 0;
    return std::max<std::int64_t>(0, 2 * slots - planets);
}

void IdeaListView::addSpareItem()
{
    // A search's first results would otherwise be drawn into new pictures, faulting in their
    // memory page by page inside the keystroke's frame. One item a turn keeps each turn short;
    // a grid that changed meanwhile waits to rest again.
    if (mSpareItemsAtRest->isPending() || missingSpareItems() == 0)
        return;
    auto item = std::static_pointer_cast<NormalIdeaListItemForIPad>(
        makeItem(QStringLiteral("NormalIdeaListItemForIPad")));
    item->ideaView()->homePlanetLayer()->prepareContents();
    mReusableItemViewsByType[item->className()].push_back(item);
    std::weak_ptr<IdeaListView> weak = sharedAs<IdeaListView>();
    MainQueue::post([weak] {
        if (const auto self = weak.lock())
            self->addSpareItem();
    });
}

void IdeaListView::returnItem(const QString& key)
{
    const auto found = mVisibleItemsByKey.find(key);
    if (found == mVisibleItemsByKey.end())
        return;
    const std::shared_ptr<View> view = found->second;
    mVisibleItemsByKey.erase(found);
    view->removeFromSuperview();
    mReusableItemViewsByType[view->className()].push_back(view);
}

bool IdeaListView::addMissingSlot(std::int64_t slot)
{
    const std::int64_t index = documentIndexOfSlot(slot);
    const auto owner = delegate();
    if (index < 0) {
        if (mVisibleItemsByKey.count(AdderKey) != 0)
            return false;
        auto adder = std::static_pointer_cast<BigAdderView>(takeItem(QStringLiteral("BigAdderView")));
        adder->setDelegate(sharedAs<IdeaListView>());
        adder->setUserInteractionEnabled(mUserInteractionEnabled);
        ViewExtensions::setCenter(*adder, centerOfSlot(slot));
        mVisibleItemsByKey[AdderKey] = adder;
        return true;
    }
    if (index >= std::int64_t(mIdeaProxies.size())) {
        if (mVisibleItemsByKey.count(EndMarkerKey) != 0)
            return false;
        auto marker = takeItem(QStringLiteral("SmallDockView"));
        ViewExtensions::setCenter(*marker, centerOfSlot(slot));
        mVisibleItemsByKey[EndMarkerKey] = marker;
        return true;
    }
    const IdeaProxyPtr& proxy = mIdeaProxies[std::size_t(index)];
    if (mVisibleItemsByKey.count(proxy->docIdentifier()) != 0)
        return false;
    auto item = std::static_pointer_cast<NormalIdeaListItemForIPad>(
        takeItem(QStringLiteral("NormalIdeaListItemForIPad"), proxy->docIdentifier()));
    // The same summary as last shown: the item's picture stands.
    if (item->ideaProxy() != proxy)
        item->setIdeaProxy(proxy);
    item->ideaView()->setShadowMode(owner && owner->hasShadowModeForDocument(proxy->docIdentifier()));
    item->setDockingMode(mDockingMode);
    ViewExtensions::setCenter(*item, centerOfSlot(slot));
    mVisibleItemsByKey[proxy->docIdentifier()] = item;
    return true;
}

void IdeaListView::addMissingItems()
{
    std::int64_t first = 0;
    std::int64_t last = -1;
    neededSlots(first, last);
    for (std::int64_t slot = first; slot <= last; ++slot)
        addMissingSlot(slot);
}

void IdeaListView::repositionItems()
{
    std::int64_t first = 0;
    std::int64_t last = -1;
    neededSlots(first, last);
    const auto owner = delegate();
    std::map<QString, bool> met;
    for (std::int64_t slot = first; slot <= last; ++slot) {
        const std::int64_t index = documentIndexOfSlot(slot);
        QString key;
        if (index < 0)
            key = AdderKey;
        else if (index >= std::int64_t(mIdeaProxies.size()))
            key = EndMarkerKey;
        else
            key = mIdeaProxies[std::size_t(index)]->docIdentifier();
        const auto found = mVisibleItemsByKey.find(key);
        if (found == mVisibleItemsByKey.end())
            continue;
        met[key] = true;
        View& view = *found->second;
        if (auto* item = dynamic_cast<NormalIdeaListItemForIPad*>(&view)) {
            item->smallDock()->setHighlighted(mIdeaAdderAtFocus == std::uint64_t(index));
            item->ideaView()->setShadowMode(owner && owner->hasShadowModeForDocument(key));
            item->updateDockingMode(mDockingMode,
                                    mIdeaViewAtFocus == std::uint64_t(index) ? mFocusStrength : 0.0f);
        } else if (auto* adder = dynamic_cast<BigAdderView*>(&view)) {
            // Redrawn when its mode turns, not at every movement of a drag: its picture
            // depends on nothing a reposition changes.
            if (adder->dockMode() != mDockingMode) {
                adder->setDockMode(mDockingMode);
                adder->adderLayer()->setNeedsDisplay();
            }
        } else if (auto* marker = dynamic_cast<SmallDockView*>(&view)) {
            marker->setHighlighted(mIdeaAdderAtFocus == mIdeaProxies.size());
        }
        ViewExtensions::setCenter(view, centerOfSlot(slot));
    }
    std::vector<QString> leftovers;
    for (const auto& [key, item] : mVisibleItemsByKey) {
        if (met.count(key) == 0)
            leftovers.push_back(key);
    }
    for (const QString& key : leftovers)
        returnItem(key);
}

void IdeaListView::updatePlaceHolder()
{
    if (mReadOnly && mIdeaProxies.empty()) {
        if (!mPlaceHolderView) {
            mPlaceHolderView = TextLabel::create(Rect(0, 0, 400, 400));
            mPlaceHolderView->setText(
                Globals::normalLocalizedStringForKey(QStringLiteral("Search:NoMatches"), QString()));
            mPlaceHolderView->setFont(PlatformFont::fontWithName(QStringLiteral("Helvetica"), 16));
            mPlaceHolderView->setTextColor(PlatformColor::deviceWhite(0.5));
            mPlaceHolderView->sizeToFit();
            mHugeView->addSubview(mPlaceHolderView);
        }
        const Rect b = bounds();
        const Size size = mPlaceHolderView->frame().size;
        mPlaceHolderView->setFrame(Rect(b.origin.x + b.size.width / 2 - size.width / 2,
                                        b.origin.y + b.size.height / 2, size.width, size.height)
                                       .integral());
        return;
    }
    if (mPlaceHolderView) {
        mPlaceHolderView->removeFromSuperview();
        mPlaceHolderView.reset();
    }
}

// ---- Hit tests

IdeaView* IdeaListView::ideaViewAtPoint(Point point) const
{
    for (const auto& [key, item] : mVisibleItemsByKey) {
        auto* document = dynamic_cast<NormalIdeaListItemForIPad*>(item.get());
        if (document && document->hitTest(point))
            return document->ideaView().get();
    }
    return nullptr;
}

View* IdeaListView::viewAtPoint(Point point) const
{
    for (const auto& [key, item] : mVisibleItemsByKey) {
        if (item->hitTest(point))
            return item.get();
    }
    return nullptr;
}

// ---- Events

void IdeaListView::pleaseCreateNewIdea()
{
    if (auto owner = delegate())
        owner->pleaseCreateNewIdea();
}

IdeaView* IdeaListView::tappedIdeaView(Point windowPoint) const
{
    return ideaViewAtPoint(mHugeView->convertPointFromView(windowPoint, nullptr));
}

void IdeaListView::tapOnView(const std::shared_ptr<IdeaView>& view)
{
    mDoubleTapDetected = false;
    mSingleTapPending = true;
    view->startTapAnimation();
    std::shared_ptr<IdeaListView> self = sharedAs<IdeaListView>();
    MainQueue::post([self, view] {
        if (self->mDoubleTapDetected) {
            self->mSingleTapPending = false;
            view->stopTapAnimation();
            return;
        }
        MainQueue::postAfter(0.3, [self, view] {
            if (!self->mDoubleTapDetected) {
                if (auto owner = self->delegate())
                    owner->onDrillDownTo(view->docIdentifier(), false);
            }
            self->mSingleTapPending = false;
            view->stopTapAnimation();
        });
    });
}

void IdeaListView::singleTap(Point point)
{
    if (!mUserInteractionEnabled)
        return;
    IdeaView* view = tappedIdeaView(point);
    if (view)
        tapOnView(view->sharedAs<IdeaView>());
}

void IdeaListView::doubleTap(Point point)
{
    if (!mUserInteractionEnabled)
        return;
    IdeaView* view = tappedIdeaView(point);
    if (!view)
        return;
    tapOnView(view->sharedAs<IdeaView>());
    if (mSingleTapPending) {
        mDoubleTapDetected = true;
        if (auto owner = delegate())
            owner->onDrillDownTo(view->docIdentifier(), true);
    }
}

void IdeaListView::mouseDown(const Event& event)
{
    BaseScrollView::mouseDown(event);
    if (!mUserInteractionEnabled)
        return;
    // The grid itself takes the keys (its document view is a plain view).
    if (Window* host = window())
        host->makeFirstResponder(this);
    if (tappedIdeaView(event.locationInWindow()))
        mLongTapAndDragDetector->mouseDown(event);
}

void IdeaListView::mouseDragged(const Event& event)
{
    BaseScrollView::mouseDragged(event);
    mLongTapAndDragDetector->mouseDragged(event);
}

void IdeaListView::mouseUp(const Event& event)
{
    BaseScrollView::mouseUp(event);
    mLongTapAndDragDetector->mouseUp(event);
}

void IdeaListView::updateCursor(const Event& event)
{
    const bool overItem = viewAtPoint(mHugeView->convertPointFromView(event.locationInWindow(), nullptr));
    (overItem ? Cursor::pointingHandCursor() : Cursor::arrowCursor()).set();
}

void IdeaListView::mouseMoved(const Event& event)
{
    updateCursor(event);
    BaseScrollView::mouseMoved(event);
}

void IdeaListView::cursorUpdate(const Event& event)
{
    updateCursor(event);
}

void IdeaListView::updateTrackingAreas()
{
    if (mTrackingArea)
        removeTrackingArea(mTrackingArea.get());
    mTrackingArea = TrackingArea::create(bounds(),
                                         TrackingArea::MouseEnteredAndExited | TrackingArea::MouseMoved |
                                             TrackingArea::CursorUpdate | TrackingArea::ActiveInActiveApp,
                                         this);
    addTrackingArea(mTrackingArea);
    BaseScrollView::updateTrackingAreas();
}

std::shared_ptr<Menu> IdeaListView::menuForEvent(const Event& event)
{
    IdeaView* view = tappedIdeaView(event.locationInWindow());
    auto owner = delegate();
    return view && owner ? owner->onRightClickAtDocument(view->docIdentifier()) : nullptr;
}

std::shared_ptr<void> IdeaListView::startDragGestureIfPossible(Point point)
{
    if (!mUserInteractionEnabled || mReadOnly)
        return nullptr;
    IdeaView* view = tappedIdeaView(point);
    auto owner = delegate();
    if (!owner)
        return nullptr;
    const auto& last = mLongTapAndDragDetector->lastEvent();
    if (view)
        owner->startDragForIdea(view->ideaIdentifier(), view->docIdentifier(), view->frame(),
                                last ? &*last : nullptr);
    else
        owner->startDragForIdea(QString(), QString(), Rect(), last ? &*last : nullptr);
    return nullptr;
}

// ---- Drag tracking

void IdeaListView::setDockingMode(bool on)
{
    mDockingMode = on;
    mIdeaViewAtFocus = NotFound;
    mIdeaAdderAtFocus = NotFound;
    mViewAtFocus.reset();
    mFocusStrength = 0;
}

void IdeaListView::startTrackingFocusAt(Point point, const View* view)
{
    if (mDockingMode)
        return;
    setDockingMode(true);
    addMissingItems();
    // Markers show from now on, so that they can take the focus at once.
    repositionItems();
    updateFocusAt(convertPointFromView(point, view));
}

float IdeaListView::trackFocusAt(Point point, const View* view)
{
    if (!mDockingMode)
        return std::numeric_limits<float>::max();
    return updateFocusAt(convertPointFromView(point, view));
}

void IdeaListView::stopTrackingFocus()
{
    if (!mDockingMode) {
        updateView();
        return;
    }
    setDockingMode(false);
    addMissingItems();
    repositionItems();
    returnItem(EndMarkerKey);
}

float IdeaListView::updateFocusAt(Point p)
{
    float best = -1;
    float distance = std::numeric_limits<float>::max();
    const double w = ColumnWidth;
    mIdeaViewAtFocus = NotFound;
    mIdeaAdderAtFocus = NotFound;
    mViewAtFocus.reset();
    const auto consider = [&](const std::shared_ptr<View>& target, double halfWidth, std::uint64_t idea,
                              std::uint64_t adder) {
        // Hidden areas cannot take a drop: they are no candidates.
        if (!target || target->isHiddenOrHasHiddenAncestor() || !target->superview())
            return;
        const Point centre = convertPointFromView(ViewExtensions::center(*target), target->superview());
        const float strength = focusStrengthOf(p, centre, halfWidth, 0.5 * w);
        if (strength > best) {
            best = strength;
            distance = distanceBetween(p, centre);
            mViewAtFocus = target;
            mIdeaViewAtFocus = idea;
            mIdeaAdderAtFocus = adder;
            mFocusStrength = strength;
        }
    };
    consider(mDeleteAreaView, 0.2 * w, NotFound, NotFound);
    consider(mDockAreaView, 0.2 * w, NotFound, NotFound);
    for (const auto& [key, item] : mVisibleItemsByKey) {
        if (auto* document = dynamic_cast<NormalIdeaListItemForIPad*>(item.get())) {
            const auto found =
                std::find_if(mIdeaProxies.begin(), mIdeaProxies.end(),
                             [&](const IdeaProxyPtr& proxy) { return proxy->docIdentifier() == key; });
            const std::uint64_t index = std::uint64_t(found - mIdeaProxies.begin());
            consider(document->ideaView(), 0.2 * w, index, NotFound);
            consider(document->smallDock(), 0.3 * w, NotFound, index);
        } else if (key == EndMarkerKey) {
            consider(item, 0.3 * w, NotFound, mIdeaProxies.size());
        }
    }
    if (best <= 0 && bounds().contains(p))
        focusNearestMarker(p, distance, best);
    if (best <= 0) {
        // With no target in reach the answer is the distance to the delete area.
        distance = distanceBetween(p, convertPointFromView(ViewExtensions::center(*mDeleteAreaView), this));
        mIdeaViewAtFocus = NotFound;
        mIdeaAdderAtFocus = NotFound;
        mViewAtFocus.reset();
        mFocusStrength = 0;
    }
    updateView();
    return distance;
}

void IdeaListView::focusNearestMarker(Point p, float& distance, float& best)
{
    // On the grid's empty space a drop still lands where the user aims: at the nearest place
    // between documents, rather than going back.
    mViewAtFocus.reset();
    for (const auto& [key, item] : mVisibleItemsByKey) {
        std::shared_ptr<View> marker;
        std::uint64_t adder = mIdeaProxies.size();
        if (auto* document = dynamic_cast<NormalIdeaListItemForIPad*>(item.get())) {
            marker = document->smallDock();
            const auto found =
                std::find_if(mIdeaProxies.begin(), mIdeaProxies.end(),
                             [&](const IdeaProxyPtr& proxy) { return proxy->docIdentifier() == key; });
            adder = std::uint64_t(found - mIdeaProxies.begin());
        } else if (key == EndMarkerKey) {
            marker = item;
        }
        if (!marker || marker->isHiddenOrHasHiddenAncestor() || !marker->superview())
            continue;
        const float away =
            distanceBetween(p, convertPointFromView(ViewExtensions::center(*marker), marker->superview()));
        if (mViewAtFocus && away >= distance)
            continue;
        distance = away;
        best = std::numeric_limits<float>::min();
        mViewAtFocus = marker;
        mIdeaViewAtFocus = NotFound;
        mIdeaAdderAtFocus = adder;
        mFocusStrength = 0;
    }
}

void IdeaListView::trackMouseAt(Point point, const View* view)
{
    const Point p = convertPointFromView(point, view);
    if (!mAutoScrollTimer) {
        mAutoScrollTimer = std::make_unique<RepeatingTimer>();
        std::weak_ptr<IdeaListView> weak = sharedAs<IdeaListView>();
        mAutoScrollTimer->start(0.0075, [weak] {
            if (auto self = weak.lock())
                self->autoScrollTick();
        });
    }
    mAutoScrollPixelSpeed = 0;
    if (p.x >= contentWidth() - 100)
        return;
    const double height = frame().size.height;
    if (p.y > -5 && p.y < 30)
        mAutoScrollPixelSpeed = std::int64_t(double(std::int64_t(p.y - 30)) * 1.5);
    else if (p.y > height - 30 && p.y < height)
        mAutoScrollPixelSpeed = std::int64_t(double(std::int64_t(p.y - (height - 30))) * 1.5);
    if (mAutoScrollPixelSpeed != 0)
        mLastAutoScrollStartTime = 0;
}

void IdeaListView::autoScrollTick()
{
    if (!mAutoScrollTimer || mAutoScrollPixelSpeed == 0 || !contentView())
        return;
    const double now = MediaClock::now();
    if (now - mLastAutoScrollStartTime <= 0.05)
        return;
    if (mLastAutoScrollStartTime <= 0)
        mLastAutoScrollStartTime = now;
    else
        mLastAutoScrollStartTime += std::floor((now - mLastAutoScrollStartTime) / 0.05) * 0.05;
    const double offset = contentView()->bounds().origin.y + double(mAutoScrollPixelSpeed);
    const double height = frame().size.height;
    if ((offset > 0 && mAutoScrollPixelSpeed < 0) ||
        (offset < mHugeView->frame().size.height - height && mAutoScrollPixelSpeed > 0)) {
        scrollClipViewToPoint(Point(0, offset));
        updateView();
    }
}

void IdeaListView::stopTrackingMouse()
{
    if (mAutoScrollTimer)
        mAutoScrollTimer->invalidate();
    mAutoScrollTimer.reset();
    mLastAutoScrollStartTime = 0;
    mAutoScrollPixelSpeed = 0;
}

} // namespace corvex
