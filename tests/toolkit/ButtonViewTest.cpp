// ButtonView: parts shown by state, the press cycle of plain and toggle buttons with the
// release report 100 ms after release (on virtual time) and the operation counter that drops
// an overtaken report, disabled interaction, the image initialiser, layout and hit testing.

#include "toolkit/ButtonView.h"
#include "model/Globals.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Event.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/ButtonTestSupport.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ColoredView.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A button with a part for each mask worth telling apart: normal (1), active (2), always
// (0) and an unknown mask (5).
struct PartsButton
{
    std::shared_ptr<ButtonView> button = ButtonView::create();
    std::shared_ptr<View> normal = ColoredView::create(PlatformColor::white());
    std::shared_ptr<View> active = ColoredView::create(PlatformColor::black());
    std::shared_ptr<View> always = ColoredView::create(PlatformColor::red());
    std::shared_ptr<View> unknownMask = ColoredView::create(PlatformColor::gray());
    std::shared_ptr<RecordingButtonDelegate> delegate = std::make_shared<RecordingButtonDelegate>();

    PartsButton()
    {
        button->setFrame(Rect(10, 10, 40, 20));
        button->addView(active, ButtonPart::ShownWhenActive);
        button->addView(normal, ButtonPart::ShownWhenNormal);
        button->addView(always, ButtonPart::ShownAlways);
        button->addView(unknownMask, 5);
        button->setDelegate(delegate);
    }

    // True when the parts show the active look.
    bool showsActive() const
    {
        EXPECT_FALSE(always->isHidden());
        EXPECT_FALSE(unknownMask->isHidden()) << "a mask of 5 is shown in every state";
        EXPECT_NE(normal->isHidden(), active->isHidden())
            << "exactly one of the normal and active parts shows";
        return !active->isHidden();
    }
};

Event buttonDown()
{
    return Event::mouseDown(Point(20, 15));
}
Event buttonUp(Point at = Point(20, 15))
{
    return Event::mouseUp(at);
}

} // namespace

// ---- Parts and states ----

TEST(ButtonView, APreparedButtonHasNoPartsTakesInteractionAndIsNotToggled)
{
    auto button = ButtonView::create();
    EXPECT_TRUE(button->parts().empty());
    EXPECT_TRUE(button->userInteractionEnabled());
    EXPECT_FALSE(button->toggled());
    EXPECT_FALSE(button->isToggleButton());
    EXPECT_FALSE(button->lastEvent().has_value());
    EXPECT_FALSE(button->associatedObject().has_value());
    EXPECT_TRUE(button->needsDisplay());
    EXPECT_TRUE(button->isFlipped()) << "a BaseView";
}

TEST(ButtonView, PartsShowByMaskAndStateAndStackInTheOrderOfAddition)
{
    PartsButton b;
    ASSERT_EQ(b.button->parts().size(), 4u);
    EXPECT_EQ(b.button->parts()[0]->view(), b.active);
    EXPECT_EQ(b.button->parts()[3]->mask(), 5u);
    ASSERT_EQ(b.button->subviews().size(), 4u);
    EXPECT_EQ(b.button->subviews()[0], b.active) << "the first part lies at the bottom";
    EXPECT_EQ(b.button->subviews()[3], b.unknownMask) << "the last part on top";
    EXPECT_FALSE(b.showsActive()) << "a new button shows its normal parts";

    b.button->setToggled(true);
    EXPECT_TRUE(b.showsActive());
    b.button->setToggled(false);
    EXPECT_FALSE(b.showsActive());

    // A part added to a toggled button starts in the toggled look.
    b.button->setToggled(true);
    auto late = ColoredView::create(PlatformColor::white());
    b.button->addView(late, ButtonPart::ShownWhenNormal);
    EXPECT_TRUE(late->isHidden());

    // Applying a state to one part leaves the others alone.
    b.button->updateViewStateForPart(*b.button->parts()[1], true);
    EXPECT_TRUE(b.normal->isHidden());
    b.button->updateViewStateForPart(*b.button->parts()[1], false);
    EXPECT_FALSE(b.normal->isHidden());
    EXPECT_FALSE(b.active->isHidden()) << "still toggled: the active part shows";
    b.button->updateViewStateForPart(*b.button->parts()[1]);
    EXPECT_TRUE(b.normal->isHidden()) << "the current toggle state";
}

