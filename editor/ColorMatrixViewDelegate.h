#pragma once

#include <memory>

namespace corvex {

class Color;

// Told of the colour a click on a ColorMatrixView chose. Main thread only.
class ColorMatrixViewDelegate
{
public:
    virtual ~ColorMatrixViewDelegate();
    virtual void handleColorSelection(const std::shared_ptr<Color>& color) = 0;
};

} // namespace corvex
