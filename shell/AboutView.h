#pragma once

#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/ColoredView.h"

#include <memory>

namespace corvex {

class BaseImageView;
class ButtonView;
class CreditsBrowser;
class EmbeddedWidgetView;
class TextLabel;
class TrackingArea;

// The about window's view: the logo, the version line, the credits page, the copyright line
// and the "Legal Notices" link, which opens the legal notices window. The pointer over the
// link is a pointing hand. Flipped (y down). Main thread only.
class AboutView final : public ColoredView, public ButtonViewDelegate
{
public:
    static constexpr double WebViewTop = 170;
    static constexpr double BottomBand = 44;
    static constexpr double LogoCentreY = 70;
    static constexpr double VersionBelowLogo = 28;
    static constexpr double SideMargin = 15;
    static constexpr double LinesFromBottom = 22;
    static inline const QString CopyrightText = QStringLiteral("\u00A9 2026 Tallowfen");

    // Unprepared: use create().
    AboutView();
    ~AboutView() override;
    static std::shared_ptr<AboutView> create();

    QString className() const override;
    void applyLayout() override;
    void buttonPressed(ButtonView& button) override;
    void updateTrackingAreas() override;
    void cursorUpdate(const Event& event) override;
    // The credits page has loaded: it may scroll from now on.
    void webViewDidFinishLoad();

    const std::shared_ptr<BaseImageView>& logoView() const { return mLogoView; }
    const std::shared_ptr<TextLabel>& textLabel() const { return mTextLabel; }
    const std::shared_ptr<EmbeddedWidgetView>& webView() const { return mWebView; }
    CreditsBrowser* creditsBrowser() const;
    const std::shared_ptr<TextLabel>& copyLabel() const { return mCopyLabel; }
    const std::shared_ptr<ButtonView>& buttonView() const { return mButtonView; }

private:
    void build();

    std::shared_ptr<BaseImageView> mLogoView;
    std::shared_ptr<TextLabel> mTextLabel;
    std::shared_ptr<EmbeddedWidgetView> mWebView;
    std::shared_ptr<TextLabel> mCopyLabel;
    std::shared_ptr<ButtonView> mButtonView;
    std::shared_ptr<TrackingArea> mLinkArea;
};

} // namespace corvex
