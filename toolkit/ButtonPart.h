#pragma once

#include "platform/gfx/Rect.h"

#include <QtGlobal>
#include <functional>
#include <memory>

namespace corvex {

class View;

// One layer of a ButtonView: a view (owned), the states it shows in and an optional block
// that places it in the button's bounds.
class ButtonPart
{
public:
    // The state masks.
    static constexpr quint64 ShownAlways = 0;
    static constexpr quint64 ShownWhenNormal = 1;
    static constexpr quint64 ShownWhenActive = 2;

    // Called with the part's view and the button's bounds; sets the view's frame.
    using LayoutBlock = std::function<void(View& view, const Rect& buttonBounds)>;

    ButtonPart(std::shared_ptr<View> view, quint64 mask, LayoutBlock layoutBlock);

    const std::shared_ptr<View>& view() const { return mView; }
    // 1 shown in the normal state only, 2 in the active state only; 0 and every other value
    // in both.
    quint64 mask() const { return mMask; }
    const LayoutBlock& layoutBlock() const { return mLayoutBlock; }

    // Whether the part shows in a state (true: active).
    bool isShownInState(bool active) const;

private:
    std::shared_ptr<View> mView;
    quint64 mMask = ShownAlways;
    LayoutBlock mLayoutBlock;
};

} // namespace corvex
