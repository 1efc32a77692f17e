#include "mindmap/SimpleIdeaView.h"

#include "mindmap/PlanetLayer.h"
#include "model/Color.h"
#include "model/DrawnColor.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/gfx/PlatformColor.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

constexpr quint64 kSimpleViewDockedRole = 3;
// The assertion line of updateWithIdea without an idea.
constexpr int kSimpleViewMissingIdeaLine = 187;
constexpr const char* kSimpleViewUpdateWithIdeaMethod = "-[SimpleIdeaView updateWithIdea:inDocument:]";

} // namespace

SimpleIdeaView::SimpleIdeaView(quint64 role) : IdeaView(role) {}

SimpleIdeaView::~SimpleIdeaView()
{
    if (mAppearanceObserver)
        NotificationCenter::defaultCenter().removeObserver(mAppearanceObserver);
}

std::shared_ptr<SimpleIdeaView> SimpleIdeaView::makeSimpleIdeaView(quint64 role)
{
    // The planet layer starts without a drawer; prepareSimpleIdeaView gives it its type.
    auto view = IdeaView::makeWithRole<SimpleIdeaView>(role, PlanetLayer::create());
    view->prepareSimpleIdeaView();
    return view;
}

std::shared_ptr<SimpleIdeaView> SimpleIdeaView::create(quint64 role)
{
    return makeSimpleIdeaView(role);
}

std::shared_ptr<SimpleIdeaView> SimpleIdeaView::create(const QString& text, quint64 role)
{
    auto view = makeSimpleIdeaView(role);
    view->mPlanetLayer->setText(text);
    return view;
}

quint64 SimpleIdeaView::planetTypeForRole(quint64 role)
{
    switch (role) {
    case 1:
        return 1;
    case 2:
        return 6;
    default:
        return 0;
    }
}

QString SimpleIdeaView::className() const
{
    return QStringLiteral("SimpleIdeaView");
}

void SimpleIdeaView::prepareSimpleIdeaView()
{
    mPlanetLayer = std::static_pointer_cast<PlanetLayer>(layer());
    mPlanetLayer->setPlanetType(planetTypeForRole(role()));
    // The planet layer was sized by the view's frame before it had a drawer: its frame stays
    // the view's.
    setBaseColor(
        Color::withPlatformColor(QStringLiteral("grey"), PlatformColor::deviceRGB(0.5, 0.5, 0.5, 1.0)));
    std::weak_ptr<SimpleIdeaView> weak = sharedAs<SimpleIdeaView>();
    mAppearanceObserver = NotificationCenter::defaultCenter().addObserver(
        Globals::AppearanceSettingsChangedNotification, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (auto view = weak.lock())
                view->appearanceSettingsChanged();
        });
}

void SimpleIdeaView::appearanceSettingsChanged()
{
    mPlanetLayer->updateAppearance();
}

void SimpleIdeaView::updateAppearance()
{
    appearanceSettingsChanged();
}

// ---- Forwarded ----

void SimpleIdeaView::setBaseColor(const std::shared_ptr<Color>& color)
{
    mPlanetLayer->setBaseColor(color);
}

std::shared_ptr<Color> SimpleIdeaView::baseColor() const
{
    return mPlanetLayer->baseColor();
}

void SimpleIdeaView::setImage(const QVImage& image)
{
    mPlanetLayer->setImage(image);
}

QVImage SimpleIdeaView::image() const
{
    return mPlanetLayer->image();
}

void SimpleIdeaView::setIconImage(const std::shared_ptr<IconImage>& icon)
{
    mPlanetLayer->setIconImage(icon);
}

std::shared_ptr<IconImage> SimpleIdeaView::iconImage() const
{
    return mPlanetLayer->iconImage();
}

void SimpleIdeaView::setIsLink(bool isLink)
{
    mPlanetLayer->setIsLink(isLink);
}

bool SimpleIdeaView::isLink() const
{
    return mPlanetLayer->isLink();
}

void SimpleIdeaView::setNote(std::optional<QString> note)
{
    mPlanetLayer->setNote(std::move(note));
}

std::optional<QString> SimpleIdeaView::note() const
{
    return mPlanetLayer->note();
}

bool SimpleIdeaView::hasNote() const
{
    return mPlanetLayer->showNote();
}

void SimpleIdeaView::setHasWebLink(bool hasWebLink)
{
    mPlanetLayer->setShowWebLink(hasWebLink);
}

bool SimpleIdeaView::hasWebLink() const
{
    return mPlanetLayer->showWebLink();
}

void SimpleIdeaView::setShowOrbit(bool show)
{
    mPlanetLayer->setShowOrbit(show);
}

bool SimpleIdeaView::showOrbit() const
{
    return mPlanetLayer->showOrbit();
}

QString SimpleIdeaView::text() const
{
    return mPlanetLayer->text();
}

double SimpleIdeaView::scale() const
{
    return mPlanetLayer->scale();
}

// ---- Own operations ----

void SimpleIdeaView::changeText(const QString& text)
{
    mPlanetLayer->setText(text);
    setNeedsDisplay();
}

void SimpleIdeaView::setScale(double scale)
{
    mPlanetLayer->setScale(scale);
    const Point centre = ViewExtensions::center(*this);
    const double side = sideLengthForRole(role()) * scale;
    setFrame(Rect(centre.x - side / 2, centre.y - side / 2, side, side));
}

View* SimpleIdeaView::hitTest(Point pointInSuperview)
{
    if (role() == kSimpleViewDockedRole)
        return nullptr;
    return IdeaView::hitTest(pointInSuperview);
}

bool SimpleIdeaView::hitsNote(Point point) const
{
    return mPlanetLayer->hitsNote(point);
}

void SimpleIdeaView::setShadowMode(bool on)
{
    if (on == shadowMode())
        return;
    IdeaView::setShadowMode(on);
    mPlanetLayer->setShadowMode(on);
}

QString SimpleIdeaView::representativeTitle() const
{
    return text();
}

std::shared_ptr<IdeaView> SimpleIdeaView::copyForDragging() const
{
    auto copy = create(text(), kSimpleViewDockedRole);
    copy->setIdeaIdentifier(ideaIdentifier());
    copy->setDocIdentifier(docIdentifier());
    copy->layer()->setZPosition(1.0);
    copy->setBaseColor(baseColor());
    copy->setImage(image());
    copy->setIconImage(iconImage());
    copy->setNote(note());
    copy->setHasWebLink(hasWebLink());
    copy->setShowOrbit(showOrbit());
    copy->setIsLink(isLink());
    return copy;
}

void SimpleIdeaView::updateWithIdea(const Idea* idea, const QString& docIdentifier)
{
    // Without an idea every step still runs, with empty values, so the view shows nothing
    // of what it showed before.
    if (!idea)
        Log::assertionFailure(kSimpleViewMissingIdeaLine, kSimpleViewUpdateWithIdeaMethod);
    changeText(idea ? idea->text() : QString());
    const QString note = idea ? idea->note() : QString();
    setNote(note.isNull() ? std::nullopt : std::optional<QString>(note));
    setIconImage(idea ? idea->iconImage() : nullptr);
    setHasWebLink(idea && idea->hasURL());
    setBaseColor(idea ? DrawnColor::ofIdea(*idea) : nullptr);
    setImage(idea ? idea->image() : QVImage());
    setIdeaIdentifier(idea ? idea->identifier() : QString());
    setDocIdentifier(docIdentifier);
}

} // namespace corvex
