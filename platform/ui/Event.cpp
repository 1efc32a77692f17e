#include "platform/ui/Event.h"

#include "platform/core/Scheduler.h"
#include "platform/gfx/Rect.h"

#include <QKeyEvent>
#include <algorithm>

namespace corvex {

namespace {

struct KeyEntry
{
    int qtKey;
    unsigned short keyCode;
    char16_t character; // 0: the key types what Qt says
};

// Key codes, numbered by the key's position on a US layout (A 0, S 1, D 2, ...), and, for
// keys that type no printable text, the characters their events carry.
constexpr KeyEntry kKeys[] = {
    {Qt::Key_A, 0, 0},
    {Qt::Key_S, 1, 0},
    {Qt::Key_D, 2, 0},
    {Qt::Key_F, 3, 0},
    {Qt::Key_H, 4, 0},
    {Qt::Key_G, 5, 0},
    {Qt::Key_Z, 6, 0},
    {Qt::Key_X, 7, 0},
    {Qt::Key_C, 8, 0},
    {Qt::Key_V, 9, 0},
    {Qt::Key_B, 11, 0},
    {Qt::Key_Q, 12, 0},
    {Qt::Key_W, 13, 0},
    {Qt::Key_E, 14, 0},
    {Qt::Key_R, 15, 0},
    {Qt::Key_Y, 16, 0},
    {Qt::Key_T, 17, 0},
    {Qt::Key_1, 18, 0},
    {Qt::Key_2, 19, 0},
    {Qt::Key_3, 20, 0},
    {Qt::Key_4, 21, 0},
    {Qt::Key_6, 22, 0},
    {Qt::Key_5, 23, 0},
    {Qt::Key_Equal, 24, 0},
    {Qt::Key_Plus, 24, 0},
    {Qt::Key_9, 25, 0},
    {Qt::Key_7, 26, 0},
    {Qt::Key_Minus, 27, 0},
    {Qt::Key_8, 28, 0},
    {Qt::Key_0, 29, 0},
    {Qt::Key_BracketRight, 30, 0},
    {Qt::Key_O, 31, 0},
    {Qt::Key_U, 32, 0},
    {Qt::Key_BracketLeft, 33, 0},
    {Qt::Key_I, 34, 0},
    {Qt::Key_P, 35, 0},
    {Qt::Key_Return, Event::KeyCodeReturn, u'\r'},
    {Qt::Key_L, 37, 0},
    {Qt::Key_J, 38, 0},
    {Qt::Key_Apostrophe, 39, 0},
    {Qt::Key_K, 40, 0},
    {Qt::Key_Semicolon, 41, 0},
    {Qt::Key_Backslash, 42, 0},
    {Qt::Key_Comma, 43, 0},
    {Qt::Key_Slash, 44, 0},
    {Qt::Key_N, 45, 0},
    {Qt::Key_M, 46, 0},
    {Qt::Key_Period, 47, 0},
    {Qt::Key_Tab, Event::KeyCodeTab, u'\t'},
    {Qt::Key_Backtab, Event::KeyCodeTab, 0x19},
    {Qt::Key_Space, Event::KeyCodeSpace, u' '},
    {Qt::Key_QuoteLeft, 50, 0},
    {Qt::Key_Backspace, Event::KeyCodeDelete, 0x7f},
    {Qt::Key_Escape, Event::KeyCodeEscape, 0x1b},
    {Qt::Key_Control, Event::KeyCodeCommand, 0},
    {Qt::Key_Shift, Event::KeyCodeShift, 0},
    {Qt::Key_CapsLock, Event::KeyCodeCapsLock, 0},
    {Qt::Key_Alt, Event::KeyCodeOption, 0},
    {Qt::Key_Meta, Event::KeyCodeControl, 0},
    {Qt::Key_Enter, Event::KeyCodeKeypadEnter, 0x03},
    {Qt::Key_F1, 122, Event::F1FunctionKey},
    {Qt::Key_F2, 120, Event::F1FunctionKey + 1},
    {Qt::Key_F3, 99, Event::F1FunctionKey + 2},
    {Qt::Key_F4, 118, Event::F1FunctionKey + 3},
    {Qt::Key_F5, 96, Event::F1FunctionKey + 4},
    {Qt::Key_F6, 97, Event::F1FunctionKey + 5},
    {Qt::Key_F7, 98, Event::F1FunctionKey + 6},
    {Qt::Key_F8, 100, Event::F1FunctionKey + 7},
    {Qt::Key_F9, 101, Event::F1FunctionKey + 8},
    {Qt::Key_F10, 109, Event::F1FunctionKey + 9},
    {Qt::Key_F11, 103, Event::F1FunctionKey + 10},
    {Qt::Key_F12, 111, Event::F1FunctionKey + 11},
    {Qt::Key_Home, 115, Event::HomeFunctionKey},
    {Qt::Key_PageUp, 116, Event::PageUpFunctionKey},
    {Qt::Key_Delete, Event::KeyCodeForwardDelete, Event::DeleteFunctionKey},
    {Qt::Key_End, 119, Event::EndFunctionKey},
    {Qt::Key_PageDown, 121, Event::PageDownFunctionKey},
    {Qt::Key_Left, Event::KeyCodeLeftArrow, Event::LeftArrowFunctionKey},
    {Qt::Key_Right, Event::KeyCodeRightArrow, Event::RightArrowFunctionKey},
    {Qt::Key_Down, Event::KeyCodeDownArrow, Event::DownArrowFunctionKey},
    {Qt::Key_Up, Event::KeyCodeUpArrow, Event::UpArrowFunctionKey},
};

const KeyEntry* findKey(int qtKey)
{
    const auto it =
        std::find_if(std::begin(kKeys), std::end(kKeys), [&](const KeyEntry& e) { return e.qtKey == qtKey; });
    return it == std::end(kKeys) ? nullptr : it;
}

bool isPrintable(const QString& text)
{
    if (text.isEmpty())
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() != 0x7f; });
}

