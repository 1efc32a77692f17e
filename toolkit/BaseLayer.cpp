#include "toolkit/BaseLayer.h"

#include "model/Globals.h"
#include "toolkit/LayerExtensions.h"

namespace corvex {

BaseLayer::BaseLayer() = default;

BaseLayer::BaseLayer(const BaseLayer& other) : Layer(other), VisualObject(other) {}

BaseLayer::~BaseLayer() = default;

std::shared_ptr<BaseLayer> BaseLayer::create()
{
    return make<BaseLayer>();
}

std::shared_ptr<BaseLayer> BaseLayer::createCopy(const BaseLayer& other)
{
    return make<BaseLayer>(other);
}

void BaseLayer::prepareBaseLayer()
{
    setAnchorPoint(Point(0.5, 0.5));
    setContentsScale(Globals::screenScale());
}

QString BaseLayer::className() const
{
    return QStringLiteral("BaseLayer");
}

Point BaseLayer::center() const
{
    return LayerExtensions::center(*this);
}

} // namespace corvex
