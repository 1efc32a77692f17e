#pragma once

#include "platform/gfx/Rect.h"
#include "platform/ui/Responder.h"

#include <QVariant>
#include <memory>

namespace corvex {

// A region of a view that reports the mouse entering, leaving and moving inside it, and
// asks for cursor updates, to its owner (a responder, not owned). The window checks its
// views' areas on every mouse movement (see Window::sendEvent).
class TrackingArea
{
public:
    enum Option : unsigned
    {
        MouseEnteredAndExited = 0x01,
        MouseMoved = 0x02,
        CursorUpdate = 0x04,
        ActiveWhenFirstResponder = 0x10,
        ActiveInKeyWindow = 0x20,
        ActiveInActiveApp = 0x40,
        ActiveAlways = 0x80,
        AssumeInside = 0x100,
        InVisibleRect = 0x200,
        EnabledDuringMouseDrag = 0x400,
    };
    using Options = unsigned;

    // The rectangle is in the coordinates of the view the area is added to; with
    // InVisibleRect it is ignored and the view's visible rectangle is used instead.
    TrackingArea(const Rect& rect, Options options, Responder* owner, const QVariant& userInfo = QVariant());
    static std::shared_ptr<TrackingArea> create(const Rect& rect, Options options, Responder* owner,
                                                const QVariant& userInfo = QVariant());

    const Rect& rect() const { return mRect; }
    Options options() const { return mOptions; }
    bool hasOption(Option option) const { return (mOptions & option) != 0; }
    // Null once the owner is gone.
    Responder* owner() const { return mOwner.get(); }
    const QVariant& userInfo() const { return mUserInfo; }

    // Whether the window last found the pointer inside (starts as AssumeInside says).
    bool isMouseInside() const { return mInside; }
    void setMouseInside(bool inside) { mInside = inside; }

private:
    Rect mRect;
    Options mOptions = 0;
    Responder::Ref mOwner;
    QVariant mUserInfo;
    bool mInside = false;
};

} // namespace corvex
