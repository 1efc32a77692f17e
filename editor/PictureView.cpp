#include "editor/PictureView.h"

#include "editor/PictureClipView.h"
#include "platform/core/Log.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BaseScrollView.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

const QString kZoomInAction = QStringLiteral("qvZoomIn:");
const QString kZoomOutAction = QStringLiteral("qvZoomOut:");
const QString kActualSizeAction = QStringLiteral("qvActualSize:");
// The factor whose tentative zoom is always the fitting one.
constexpr double kFittingFactor = -10000;

} // namespace

std::shared_ptr<PictureView> PictureView::create()
{
    return BaseView::make<PictureView>();
}

void PictureView::setImage(const PlatformImage& image)
{
    const Size size = image.size();
    if (image.isNull() || !(size.width > 0) || !(size.height > 0)) {
        // Nothing to show: the zoom arithmetic would divide by the empty size.
        Log::assertionFailure(QStringLiteral("PictureView given no picture"));
        return;
    }
    mImage = image;
    if (mScrollView)
        mScrollView->removeFromSuperview();
    mScrollView = BaseScrollView::create();
    addSubview(mScrollView);
    mContentView = BaseView::create();
    mImageView = BaseImageView::create();
    mImageView->setImageScaling(BaseImageView::ScaleAxesIndependently);
    mScrollView->setContentView(PictureClipView::create());
    mScrollView->setDrawsBackground(false);
    mContentView->addSubview(mImageView);

    mImageView->setImage(image);
    mImageView->setFrame(Rect(0, 0, size.width, size.height));
    mContentSize = size;
    mContentView->setFrame(Rect(0, 0, size.width, size.height));
    setNeedsLayout(true);

    mScrollView->setDocumentView(mContentView);
    mScrollView->setAutohidesScrollers(true);
    mScrollView->setAllowsMagnification(true);
    fitZoomToContent();
    setNeedsLayout(true);
}

double PictureView::fittingZoom(Size size) const
{
    if (!(mContentSize.width > 0) || !(mContentSize.height > 0))
        return 1;
    return std::min(size.width / mContentSize.width, size.height / mContentSize.height);
}

double PictureView::currentMagnification() const
{
    return mScrollView ? mScrollView->magnification() : 1;
}

double PictureView::tentativeZoom(double factor) const
{
    if (!mScrollView)
        return 1;
    const double zoom = factor < 0 ? fittingZoom(bounds().size) : factor * currentMagnification();
    return std::clamp(zoom, mScrollView->minMagnification(), mScrollView->maxMagnification());
}

void PictureView::updateMagnificationLimits()
{
    if (!mScrollView)
        return;
    const double fitting = fittingZoom(bounds().size);
    double minimum = ScrollView::DefaultMinMagnification;
    if (std::isfinite(fitting) && fitting > 0)
        minimum = std::min(minimum, fitting);
    mScrollView->setMinMagnification(minimum);
}

void PictureView::fitZoomToContent()
{
    mIsFittingExactly = true;
    if (mScrollView) {
        mScrollView->setHasHorizontalScroller(false);
        mScrollView->setHasVerticalScroller(false);
    }
    applyLayout();
}

void PictureView::zoomInCenter(double factor)
{
    if (!mScrollView)
        return;
    mIsFittingExactly = false;
    mScrollView->setHasHorizontalScroller(true);
    mScrollView->setHasVerticalScroller(true);
    updateMagnificationLimits();
    mScrollView->setMagnification(tentativeZoom(factor));
    applyLayout();
}

bool PictureView::canZoomIn() const
{
    return mScrollView && tentativeZoom(ZoomInFactor) != currentMagnification();
}

bool PictureView::canZoomOut() const
{
    return mScrollView && tentativeZoom(ZoomOutFactor) != currentMagnification();
}

bool PictureView::canZoomToActualSize() const
{
    return mScrollView && tentativeZoom(kFittingFactor) != currentMagnification();
}

bool PictureView::validateUserInterfaceItem(const MenuItem& item) const
{
    if (item.actionId() == kZoomInAction)
        return canZoomIn();
    if (item.actionId() == kZoomOutAction)
        return canZoomOut();
    if (item.actionId() == kActualSizeAction)
        return canZoomToActualSize();
    return true;
}

bool PictureView::respondsToAction(const QString& actionId) const
{
    return actionId == kZoomInAction || actionId == kZoomOutAction || actionId == kActualSizeAction;
}

bool PictureView::validateAction(const QString&, const MenuItem& item)
{
    return validateUserInterfaceItem(item);
}

void PictureView::performAction(const QString& actionId, MenuItem&)
{
    if (actionId == kZoomInAction)
        zoomIn();
    else if (actionId == kZoomOutAction)
        zoomOut();
    else if (actionId == kActualSizeAction)
        actualSize();
}

void PictureView::applyLayout()
{
    BaseView::applyLayout();
    if (!mScrollView)
        return;
    updateMagnificationLimits();
    if (mIsFittingExactly)
        mScrollView->setMagnification(fittingZoom(bounds().size));
    // Twice: the second pass sees the clip view's size after scrollers came or went.
    for (int pass = 0; pass < 2; ++pass) {
        mScrollView->setFrame(bounds());
        const Size visible = mScrollView->contentView()->scaledBounds().size;
        const Size content(std::max(visible.width - 1, mContentSize.width),
                           std::max(visible.height - 1, mContentSize.height));
        mContentView->setFrame(Rect(0, 0, content.width, content.height));
        mImageView->setFrame(Rect(std::floor((content.width - mContentSize.width) / 2),
                                  std::floor((content.height - mContentSize.height) / 2), mContentSize.width,
                                  mContentSize.height));
        mScrollView->tile();
    }
}

void PictureView::keyDown(const Event& event)
{
    if (event.modifierFlags() & Event::CommandKeyMask) {
        const QString key = event.charactersIgnoringModifiers();
        if (key == QLatin1String("+") || key == QLatin1String("=")) {
            zoomIn();
            return;
        }
        if (key == QLatin1String("-")) {
            zoomOut();
            return;
        }
        if (key == QLatin1String("9")) {
            actualSize();
            return;
        }
    }
    BaseView::keyDown(event);
}

std::shared_ptr<Menu> PictureView::menuForEvent(const Event&)
{
    auto menu = Menu::create(QString());
    menu->addItem(MenuItem::separator());
    std::weak_ptr<View> weak = weak_from_this();
    const auto add = [&](const QString& title, const QString& key, const QString& action,
                         void (PictureView::*run)()) {
        auto item = MenuItem::create(
            title,
            [weak, run](MenuItem&) {
                if (auto self = std::static_pointer_cast<PictureView>(weak.lock()))
                    (self.get()->*run)();
            },
            key);
        item->setActionId(action);
        item->setEnabled(validateUserInterfaceItem(*item));
        menu->addItem(item);
    };
    add(QStringLiteral("Zoom In"), QStringLiteral("+"), kZoomInAction, &PictureView::zoomIn);
    add(QStringLiteral("Zoom Out"), QStringLiteral("-"), kZoomOutAction, &PictureView::zoomOut);
    add(QStringLiteral("Zoom to Fit"), QStringLiteral("9"), kActualSizeAction, &PictureView::actualSize);
    return menu;
}

} // namespace corvex
