#include "home/BigAdderLayer.h"

#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"

namespace corvex {

BigAdderLayer::BigAdderLayer()
{
    prepare();
}

BigAdderLayer::BigAdderLayer(const BigAdderLayer& other) : Layer(other), mPressed(other.mPressed)
{
    prepare();
}

BigAdderLayer::~BigAdderLayer() = default;

std::shared_ptr<BigAdderLayer> BigAdderLayer::create()
{
    return std::make_shared<BigAdderLayer>();
}

void BigAdderLayer::prepare()
{
    setOpaque(false);
    setContentsScale(Globals::screenScale());
    mImage = PlatformImage::imageNamed(QStringLiteral("home_view_plus"));
    mActiveImage = PlatformImage::imageNamed(QStringLiteral("home_view_plus_active"));
}

void BigAdderLayer::setPressed(bool pressed)
{
    if (pressed == mPressed)
        return;
    mPressed = pressed;
    setNeedsDisplay();
}

void BigAdderLayer::drawInContext(GraphicsContext& context)
{
    const PlatformImage& image = mPressed ? mActiveImage : mImage;
    if (!image.isNull())
        image.drawInRect(context, bounds());
}

} // namespace corvex