// What the key types with no modifier but Shift.
QString baseCharacters(int qtKey, bool shift)
{
    if (const KeyEntry* entry = findKey(qtKey); entry && entry->character != 0)
        return QString(QChar(entry->character));
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        const QChar c(char16_t(u'a' + (qtKey - Qt::Key_A)));
        return QString(shift ? c.toUpper() : c);
    }
    // Qt names the other printable keys by the character they type.
    if ((qtKey >= 0x20 && qtKey < 0x7f) || (qtKey >= 0xa0 && qtKey <= 0xff))
        return QString(QChar(char16_t(qtKey)));
    return {};
}

// The modifier a modifier key itself stands for.
Event::ModifierFlags flagOfModifierKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
        return Event::ShiftKeyMask;
    case Qt::Key_Control:
        return Event::CommandKeyMask;
    case Qt::Key_Meta:
        return Event::ControlKeyMask;
    case Qt::Key_Alt:
        return Event::OptionKeyMask;
    case Qt::Key_CapsLock:
        return Event::CapsLockKeyMask;
    default:
        return 0;
    }
}

} // namespace

Event Event::make(Type type, Point location, ModifierFlags modifiers)
{
    Event event;
    event.mType = type;
    event.mLocation = location;
    event.mModifiers = modifiers;
    event.mTimestamp = MediaClock::now();
    return event;
}

Event Event::mouseEvent(Type type, Point locationInWindow, int clickCount, ModifierFlags modifiers)
{
    Event event = make(type, locationInWindow, modifiers);
    switch (type) {
    case Type::LeftMouseDown:
    case Type::LeftMouseUp:
    case Type::RightMouseDown:
    case Type::RightMouseUp:
    case Type::OtherMouseDown:
    case Type::OtherMouseUp:
        event.mClickCount = clickCount;
        break;
    default:
        break;
    }
    switch (type) {
    case Type::RightMouseDown:
    case Type::RightMouseUp:
    case Type::RightMouseDragged:
        event.mButtonNumber = 1;
        break;
    case Type::OtherMouseDown:
    case Type::OtherMouseUp:
    case Type::OtherMouseDragged:
        event.mButtonNumber = 2;
        break;
    default:
        break;
    }
    return event;
}

Event Event::mouseDown(Point locationInWindow, int clickCount, ModifierFlags modifiers)
{
    return mouseEvent(Type::LeftMouseDown, locationInWindow, clickCount, modifiers);
}

Event Event::mouseUp(Point locationInWindow, int clickCount, ModifierFlags modifiers)
{
    return mouseEvent(Type::LeftMouseUp, locationInWindow, clickCount, modifiers);
}

Event Event::mouseDragged(Point locationInWindow, ModifierFlags modifiers)
{
    return mouseEvent(Type::LeftMouseDragged, locationInWindow, 0, modifiers);
}

Event Event::mouseMoved(Point locationInWindow, ModifierFlags modifiers)
{
    return mouseEvent(Type::MouseMoved, locationInWindow, 0, modifiers);
}

Event Event::rightMouseDown(Point locationInWindow, int clickCount, ModifierFlags modifiers)
{
    return mouseEvent(Type::RightMouseDown, locationInWindow, clickCount, modifiers);
}

