#include "platform/ui/LayerAction.h"

#include "platform/ui/Animation.h"

namespace corvex {

LayerAction LayerAction::animate(std::shared_ptr<Animation> animation)
{
    if (!animation)
        return null();
    return LayerAction(Kind::Animate, std::move(animation));
}

} // namespace corvex