TEST(ButtonView, PartsAreLaidOutByTheirBlockOrFillTheBounds)
{
    auto button = ButtonView::create();
    button->setFrame(Rect(5, 5, 60, 30));
    auto filler = ColoredView::create(PlatformColor::white());
    auto badge = ColoredView::create(PlatformColor::red());
    Rect seenBounds;
    button->addView(filler, ButtonPart::ShownAlways);
    button->addView(badge, ButtonPart::ShownAlways, [&seenBounds](View& view, const Rect& bounds) {
        seenBounds = bounds;
        view.setFrame(Rect(bounds.size.width - 10, 0, 10, 10));
    });
    EXPECT_EQ(filler->frame(), Rect(0, 0, 60, 30)) << "added parts are laid out at once";
    EXPECT_EQ(badge->frame(), Rect(50, 0, 10, 10));
    EXPECT_EQ(seenBounds, Rect(0, 0, 60, 30));

    button->setFrameSize(Size(80, 40));
    EXPECT_EQ(filler->frame(), Rect(0, 0, 80, 40)) << "a size change lays the parts out again";
    EXPECT_EQ(badge->frame(), Rect(70, 0, 10, 10));
}

TEST(ButtonView, TheImageInitialiserStacksTheNormalImageOverTheActiveOneAndTakesItsSize)
{
    const PlatformImage normal(QImage(30, 20, QImage::Format_ARGB32_Premultiplied));
    const PlatformImage active(QImage(50, 40, QImage::Format_ARGB32_Premultiplied));

    auto both = ButtonView::createWithImage(normal, active);
    EXPECT_EQ(both->frame(), Rect(0, 0, 30, 20)) << "the size of the normal image";
    ASSERT_EQ(both->parts().size(), 2u);
    EXPECT_EQ(both->parts()[0]->mask(), ButtonPart::ShownWhenActive);
    EXPECT_EQ(both->parts()[1]->mask(), ButtonPart::ShownWhenNormal);
    auto* shown = dynamic_cast<BaseImageView*>(both->parts()[1]->view().get());
    ASSERT_NE(shown, nullptr) << "images are shown by image views";
    EXPECT_EQ(shown->image().size(), Size(30, 20));
    EXPECT_EQ(shown->frame(), Rect(0, 0, 30, 20));
    EXPECT_TRUE(both->parts()[0]->view()->isHidden());

    auto activeOnly = ButtonView::createWithImage(PlatformImage(), active);
    EXPECT_EQ(activeOnly->frame(), Rect(0, 0, 0, 0)) << "only an active image gives a zero-sized button";
    ASSERT_EQ(activeOnly->parts().size(), 1u);
    EXPECT_EQ(activeOnly->parts()[0]->mask(), ButtonPart::ShownWhenActive);

    auto none = ButtonView::createWithImage(PlatformImage(), PlatformImage());
    EXPECT_TRUE(none->parts().empty());
    EXPECT_EQ(none->frame(), Rect());
}

TEST(ButtonView, HitTestingFindsTheButtonNeverItsParts)
{
    PartsButton b;
    EXPECT_EQ(b.button->hitTest(Point(10, 10)), b.button.get()) << "the frame's origin is inside";
    EXPECT_EQ(b.button->hitTest(Point(49.5, 29.5)), b.button.get());
    EXPECT_EQ(b.button->hitTest(Point(50, 20)), nullptr) << "the max edge is outside";
    EXPECT_EQ(b.button->hitTest(Point(5, 15)), nullptr);
    b.button->setHidden(true);
    EXPECT_EQ(b.button->hitTest(Point(20, 15)), nullptr) << "a hidden button takes no clicks";
}

