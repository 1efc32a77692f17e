#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/ui/View.h"
#include "toolkit/ProgressDisplay.h"

#include <memory>

namespace corvex {

// A round progress indicator of the progress HUD: a pie that fills clockwise from 12
// o'clock inside a thin circle, or (annular) a ring whose arc grows clockwise from the top.
// A plain (y-up) view with a clear background; every property change redraws it. Main
// thread only.
class RoundProgressView : public View, public ProgressDisplay
{
public:
    static constexpr Rect DefaultFrame = Rect(0, 0, 37, 37);

    explicit RoundProgressView(const Rect& frame = DefaultFrame);
    ~RoundProgressView() override;
    static std::shared_ptr<RoundProgressView> create(const Rect& frame = DefaultFrame);

    QString className() const override;

    // 0 to 1.
    float progress() const override { return mProgress; }
    void setProgress(float progress) override;
    // White.
    const PlatformColor& progressTintColor() const { return mProgressTintColor; }
    void setProgressTintColor(const PlatformColor& color);
    // White at alpha 0.1.
    const PlatformColor& backgroundTintColor() const { return mBackgroundTintColor; }
    void setBackgroundTintColor(const PlatformColor& color);
    bool isAnnular() const { return mAnnular; }
    void setAnnular(bool annular);

    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    float mProgress = 0;
    PlatformColor mProgressTintColor = PlatformColor::deviceWhite(1.0, 1.0);
    PlatformColor mBackgroundTintColor = PlatformColor::deviceWhite(1.0, 0.1);
    bool mAnnular = false;
};

} // namespace corvex
