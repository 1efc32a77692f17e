#pragma once

#include <memory>
#include <vector>

namespace corvex {

class Layer;
class LayerDelegate;

// Renderings of a layer tree into an image show what the screen shows. While a scope lives,
// the delegate of every layer of the tree under `root` has heard layerWillBeRendered; each
// hears layerWasRendered, for the same layer, when the scope ends, whatever the tree has
// become meanwhile. Layers and delegates are held for the scope's life. The rendering entry
// points (Layer::renderInContext, Compositor::renderToImage, WindowCompositor::renderFrame)
// take one; painting a window on screen does not. Main thread only.
class RenderingScope
{
public:
    explicit RenderingScope(Layer& root);
    ~RenderingScope();
    RenderingScope(const RenderingScope&) = delete;
    RenderingScope& operator=(const RenderingScope&) = delete;

private:
    struct Told
    {
        Layer* layer;
        std::shared_ptr<Layer> keep; // null for a layer no shared_ptr owns
        std::shared_ptr<LayerDelegate> delegate;
    };
    std::vector<Told> mTold;
};

} // namespace corvex
