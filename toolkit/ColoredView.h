#pragma once

#include "platform/gfx/PlatformColor.h"
#include "toolkit/BaseView.h"

#include <memory>
#include <utility>

namespace corvex {

// An opaque BaseView that fills its whole bounds with one colour, set at creation; a
// pattern colour tiles its image from the view's top-left corner. Main thread only.
class ColoredView : public BaseView
{
public:
    // Unprepared: use the factories.
    explicit ColoredView(const PlatformColor& color);
    ~ColoredView() override;

    static std::shared_ptr<ColoredView> create(const PlatformColor& color);
    // The Layouter is asked first at each layout.
    static std::shared_ptr<ColoredView> createWithLayouter(const PlatformColor& color,
                                                           const std::shared_ptr<Layouter>& layouter);

    // For subclasses: T constructed from `args` (which give ColoredView its colour), the
    // BaseView preparation, then marked for display.
    template <class T = ColoredView, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto view = BaseView::make<T>(std::forward<Args>(args)...);
        view->setNeedsDisplay(true);
        return view;
    }
    template <class T = ColoredView, class... Args>
    static std::shared_ptr<T> makeWithLayouter(const std::shared_ptr<Layouter>& layouter, Args&&... args)
    {
        auto view = BaseView::makeWithLayouter<T>(layouter, std::forward<Args>(args)...);
        view->setNeedsDisplay(true);
        return view;
    }

    const PlatformColor& color() const { return mColor; }

    bool isOpaque() const override;
    // Fills the whole bounds, whatever rectangle is asked for.
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    PlatformColor mColor;
};

} // namespace corvex
