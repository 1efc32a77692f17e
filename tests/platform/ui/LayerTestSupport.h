#pragma once

// Shared pieces of the layer tests: layers that count on virtual time, a delegate whose
// replies a test scripts, and value printers for assertion messages.

#include "platform/gfx/Rect.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"
#include "tests/support/VirtualScheduler.h"

#include <QStringList>
#include <map>
#include <memory>
#include <ostream>

namespace corvex {

inline std::ostream& operator<<(std::ostream& os, Point p)
{
    return os << toString(p).toStdString();
}

inline std::ostream& operator<<(std::ostream& os, const Rect& r)
{
    return os << toString(r).toStdString();
}

} // namespace corvex

namespace corvex::test {

// A layer that has been through a commit, so that its changes animate implicitly. Runs the
// turn's implicit commit on the virtual clock.
inline std::shared_ptr<Layer> committedLayer(ScopedVirtualTime& time,
                                             const Rect& bounds = Rect(0, 0, 100, 50),
                                             Point position = Point(0, 0))
{
    auto layer = Layer::create();
    layer->setBounds(bounds);
    layer->setPosition(position);
    time.advance(0);
    return layer;
}

// Gives the action a test sets per key (no answer for the others) and records the keys it
// was asked about.
class ScriptedDelegate : public LayerDelegate
{
public:
    LayerAction actionForLayer(Layer&, const QString& key) override
    {
        asked.append(key);
        const auto it = replies.find(key);
        return it == replies.end() ? LayerAction::noAnswer() : it->second;
    }

    std::map<QString, LayerAction> replies;
    QStringList asked;
};

} // namespace corvex::test
