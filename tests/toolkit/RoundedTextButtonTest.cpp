// RoundedTextButton: the four styles' label colours, fonts and shapes (rendered against the
// reference pictures of tests/data/gen/make_button_references.py, labels excluded), the
// title and sizing rules, and the press cycle with the report 100 ms after release on
// virtual time, dropped when the operation counter has moved on.

#include "toolkit/RoundedTextButton.h"
#include "model/Globals.h"
#include "platform/gfx/AttributedString.h"
#include "platform/ui/Event.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/ButtonTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

std::shared_ptr<RoundedTextButton> button(quint64 style,
                                          std::shared_ptr<RecordingRoundedDelegate> delegate = nullptr)
{
    return RoundedTextButton::createWithDelegate(
        delegate ? delegate : std::make_shared<RecordingRoundedDelegate>(), style);
}

PlatformColor releasedLabelColour(quint64 style)
{
    switch (style) {
    case 0:
        return Globals::colorGray23();
    case 1:
        return Globals::colorGray46();
    case 2:
        return Globals::colorBlack();
    default:
        return Globals::colorWhite();
    }
}

Event roundedDown()
{
    return Event::mouseDown(Point(5, 5));
}
Event roundedUp()
{
    return Event::mouseUp(Point(5, 5));
}

} // namespace

// ---- Creation, title and size ----

TEST(RoundedTextButton, ACreatedButtonHoldsItsDelegateAndALabelInTheReleasedLook)
{
    for (quint64 style = 0; style < 4; ++style) {
        auto delegate = std::make_shared<RecordingRoundedDelegate>();
        std::weak_ptr<RecordingRoundedDelegate> weakDelegate = delegate;
        auto b = RoundedTextButton::createWithDelegate(delegate, style);
        delegate.reset();
        EXPECT_FALSE(weakDelegate.expired()) << "the delegate is held strongly";
        EXPECT_EQ(b->style(), style);
        EXPECT_TRUE(b->userInteractionEnabled());
        EXPECT_FALSE(b->toggled());
        ASSERT_EQ(b->subviews().size(), 1u);
        EXPECT_EQ(b->subviews().front(), b->label()) << "the label is its only subview";
        EXPECT_EQ(b->label()->textColor(), releasedLabelColour(style)) << "style " << style;
        EXPECT_TRUE(b->needsDisplay());
    }
}

TEST(RoundedTextButton, TheTitleTakesTheStylesFaceAKernOfOneAndSizesTheLabel)
{
    for (quint64 style = 0; style < 4; ++style) {
        auto b = button(style);
        b->setFrame(Rect(0, 0, 120, b->preferredHeight()));
        b->setButtonTitle(QStringLiteral("EXPORT"));
        const AttributedString& text = b->label()->attributedText();
        EXPECT_EQ(text.string(), QStringLiteral("EXPORT"));
        const TextAttributes& attributes = text.attributesAt(0);
        EXPECT_EQ(attributes.font,
                  style == 3 ? Globals::fontAvenirHeavy(11.5) : Globals::fontAvenirMedium(11.5))
            << "style " << style;
        EXPECT_EQ(attributes.kern, 1.0);
        EXPECT_EQ(b->label()->textColor(), releasedLabelColour(style))
            << "the title keeps the style's colour";
        EXPECT_EQ(b->label()->frame().size, b->label()->intrinsicContentSize()) << "sized to fit";
        // Laid out: the label centred, on whole points.
        const Rect label = b->label()->frame();
        EXPECT_NEAR(label.midX(), 60, 1.0);
        EXPECT_NEAR(label.midY(), b->preferredHeight() / 2, 1.0);
        EXPECT_EQ(label.origin.x, std::floor(label.origin.x));
        EXPECT_EQ(label.origin.y, std::floor(label.origin.y));
    }
}

TEST(RoundedTextButton, SizeToFitIsTheLabelWidthPlusTwentyByThePreferredHeight)
{
    for (quint64 style = 0; style < 4; ++style) {
        auto b = button(style);
        b->setFrame(Rect(7, 9, 10, 10));
        b->label()->setFrame(Rect(0, 0, 60, 16)); // a 60-point label
        b->sizeToFit();
        EXPECT_EQ(b->preferredHeight(), style == 2 ? 22.0 : 28.0);
        EXPECT_EQ(b->frame(), Rect(7, 9, 80, style == 2 ? 22 : 28))
            << "style " << style << ": the origin stays";
        EXPECT_EQ(b->label()->frame(), Rect(10, style == 2 ? 3 : 6, 60, 16)) << "the label centred";
    }
}

// ---- Press cycle ----

TEST(RoundedTextButtonPress, ThePressedLookLastsUntilTheReport100MillisecondsAfterRelease)
{
    ScopedVirtualTime time;
    auto delegate = std::make_shared<RecordingRoundedDelegate>();
    auto b = button(0, delegate);
    bool toggledWhenTold = false;
    delegate->reaction = [&](RoundedTextButton& pressed) { toggledWhenTold = pressed.toggled(); };

    b->mouseDown(roundedDown());
    EXPECT_TRUE(b->toggled()) << "pressed look";
    EXPECT_EQ(b->label()->textColor(), Globals::colorWhite());
    time.advance(2.0);
    b->mouseUp(roundedUp());
    time.advance(0.099);
    EXPECT_EQ(delegate->presses, 0);
    EXPECT_TRUE(b->toggled());
    time.advance(0.001);
    EXPECT_EQ(delegate->presses, 1);
    EXPECT_EQ(delegate->lastButton, b.get());
    EXPECT_TRUE(toggledWhenTold) << "the delegate is told before the look returns";
    EXPECT_FALSE(b->toggled());
    EXPECT_EQ(b->label()->textColor(), Globals::colorGray23());
}

