#pragma once

#include "toolkit/BaseLayer.h"

#include <memory>

namespace corvex {

// The orbit of the solar system: a thin light-grey circle of `radius` around the middle of
// the bounds, on which the child planets sit. It draws directly (Layer::drawsDirectly): no
// cached contents, the ring stroked at the target's resolution whenever the layer is
// composited; every radius set asks for a frame. Make it with create() (or
// BaseLayer::make<SolarSystemLayer>). Main thread only.
class SolarSystemLayer : public BaseLayer
{
public:
    // Marked for display.
    SolarSystemLayer();
    // The presentation copy: takes the radius through setRadius.
    SolarSystemLayer(const SolarSystemLayer& other);
    ~SolarSystemLayer() override;

    static std::shared_ptr<SolarSystemLayer> create();

    // The orbit radius of the normal layout, from which the solar-system view derives its
    // radii.
    static int naturalRadius() { return 202; }

    QString className() const override;

    // Stores the radius and marks the layer for display (a new frame), also when it is
    // unchanged.
    void setRadius(double radius);
    double radius() const { return mRadius; }

    void drawInContext(GraphicsContext& context) override;

private:
    double mRadius = 0;
};

} // namespace corvex
