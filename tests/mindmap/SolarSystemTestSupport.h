#pragma once

// Shared helpers of the solar-system view tests: a window (optionally a document window with a
// container view) holding a solar system, recording doubles of the view's delegate and of the
// note-hover utility, and ideas to fill it with.

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/NoteHoverUtility.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemDelegate.h"
#include "model/Color.h"
#include "model/Idea.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "toolkit/BaseView.h"
#include "toolkit/LayerExtensions.h"

#include <QString>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace corvex::test {

// Every call of the view's delegate, in order.
class RecordingSolarDelegate : public SolarSystemDelegate
{
public:
    struct Call
    {
        QString kind; // "add", "edit", "drill", "up", "drag", "menu"
        QString identifier;
        std::int64_t index = 0;
        Rect rect;
    };

    void onAddNewIdeaAfterIndex(std::int64_t index, const Rect& fromRect) override
    {
        record(QStringLiteral("add"), QString(), index, fromRect);
    }
    void onEditIdea(const QString& identifier) override { record(QStringLiteral("edit"), identifier); }
    void onDrillDownTo(const QString& identifier) override { record(QStringLiteral("drill"), identifier); }
    void onDrillUp() override { record(QStringLiteral("up")); }
    void startDragForIdea(const QString& identifier, const Rect& fromRect, const Event& event) override
    {
        record(QStringLiteral("drag"), identifier, 0, fromRect);
        dragEvents.push_back(event);
    }
    std::shared_ptr<Menu> onRightClickAtIdea(const QString& identifier) override
    {
        record(QStringLiteral("menu"), identifier);
        return Menu::create(identifier);
    }

    void record(const QString& kind, const QString& identifier = QString(), std::int64_t index = 0,
                const Rect& rect = Rect())
    {
        Call call;
        call.kind = kind;
        call.identifier = identifier;
        call.index = index;
        call.rect = rect;
        calls.push_back(call);
    }

    // "kind:identifier" of each call, for compact comparisons.
    std::vector<QString> summary() const
    {
        std::vector<QString> out;
        for (const Call& call : calls)
            out.push_back(call.identifier.isEmpty() ? call.kind
                                                    : call.kind + QLatin1Char(':') + call.identifier);
        return out;
    }

    std::vector<Call> calls;
    std::vector<Event> dragEvents;
};

// A note-hover utility that records what it is told.
struct NoteHoverRecord
{
    std::optional<QString> note;
    Point point;
};

class RecordingNoteHover : public NoteHoverUtility
{
public:
    explicit RecordingNoteHover(std::shared_ptr<std::vector<NoteHoverRecord>> log) : mLog(std::move(log)) {}
    void observeCursorHoveringOver(const std::optional<QString>& note, Point viewPoint) override
    {
        mLog->push_back({note, viewPoint});
    }

private:
    std::shared_ptr<std::vector<NoteHoverRecord>> mLog;
};

// Registers a recording note-hover factory for its lifetime.
struct ScopedRecordingNoteHover
{
    ScopedRecordingNoteHover()
    {
        NoteHoverUtility::setFactory([log = log](std::weak_ptr<NoteHoverUtilityDelegate>) {
            return std::make_unique<RecordingNoteHover>(log);
        });
    }
    ~ScopedRecordingNoteHover() { NoteHoverUtility::setFactory({}); }
    ScopedRecordingNoteHover(const ScopedRecordingNoteHover&) = delete;
    ScopedRecordingNoteHover& operator=(const ScopedRecordingNoteHover&) = delete;

    std::shared_ptr<std::vector<NoteHoverRecord>> log = std::make_shared<std::vector<NoteHoverRecord>>();
};

// A document window: a Window that offers a container view.
class RecordingDocumentWindow : public Window, public DocumentWindowServices
{
public:
    explicit RecordingDocumentWindow(Size size) : Window(size) {}
    std::shared_ptr<View> containerView() const override { return container; }
    std::shared_ptr<View> container;
};

// A key window whose flipped content view holds a solar system filling it (in a document
// window, the content view is the container view).
struct SolarWindow
{
    explicit SolarWindow(Size size = Size(1000, 800), bool documentWindow = false)
    {
        if (documentWindow) {
            auto doc = std::make_shared<RecordingDocumentWindow>(size);
            documentServices = doc.get();
            window = doc;
        } else {
            window = Window::create(size);
        }
        content = BaseView::create(Rect(Point(), size));
        window->setContentView(content);
        if (documentServices)
            documentServices->container = content;
        solar = SolarSystem::create(Rect(Point(), size), QStringLiteral("temp:/doc"));
        solar->setDelegate(delegate);
        content->addSubview(solar);
        window->makeKeyWindow();
        View::runUpdateCycle();
    }
    ~SolarWindow() { window->close(); }
    SolarWindow(const SolarWindow&) = delete;
    SolarWindow& operator=(const SolarWindow&) = delete;

    // A point of the solar system (its own, flipped coordinates) in window coordinates.
    Point inWindow(Point local) const { return solar->convertPointToView(local, nullptr); }
    Point planetCentre(std::int64_t i) const;
    void send(const Event& event) { window->sendEvent(event); }

    std::shared_ptr<Window> window;
    RecordingDocumentWindow* documentServices = nullptr;
    std::shared_ptr<BaseView> content;
    std::shared_ptr<SolarSystem> solar;
    std::shared_ptr<RecordingSolarDelegate> delegate = std::make_shared<RecordingSolarDelegate>();
};

inline Point SolarWindow::planetCentre(std::int64_t i) const
{
    const auto planet = solar->ideaViewAtIndex(i);
    return planet ? inWindow(LayerExtensions::center(*planet)) : Point();
}

// A coloured idea of its own colour (one without would take the colour of its place).
inline IdeaPtr solarColouredIdea(const QString& text, int hue)
{
    IdeaPtr idea = Idea::initWithText(text);
    const int h = ((hue % 6) + 6) % 6;
    idea->setColor(Color::withRGB(QStringLiteral("solar%1").arg(h),
                                  RGBA{double(40 + 40 * h), double(200 - 25 * h), double(90 + 20 * h), 1.0}));
    return idea;
}

// An idea `text` with `children` children "<text>.j", all coloured.
inline IdeaPtr solarIdea(const QString& text, int children = 0)
{
    IdeaPtr idea = solarColouredIdea(text, int(text.size()));
    for (int j = 0; j < children; ++j)
        (void)idea->addIdea(solarColouredIdea(text + QStringLiteral(".%1").arg(j), j));
    return idea;
}

// Fills a view as the screen does: parent (when given), then the batch of centre and children.
inline void showIdea(SolarSystem& solar, const IdeaPtr& idea, const IdeaPtr& parent = nullptr)
{
    if (parent)
        solar.setParentIdea(parent, false);
    solar.startUpdate();
    solar.setCentralIdea(idea);
    for (const IdeaPtr& child : idea->ideas())
        solar.addIdea(child);
    solar.endUpdate();
}

// Angle difference modulo 2pi, into [0, pi].
inline double solarAngleGap(double a, double b)
{
    const double twoPi = 2 * 3.141592653589793;
    double d = std::fmod(std::fabs(a - b), twoPi);
    return std::min(d, twoPi - d);
}

} // namespace corvex::test
