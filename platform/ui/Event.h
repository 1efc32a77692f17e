#pragma once

#include "platform/gfx/Point.h"

#include <QString>
#include <Qt>
#include <memory>

class QKeyEvent;

namespace corvex {

class TrackingArea;
class Window;

// An input event: a type, a location in the window's base coordinates (y up from the bottom
// left of the content area), a timestamp on the media clock (MediaClock::now() when the
// event was received; never the toolkit's own timestamps, whose origin differs between
// platforms), a click count, modifier flags with fixed bit values, the characters of a key,
// scroll deltas and so on.
//
// A value type. Events are made by the window host from Qt's events, or directly (tests,
// gesture code) with the named constructors below, which stamp the current media time.
class Event
{
public:
    // Event types, with fixed numbers.
    enum class Type
    {
        None = 0,
        LeftMouseDown = 1,
        LeftMouseUp = 2,
        RightMouseDown = 3,
        RightMouseUp = 4,
        MouseMoved = 5,
        LeftMouseDragged = 6,
        RightMouseDragged = 7,
        MouseEntered = 8,
        MouseExited = 9,
        KeyDown = 10,
        KeyUp = 11,
        FlagsChanged = 12,
        CursorUpdate = 17,
        ScrollWheel = 22,
        TabletPoint = 23,
        TabletProximity = 24,
        OtherMouseDown = 25,
        OtherMouseUp = 26,
        OtherMouseDragged = 27,
        Magnify = 30,
    };

    // Modifier flag bits with fixed values. The Ctrl key sets CommandKeyMask (the shortcut
    // key), and the Super (Meta) key ControlKeyMask.
    enum ModifierFlag : unsigned
    {
        CapsLockKeyMask = 1u << 16,
        ShiftKeyMask = 1u << 17,
        ControlKeyMask = 1u << 18,
        OptionKeyMask = 1u << 19,
        CommandKeyMask = 1u << 20,
        NumericPadKeyMask = 1u << 21,
        HelpKeyMask = 1u << 22,
        FunctionKeyMask = 1u << 23,
        DeviceIndependentFlagsMask = 0xffff0000u,
    };
    using ModifierFlags = unsigned;

    // Key codes of the keys the system reads, numbered by position on a US layout.
    enum KeyCode : unsigned short
    {
        KeyCodeA = 0,
        KeyCodeF = 3,
        KeyCodeReturn = 36,
        KeyCodeTab = 48,
        KeyCodeSpace = 49,
        KeyCodeDelete = 51,
        KeyCodeEscape = 53,
        KeyCodeCommand = 55,
        KeyCodeShift = 56,
        KeyCodeCapsLock = 57,
        KeyCodeOption = 58,
        KeyCodeControl = 59,
        KeyCodeKeypadEnter = 76,
        KeyCodeForwardDelete = 117,
        KeyCodeLeftArrow = 123,
        KeyCodeRightArrow = 124,
        KeyCodeDownArrow = 125,
        KeyCodeUpArrow = 126,
        KeyCodeUnknown = 0xffff,
    };

    // Private-use characters for keys that type none (arrows, function keys).
    enum FunctionKey : char16_t
    {
        UpArrowFunctionKey = 0xF700,
        DownArrowFunctionKey = 0xF701,
        LeftArrowFunctionKey = 0xF702,
        RightArrowFunctionKey = 0xF703,
        F1FunctionKey = 0xF704,
        DeleteFunctionKey = 0xF728,
        HomeFunctionKey = 0xF729,
        EndFunctionKey = 0xF72B,
        PageUpFunctionKey = 0xF72C,
        PageDownFunctionKey = 0xF72D,
    };

    Event() = default;

    // ---- Named constructors (timestamp: MediaClock::now()) ----
    // Left button (button number 0).
    static Event mouseDown(Point locationInWindow, int clickCount = 1, ModifierFlags modifiers = 0);
    static Event mouseUp(Point locationInWindow, int clickCount = 1, ModifierFlags modifiers = 0);
    static Event mouseDragged(Point locationInWindow, ModifierFlags modifiers = 0);
    static Event mouseMoved(Point locationInWindow, ModifierFlags modifiers = 0);
    // Right button (button number 1).
    static Event rightMouseDown(Point locationInWindow, int clickCount = 1, ModifierFlags modifiers = 0);
    static Event rightMouseUp(Point locationInWindow, int clickCount = 1, ModifierFlags modifiers = 0);
    static Event rightMouseDragged(Point locationInWindow, ModifierFlags modifiers = 0);
    // Other buttons (2 the middle one, 3 and 4 the extra ones).
    static Event otherMouseDown(Point locationInWindow, int buttonNumber = 2, int clickCount = 1,
                                ModifierFlags modifiers = 0);
    static Event otherMouseUp(Point locationInWindow, int buttonNumber = 2, int clickCount = 1,
                              ModifierFlags modifiers = 0);
    static Event otherMouseDragged(Point locationInWindow, int buttonNumber = 2, ModifierFlags modifiers = 0);
    // Any mouse type, for loops over types.
    static Event mouseEvent(Type type, Point locationInWindow, int clickCount = 1,
                            ModifierFlags modifiers = 0);
    // Entered, exited or cursor update for a tracking area.
    static Event enterExitEvent(Type type, Point locationInWindow, const std::shared_ptr<TrackingArea>& area,
                                ModifierFlags modifiers = 0);
    // Characters ignoring modifiers default to `characters`.
    static Event keyDown(const QString& characters, unsigned short keyCode = KeyCodeUnknown,
                         ModifierFlags modifiers = 0, bool isARepeat = false);
    static Event keyDown(const QString& characters, const QString& charactersIgnoringModifiers,
                         unsigned short keyCode, ModifierFlags modifiers, bool isARepeat = false);
    static Event keyUp(const QString& characters, unsigned short keyCode = KeyCodeUnknown,
                       ModifierFlags modifiers = 0);
    static Event keyUp(const QString& characters, const QString& charactersIgnoringModifiers,
                       unsigned short keyCode, ModifierFlags modifiers);
    // The flags after the change, and the modifier key that changed.
    static Event flagsChanged(ModifierFlags modifiers, unsigned short keyCode = KeyCodeUnknown);
    // Deltas in lines (deltaX/Y) and in points (scrollingDeltaX/Y); positive y scrolls up.
    static Event scrollWheel(Point locationInWindow, double deltaX, double deltaY, double scrollingDeltaX,
                             double scrollingDeltaY, bool preciseDeltas, ModifierFlags modifiers = 0);
    static Event magnify(Point locationInWindow, double magnification, ModifierFlags modifiers = 0);
    static Event tabletPoint(Point locationInWindow, double pressure, ModifierFlags modifiers = 0);
    static Event tabletProximity(Point locationInWindow, bool enteringProximity);

