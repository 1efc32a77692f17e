#include "platform/gfx/ColorGlyphPictures.h"

#include "platform/gfx/PlatformFont.h"

#include <QGlyphRun>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QRawFont>
#include <QTextLine>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// A picture never grows past this many pixels a side, whatever the page's zoom.
constexpr int kLargestPictureSide = 4096;

bool losesColorGlyphs(const QPainter& painter)
{
    const QPaintEngine* engine = painter.paintEngine();
    return engine && (engine->type() == QPaintEngine::Pdf || engine->type() == QPaintEngine::Picture);
}

// Pixels of the picture per unit of the painter's current space.
double pixelsPerUnit(const QPainter& painter)
{
    const QTransform t = painter.combinedTransform();
    const double scale = std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
    const QPaintDevice* device = painter.device();
    const int deviceDpi = device ? std::max(1, device->logicalDpiX()) : 72;
    return std::max(scale, 1e-6) * ColorGlyphPictures::kPrintDpi / deviceDpi;
}

} // namespace

void ColorGlyphPictures::drawAfterLine(QPainter& painter, const QTextLine& line, QPointF offset)
{
    if (!losesColorGlyphs(painter) || !line.isValid())
        return;
    static const QString colorFace = PlatformFont::colorEmojiFont(QFont()).families().value(0);
    const double scale = pixelsPerUnit(painter);
    for (const QGlyphRun& run : line.glyphRuns()) {
        if (run.rawFont().familyName() != colorFace)
            continue;
        const QRectF box = run.boundingRect();
        if (box.isEmpty())
            continue;
        const double s = std::min(scale, kLargestPictureSide / std::max(box.width(), box.height()));
        const QSize pixels(int(std::ceil(box.width() * s)), int(std::ceil(box.height() * s)));
        if (pixels.isEmpty())
            continue;
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter glyphs(&image);
            glyphs.setRenderHint(QPainter::SmoothPixmapTransform);
            glyphs.scale(s, s);
            glyphs.translate(-box.topLeft());
            glyphs.drawGlyphRun(QPointF(0, 0), run);
        }
        painter.drawImage(QRectF(box.topLeft() + offset, box.size()), image);
    }
}

} // namespace corvex
