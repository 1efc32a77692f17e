#pragma once

#include "toolkit/BaseView.h"

#include <QString>
#include <memory>

namespace corvex {

class HorizontalSelectorButtonDelegate;
class TextLabel;

// One pill-shaped text segment of a HorizontalSelector: light grey with grey text, or green
// with white text while toggled (selected). A press flips the toggle state and tells the
// delegate at once; the release does nothing. The delegate is fixed at creation and held
// strongly (the selector gives its buttons a forwarder that holds it weakly).
//
// Construction is in two phases: use createWithDelegate. Main thread only.
class HorizontalSelectorButton : public BaseView
{
public:
    static constexpr double PreferredHeight = 28.0;

    // Unprepared: use createWithDelegate.
    explicit HorizontalSelectorButton(std::shared_ptr<HorizontalSelectorButtonDelegate> delegate);
    ~HorizontalSelectorButton() override;

    // Interaction enabled, an empty label as the only subview, not toggled.
    static std::shared_ptr<HorizontalSelectorButton>
    createWithDelegate(std::shared_ptr<HorizontalSelectorButtonDelegate> delegate);

    // The title in the medium face at 10 points; the label is sized to fit and the button
    // laid out.
    void setButtonTitle(const QString& title);
    // Keeps the origin: the label's width + 20 by 28; then lays out.
    void sizeToFit() override;
    // The base layout, then the label centred on the bounds' centre with an integral frame.
    void applyLayout() override;

    const std::shared_ptr<HorizontalSelectorButtonDelegate>& delegate() const { return mDelegate; }
    const std::shared_ptr<TextLabel>& label() const { return mButtonLabel; }

    bool toggled() const { return mToggled; }
    // A new value is stored and shown.
    void setToggled(bool toggled);
    bool userInteractionEnabled() const { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { mUserInteractionEnabled = enabled; }

    // The label white when toggled, grey otherwise; the button is redrawn.
    void updateView();
    // The bounds inset by 2 as a rounded rectangle of radius 13: green when toggled, light
    // grey otherwise.
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    // With interaction enabled: flips the toggle state, then tells the delegate. The events
    // end at the button.
    void mouseDown(const Event& event) override;
    void mouseUp(const Event& event) override;

private:
    void prepareHorizontalSelectorButton();

    std::shared_ptr<HorizontalSelectorButtonDelegate> mDelegate;
    std::shared_ptr<TextLabel> mButtonLabel;
    bool mUserInteractionEnabled = false;
    bool mToggled = false;
};

} // namespace corvex
