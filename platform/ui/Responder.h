#pragma once

#include <memory>

namespace corvex {

class Event;

// The responder chain: every event method passes the event to nextResponder() unless a
// subclass handles it, so an override that calls the base version sends the event up the
// chain. The chain of a view is its next responder set by hand (a view controller), else its
// superview, else its window; a window ends it. At the end of the chain an event is dropped.
//
// Responders are not owned by the chain: the references kept by the chain, the window's
// first responder and tracking areas answer null once the responder is destroyed, whatever
// owns it. Main thread only.
class Responder
{
public:
    // A non-owning reference that answers null after the responder's destruction.
    class Ref
    {
    public:
        Ref() = default;
        Ref(Responder* responder); // NOLINT: converts, as a pointer would
        Responder* get() const { return mLife.expired() ? nullptr : mResponder; }
        explicit operator bool() const { return get() != nullptr; }

    private:
        Responder* mResponder = nullptr;
        std::weak_ptr<const int> mLife;
    };

    Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;
    virtual ~Responder();

    // The responder after this one; the default is the one set with setNextResponder.
    virtual Responder* nextResponder() const;
    // Not owned. A responder inserted after a view (a view controller) answers its own
    // nextResponder, typically View::defaultNextResponder() of its view.
    void setNextResponder(Responder* responder) { mNextResponder = responder; }

    // ---- Mouse ----
    virtual void mouseDown(const Event& event);
    virtual void mouseDragged(const Event& event);
    virtual void mouseUp(const Event& event);
    virtual void mouseMoved(const Event& event);
    virtual void mouseEntered(const Event& event);
    virtual void mouseExited(const Event& event);
    virtual void rightMouseDown(const Event& event);
    virtual void rightMouseDragged(const Event& event);
    virtual void rightMouseUp(const Event& event);
    virtual void otherMouseDown(const Event& event);
    virtual void otherMouseDragged(const Event& event);
    virtual void otherMouseUp(const Event& event);
    virtual void scrollWheel(const Event& event);
    virtual void cursorUpdate(const Event& event);
    virtual void magnifyWithEvent(const Event& event);
    // ---- Keys ----
    virtual void keyDown(const Event& event);
    virtual void keyUp(const Event& event);
    virtual void flagsChanged(const Event& event);
    // ---- Tablet ----
    virtual void tabletPoint(const Event& event);
    virtual void tabletProximity(const Event& event);

    // ---- First responder ----
    // Default false: only responders that take keys accept.
    virtual bool acceptsFirstResponder() const;
    // Asked by Window::makeFirstResponder; answering false refuses. Default true.
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();

    // Keeps the responder's liveness for Ref.
    std::weak_ptr<const int> lifeToken() const { return mLife; }

protected:
    // Called when an event reached the end of the chain unhandled. Default: nothing.
    virtual void noResponderFor(const Event& event);

private:
    // Sends the event to the next responder's method, or to noResponderFor at the end.
    void passOn(const Event& event, void (Responder::*method)(const Event&));

    std::shared_ptr<const int> mLife;
    Ref mNextResponder;
};

} // namespace corvex
