#include "mindmap/PlanetLayer.h"

#include "model/Color.h"
#include "model/DrawnColor.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"
#include "toolkit/LayerExtensions.h"

namespace corvex {

PlanetLayer::PlanetLayer()
{
    setOpaque(false);
    setNeedsDisplay();
}

PlanetLayer::PlanetLayer(quint64 planetType)
{
    setPlanetType(planetType);
    setFrame(Rect(Point(), mPlanetDrawer->scaledSize()));
    setOpaque(false);
}

PlanetLayer::PlanetLayer(const PlanetLayer& other)
    : BaseLayer(other), mPlanetType(other.mPlanetType), mPlanetDrawer(other.mPlanetDrawer),
      mNote(other.mNote), mIdeaIdentifier(other.mIdeaIdentifier), mDocIdentifier(other.mDocIdentifier)
{
    setShadowMode(other.mShadowMode);
}

PlanetLayer::~PlanetLayer() = default;

std::shared_ptr<PlanetLayer> PlanetLayer::create()
{
    return make<PlanetLayer>();
}

std::shared_ptr<PlanetLayer> PlanetLayer::create(quint64 planetType)
{
    return make<PlanetLayer>(planetType);
}

QString PlanetLayer::className() const
{
    return QStringLiteral("PlanetLayer");
}

void PlanetLayer::setPlanetType(quint64 planetType)
{
    mPlanetType = planetType;
    auto drawer = std::make_shared<PlanetDrawer>(planetType);
    if (const auto& old = mPlanetDrawer) {
        // The link ring and the web-link mark belong to the idea, which sets them again.
        drawer->setBaseColor(old->baseColor());
        drawer->setImage(old->image());
        drawer->setShowOrbit(old->showOrbit());
        drawer->setScale(old->scale());
        drawer->setText(old->text());
        drawer->setFontSize(old->fontSize());
        drawer->setIconImage(old->iconImage());
        drawer->setNoteNumber(old->noteNumber());
        drawer->setTextColor(old->textColor());
    }
    mPlanetDrawer = std::move(drawer);
    setNeedsDisplay();
}

void PlanetLayer::updateWithIdea(const Idea* idea, const QString& docIdentifier)
{
    if (!idea) {
        Log::assertionFailure(QStringLiteral("PlanetLayer updateWithIdea: no idea"));
        return;
    }
    setText(idea->text());
    setBaseColor(DrawnColor::ofIdea(*idea));
    setImage(idea->image());
    setIconImage(idea->iconImage());
    const QString note = idea->note();
    setNote(note.isNull() ? std::nullopt : std::optional<QString>(note));
    setShowWebLink(idea->hasURL());
    setIdeaIdentifier(idea->identifier());
    setShowOrbit(!idea->ideas().empty());
    setIsLink(idea->isLink());
    setIdeaIdentifier(idea->identifier());
    setDocIdentifier(docIdentifier);
}

void PlanetLayer::setBaseColor(const std::shared_ptr<Color>& color)
{
    if (!mPlanetDrawer)
        return;
    mPlanetDrawer->setBaseColor(color);
    setNeedsDisplay();
}

std::shared_ptr<Color> PlanetLayer::baseColor() const
{
    return mPlanetDrawer ? mPlanetDrawer->baseColor() : nullptr;
}

void PlanetLayer::setImage(const QVImage& image)
{
    if (!mPlanetDrawer)
        return;
    mPlanetDrawer->setImage(image);
    setNeedsDisplay();
}

QVImage PlanetLayer::image() const
{
    return mPlanetDrawer ? mPlanetDrawer->image() : QVImage();
}

void PlanetLayer::setIconImage(const std::shared_ptr<IconImage>& icon)
{
    if (!mPlanetDrawer)
        return;
    mPlanetDrawer->setIconImage(icon);
    setNeedsDisplay();
}

std::shared_ptr<IconImage> PlanetLayer::iconImage() const
{
    return mPlanetDrawer ? mPlanetDrawer->iconImage() : nullptr;
}

void PlanetLayer::setText(const QString& text)
{
    if (!mPlanetDrawer)
        return;
    mPlanetDrawer->setText(text);
    setNeedsDisplay();
}

QString PlanetLayer::text() const
{
    return mPlanetDrawer ? mPlanetDrawer->text() : QString();
}

void PlanetLayer::setFontSize(float size)
{
    if (mPlanetDrawer)
        mPlanetDrawer->setFontSize(size);
}

float PlanetLayer::fontSize() const
{
    return mPlanetDrawer ? mPlanetDrawer->fontSize() : 0.0f;
}

void PlanetLayer::setTextColor(const PlatformColor& color)
{
    if (mPlanetDrawer)
        mPlanetDrawer->setTextColor(color);
}

PlatformColor PlanetLayer::textColor() const
{
    return mPlanetDrawer ? mPlanetDrawer->textColor() : PlatformColor();
}

void PlanetLayer::setShowOrbit(bool show)
{
    if (mPlanetDrawer)
        mPlanetDrawer->setShowOrbit(show);
}

bool PlanetLayer::showOrbit() const
{
    return mPlanetDrawer && mPlanetDrawer->showOrbit();
}

void PlanetLayer::setShowWebLink(bool show)
{
    if (mPlanetDrawer)
        mPlanetDrawer->setShowWebLink(show);
}

bool PlanetLayer::showWebLink() const
{
    return mPlanetDrawer && mPlanetDrawer->showWebLink();
}

void PlanetLayer::setIsLink(bool isLink)
{
    if (mPlanetDrawer)
        mPlanetDrawer->setIsLink(isLink);
}

bool PlanetLayer::isLink() const
{
    return mPlanetDrawer && mPlanetDrawer->isLink();
}

void PlanetLayer::setApproximateRendering(bool approximate)
{
    if (mPlanetDrawer)
        mPlanetDrawer->setApproximateRendering(approximate);
}

bool PlanetLayer::approximateRendering() const
{
    return mPlanetDrawer && mPlanetDrawer->approximateRendering();
}

void PlanetLayer::setNote(std::optional<QString> note)
{
    mNote = std::move(note);
    if (mPlanetDrawer)
        mPlanetDrawer->setNoteNumber(mNote ? -1 : 0);
}

void PlanetLayer::setScale(double scale)
{
    if (!mPlanetDrawer || float(scale) == mPlanetDrawer->scale())
        return;
    mPlanetDrawer->setScale(float(scale));
    setNeedsDisplay();
}

double PlanetLayer::scale() const
{
    return mPlanetDrawer ? double(mPlanetDrawer->scale()) : 0.0;
}

void PlanetLayer::resizeToScale()
{
    if (!mPlanetDrawer)
        return;
    setFrame(Rect(frame().origin, mPlanetDrawer->scaledSize()));
}

void PlanetLayer::setRadius(float radius)
{
    if (!mPlanetDrawer)
        return;
    mPlanetDrawer->setScale(radius / mPlanetDrawer->radius());
    setFrame(Rect(Point(), mPlanetDrawer->scaledSize()));
}

float PlanetLayer::radius() const
{
    return mPlanetDrawer ? mPlanetDrawer->scaledRadius() : 0.0f;
}

void PlanetLayer::setShadowMode(bool on)
{
    if (on == mShadowMode)
        return;
    mShadowMode = on;
    setOpacity(on ? 0.5f : 1.0f);
}

void PlanetLayer::updateAppearance()
{
    if (mPlanetDrawer)
        mPlanetDrawer->updateAppearance();
    setNeedsDisplay();
}

bool PlanetLayer::hitsNote(Point point) const
{
    if (!mNote || !mPlanetDrawer)
        return false;
    const Point center = LayerExtensions::centerPoint(*this);
    return mPlanetDrawer->hitsNote(Point(point.x - center.x, point.y - center.y));
}

void PlanetLayer::drawInContext(GraphicsContext& context)
{
    BaseLayer::drawInContext(context);
    if (!mPlanetDrawer)
        return;
    context.saveGState();
    // The drawer's space is y-down from the top-left corner of the bounds; a layer in a y-up
    // tree gets the same picture, upright.
    const Rect b = bounds();
    if (context.userToDevice().determinant() > 0) {
        context.translateCTM(b.origin.x, b.origin.y);
    } else {
        context.translateCTM(b.origin.x, b.maxY());
        context.scaleCTM(1, -1);
    }
    mPlanetDrawer->drawInCurrentContext(context);
    context.restoreGState();
}

} // namespace corvex
