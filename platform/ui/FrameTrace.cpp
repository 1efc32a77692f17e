#include "platform/ui/FrameTrace.h"

#include "platform/core/Log.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"
#include "platform/ui/TypeName.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <typeinfo>
#include <vector>

namespace corvex {

namespace {

constexpr std::size_t kPhases = 5;
// At most this many labels of a phase are itemised in a line.
constexpr std::size_t kItemised = 6;

struct OpenPhase
{
    FrameTrace::Phase phase;
    QString label;
    double start = 0;
    double nested = 0; // time of the phases opened inside this one
    bool idle = false; // the event loop waiting inside the phase: charged to nobody
};

struct Spent
{
    double seconds = 0;
    int count = 0;
};

// What the frame being made has cost so far.
struct TraceState
{
    std::function<double()> clock;
    std::vector<OpenPhase> open;
    std::array<double, kPhases> phases{};
    std::array<std::map<QString, Spent>, kPhases> items; // labelled time by phase
    bool requested = false;
    double requestedAt = 0;
    double paintedAt = 0;
    bool watchingIdle = false;

    void clearFrame()
    {
        phases.fill(0);
        for (auto& labelled : items)
            labelled.clear();
        requested = false;
        requestedAt = 0;
    }
};

TraceState& trace()
{
    static TraceState state;
    return state;
}

double traceNow()
{
    TraceState& t = trace();
    if (t.clock)
        return t.clock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QString milliseconds(double seconds)
{
    return QStringLiteral("%1 ms").arg(seconds * 1000.0, 0, 'f', 1);
}

QString layerLabel(Layer& layer)
{
    // A view's backing layer is a plain Layer: the view that draws it names it.
    if (typeid(layer) == typeid(Layer)) {
        if (const std::shared_ptr<LayerDelegate> delegate = layer.delegate())
            return unqualifiedTypeName(typeid(*delegate));
    }
    return unqualifiedTypeName(typeid(layer));
}

// A phase's time and, in brackets, its labelled parts, most costly first.
QString phasePart(const TraceState& t, FrameTrace::Phase phase, const char* name)
{
    QString part =
        QStringLiteral("%1 %2").arg(QLatin1String(name), milliseconds(t.phases[std::size_t(phase)]));
    std::vector<std::pair<QString, Spent>> labelled(t.items[std::size_t(phase)].begin(),
                                                    t.items[std::size_t(phase)].end());
    if (labelled.empty())
        return part;
    std::sort(labelled.begin(), labelled.end(),
              [](const auto& a, const auto& b) { return a.second.seconds > b.second.seconds; });
    QStringList shown;
    for (std::size_t i = 0; i < labelled.size() && i < kItemised; ++i)
        shown << QStringLiteral("%1 %2 x%3")
                     .arg(labelled[i].first, milliseconds(labelled[i].second.seconds))
                     .arg(labelled[i].second.count);
    if (labelled.size() > kItemised)
        shown << QStringLiteral("%1 more").arg(labelled.size() - kItemised);
    return part + QStringLiteral(" (%1)").arg(shown.join(QStringLiteral(", ")));
}

// The line of a frame over the budget: its work by phase, drawings by layer class and
// layers composited through images of their own.
QString slowFrameLine(const TraceState& t, double total)
{
    using Phase = FrameTrace::Phase;
    QString line = QStringLiteral("Frame trace: a frame took %1: ").arg(milliseconds(total));
    line += QStringList{phasePart(t, Phase::MainQueue, "main queue"), phasePart(t, Phase::Events, "events"),
                        phasePart(t, Phase::Layout, "layout"), phasePart(t, Phase::Drawing, "drawing"),
                        phasePart(t, Phase::Composite, "composite")}
                .join(QStringLiteral(", "));
    if (t.requested)
        line += QStringLiteral("; %1 from its request until painted")
                    .arg(milliseconds(t.paintedAt - t.requestedAt));
    return line;
}

// Charges a phase's own time, under its label too.
void charge(TraceState& t, const OpenPhase& phase, double own)
{
    if (phase.idle || !(own > 0))
        return;
    t.phases[std::size_t(phase.phase)] += own;
    if (!phase.label.isEmpty())
        t.items[std::size_t(phase.phase)][phase.label].seconds += own;
}

// A nested event loop (a drag, a menu, a modal panel) waits inside the phase that runs it:
// the wait is nobody's work.
void watchIdle(TraceState& t)
{
    if (t.watchingIdle || !QCoreApplication::instance() ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    t.watchingIdle = true;
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [] {
        TraceState& state = trace();
        if (FrameTrace::isOn() && !state.open.empty())
            state.open.push_back(OpenPhase{FrameTrace::Phase::Events, QString(), traceNow(), 0, true});
    });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [] {
        TraceState& state = trace();
        if (state.open.empty() || !state.open.back().idle)
            return;
        const double waited = std::max(traceNow() - state.open.back().start, 0.0);
        state.open.pop_back();
        if (!state.open.empty())
            state.open.back().nested += waited;
    });
}

void openPhase(FrameTrace::Phase phase, const QString& label)
{
    TraceState& t = trace();
    watchIdle(t);
    t.open.push_back(OpenPhase{phase, label, traceNow(), 0, false});
}

} // namespace

bool FrameTrace::sOn = qEnvironmentVariableIsSet("CORVEX_FRAME_TRACE");

void FrameTrace::setOn(bool on)
{
    TraceState& t = trace();
    t.open.clear();
    t.clearFrame();
    sOn = on;
}

void FrameTrace::setClock(std::function<double()> clock)
{
    trace().clock = std::move(clock);
}

FrameTrace::Scope::Scope(Phase phase, const QString& label)
{
    if (!sOn)
        return;
    mActive = true;
    openPhase(phase, label);
}

FrameTrace::Scope::Scope(Phase phase, Layer& layer)
{
    if (!sOn)
        return;
    mActive = true;
    openPhase(phase, layerLabel(layer));
}

FrameTrace::Scope::~Scope()
{
    TraceState& t = trace();
    // The trace switched meanwhile: nothing of this phase is kept.
    if (!mActive || !sOn || t.open.empty())
        return;
    // A wait still open here ended with the phase (a loop left without waking).
    while (t.open.size() > 1 && t.open.back().idle)
        t.open.pop_back();
    const OpenPhase ended = std::move(t.open.back());
    t.open.pop_back();
    const double elapsed = std::max(traceNow() - ended.start, 0.0);
    charge(t, ended, elapsed - ended.nested);
    if (!ended.label.isEmpty())
        ++t.items[std::size_t(ended.phase)][ended.label].count;
    if (!t.open.empty())
        t.open.back().nested += elapsed;
    else if (!t.requested)
        t.clearFrame(); // work after which no frame waits asked for none
}

FrameTrace::Phase FrameTrace::phaseOfEvent(const QEvent& event)
{
    switch (event.type()) {
    case QEvent::MetaCall:
    case QEvent::Timer:
        return Phase::MainQueue;
    case QEvent::Paint:
    case QEvent::UpdateRequest:
        return Phase::Composite;
    default:
        return Phase::Events;
    }
}

void FrameTrace::frameRequested()
{
    if (!sOn)
        return;
    TraceState& t = trace();
    if (!t.requested) {
        t.requested = true;
        t.requestedAt = traceNow();
    }
}

void FrameTrace::framePainted()
{
    if (!sOn)
        return;
    TraceState& t = trace();
    const double now = traceNow();
    t.paintedAt = now;
    // The phases still open have worked for this frame so far; from here on they work for
    // the next one.
    double inner = 0;
    for (auto it = t.open.rbegin(); it != t.open.rend(); ++it) {
        const double soFar = std::max(now - it->start, 0.0);
        charge(t, *it, soFar - it->nested - inner);
        inner = soFar;
    }
    for (OpenPhase& open : t.open) {
        open.start = now;
        open.nested = 0;
    }
    double total = 0;
    for (double seconds : t.phases)
        total += seconds;
    if (total > kBudgetSeconds)
        Log::info(slowFrameLine(t, total));
    t.clearFrame();
}

} // namespace corvex
