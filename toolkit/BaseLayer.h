#pragma once

#include "platform/ui/Layer.h"
#include "toolkit/VisualObject.h"

#include <memory>
#include <utility>

namespace corvex {

// The base of the system's own layers: anchored at the centre of its bounds, with contents
// drawn at the screen's scale (Globals::screenScale). Construction is in two phases, the
// constructor and then the preparation step (prepareBaseLayer), which runs once the whole
// object, subclass included, is built: make layers with create, createCopy or make<T> for
// subclasses. Main thread only.
class BaseLayer : public Layer, public VisualObject
{
public:
    // Unprepared: use the factories.
    BaseLayer();
    // The copy initialiser (presentation copies): Layer's copy, unprepared.
    BaseLayer(const BaseLayer& other);
    ~BaseLayer() override;

    static std::shared_ptr<BaseLayer> create();
    // A prepared copy of `other` (Layer's copy rules).
    static std::shared_ptr<BaseLayer> createCopy(const BaseLayer& other);

    // T constructed from `args` (a copy of a T when given one), then prepared.
    template <class T = BaseLayer, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto layer = std::make_shared<T>(std::forward<Args>(args)...);
        static_cast<BaseLayer&>(*layer).prepareBaseLayer();
        return layer;
    }

    // The C++ class name without namespace, for dumpTree.
    QString className() const override;

    // ---- VisualObject ----
    Point center() const override;
    Rect frame() const override { return Layer::frame(); }

protected:
    // Anchor point (0.5, 0.5) and the screen's contents scale.
    void prepareBaseLayer();
};

} // namespace corvex