TEST(ButtonView, KeepsWhatItsOwnerAttachesAndHoldsItsDelegateWeakly)
{
    auto button = ButtonView::create();
    auto attached = std::make_shared<int>(42);
    button->setAssociatedObject(attached);
    attached.reset();
    ASSERT_TRUE(button->associatedObject().has_value());
    EXPECT_EQ(*std::any_cast<std::shared_ptr<int>>(button->associatedObject()), 42) << "owned by the button";

    auto delegate = std::make_shared<RecordingButtonDelegate>();
    button->setDelegate(delegate);
    EXPECT_EQ(button->delegate(), delegate);
    delegate.reset();
    EXPECT_EQ(button->delegate(), nullptr);
}

// ---- Press cycle of a plain button ----

TEST(ButtonViewPress, APlainButtonShowsItsActivePartsWhilePressedAndReports100MillisecondsAfterRelease)
{
    ScopedVirtualTime time;
    PartsButton b;
    b.button->mouseDown(buttonDown());
    EXPECT_TRUE(b.showsActive()) << "pressed";
    EXPECT_FALSE(b.button->toggled()) << "a press does not toggle";
    EXPECT_EQ(b.delegate->presses, 0) << "a plain button reports on release";
    time.advance(1.0);
    EXPECT_TRUE(b.showsActive()) << "held down";

    const Event release = buttonUp(Point(300, 300)); // far outside: the position does not matter
    b.button->mouseUp(release);
    EXPECT_FALSE(b.button->mouseDownSeen());
    time.advance(0.099);
    EXPECT_EQ(b.delegate->presses, 0);
    EXPECT_TRUE(b.showsActive()) << "the active look lasts until the report";
    time.advance(0.001);
    EXPECT_EQ(b.delegate->presses, 1);
    EXPECT_EQ(b.delegate->lastButton, b.button.get());
    EXPECT_FALSE(b.showsActive()) << "back to the normal look";
    ASSERT_TRUE(b.button->lastEvent().has_value());
    EXPECT_EQ(b.button->lastEvent()->type(), Event::Type::LeftMouseUp) << "lastEvent is the mouse-up";
    EXPECT_EQ(b.button->lastEvent()->locationInWindow(), release.locationInWindow());
    EXPECT_EQ(b.button->lastEvent()->timestamp(), release.timestamp());

    time.advance(1.0);
    EXPECT_EQ(b.delegate->presses, 1) << "one report per release";
}

TEST(ButtonViewPress, SetToggledWithinTheDelayDropsThePendingReport)
{
    ScopedVirtualTime time;
    for (bool newState : {true, false}) {
        PartsButton b;
        b.button->mouseDown(buttonDown());
        b.button->mouseUp(buttonUp());
        const qint64 counter = b.button->operationCount();
        time.advance(0.05);
        b.button->setToggled(newState); // the same state still moves the counter
        EXPECT_EQ(b.button->operationCount(), counter + 1);
        time.advance(0.2);
        EXPECT_EQ(b.delegate->presses, 0) << "setToggled(" << newState << ") drops the report";
        EXPECT_FALSE(b.button->lastEvent().has_value());
        // A new state is shown at once; the same state changes no look, so the pressed look
        // stays until the next change of state.
        EXPECT_TRUE(b.showsActive());
        b.button->setToggled(!newState);
        EXPECT_EQ(b.showsActive(), !newState);
    }
}

TEST(ButtonViewPress, ANewReleaseOvertakesTheReportOfTheLastOne)
{
    ScopedVirtualTime time;
    PartsButton b;
    b.button->mouseDown(buttonDown());
    b.button->mouseUp(buttonUp(Point(1, 1)));
    time.advance(0.06);
    b.button->mouseDown(buttonDown());
    const Event second = buttonUp(Point(2, 2));
    b.button->mouseUp(second);
    time.advance(0.06);
    EXPECT_EQ(b.delegate->presses, 0) << "the first report found the counter moved on";
    EXPECT_TRUE(b.showsActive()) << "the second press still shows";
    time.advance(0.041);
    EXPECT_EQ(b.delegate->presses, 1);
    EXPECT_EQ(b.button->lastEvent()->locationInWindow(), second.locationInWindow());
}

