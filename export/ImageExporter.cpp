#include "export/ImageExporter.h"

#include "export/WebExportPreview.h"
#include "graphics/ImageBuilder.h"
#include "graphics/QVImage.h"
#include "model/Globals.h"
#include "overview/GraphTileFactory.h"
#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Rounding slack of a scaled side before it is truncated to whole pixels.
constexpr double kPixelSlack = 1.0e-3;

} // namespace

QByteArray ImageExporter::generatePNGImageFromIdea(const IdeaPtr& idea, bool withTransparency)
{
    if (!idea)
        return {};
    const GraphTileFactory factory(idea, nullptr, false);
    return generatePNGImageWithFactory(factory, withTransparency);
}

QByteArray ImageExporter::generatePNGImageFromCenteredIdea(const IdeaPtr& idea)
{
    if (!idea)
        return {};
    const GraphTileFactory factory(idea, nullptr, true);
    return generatePNGImageWithFactory(factory, false);
}

QByteArray ImageExporter::generatePNGImageWithFactory(const GraphTileFactory& factory, bool withTransparency)
{
    const Size content = factory.contentSize();
    const float cw = float(content.width);
    const float ch = float(content.height);
    if (!(cw > 0) || !(ch > 0))
        return {};
    const float zoom = std::min(float(MaxWidth) / cw, 1.0f);
    // A capped width is the cap itself: the single-precision product can fall a hair short
    // of it and lose a column to the truncation.
    const double width = zoom < 1.0f ? MaxWidth : std::floor(double(cw));
    const double height = std::floor(double(ch * zoom) + kPixelSlack);
    ImageBuilder builder;
    GraphicsContext* context = builder.startWithSize(width, height);
    if (!context) {
        (void)builder.consumeImage();
        Log::error(QStringLiteral("Image export: no bitmap of %1 x %2 pixels").arg(width).arg(height));
        return {};
    }
    if (!withTransparency) {
        context->setFillColor(Globals::colorWhite());
        context->fillRect(Rect(0, 0, width, height));
    }
    // The factory draws with y downward.
    context->translateCTM(0, height);
    context->scaleCTM(1, -1);
    factory.drawTile(Rect(0, 0, double(cw), double(ch)), double(zoom), *context);
    const PlatformImage image = builder.consumeImage();
    if (image.isNull() || image.representations().empty())
        return {};
    return QVImage(image.representations().front()).pngData();
}

void registerWebExportPreview()
{
    WebExportPreview::registerRenderer([](const Idea& root) {
        // The factory holds the tree by shared pointer; a tree without one cannot be drawn.
        const IdeaPtr tree = std::const_pointer_cast<Idea>(root.weak_from_this().lock());
        return tree ? ImageExporter::generatePNGImageFromIdea(tree, false) : QByteArray();
    });
}

} // namespace corvex
