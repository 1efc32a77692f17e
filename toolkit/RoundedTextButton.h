#pragma once

#include "toolkit/BaseView.h"

#include <QString>
#include <QtGlobal>
#include <memory>

namespace corvex {

class RoundedTextButtonDelegate;
class TextLabel;

// A text button in a rounded frame, in one of four styles:
//   0: outlined in dark grey, dark grey text (28 high, corner radius 13);
//   1: filled light grey, mid grey text (28, 13);
//   2: outlined in dark grey, black text (22, 11);
//   3: filled green, white heavy text (28, 13).
// Pressed, every style fills its bounds inset by 1 with the system's green and shows white
// text. A style above 3 draws nothing when released and leaves the text colour alone.
//
// Press cycle: the pressed look from the press until 100 ms after the release, when the
// delegate is told and the look returns. Pending release work carries the value of an
// operation counter and does nothing when the counter has moved on (setToggled moves it).
// The delegate is fixed at creation and held strongly, so an owner that is itself the
// delegate and owns the button passes a forwarder holding it weakly.
//
// Construction is in two phases: use createWithDelegate. Main thread only.
class RoundedTextButton : public BaseView
{
public:
    static constexpr double ReleaseReportDelay = 0.1;

    // Unprepared: use createWithDelegate.
    RoundedTextButton(std::shared_ptr<RoundedTextButtonDelegate> delegate, quint64 style);
    ~RoundedTextButton() override;

    // Interaction enabled, an empty label as the only subview, the released look.
    static std::shared_ptr<RoundedTextButton>
    createWithDelegate(std::shared_ptr<RoundedTextButtonDelegate> delegate, quint64 style);

    // The title in the style's face at 11.5 points (heavy for style 3, medium otherwise) with
    // a kern of 1; the label is sized to fit and the button laid out.
    void setButtonTitle(const QString& title);
    // 28, or 22 for style 2.
    double preferredHeight() const;
    // Keeps the origin: the label's width + 20 by the preferred height; then lays out.
    void sizeToFit() override;
    // The base layout, then the label centred on the bounds' centre with an integral frame.
    void applyLayout() override;

    quint64 style() const { return mStyle; }
    const std::shared_ptr<RoundedTextButtonDelegate>& delegate() const { return mDelegate; }
    const std::shared_ptr<TextLabel>& label() const { return mButtonLabel; }

    bool toggled() const { return mToggled; }
    // Moves the operation counter in every case; a new value is stored and shown.
    void setToggled(bool toggled);
    bool userInteractionEnabled() const { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { mUserInteractionEnabled = enabled; }
    void setEnabled(bool enabled) { setUserInteractionEnabled(enabled); }
    qint64 operationCount() const { return mOperationCount; }

    // The label colour for the style and state; the button is redrawn.
    void updateView();
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    // The press cycle above; the events end at the button.
    void mouseDown(const Event& event) override;
    void mouseUp(const Event& event) override;

private:
    void prepareRoundedTextButton();
    double cornerRadius() const;

    std::shared_ptr<RoundedTextButtonDelegate> mDelegate;
    std::shared_ptr<TextLabel> mButtonLabel;
    quint64 mStyle = 0;
    qint64 mOperationCount = 0;
    bool mUserInteractionEnabled = false;
    bool mToggled = false;
};

} // namespace corvex
