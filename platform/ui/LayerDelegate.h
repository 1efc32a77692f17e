#pragma once

#include "platform/ui/LayerAction.h"

#include <QString>

namespace corvex {

class GraphicsContext;
class Layer;

// What a layer asks of its delegate (a view for its backing layer). Every method has a
// default, so a delegate overrides only what it needs. Layers hold their delegate weakly;
// calls come on the main thread.
class LayerDelegate
{
public:
    virtual ~LayerDelegate();

    // The action for a change of `key` on the layer: the first step of the action lookup.
    // The default gives no answer, so the lookup goes on to the layer's table.
    virtual LayerAction actionForLayer(Layer& layer, const QString& key);
    // Supplies the layer's contents itself (by setting them); returns true when it did. The
    // default returns false and the layer draws (drawInContext, which calls drawLayer).
    virtual bool displayLayer(Layer& layer);
    // Draws the layer's contents into a context whose user space is the layer's bounds,
    // y-down when the layer is effectively flipped. The default draws nothing.
    virtual void drawLayer(Layer& layer, GraphicsContext& context);
    // A rendering of a tree holding the layer (a RenderingScope) begins and ends: a delegate
    // whose pixels on screen are not in the tree (a live Qt widget, drawn above the composited
    // window) puts a picture of them into it for the time. Calls pair up, and may nest. The
    // defaults do nothing.
    virtual void layerWillBeRendered(Layer& layer);
    virtual void layerWasRendered(Layer& layer);
};

} // namespace corvex
