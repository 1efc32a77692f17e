// Events made directly and from Qt's key events: media-clock timestamps, modifier bits,
// characters and key codes.

#include "platform/ui/Event.h"
#include "tests/support/VirtualScheduler.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

TEST(EventFactory, StampsTheMediaClockAndFillsTheMouseFields)
{
    ScopedVirtualTime time(500);
    const Event down = Event::mouseDown(Point(3, 4), 2, Event::ShiftKeyMask);
    EXPECT_EQ(down.type(), Event::Type::LeftMouseDown);
    EXPECT_EQ(int(down.type()), 1) << "fixed type numbers";
    EXPECT_EQ(down.timestamp(), 500);
    EXPECT_EQ(down.locationInWindow(), Point(3, 4));
    EXPECT_EQ(down.clickCount(), 2);
    EXPECT_EQ(down.buttonNumber(), 0);
    EXPECT_TRUE(down.hasModifier(Event::ShiftKeyMask));
    EXPECT_EQ(down.window(), nullptr);

    time.advance(0.25);
    EXPECT_EQ(Event::mouseDragged(Point(5, 6)).timestamp(), 500.25);
    EXPECT_EQ(Event::mouseDragged(Point(5, 6)).clickCount(), 0);
    EXPECT_EQ(Event::rightMouseUp(Point()).buttonNumber(), 1);
    EXPECT_EQ(Event::otherMouseDown(Point(), 4).buttonNumber(), 4);
    EXPECT_EQ(int(Event::otherMouseDragged(Point()).type()), 27);
    EXPECT_EQ(Event::magnify(Point(), 0.5).magnification(), 0.5);
    EXPECT_TRUE(Event::tabletProximity(Point(), true).isEnteringProximity());
}

TEST(EventFactory, ModifierBitsKeepTheOriginalsValues)
{
    EXPECT_EQ(unsigned(Event::ShiftKeyMask), 1u << 17);
    EXPECT_EQ(unsigned(Event::ControlKeyMask), 1u << 18);
    EXPECT_EQ(unsigned(Event::OptionKeyMask), 1u << 19);
    EXPECT_EQ(unsigned(Event::CommandKeyMask), 1u << 20);
    // Ctrl is the Command key, Super the Control key.
    EXPECT_EQ(Event::modifierFlagsFromQt(Qt::ControlModifier), Event::ModifierFlags(Event::CommandKeyMask));
    EXPECT_EQ(Event::modifierFlagsFromQt(Qt::MetaModifier), Event::ModifierFlags(Event::ControlKeyMask));
    EXPECT_EQ(Event::modifierFlagsFromQt(Qt::AltModifier | Qt::ShiftModifier),
              Event::ModifierFlags(Event::OptionKeyMask | Event::ShiftKeyMask));
}

TEST(EventFromQt, CommandLettersReportTheLetter)
{
    const QKeyEvent qt(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier, QString(QChar(0x06)));
    const Event e = Event::fromQKeyEvent(qt, Point(1, 2));
    EXPECT_EQ(e.type(), Event::Type::KeyDown);
    EXPECT_EQ(e.characters(), QStringLiteral("f"));
    EXPECT_EQ(e.charactersIgnoringModifiers(), QStringLiteral("f"));
    EXPECT_EQ(e.modifierFlags(), Event::ModifierFlags(Event::CommandKeyMask));
    EXPECT_EQ(e.keyCode(), Event::KeyCodeF);
    EXPECT_EQ(e.locationInWindow(), Point(1, 2));
}

TEST(EventFromQt, CharactersIgnoringModifiersKeepOnlyShift)
{
    const QKeyEvent shifted(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    EXPECT_EQ(Event::fromQKeyEvent(shifted, Point()).charactersIgnoringModifiers(), QStringLiteral("A"));
    const QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    const Event e = Event::fromQKeyEvent(space, Point());
    ASSERT_EQ(e.charactersIgnoringModifiers().size(), 1);
    EXPECT_EQ(e.charactersIgnoringModifiers().at(0).unicode(), 32);
    EXPECT_EQ(e.keyCode(), Event::KeyCodeSpace);
    const QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier,
                         QStringLiteral("+"));
    EXPECT_EQ(Event::fromQKeyEvent(plus, Point()).charactersIgnoringModifiers(), QStringLiteral("+"));
}

TEST(EventFromQt, KeysWithoutTextGetTheOriginalsCharacters)
{
    const struct
    {
        int key;
        char16_t character;
        unsigned short keyCode;
    } cases[] = {
        {Qt::Key_Escape, 0x1b, Event::KeyCodeEscape},
        {Qt::Key_Return, u'\r', Event::KeyCodeReturn},
        {Qt::Key_Backspace, 0x7f, Event::KeyCodeDelete},
        {Qt::Key_Delete, Event::DeleteFunctionKey, Event::KeyCodeForwardDelete},
        {Qt::Key_Up, Event::UpArrowFunctionKey, Event::KeyCodeUpArrow},
        {Qt::Key_Left, Event::LeftArrowFunctionKey, Event::KeyCodeLeftArrow},
        {Qt::Key_Tab, u'\t', Event::KeyCodeTab},
    };
    for (const auto& c : cases) {
        const QKeyEvent qt(QEvent::KeyPress, c.key, Qt::NoModifier);
        const Event e = Event::fromQKeyEvent(qt, Point());
        ASSERT_EQ(e.characters().size(), 1) << c.key;
        EXPECT_EQ(e.characters().at(0).unicode(), c.character) << c.key;
        EXPECT_EQ(e.keyCode(), c.keyCode) << c.key;
    }
    const QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    EXPECT_EQ(Event::fromQKeyEvent(release, Point()).type(), Event::Type::KeyUp);
    const QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true);
    EXPECT_TRUE(Event::fromQKeyEvent(repeat, Point()).isARepeat());
}

TEST(EventFromQt, ModifierKeysChangeFlags)
{
    const QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    const Event down = Event::fromQKeyEvent(press, Point());
    EXPECT_EQ(down.type(), Event::Type::FlagsChanged);
    EXPECT_EQ(down.modifierFlags(), Event::ModifierFlags(Event::ShiftKeyMask));
    EXPECT_EQ(down.keyCode(), Event::KeyCodeShift);
    const QKeyEvent release(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier | Qt::ControlModifier);
    const Event up = Event::fromQKeyEvent(release, Point());
    EXPECT_EQ(up.type(), Event::Type::FlagsChanged);
    EXPECT_EQ(up.modifierFlags(), Event::ModifierFlags(Event::CommandKeyMask));
}

TEST(EventDescription, NamesTypeLocationAndFlags)
{
    ScopedVirtualTime time;
    EXPECT_EQ(Event::mouseUp(Point(10, 20), 3, Event::CommandKeyMask).description(),
              QStringLiteral("LeftMouseUp at {10, 20} clicks 3 flags 0x100000"));
}
