#pragma once

#include <memory>

namespace corvex {

class View;

// What a NoteHoverUtility asks of the view it serves: where the note popover is shown from and
// whether it may be shown now. Main thread only.
class NoteHoverUtilityDelegate
{
public:
    virtual ~NoteHoverUtilityDelegate();

    virtual std::shared_ptr<View> hostViewForNoteHoverDisplay() = 0;
    virtual bool isNoteHoverDisplayAllowed() const = 0;
};

} // namespace corvex
