#pragma once

#include "platform/gfx/Point.h"
#include "platform/ui/Layer.h"

#include <memory>

namespace corvex {

// The connector from the central idea to the parent planet: a light-grey line, dashed {2, 2}
// when the parent is reached through a link. Drawn once, 1000 units long from (10, 2) to
// (990, 2) in bounds (0, 0, 1000, 4) anchored at its left end, and laid onto a segment by its
// transform (translate to the start, turn, scale by length / 1000), so moving the connector
// never redraws it; its thickness and dashes scale with it. Main thread only.
class LineLayer : public Layer
{
public:
    LineLayer(Point from, Point to, bool usesDash);
    // The presentation copy: the length, dash flag and angle.
    LineLayer(const LineLayer& other);
    ~LineLayer() override;

    static std::shared_ptr<LineLayer> create(Point from, Point to, bool usesDash);

    static constexpr float kLineLength = 1000;

    QString className() const override;

    // Sets the transform that lays the drawn line onto from -> to.
    void transformToLineFrom(Point from, Point to);
    // The same inside a transaction without implicit actions. A gliding connector (`immediate`
    // false) is never asked for; it is placed at once as well.
    void animateToLineFrom(Point from, Point to, bool immediate);

    float angle() const { return mAngle; }
    float lineLength() const { return mLineLen; }
    bool usesDash() const { return mUsesDash; }

    void drawInContext(GraphicsContext& context) override;

private:
    float mAngle = 0;
    float mLineLen = kLineLength;
    bool mUsesDash = false;
};

} // namespace corvex
