#pragma once

namespace corvex {

// Red, green and blue 0..255, alpha 0..1.
struct RGBA
{
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;
};

// Hue in degrees [0, 360), saturation, value and alpha 0..1.
struct HSVA
{
    double hue = 0;
    double saturation = 0;
    double value = 0;
    double alpha = 0;
};

// The colour arithmetic of the system on plain numbers: conversion between RGB and HSV
// quadruples and the recolouring of one pixel towards a target colour. Tinting whole images
// towards a Color needs the model's colours and lives in the toolkit layer above it.
// Stateless; safe from any thread.
//
// The steps narrow to float at fixed points, so that HSV values stored in documents come
// out the same on every machine. Every output is written, whatever the input: a NaN
// component, or any other non-finite one but the hue, makes the three colour outputs 0; a
// non-finite alpha gives alpha 0; hues outside [0, 360), infinite ones included, still give
// a colour (see HSVToRGB).
class ColorSpaceConverter
{
public:
    ColorSpaceConverter() = delete;

    static void RGBToHSV(const RGBA& rgb, HSVA& hsv);
    // A hue of 360 or more counts as 0, as does -infinity; a negative hue wraps around the
    // circle (-90 is 270). Saturation and value are not clamped.
    static void HSVToRGB(const HSVA& hsv, RGBA& rgb);
    // The pixel recoloured towards `targetHSV`, relative to the image's reference colour
    // `imageHSV`; the pixel keeps its alpha.
    static RGBA transformPixel(const RGBA& pixel, const HSVA& imageHSV, const HSVA& targetHSV);
};

} // namespace corvex
