#pragma once

#include "platform/gfx/PlatformImage.h"

#include <memory>

namespace corvex {

class Color;

// The recolouring of images towards a Color, pixel by pixel: the half of the colour
// arithmetic that needs the model's colours (the numbers live in ColorSpaceConverter).
//
// Both operations take the image's pixels at its best representation for the screen scale,
// work on RGBA premultiplied bytes and answer a new image of the source's size in points
// over a buffer of the same pixel size. A null colour counts as all components 0; a null or
// empty image gives the null image. Stateless; safe from any thread.
class ColorImageTinting
{
public:
    ColorImageTinting() = delete;

    // The image's shape filled with the colour: a pixel of alpha byte a becomes the colour's
    // red, green and blue times a / 255 (as a float), truncated, with alpha a. The pixel's
    // own colour and the colour's alpha are not used.
    static PlatformImage transformImage(const PlatformImage& image, const std::shared_ptr<Color>& color);
    // Recoloured in hue-saturation-value space (ColorSpaceConverter::transformPixel), relative
    // to the colour of the image's centre pixel (row height / 2, column width / 2); a fully
    // transparent centre gives the all-zero reference. Transparent pixels stay (0, 0, 0, 0).
    static PlatformImage transformImageWithRealTransform(const PlatformImage& image,
                                                         const std::shared_ptr<Color>& color);
};

} // namespace corvex