TEST(ButtonViewPress, AReleaseWithoutAPressDoesNothing)
{
    ScopedVirtualTime time;
    PartsButton b;
    const qint64 counter = b.button->operationCount();
    b.button->mouseUp(buttonUp());
    time.advance(0.5);
    EXPECT_EQ(b.delegate->presses, 0);
    EXPECT_EQ(b.button->operationCount(), counter);

    // Nor does a second release after one press.
    b.button->mouseDown(buttonDown());
    b.button->mouseUp(buttonUp());
    b.button->mouseUp(buttonUp());
    time.advance(0.5);
    EXPECT_EQ(b.delegate->presses, 1);
}

TEST(ButtonViewPress, APendingReportKeepsTheButtonAliveAndAGoneDelegateIsNotTold)
{
    ScopedVirtualTime time;
    auto delegate = std::make_shared<RecordingButtonDelegate>();
    std::weak_ptr<ButtonView> weakButton;
    {
        auto button = ButtonView::create();
        button->setDelegate(delegate);
        button->mouseDown(buttonDown());
        button->mouseUp(buttonUp());
        weakButton = button;
    }
    EXPECT_FALSE(weakButton.expired()) << "held by its pending report";
    time.advance(0.1);
    EXPECT_EQ(delegate->presses, 1);
    EXPECT_TRUE(weakButton.expired()) << "let go once the report ran";

    auto button = ButtonView::create();
    auto gone = std::make_shared<RecordingButtonDelegate>();
    button->setDelegate(gone);
    button->mouseDown(buttonDown());
    button->mouseUp(buttonUp());
    gone.reset();
    time.advance(0.1); // nothing to tell, and no crash
    EXPECT_TRUE(button->lastEvent().has_value()) << "the event is still kept";
}

// ---- Press cycle of a toggle button ----

TEST(ButtonViewToggle, AToggleButtonReportsOnPressWithTheMouseDownEvent)
{
    ScopedVirtualTime time;
    PartsButton b;
    b.button->setIsToggleButton(true);
    const Event press = buttonDown();
    b.button->mouseDown(press);
    EXPECT_EQ(b.delegate->presses, 1) << "at once";
    ASSERT_TRUE(b.button->lastEvent().has_value());
    EXPECT_EQ(b.button->lastEvent()->type(), Event::Type::LeftMouseDown);
    EXPECT_EQ(b.button->lastEvent()->timestamp(), press.timestamp());
    EXPECT_TRUE(b.showsActive()) << "shows the state it would change to";
    EXPECT_FALSE(b.button->toggled()) << "the delegate decides the state";

    // The delegate did not toggle: 100 ms after release the look is the unchanged state.
    b.button->mouseUp(buttonUp());
    time.advance(0.099);
    EXPECT_TRUE(b.showsActive());
    time.advance(0.001);
    EXPECT_FALSE(b.showsActive());
    EXPECT_FALSE(b.button->toggled());
    EXPECT_EQ(b.delegate->presses, 1) << "a toggle button does not report its release";
    EXPECT_EQ(b.button->lastEvent()->type(), Event::Type::LeftMouseDown);
}

TEST(ButtonViewToggle, ADelegateThatTogglesKeepsTheNewLookAfterRelease)
{
    ScopedVirtualTime time;
    PartsButton b;
    b.button->setIsToggleButton(true);
    b.delegate->reaction = [](ButtonView& button) { button.setToggled(!button.toggled()); };

    b.button->mouseDown(buttonDown());
    EXPECT_TRUE(b.button->toggled());
    EXPECT_TRUE(b.showsActive());
    b.button->mouseUp(buttonUp());
    time.advance(0.1);
    EXPECT_TRUE(b.showsActive()) << "the toggled state after release";

    // Pressing a toggled button previews the normal state.
    b.delegate->reaction = nullptr;
    b.button->mouseDown(buttonDown());
    EXPECT_FALSE(b.showsActive());
    b.button->mouseUp(buttonUp());
    time.advance(0.1);
    EXPECT_TRUE(b.showsActive()) << "not toggled back by the delegate";
}

