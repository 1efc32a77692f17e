#include "toolkit/ButtonPart.h"

#include "platform/ui/View.h"

#include <utility>

namespace corvex {

ButtonPart::ButtonPart(std::shared_ptr<View> view, quint64 mask, LayoutBlock layoutBlock)
    : mView(std::move(view)), mMask(mask), mLayoutBlock(std::move(layoutBlock))
{}

bool ButtonPart::isShownInState(bool active) const
{
    if (mMask == ShownWhenNormal)
        return !active;
    if (mMask == ShownWhenActive)
        return active;
    return true;
}

} // namespace corvex
