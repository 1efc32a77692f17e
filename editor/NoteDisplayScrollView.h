#pragma once

#include "toolkit/BaseScrollView.h"

namespace corvex {

// The note popover's scroll view: no border, a vertical scroller only, and the clip view
// inset by one point on every side after tiling. Main thread only.
class NoteDisplayScrollView : public BaseScrollView
{
public:
    using BaseScrollView::BaseScrollView;
    static std::shared_ptr<NoteDisplayScrollView> create();

    void tile() override;
};

} // namespace corvex
