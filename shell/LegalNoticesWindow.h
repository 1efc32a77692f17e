#pragma once

#include "shell/FixedContentWindow.h"

namespace corvex {

class LegalNoticesView;

// The legal notices window (540 x 440 points, also its minimum): a LegalNoticesView. Opened
// by the about window's link.
class LegalNoticesWindow final : public FixedContentWindow
{
public:
    static constexpr Size ContentSize{540, 440};
    static inline const QString Title = QStringLiteral("Legal Notices");

    LegalNoticesWindow();
    ~LegalNoticesWindow() override;

    // Makes the window on the first call, then brings it to the front and makes it key.
    static std::shared_ptr<LegalNoticesWindow> show();
    // The window once show() has made it; null before.
    static std::shared_ptr<LegalNoticesWindow> shared();

    const std::shared_ptr<LegalNoticesView>& legalView() const { return mLegalView; }

private:
    explicit LegalNoticesWindow(std::shared_ptr<LegalNoticesView> view);

    std::shared_ptr<LegalNoticesView> mLegalView;
};

} // namespace corvex
