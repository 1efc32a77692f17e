#pragma once

#include "toolkit/Scroller.h"

#include <memory>

namespace corvex {

// Like BaseLegacyScroller, a scroller whose class prefers the legacy style (0). Kept for
// views that want their own scroller class; nothing in the system makes one yet.
class InheritedScoller : public Scroller
{
public:
    using Scroller::Scroller;
    static std::shared_ptr<InheritedScoller> create(const Rect& frame = Rect());

    // The legacy style (0).
    static int preferredScrollerStyle();

protected:
    int classScrollerStyle() const override;
};

} // namespace corvex