    // A key event from Qt's, with our characters, key codes and flags: Ctrl+F gives
    // characters "f" with the Command flag; Escape "\x1b"; the arrows the function-key
    // characters; charactersIgnoringModifiers keeps the Shift key's effect only.
    static Event fromQKeyEvent(const QKeyEvent& event, Point locationInWindow);
    static ModifierFlags modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);
    // The key code of a Qt key; KeyCodeUnknown for keys without one.
    static unsigned short keyCodeFromQt(int qtKey);

    // ---- Values ----
    Type type() const { return mType; }
    bool isMouseType() const;
    bool isKeyType() const;
    Point locationInWindow() const { return mLocation; }
    void setLocationInWindow(Point location) { mLocation = location; }
    double timestamp() const { return mTimestamp; }
    void setTimestamp(double seconds) { mTimestamp = seconds; }
    // Presses counted within the double-click interval and a few pixels; the release
    // carries its press's count. 0 for moves and drags.
    int clickCount() const { return mClickCount; }
    void setClickCount(int count) { mClickCount = count; }
    // 0 left, 1 right, 2 middle, 3 and 4 extra.
    int buttonNumber() const { return mButtonNumber; }
    void setButtonNumber(int number) { mButtonNumber = number; }
    ModifierFlags modifierFlags() const { return mModifiers; }
    void setModifierFlags(ModifierFlags modifiers) { mModifiers = modifiers; }
    bool hasModifier(ModifierFlag flag) const { return (mModifiers & flag) != 0; }
    // Key events only.
    const QString& characters() const { return mCharacters; }
    const QString& charactersIgnoringModifiers() const { return mCharactersIgnoringModifiers; }
    unsigned short keyCode() const { return mKeyCode; }
    bool isARepeat() const { return mRepeat; }
    // Scroll events only.
    double deltaX() const { return mDeltaX; }
    double deltaY() const { return mDeltaY; }
    double deltaZ() const { return 0; }
    double scrollingDeltaX() const { return mScrollingDeltaX; }
    double scrollingDeltaY() const { return mScrollingDeltaY; }
    bool hasPreciseScrollingDeltas() const { return mPreciseDeltas; }
    // Magnify events only.
    double magnification() const { return mMagnification; }
    // Tablet events only: pressure 0..1; proximity entering or leaving.
    double pressure() const { return mPressure; }
    bool isEnteringProximity() const { return mEnteringProximity; }
    // Entered, exited and cursor-update events: the area that caused them.
    std::shared_ptr<TrackingArea> trackingArea() const { return mTrackingArea; }
    // The window the event happened in; null for an event made by hand until a window sends it.
    Window* window() const { return mWindow; }
    void setWindow(Window* window) { mWindow = window; }

    // "LeftMouseDown at {10, 20} clicks 1 flags 0x20000", for assertion messages and logs.
    QString description() const;
    static QString typeName(Type type);

private:
    static Event make(Type type, Point location, ModifierFlags modifiers);
    static Event makeKey(Type type, const QString& characters, const QString& ignoring,
                         unsigned short keyCode, ModifierFlags modifiers, bool isARepeat);

    Type mType = Type::None;
    Point mLocation;
    double mTimestamp = 0;
    int mClickCount = 0;
    int mButtonNumber = 0;
    ModifierFlags mModifiers = 0;
    QString mCharacters;
    QString mCharactersIgnoringModifiers;
    unsigned short mKeyCode = KeyCodeUnknown;
    bool mRepeat = false;
    double mDeltaX = 0;
    double mDeltaY = 0;
    double mScrollingDeltaX = 0;
    double mScrollingDeltaY = 0;
    bool mPreciseDeltas = false;
    double mMagnification = 0;
    double mPressure = 0;
    bool mEnteringProximity = false;
    std::shared_ptr<TrackingArea> mTrackingArea;
    Window* mWindow = nullptr;
};

} // namespace corvex
