#pragma once

#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Layer.h"

#include <memory>

namespace corvex {

// The picture of the big adder: "home_view_plus", or "home_view_plus_active" while pressed,
// stretched over the layer. Main thread only.
class BigAdderLayer : public Layer
{
public:
    BigAdderLayer();
    BigAdderLayer(const BigAdderLayer& other);
    ~BigAdderLayer() override;
    static std::shared_ptr<BigAdderLayer> create();

    bool pressed() const { return mPressed; }
    void setPressed(bool pressed);

    void drawInContext(GraphicsContext& context) override;

private:
    void prepare();

    PlatformImage mImage;
    PlatformImage mActiveImage;
    bool mPressed = false;
};

} // namespace corvex
