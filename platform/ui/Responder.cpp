#include "platform/ui/Responder.h"

namespace corvex {

Responder::Ref::Ref(Responder* responder) : mResponder(responder)
{
    if (responder)
        mLife = responder->lifeToken();
}

Responder::Responder() : mLife(std::make_shared<const int>(0)) {}

Responder::~Responder() = default;

Responder* Responder::nextResponder() const
{
    return mNextResponder.get();
}

void Responder::passOn(const Event& event, void (Responder::*method)(const Event&))
{
    if (Responder* next = nextResponder())
        (next->*method)(event);
    else
        noResponderFor(event);
}

void Responder::mouseDown(const Event& event)
{
    passOn(event, &Responder::mouseDown);
}

void Responder::mouseDragged(const Event& event)
{
    passOn(event, &Responder::mouseDragged);
}

void Responder::mouseUp(const Event& event)
{
    passOn(event, &Responder::mouseUp);
}

void Responder::mouseMoved(const Event& event)
{
    passOn(event, &Responder::mouseMoved);
}

void Responder::mouseEntered(const Event& event)
{
    passOn(event, &Responder::mouseEntered);
}

void Responder::mouseExited(const Event& event)
{
    passOn(event, &Responder::mouseExited);
}

void Responder::rightMouseDown(const Event& event)
{
    passOn(event, &Responder::rightMouseDown);
}

void Responder::rightMouseDragged(const Event& event)
{
    passOn(event, &Responder::rightMouseDragged);
}

void Responder::rightMouseUp(const Event& event)
{
    passOn(event, &Responder::rightMouseUp);
}

void Responder::otherMouseDown(const Event& event)
{
    passOn(event, &Responder::otherMouseDown);
}

void Responder::otherMouseDragged(const Event& event)
{
    passOn(event, &Responder::otherMouseDragged);
}

void Responder::otherMouseUp(const Event& event)
{
    passOn(event, &Responder::otherMouseUp);
}

void Responder::scrollWheel(const Event& event)
{
    passOn(event, &Responder::scrollWheel);
}

void Responder::cursorUpdate(const Event& event)
{
    passOn(event, &Responder::cursorUpdate);
}

void Responder::magnifyWithEvent(const Event& event)
{
    passOn(event, &Responder::magnifyWithEvent);
}

void Responder::keyDown(const Event& event)
{
    passOn(event, &Responder::keyDown);
}

void Responder::keyUp(const Event& event)
{
    passOn(event, &Responder::keyUp);
}

void Responder::flagsChanged(const Event& event)
{
    passOn(event, &Responder::flagsChanged);
}

void Responder::tabletPoint(const Event& event)
{
    passOn(event, &Responder::tabletPoint);
}

void Responder::tabletProximity(const Event& event)
{
    passOn(event, &Responder::tabletProximity);
}

bool Responder::acceptsFirstResponder() const
{
    return false;
}

bool Responder::becomeFirstResponder()
{
    return true;
}

bool Responder::resignFirstResponder()
{
    return true;
}

void Responder::noResponderFor(const Event&) {}

} // namespace corvex