TEST(RoundedTextButtonPress, SetToggledWithinTheDelayDropsTheReport)
{
    ScopedVirtualTime time;
    auto delegate = std::make_shared<RecordingRoundedDelegate>();
    auto b = button(1, delegate);
    b->mouseDown(roundedDown());
    b->mouseUp(roundedUp());
    const qint64 counter = b->operationCount();
    time.advance(0.05);
    b->setToggled(true); // no change of state, but the counter moves
    EXPECT_EQ(b->operationCount(), counter + 1);
    time.advance(0.5);
    EXPECT_EQ(delegate->presses, 0);
    EXPECT_TRUE(b->toggled()) << "nothing released the pressed look";
    b->setToggled(false);
    EXPECT_EQ(b->label()->textColor(), Globals::colorGray46());

    // A second press overtakes the first release's report.
    b->mouseDown(roundedDown());
    b->mouseUp(roundedUp());
    time.advance(0.05);
    b->mouseDown(roundedDown());
    b->mouseUp(roundedUp());
    time.advance(0.07);
    EXPECT_EQ(delegate->presses, 0);
    time.advance(0.031);
    EXPECT_EQ(delegate->presses, 1);
}

TEST(RoundedTextButtonPress, ADisabledButtonNeitherShowsThePressNorReports)
{
    ScopedVirtualTime time;
    auto delegate = std::make_shared<RecordingRoundedDelegate>();
    auto b = button(3, delegate);
    b->setEnabled(false);
    EXPECT_FALSE(b->userInteractionEnabled()) << "setEnabled is setUserInteractionEnabled";
    b->mouseDown(roundedDown());
    EXPECT_FALSE(b->toggled());
    b->mouseUp(roundedUp());
    time.advance(0.5);
    EXPECT_EQ(delegate->presses, 0);
    b->setEnabled(true);
    EXPECT_TRUE(b->userInteractionEnabled());
}

TEST(RoundedTextButtonPress, AStyleAboveThreeShowsOnlyThePressAndLeavesTheLabelColourAlone)
{
    ScopedVirtualTime time;
    auto b = button(7);
    const PlatformColor initial = b->label()->textColor();
    EXPECT_EQ(initial, PlatformColor::black()) << "the label's own colour";
    b->mouseDown(roundedDown());
    EXPECT_EQ(b->label()->textColor(), Globals::colorWhite()) << "pressed, every style";
    b->mouseUp(roundedUp());
    time.advance(0.1);
    EXPECT_FALSE(b->toggled());
    EXPECT_EQ(b->label()->textColor(), Globals::colorWhite()) << "released: the colour is left as it was";
}

TEST(RoundedTextButtonPress, ClicksOnTheLabelReachTheButton)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(200, 60));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto delegate = std::make_shared<RecordingRoundedDelegate>();
    auto b = button(0, delegate);
    b->setButtonTitle(QStringLiteral("CLOSE"));
    b->sizeToFit();
    b->setFrameOrigin(Point(20, 10));
    background->addSubview(b);
    const Point onLabel = b->label()->convertPointToView(ViewExtensions::centerPoint(*b->label()), nullptr);
    window->sendEvent(Event::mouseDown(onLabel));
    EXPECT_TRUE(b->toggled());
    window->sendEvent(Event::mouseUp(onLabel));
    time.advance(0.1);
    EXPECT_EQ(delegate->presses, 1);
}

// ---- Rendering ----

namespace {

// The button in a window at (4, 4) on white, 100 points wide, rendered at 2 pixels a point.
QImage renderButton(quint64 style, bool pressed, Rect* labelFrame)
{
    auto b = button(style);
    b->setButtonTitle(QStringLiteral("OK"));
    const double height = b->preferredHeight();
    auto window = Window::create(Size(108, height + 8));
    window->setBackingScaleFactorOverride(2);
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    background->addSubview(b);
    b->setFrame(Rect(4, 4, 100, height));
    b->setToggled(pressed);
    const QImage shown = window->renderToImage(2);
    *labelFrame = b->label()->convertRectToView(b->label()->bounds(), background.get());
    return shown;
}

// Rasterisers round coverage a little differently; the shapes and colours must agree.
constexpr int kRoundedTolerance = 40;

} // namespace

TEST(RoundedTextButtonRendering, EveryStyleMatchesItsReferenceReleasedAndPressed)
{
    ScopedVirtualTime time;
    for (quint64 style = 0; style < 4; ++style) {
        for (bool pressed : {false, true}) {
            const QString name =
                QStringLiteral("rounded_style%1_%2").arg(style).arg(pressed ? "pressed" : "released");
            Rect label;
            const QImage shown = renderButton(style, pressed, &label);
            saveOutput(shown, name);
            const QImage reference = widgetReference(name);
            ASSERT_FALSE(reference.isNull()) << name.toStdString();
            ASSERT_EQ(shown.size(), reference.size()) << name.toStdString();
            const ImageDifference d =
                compareImages(shown, reference, kRoundedTolerance, {pixelRect(label, 2, 2)});
            EXPECT_EQ(d.beyondTolerance, 0) << name.toStdString() << ": " << d;
            EXPECT_GT(d.compared, shown.width() * shown.height() / 2) << "most of the picture is compared";
            // Inside the shape, left of the label: the style's fill exactly (the tolerance
            // above would let a light grey fill go missing on white).
            const QColor inside = pressed      ? Globals::colorNiceGreen().toQColor()
                                  : style == 1 ? Globals::colorGray91().toQColor()
                                  : style == 3 ? Globals::colorDollarGreen().toQColor()
                                               : QColor(Qt::white);
            EXPECT_LE(colourDistance(shown, (4 + 8) * 2, (4 + 11) * 2, inside), 2) << name.toStdString();
        }
    }
}
