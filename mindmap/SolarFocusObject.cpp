#include "mindmap/SolarFocusObject.h"

#include "toolkit/VisualObject.h"

#include <utility>

namespace corvex {

namespace {

// The share of a planet's side cut off on each side of its focus rectangle.
constexpr float kSolarFocusInset = 0.2f;

} // namespace

SolarFocusObject::SolarFocusObject(std::shared_ptr<VisualObject> object, quint64 focusType, qint64 index)
    : mObject(std::move(object)), mFocusType(focusType), mIndex(index)
{}

Rect SolarFocusObject::focusRect() const
{
    if (!mObject)
        return Rect();
    const Rect frame = mObject->frame();
    if (mFocusType != PlanetFocus)
        return frame;
    const double dx = kSolarFocusInset * float(frame.size.width);
    const double dy = kSolarFocusInset * float(frame.size.height);
    return Rect(frame.origin.x + dx, frame.origin.y + dy, frame.size.width - 2 * dx,
                frame.size.height - 2 * dy);
}

} // namespace corvex
