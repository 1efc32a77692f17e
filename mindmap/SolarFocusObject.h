#pragma once

#include "platform/gfx/Rect.h"

#include <QtGlobal>
#include <memory>

namespace corvex {

class VisualObject;

// The place under a dragged idea that would take it: the parent planet (drop into the parent),
// an adder slot (insert there) or a planet (make it a child of that planet). A new focus object
// is made on every update; the screen reads it right after. Main thread only.
class SolarFocusObject
{
public:
    enum FocusType : quint64
    {
        ParentFocus = 0,
        PlanetFocus = 2,
        AdderFocus = 3,
    };

    // The target (parent view, adder or planet layer; held), its type and its index in the
    // view's lists (0 for the parent).
    SolarFocusObject(std::shared_ptr<VisualObject> object, quint64 focusType, qint64 index);

    quint64 focusType() const { return mFocusType; }
    qint64 index() const { return mIndex; }
    const std::shared_ptr<VisualObject>& object() const { return mObject; }

    // In the view's coordinates: a planet's frame inset by 0.2 of its width and height on each
    // side (the middle 60 %), any other target's frame, the zero rectangle without a target.
    Rect focusRect() const;

private:
    std::shared_ptr<VisualObject> mObject;
    quint64 mFocusType = ParentFocus;
    qint64 mIndex = 0;
};

} // namespace corvex
