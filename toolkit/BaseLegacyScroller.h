#pragma once

#include "toolkit/Scroller.h"

#include <memory>

namespace corvex {

// A scroller that always shows as a classic, permanently visible scroll bar: its class's
// preferred style is the legacy one. BaseScrollView uses it.
class BaseLegacyScroller : public Scroller
{
public:
    using Scroller::Scroller;
    static std::shared_ptr<BaseLegacyScroller> create(const Rect& frame = Rect());

    // The legacy style (0).
    static int preferredScrollerStyle();

protected:
    int classScrollerStyle() const override;
};

} // namespace corvex
