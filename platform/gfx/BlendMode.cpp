#include "platform/gfx/BlendMode.h"

namespace corvex {

QPainter::CompositionMode compositionModeFor(BlendMode mode)
{
    switch (mode) {
    case BlendMode::Normal:
        return QPainter::CompositionMode_SourceOver;
    case BlendMode::Multiply:
        return QPainter::CompositionMode_Multiply;
    case BlendMode::Screen:
        return QPainter::CompositionMode_Screen;
    case BlendMode::Overlay:
        return QPainter::CompositionMode_Overlay;
    case BlendMode::Darken:
        return QPainter::CompositionMode_Darken;
    case BlendMode::Lighten:
        return QPainter::CompositionMode_Lighten;
    case BlendMode::ColorDodge:
        return QPainter::CompositionMode_ColorDodge;
    case BlendMode::ColorBurn:
        return QPainter::CompositionMode_ColorBurn;
    case BlendMode::SoftLight:
        return QPainter::CompositionMode_SoftLight;
    case BlendMode::HardLight:
        return QPainter::CompositionMode_HardLight;
    case BlendMode::Difference:
        return QPainter::CompositionMode_Difference;
    case BlendMode::Exclusion:
        return QPainter::CompositionMode_Exclusion;
    case BlendMode::Clear:
        return QPainter::CompositionMode_Clear;
    case BlendMode::Copy:
        return QPainter::CompositionMode_Source;
    case BlendMode::SourceIn:
        return QPainter::CompositionMode_SourceIn;
    case BlendMode::SourceOut:
        return QPainter::CompositionMode_SourceOut;
    case BlendMode::SourceAtop:
        return QPainter::CompositionMode_SourceAtop;
    case BlendMode::DestinationOver:
        return QPainter::CompositionMode_DestinationOver;
    case BlendMode::DestinationIn:
        return QPainter::CompositionMode_DestinationIn;
    case BlendMode::DestinationOut:
        return QPainter::CompositionMode_DestinationOut;
    case BlendMode::DestinationAtop:
        return QPainter::CompositionMode_DestinationAtop;
    case BlendMode::XOR:
        return QPainter::CompositionMode_Xor;
    case BlendMode::PlusLighter:
        return QPainter::CompositionMode_Plus;
    // No QPainter counterpart; nothing in the system draws with these.
    case BlendMode::Hue:
    case BlendMode::Saturation:
    case BlendMode::Color:
    case BlendMode::Luminosity:
    case BlendMode::PlusDarker:
        return QPainter::CompositionMode_SourceOver;
    }
    return QPainter::CompositionMode_SourceOver;
}

BlendMode blendModeFromNumber(int number)
{
    if (number < static_cast<int>(BlendMode::Normal) || number > static_cast<int>(BlendMode::PlusLighter))
        return BlendMode::Normal;
    return static_cast<BlendMode>(number);
}

} // namespace corvex
