#include "platform/ui/RenderingScope.h"

#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"

namespace corvex {

RenderingScope::RenderingScope(Layer& root)
{
    std::vector<Layer*> pending{&root};
    while (!pending.empty()) {
        Layer* layer = pending.back();
        pending.pop_back();
        for (const auto& sublayer : layer->sublayers())
            pending.push_back(sublayer.get());
        if (std::shared_ptr<LayerDelegate> delegate = layer->delegate())
            mTold.push_back({layer, layer->weak_from_this().lock(), std::move(delegate)});
    }
    // Told after the walk: a delegate may add layers (a grab) to the tree.
    for (const Told& told : mTold)
        told.delegate->layerWillBeRendered(*told.layer);
}

RenderingScope::~RenderingScope()
{
    for (auto it = mTold.rbegin(); it != mTold.rend(); ++it)
        it->delegate->layerWasRendered(*it->layer);
}

} // namespace corvex
