#pragma once

#include "toolkit/ScrollView.h"

#include <memory>
#include <utility>

namespace corvex {

// The base of the system's scroll views: flipped (the document scrolls from its top),
// layer-backed, with a BaseLegacyScroller as its vertical scroller, so that the scroll bar
// is classic and always visible unless a style is set. Construction is in two phases
// (prepareBaseScrollView): use create, or make<T> for subclasses. Main thread only.
class BaseScrollView : public ScrollView
{
public:
    // Unprepared: use the factories.
    using ScrollView::ScrollView;
    ~BaseScrollView() override;

    static std::shared_ptr<BaseScrollView> create(const Rect& frame = Rect());
    template <class T = BaseScrollView, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto view = ScrollView::make<T>(std::forward<Args>(args)...);
        static_cast<BaseScrollView&>(*view).prepareBaseScrollView();
        return view;
    }

    bool isFlipped() const override;

protected:
    // Layer-backed, and a new BaseLegacyScroller as the vertical scroller.
    void prepareBaseScrollView();
};

} // namespace corvex
