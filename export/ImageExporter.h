#pragma once

#include "model/Idea.h"

#include <QByteArray>

namespace corvex {

class GraphTileFactory;

// An idea tree as one PNG: the overview graph at its natural size, shrunk only to keep the
// width within 4096 pixels (a tall narrow tree may be taller), on white or on a transparent
// background. Runs on the caller's thread with the tree it is given; the factory forms read
// only their factory. Empty data when the image cannot be made (a content too large for an
// offscreen bitmap, or nothing to draw): callers report that as a failure.
class ImageExporter
{
public:
    ImageExporter() = delete;

    static constexpr double MaxWidth = 4096;

    static QByteArray generatePNGImageFromIdea(const IdeaPtr& idea, bool withTransparency);
    // Centred on the root, on white.
    static QByteArray generatePNGImageFromCenteredIdea(const IdeaPtr& idea);
    static QByteArray generatePNGImageWithFactory(const GraphTileFactory& factory, bool withTransparency);
};

// Gives the web export its preview (the tree on white). Called once at start-up (tests call
// it themselves).
void registerWebExportPreview();

} // namespace corvex
