#pragma once

#include "shell/FixedContentWindow.h"

namespace corvex {

class AboutView;

// The about window (285 x 395 points): an AboutView. Opened by the About menu item.
class AboutWindow final : public FixedContentWindow
{
public:
    static constexpr Size ContentSize{285, 395};

    AboutWindow();
    ~AboutWindow() override;

    // Makes the window on the first call, then brings it to the front and makes it key.
    static std::shared_ptr<AboutWindow> show();
    // The window once show() has made it; null before.
    static std::shared_ptr<AboutWindow> shared();

    const std::shared_ptr<AboutView>& aboutView() const { return mAboutView; }

private:
    explicit AboutWindow(std::shared_ptr<AboutView> view);

    std::shared_ptr<AboutView> mAboutView;
};

} // namespace corvex
