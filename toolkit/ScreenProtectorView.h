#pragma once

#include "toolkit/BlurView.h"

#include <memory>

namespace corvex {

class ScreenProtectorViewDelegate;

// The backdrop of a partial presentation: a BlurView over the whole host that swallows
// mouse-downs and hands each one to its delegate (the presented controller), so the views
// under it receive nothing and the delegate decides what a click on the backdrop means.
// Main thread only.
class ScreenProtectorView : public BlurView
{
public:
    // Unprepared: use createWithScreenshot.
    ScreenProtectorView();
    ~ScreenProtectorView() override;

    // BlurView's screenshot initialiser.
    static std::shared_ptr<ScreenProtectorView> createWithScreenshot(const QVImage& screenshot);

    // Held weakly.
    std::shared_ptr<ScreenProtectorViewDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<ScreenProtectorViewDelegate>& delegate) { mDelegate = delegate; }

    bool acceptsFirstResponder() const override;
    // Tells the delegate (screenProtectorWasClicked) and passes the event nowhere else.
    void mouseDown(const Event& event) override;

private:
    std::weak_ptr<ScreenProtectorViewDelegate> mDelegate;
};

} // namespace corvex
