#pragma once

#include "platform/gfx/Rect.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace corvex {

class Event;
class Menu;

// What the solar-system view asks of the screen that shows it: every user request that would
// change the document leaves the view here, with idea identifiers; the screen changes the
// tree, saves and updates the view. Every call comes on the main thread.
class SolarSystemDelegate
{
public:
    virtual ~SolarSystemDelegate();

    // An adder was clicked (its index in the adder list and its frame) or the space bar was
    // pressed (the last planet's index, -1 without planets). The rectangle is in the view's
    // coordinates.
    virtual void onAddNewIdeaAfterIndex(std::int64_t index, const Rect& fromRect) = 0;
    // A double click on a planet or a click on the centre.
    virtual void onEditIdea(const QString& ideaIdentifier) = 0;
    // A single click on a planet, 0.3 s after it, unless a double click came.
    virtual void onDrillDownTo(const QString& ideaIdentifier) = 0;
    // A click on the parent.
    virtual void onDrillUp() = 0;
    // A long press or a drag begins on a planet: its frame (view coordinates) and the mouse
    // event that started the drag.
    virtual void startDragForIdea(const QString& ideaIdentifier, const Rect& fromRect,
                                  const Event& event) = 0;
    // A right click on a planet, the centre or the parent: the menu to show, or null.
    virtual std::shared_ptr<Menu> onRightClickAtIdea(const QString& ideaIdentifier) = 0;
};

} // namespace corvex