Event Event::rightMouseUp(Point locationInWindow, int clickCount, ModifierFlags modifiers)
{
    return mouseEvent(Type::RightMouseUp, locationInWindow, clickCount, modifiers);
}

Event Event::rightMouseDragged(Point locationInWindow, ModifierFlags modifiers)
{
    return mouseEvent(Type::RightMouseDragged, locationInWindow, 0, modifiers);
}

Event Event::otherMouseDown(Point locationInWindow, int buttonNumber, int clickCount, ModifierFlags modifiers)
{
    Event event = mouseEvent(Type::OtherMouseDown, locationInWindow, clickCount, modifiers);
    event.mButtonNumber = buttonNumber;
    return event;
}

Event Event::otherMouseUp(Point locationInWindow, int buttonNumber, int clickCount, ModifierFlags modifiers)
{
    Event event = mouseEvent(Type::OtherMouseUp, locationInWindow, clickCount, modifiers);
    event.mButtonNumber = buttonNumber;
    return event;
}

Event Event::otherMouseDragged(Point locationInWindow, int buttonNumber, ModifierFlags modifiers)
{
    Event event = mouseEvent(Type::OtherMouseDragged, locationInWindow, 0, modifiers);
    event.mButtonNumber = buttonNumber;
    return event;
}

Event Event::enterExitEvent(Type type, Point locationInWindow, const std::shared_ptr<TrackingArea>& area,
                            ModifierFlags modifiers)
{
    Event event = make(type, locationInWindow, modifiers);
    event.mTrackingArea = area;
    return event;
}

Event Event::makeKey(Type type, const QString& characters, const QString& ignoring, unsigned short keyCode,
                     ModifierFlags modifiers, bool isARepeat)
{
    Event event = make(type, Point(), modifiers);
    event.mCharacters = characters;
    event.mCharactersIgnoringModifiers = ignoring;
    event.mKeyCode = keyCode;
    event.mRepeat = isARepeat;
    return event;
}

Event Event::keyDown(const QString& characters, unsigned short keyCode, ModifierFlags modifiers,
                     bool isARepeat)
{
    return makeKey(Type::KeyDown, characters, characters, keyCode, modifiers, isARepeat);
}

Event Event::keyDown(const QString& characters, const QString& charactersIgnoringModifiers,
                     unsigned short keyCode, ModifierFlags modifiers, bool isARepeat)
{
    return makeKey(Type::KeyDown, characters, charactersIgnoringModifiers, keyCode, modifiers, isARepeat);
}

Event Event::keyUp(const QString& characters, unsigned short keyCode, ModifierFlags modifiers)
{
    return makeKey(Type::KeyUp, characters, characters, keyCode, modifiers, false);
}

Event Event::keyUp(const QString& characters, const QString& charactersIgnoringModifiers,
                   unsigned short keyCode, ModifierFlags modifiers)
{
    return makeKey(Type::KeyUp, characters, charactersIgnoringModifiers, keyCode, modifiers, false);
}

Event Event::flagsChanged(ModifierFlags modifiers, unsigned short keyCode)
{
    return makeKey(Type::FlagsChanged, QString(), QString(), keyCode, modifiers, false);
}

Event Event::scrollWheel(Point locationInWindow, double deltaX, double deltaY, double scrollingDeltaX,
                         double scrollingDeltaY, bool preciseDeltas, ModifierFlags modifiers)
{
    Event event = make(Type::ScrollWheel, locationInWindow, modifiers);
    event.mDeltaX = deltaX;
    event.mDeltaY = deltaY;
    event.mScrollingDeltaX = scrollingDeltaX;
    event.mScrollingDeltaY = scrollingDeltaY;
    event.mPreciseDeltas = preciseDeltas;
    return event;
}

Event Event::magnify(Point locationInWindow, double magnification, ModifierFlags modifiers)
{
    Event event = make(Type::Magnify, locationInWindow, modifiers);
    event.mMagnification = magnification;
    return event;
}

Event Event::tabletPoint(Point locationInWindow, double pressure, ModifierFlags modifiers)
{
    Event event = make(Type::TabletPoint, locationInWindow, modifiers);
    event.mPressure = pressure;
    return event;
}

Event Event::tabletProximity(Point locationInWindow, bool enteringProximity)
{
    Event event = make(Type::TabletProximity, locationInWindow, 0);
    event.mEnteringProximity = enteringProximity;
    return event;
}

Event::ModifierFlags Event::modifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    ModifierFlags flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= ShiftKeyMask;
    if (modifiers & Qt::ControlModifier)
        flags |= CommandKeyMask;
    if (modifiers & Qt::MetaModifier)
        flags |= ControlKeyMask;
    if (modifiers & Qt::AltModifier)
        flags |= OptionKeyMask;
    if (modifiers & Qt::KeypadModifier)
        flags |= NumericPadKeyMask;
    return flags;
}