// ---- Disabled interaction ----

TEST(ButtonViewInteraction, ADisabledButtonIgnoresThePressButRemembersIt)
{
    ScopedVirtualTime time;
    PartsButton b;
    b.button->setUserInteractionEnabled(false);
    b.button->mouseDown(buttonDown());
    EXPECT_TRUE(b.button->mouseDownSeen()) << "the press is remembered";
    EXPECT_FALSE(b.showsActive()) << "but not shown";

    // Enabling before the release lets the release report.
    b.button->setUserInteractionEnabled(true);
    b.button->mouseUp(buttonUp());
    time.advance(0.1);
    EXPECT_EQ(b.delegate->presses, 1);
    EXPECT_FALSE(b.button->mouseDownSeen());
}

TEST(ButtonViewInteraction, ADisabledButtonNeitherShowsNorReportsAnything)
{
    ScopedVirtualTime time;
    PartsButton b;
    b.button->setIsToggleButton(true);
    b.button->setUserInteractionEnabled(false);
    b.button->mouseDown(buttonDown());
    EXPECT_EQ(b.delegate->presses, 0) << "a disabled toggle button does not report its press";
    b.button->mouseUp(buttonUp());
    time.advance(0.5);
    EXPECT_EQ(b.delegate->presses, 0);
    EXPECT_FALSE(b.button->lastEvent().has_value());
    EXPECT_TRUE(b.button->mouseDownSeen()) << "a disabled release leaves the press pending";
}

// ---- Through a window ----

TEST(ButtonViewInteraction, AClickInAWindowReachesTheButtonAndNotItsParts)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(100, 60));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    PartsButton b;
    background->addSubview(b.button);
    const Point inside = b.button->convertPointToView(Point(20, 10), nullptr);
    window->sendEvent(Event::mouseDown(inside));
    EXPECT_TRUE(b.showsActive());
    window->sendEvent(Event::mouseUp(inside));
    time.advance(0.1);
    EXPECT_EQ(b.delegate->presses, 1);

    const Point outside = background->convertPointToView(Point(90, 50), nullptr);
    window->sendEvent(Event::mouseDown(outside));
    window->sendEvent(Event::mouseUp(outside));
    time.advance(0.1);
    EXPECT_EQ(b.delegate->presses, 1) << "a click beside the button";
}

// ---- Rendering ----

TEST(ButtonViewRendering, NormalAndActiveLooksMatchTheirReferences)
{
    ScopedVirtualTime time;
    for (bool active : {false, true}) {
        auto window = Window::create(Size(68, 38));
        window->setBackingScaleFactorOverride(2);
        auto background = ColoredView::create(PlatformColor::white());
        window->setContentView(background);
        auto button = ButtonView::create();
        button->addView(ColoredView::create(Globals::colorGray91()), ButtonPart::ShownWhenNormal);
        button->addView(ColoredView::create(Globals::colorNiceGreen()), ButtonPart::ShownWhenActive);
        button->addView(
            ColoredView::create(PlatformColor::deviceRGB(1, 0, 0)), ButtonPart::ShownAlways,
            [](View& view, const Rect& bounds) { view.setFrame(Rect(bounds.size.width - 14, 4, 10, 10)); });
        background->addSubview(button);
        button->setFrame(Rect(4, 4, 60, 30));
        if (active)
            button->mouseDown(buttonDown());
        const QString name =
            active ? QStringLiteral("button_view_active") : QStringLiteral("button_view_normal");
        const QImage shown = window->renderToImage(2);
        saveOutput(shown, name);
        const QImage reference = widgetReference(name);
        ASSERT_FALSE(reference.isNull()) << name.toStdString();
        const ImageDifference d = compareImages(shown, reference, 2);
        EXPECT_EQ(d.beyondTolerance, 0) << name.toStdString() << ": " << d;
    }
}
