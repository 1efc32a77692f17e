#include "platform/ui/LayerDelegate.h"

namespace corvex {

LayerDelegate::~LayerDelegate() = default;

LayerAction LayerDelegate::actionForLayer(Layer&, const QString&)
{
    return LayerAction::noAnswer();
}

bool LayerDelegate::displayLayer(Layer&)
{
    return false;
}

void LayerDelegate::drawLayer(Layer&, GraphicsContext&) {}

void LayerDelegate::layerWillBeRendered(Layer&) {}

void LayerDelegate::layerWasRendered(Layer&) {}

} // namespace corvex