unsigned short Event::keyCodeFromQt(int qtKey)
{
    const KeyEntry* entry = findKey(qtKey);
    return entry ? entry->keyCode : static_cast<unsigned short>(KeyCodeUnknown);
}

Event Event::fromQKeyEvent(const QKeyEvent& qt, Point locationInWindow)
{
    const int key = qt.key();
    ModifierFlags flags = modifierFlagsFromQt(qt.modifiers());
    const unsigned short keyCode = keyCodeFromQt(key);
    if (const ModifierFlags own = flagOfModifierKey(key)) {
        // Platforms disagree on whether a modifier key's own event carries its flag: the
        // change is what counts.
        if (qt.type() == QEvent::KeyPress)
            flags |= own;
        else
            flags &= ~own;
        Event event = flagsChanged(flags, keyCode);
        event.mLocation = locationInWindow;
        return event;
    }
    const QString base = baseCharacters(key, (flags & ShiftKeyMask) != 0);
    const QString text = qt.text();
    // Control and Command turn letters into control characters in Qt's text; the event
    // reports the letter.
    const QString characters = isPrintable(text) ? text : base;
    const QString ignoring = base.isEmpty() ? characters : base;
    const Type type = qt.type() == QEvent::KeyRelease ? Type::KeyUp : Type::KeyDown;
    Event event = makeKey(type, characters, ignoring, keyCode, flags, qt.isAutoRepeat());
    event.mLocation = locationInWindow;
    return event;
}

bool Event::isMouseType() const
{
    switch (mType) {
    case Type::LeftMouseDown:
    case Type::LeftMouseUp:
    case Type::RightMouseDown:
    case Type::RightMouseUp:
    case Type::MouseMoved:
    case Type::LeftMouseDragged:
    case Type::RightMouseDragged:
    case Type::MouseEntered:
    case Type::MouseExited:
    case Type::OtherMouseDown:
    case Type::OtherMouseUp:
    case Type::OtherMouseDragged:
        return true;
    default:
        return false;
    }
}

bool Event::isKeyType() const
{
    return mType == Type::KeyDown || mType == Type::KeyUp || mType == Type::FlagsChanged;
}

QString Event::typeName(Type type)
{
    switch (type) {
    case Type::None:
        return QStringLiteral("None");
    case Type::LeftMouseDown:
        return QStringLiteral("LeftMouseDown");
    case Type::LeftMouseUp:
        return QStringLiteral("LeftMouseUp");
    case Type::RightMouseDown:
        return QStringLiteral("RightMouseDown");
    case Type::RightMouseUp:
        return QStringLiteral("RightMouseUp");
    case Type::MouseMoved:
        return QStringLiteral("MouseMoved");
    case Type::LeftMouseDragged:
        return QStringLiteral("LeftMouseDragged");
    case Type::RightMouseDragged:
        return QStringLiteral("RightMouseDragged");
    case Type::MouseEntered:
        return QStringLiteral("MouseEntered");
    case Type::MouseExited:
        return QStringLiteral("MouseExited");
    case Type::KeyDown:
        return QStringLiteral("KeyDown");
    case Type::KeyUp:
        return QStringLiteral("KeyUp");
    case Type::FlagsChanged:
        return QStringLiteral("FlagsChanged");
    case Type::CursorUpdate:
        return QStringLiteral("CursorUpdate");
    case Type::ScrollWheel:
        return QStringLiteral("ScrollWheel");
    case Type::TabletPoint:
        return QStringLiteral("TabletPoint");
    case Type::TabletProximity:
        return QStringLiteral("TabletProximity");
    case Type::OtherMouseDown:
        return QStringLiteral("OtherMouseDown");
    case Type::OtherMouseUp:
        return QStringLiteral("OtherMouseUp");
    case Type::OtherMouseDragged:
        return QStringLiteral("OtherMouseDragged");
    case Type::Magnify:
        return QStringLiteral("Magnify");
    }
    return QStringLiteral("Type(%1)").arg(int(type));
}

QString Event::description() const
{
    QString text = typeName(mType);
    if (isKeyType()) {
        text += QStringLiteral(" chars \"%1\" key %2").arg(mCharacters).arg(mKeyCode);
    } else {
        text += QStringLiteral(" at ") + toString(mLocation);
        if (mClickCount != 0)
            text += QStringLiteral(" clicks %1").arg(mClickCount);
    }
    if (mModifiers != 0)
        text += QStringLiteral(" flags 0x%1").arg(mModifiers, 0, 16);
    return text;
}

} // namespace corvex
