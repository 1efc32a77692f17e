#pragma once

#include "graphics/QVImage.h"
#include "platform/gfx/PlatformColor.h"
#include "toolkit/BaseView.h"
#include "toolkit/RoundedTextButtonDelegate.h"

#include <QString>
#include <memory>
#include <vector>

namespace corvex {

class BaseImageView;
class BlurView;
class ColoredView;
class RoundedTextButton;
class TextView;

// The news card laid over a window after an update: a blurred copy of the window's content,
// and in the middle a card with the logo, the version, this release's news and a close
// button. It takes every mouse and key event, so the window beneath is unusable until the
// card is closed; the button removes it. Main thread only.
class WelcomeScreenView : public BaseView, public RoundedTextButtonDelegate
{
public:
    static constexpr double ColumnWidth = 300;
    static constexpr double CardWidth = 352;
    static inline const QString Headline =
        QStringLiteral("Added support for high quality image attachments!");
    static inline const QString CloseTitle = QStringLiteral("OK - GOT IT!");

    // Unprepared: use initWithScreenshot.
    WelcomeScreenView();
    ~WelcomeScreenView() override;
    static std::shared_ptr<WelcomeScreenView> initWithScreenshot(const QVImage& screenshot);

    const std::shared_ptr<ColoredView>& card() const { return mColoredView; }
    const std::shared_ptr<TextView>& versionLabel() const { return mVersionLabel; }
    const std::shared_ptr<RoundedTextButton>& closeButton() const { return mCloseButtonView; }

    void roundedTextButtonPressed(RoundedTextButton& button) override;
    void applyLayout() override;
    QString className() const override;

    // Events go no further than the card.
    bool acceptsFirstResponder() const override { return true; }
    void mouseDown(const Event&) override {}
    void mouseDragged(const Event&) override {}
    void mouseUp(const Event&) override {}
    void mouseMoved(const Event&) override {}
    void mouseEntered(const Event&) override {}
    void mouseExited(const Event&) override {}
    void rightMouseDragged(const Event&) override {}
    void otherMouseDown(const Event&) override {}
    void otherMouseDragged(const Event&) override {}
    void otherMouseUp(const Event&) override {}
    void scrollWheel(const Event&) override {}
    void keyDown(const Event&) override {}
    void keyUp(const Event&) override {}
    void flagsChanged(const Event&) override {}
    void tabletPoint(const Event&) override {}
    void tabletProximity(const Event&) override {}
    void cursorUpdate(const Event& event) override;

private:
    void build(const QVImage& screenshot);
    std::shared_ptr<TextView> addLabel(const QString& text, double width, const PlatformColor& colour);
    std::shared_ptr<TextView> addPrimaryLabel(const QString& text);
    std::shared_ptr<TextView> addSecondaryLabel(const QString& text);

    std::shared_ptr<BlurView> mBlurView;
    std::shared_ptr<ColoredView> mColoredView;
    std::shared_ptr<BaseImageView> mLogoView;
    std::shared_ptr<TextView> mVersionLabel;
    std::shared_ptr<TextView> mWelcomeLabel;
    std::shared_ptr<TextView> mListTitleLabel;
    std::vector<std::shared_ptr<TextView>> mItemLabels;
    std::shared_ptr<TextView> mBottomLabel;
    std::shared_ptr<RoundedTextButton> mCloseButtonView;
};

} // namespace corvex
