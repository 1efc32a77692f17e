#include "mindmap/ParentIdeaView.h"

#include "mindmap/ParentIdeaViewDelegate.h"
#include "mindmap/PlanetDrawer.h"
#include "model/Color.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ScreenFacade.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ImageCache.h"
#include "toolkit/TextLabel.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr double kParentViewSide = 120;
const QString kParentPlanetImageName = QStringLiteral("parent_planet");
// The title's colour on a bright parent colour with high contrast on.
constexpr float kParentViewContrastGrey = 0.33f;

} // namespace

ParentIdeaView::ParentIdeaView() = default;

ParentIdeaView::~ParentIdeaView()
{
    if (mAppearanceObserver)
        NotificationCenter::defaultCenter().removeObserver(mAppearanceObserver);
}

Point ParentIdeaView::defaultOrigin()
{
    return Point(-34, -36);
}

Rect ParentIdeaView::defaultTextFrame()
{
    return Rect(11, 6, 95, 36);
}

float ParentIdeaView::defaultRadius()
{
    const Point origin = defaultOrigin();
    const Rect text = defaultTextFrame();
    const float dx = float(text.size.width - origin.x);
    const float dy = float(text.size.height - origin.y);
    return std::sqrt(dx * dx + dy * dy) + 8.0f;
}

QString ParentIdeaView::className() const
{
    return QStringLiteral("ParentIdeaView");
}

void ParentIdeaView::prepareParentIdeaView()
{
    setFrame(Rect(0, 0, kParentViewSide, kParentViewSide));
    mContentView = BaseView::create(bounds());
    // Only the planet's corner inside the view shows, wherever the owner puts the view (the
    // picture's square reaches past the view's edges).
    mContentView->layer()->setMasksToBounds(true);
    addSubview(mContentView);
    mOrigin = defaultOrigin();
    mRadius = defaultRadius();
}

std::shared_ptr<ParentIdeaView> ParentIdeaView::createWithImage(const QVImage& image)
{
    auto view = BaseView::make<ParentIdeaView>();
    view->prepareParentIdeaView();
    view->prepareWithImage(image);
    return view;
}

std::shared_ptr<ParentIdeaView> ParentIdeaView::createWithText(const QString& text,
                                                               const std::shared_ptr<Color>& color)
{
    auto view = BaseView::make<ParentIdeaView>();
    view->prepareParentIdeaView();
    view->prepareWithText(text, color);
    return view;
}

void ParentIdeaView::prepareWithImage(const QVImage& image)
{
    const double r = mRadius;
    const Rect circle(mOrigin.x - r, mOrigin.y - r, 2 * r, 2 * r);
    // A missing picture leaves the image view empty: nothing is drawn. The picture is held at
    // the size the circle takes on the sharpest screen, never whole.
    double scale = 1;
    for (const ScreenInfo& screen : ScreenFacade::screens())
        scale = std::max(scale, screen.backingScaleFactor);
    mImage = image.nsImageFitting(int(std::ceil(2 * r * scale)));
    mImageView = BaseImageView::create(circle);
    mImageView->setImage(mImage);
    mImageView->setImageScaling(BaseImageView::ScaleProportionallyUpOrDown);
    mContentView->addSubview(mImageView);
    // Only the picture's part inside the planet's circle shows.
    Path mask;
    mask.addEllipseInRect(circle);
    mContentView->layer()->setMaskPath(mask);
}

void ParentIdeaView::prepareWithText(const QString& text, const std::shared_ptr<Color>& color)
{
    mText = text;
    mColor = color;
    mImage = ImageCache::cache().deviceImageWithName(kParentPlanetImageName, color);
    mImageView = BaseImageView::create(bounds());
    mImageView->setImage(mImage);
    mImageView->setImageScaling(BaseImageView::ScaleProportionallyUpOrDown);
    mContentView->addSubview(mImageView);
    mLabel = TextLabel::create(defaultTextFrame());
    // Long titles use both lines of the title frame instead of running out of the planet.
    mLabel->setWraps(true);
    updateLabel();
    mContentView->addSubview(mLabel);
    std::weak_ptr<ParentIdeaView> weak = sharedAs<ParentIdeaView>();
    mAppearanceObserver = NotificationCenter::defaultCenter().addObserver(
        Globals::AppearanceSettingsChangedNotification, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (auto view = weak.lock())
                view->appearanceSettingsChanged();
        });
}

void ParentIdeaView::updateLabel()
{
    if (!mLabel)
        return;
    const PlatformFont font =
        PlatformFont::fontWithName(QStringLiteral("Helvetica"), PlanetDrawer::fontSizeForPlanetType(0));
    const bool darkTitle = Globals::highContrastText() && mColor && mColor->isBright();
    mLabel->setTextColor(darkTitle ? PlatformColor::deviceWhite(double(kParentViewContrastGrey), 1.0)
                                   : PlatformColor::white());
    mLabel->setFont(font);
    mLabel->setText(mText);
}

void ParentIdeaView::appearanceSettingsChanged()
{
    updateLabel();
}

} // namespace corvex
