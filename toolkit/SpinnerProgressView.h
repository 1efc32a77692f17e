#pragma once

#include "toolkit/SpinningProgressIndicator.h"

#include <memory>

namespace corvex {

// A spinning indicator drawn in soft light over white: the dirty rectangle is filled white,
// and the fins go over it with the soft-light blend mode. The control tint (6) is kept for
// callers that set it; drawing ignores it, as there is no tinted platform style to draw.
// Nothing in the system makes one. Main thread only.
class SpinnerProgressView : public SpinningProgressIndicator
{
public:
    static constexpr int DefaultControlTint = 6;

    explicit SpinnerProgressView(const Rect& frame = Rect());
    ~SpinnerProgressView() override;
    static std::shared_ptr<SpinnerProgressView> create(const Rect& frame = Rect());

    QString className() const override;

    int controlTint() const { return mControlTint; }
    void setControlTint(int tint) { mControlTint = tint; }

    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    int mControlTint = DefaultControlTint;
};

} // namespace corvex
