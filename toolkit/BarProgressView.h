#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/ui/View.h"
#include "toolkit/ProgressDisplay.h"

#include <memory>

namespace corvex {

// The bar indicator of the progress HUD: a capsule outline and, inside it, a capsule that
// fills from the left up to progress x the width, its right end cut where the progress
// ends. A plain (y-up) view with a clear background; every property change redraws it.
// Main thread only.
class BarProgressView : public View, public ProgressDisplay
{
public:
    static constexpr Rect DefaultFrame = Rect(0, 0, 120, 20);

    explicit BarProgressView(const Rect& frame = DefaultFrame);
    ~BarProgressView() override;
    static std::shared_ptr<BarProgressView> create(const Rect& frame = DefaultFrame);

    QString className() const override;

    // 0 to 1.
    float progress() const override { return mProgress; }
    void setProgress(float progress) override;
    // The outline's colour: red.
    const PlatformColor& lineColor() const { return mLineColor; }
    void setLineColor(const PlatformColor& color);
    // Inside the outline: clear.
    const PlatformColor& progressRemainingColor() const { return mProgressRemainingColor; }
    void setProgressRemainingColor(const PlatformColor& color);
    // The filled part: white.
    const PlatformColor& progressColor() const { return mProgressColor; }
    void setProgressColor(const PlatformColor& color);

    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    float mProgress = 0;
    PlatformColor mLineColor = PlatformColor::red();
    PlatformColor mProgressRemainingColor = PlatformColor::clear();
    PlatformColor mProgressColor = PlatformColor::white();
};

} // namespace corvex
