#pragma once

#include "platform/gfx/Rect.h"

namespace corvex {

class GraphicsContext;

// The page provider of a NoteRenderer: it opens each note page and closes it again. Called
// on the renderer's thread, one page open at a time.
class NoteRendererDelegate
{
public:
    virtual ~NoteRendererDelegate();

    // Begins a page: fills `pageRect` with the rectangle to lay out in (y up) and answers the
    // context to draw it with, owned by the delegate and valid until endNotePage. Null when
    // no page can be made: the renderer then draws nothing more.
    virtual GraphicsContext* startNotePage(Rect* pageRect) = 0;
    // Ends the page begun last.
    virtual void endNotePage() = 0;
};

} // namespace corvex
