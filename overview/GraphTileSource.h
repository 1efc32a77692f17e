#pragma once

#include "platform/gfx/Rect.h"

#include <QImage>
#include <atomic>

namespace corvex {

// Where a tiled view gets its tile images: any thread, concurrently with the main thread's
// use of the source. The tile factory is the real one; tests count and block with fakes.
class GraphTileSource
{
public:
    virtual ~GraphTileSource();
    // A new image of `pixelSize` showing the content rectangle, content y downward from the
    // image's top row. Null when nothing can be drawn. When `keepGoing` turns false the
    // drawing may stop early (the image is then not used).
    virtual QImage createTile(const Rect& rect, Size pixelSize, const std::atomic<bool>* keepGoing) const = 0;
};

} // namespace corvex
