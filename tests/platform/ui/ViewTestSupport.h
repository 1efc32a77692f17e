#pragma once

// Shared pieces of the view, window and event tests: views that record what reaches them,
// count their layouts and draws, and fill themselves with a colour.

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Event.h"
#include "platform/ui/View.h"
#include "tests/platform/ui/LayerTestSupport.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

namespace corvex {

inline std::ostream& operator<<(std::ostream& os, Size s)
{
    return os << toString(s).toStdString();
}

} // namespace corvex

namespace corvex::test {

// A view with a name that logs "<name>.<method>" for every event that reaches it (into a
// log shared by the views of a test) and then, unless told to keep the event, passes it on
// through the base class. Counts layouts and draws.
class RecordingView : public View
{
public:
    RecordingView(QString name, const Rect& frame, bool flipped = false,
                  std::shared_ptr<QStringList> log = nullptr)
        : View(frame), mName(std::move(name)), mFlipped(flipped),
          mLog(log ? std::move(log) : std::make_shared<QStringList>())
    {}

    static std::shared_ptr<RecordingView> make(const QString& name, const Rect& frame, bool flipped,
                                               const std::shared_ptr<QStringList>& log)
    {
        return std::make_shared<RecordingView>(name, frame, flipped, log);
    }

    bool isFlipped() const override { return mFlipped; }
    const QString& name() const { return mName; }
    QStringList& log() { return *mLog; }

    bool keeps = false;           // handle events here instead of passing them on
    bool acceptsFirst = false;    // acceptsFirstResponder
    bool refusesToResign = false; // resignFirstResponder answers false
    std::vector<Event> events;
    int layoutCount = 0;
    int drawCount = 0;
    bool lastDrawFlipped = false;
    Rect lastDirtyRect;
    std::function<void(RecordingView&)> onLayout;
    std::function<void(GraphicsContext&, RecordingView&)> onDraw;

    void mouseDown(const Event& e) override
    {
        record(QStringLiteral("mouseDown"), e, [&] { View::mouseDown(e); });
    }
    void mouseDragged(const Event& e) override
    {
        record(QStringLiteral("mouseDragged"), e, [&] { View::mouseDragged(e); });
    }
    void mouseUp(const Event& e) override
    {
        record(QStringLiteral("mouseUp"), e, [&] { View::mouseUp(e); });
    }
    void mouseMoved(const Event& e) override
    {
        record(QStringLiteral("mouseMoved"), e, [&] { View::mouseMoved(e); });
    }
    void mouseEntered(const Event& e) override
    {
        record(QStringLiteral("mouseEntered"), e, [&] { View::mouseEntered(e); });
    }
    void mouseExited(const Event& e) override
    {
        record(QStringLiteral("mouseExited"), e, [&] { View::mouseExited(e); });
    }
    void rightMouseDown(const Event& e) override
    {
        record(QStringLiteral("rightMouseDown"), e, [&] { View::rightMouseDown(e); });
    }
    void rightMouseDragged(const Event& e) override
    {
        record(QStringLiteral("rightMouseDragged"), e, [&] { View::rightMouseDragged(e); });
    }
    void rightMouseUp(const Event& e) override
    {
        record(QStringLiteral("rightMouseUp"), e, [&] { View::rightMouseUp(e); });
    }
    void otherMouseDown(const Event& e) override
    {
        record(QStringLiteral("otherMouseDown"), e, [&] { View::otherMouseDown(e); });
    }
    void otherMouseDragged(const Event& e) override
    {
        record(QStringLiteral("otherMouseDragged"), e, [&] { View::otherMouseDragged(e); });
    }
    void otherMouseUp(const Event& e) override
    {
        record(QStringLiteral("otherMouseUp"), e, [&] { View::otherMouseUp(e); });
    }
    void scrollWheel(const Event& e) override
    {
        record(QStringLiteral("scrollWheel"), e, [&] { View::scrollWheel(e); });
    }
    void cursorUpdate(const Event& e) override
    {
        record(QStringLiteral("cursorUpdate"), e, [&] { View::cursorUpdate(e); });
    }
    void magnifyWithEvent(const Event& e) override
    {
        record(QStringLiteral("magnify"), e, [&] { View::magnifyWithEvent(e); });
    }
    void tabletPoint(const Event& e) override
    {
        record(QStringLiteral("tabletPoint"), e, [&] { View::tabletPoint(e); });
    }
    void tabletProximity(const Event& e) override
    {
        record(QStringLiteral("tabletProximity"), e, [&] { View::tabletProximity(e); });
    }
    void keyDown(const Event& e) override
    {
        record(QStringLiteral("keyDown"), e, [&] { View::keyDown(e); });
    }
    void keyUp(const Event& e) override
    {
        record(QStringLiteral("keyUp"), e, [&] { View::keyUp(e); });
    }
    void flagsChanged(const Event& e) override
    {
        record(QStringLiteral("flagsChanged"), e, [&] { View::flagsChanged(e); });
    }

    bool acceptsFirstResponder() const override { return acceptsFirst; }
    bool becomeFirstResponder() override
    {
        mLog->append(mName + QStringLiteral(".becomeFirstResponder"));
        return true;
    }
    bool resignFirstResponder() override
    {
        mLog->append(mName + QStringLiteral(".resignFirstResponder"));
        return !refusesToResign;
    }

    void layout() override
    {
        ++layoutCount;
        mLog->append(mName + QStringLiteral(".layout"));
        if (onLayout)
            onLayout(*this);
    }

    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override
    {
        ++drawCount;
        lastDirtyRect = dirtyRect;
        lastDrawFlipped = context.isFlipped();
        if (onDraw)
            onDraw(context, *this);
    }

private:
    // `passOn` calls the base class's method (not virtually).
    template <class PassOn> void record(const QString& method, const Event& e, PassOn&& passOn)
    {
        mLog->append(mName + QLatin1Char('.') + method);
        events.push_back(e);
        if (!keeps)
            passOn();
    }

    QString mName;
    bool mFlipped;
    std::shared_ptr<QStringList> mLog;
};

// A view filled with one colour; flipped or not.
class FilledView : public View
{
public:
    FilledView(const Rect& frame, PlatformColor color, bool flipped)
        : View(frame), mColor(color), mFlipped(flipped)
    {
        setNeedsDisplay();
    }
    bool isFlipped() const override { return mFlipped; }
    void drawRect(const Rect&, GraphicsContext& context) override
    {
        context.setFillColor(mColor);
        context.fillRect(bounds());
    }

private:
    PlatformColor mColor;
    bool mFlipped;
};

// A plain view with a chosen flippedness that draws nothing.
class PlainView : public View
{
public:
    PlainView(const Rect& frame, bool flipped) : View(frame), mFlipped(flipped) {}
    bool isFlipped() const override { return mFlipped; }

private:
    bool mFlipped;
};

inline std::shared_ptr<PlainView> plainView(const Rect& frame, bool flipped)
{
    return std::make_shared<PlainView>(frame, flipped);
}

} // namespace corvex::test
