#include "overview/PageTextLine.h"

#include "platform/gfx/GraphicsContext.h"

#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>
#include <QRawFont>
#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Wide enough for any line set without wrapping.
constexpr double kUnwrappedLineWidth = 1.0e6;

bool endsPageParagraph(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator ||
           c == QChar::LineSeparator;
}

// Characters of emoji and their sequences: outside the basic plane, symbols, variation
// selectors, the joiner and the keycap mark.
bool isEmojiPart(QChar c)
{
    const char16_t u = c.unicode();
    return c.isSurrogate() || (u >= 0x2000 && u <= 0x2BFF) || (u >= 0xFE00 && u <= 0xFE0F) || u == 0x200D ||
           u == 0x20E3;
}

// Raster scale of colour glyphs placed as pictures.
constexpr double kColorGlyphScale = 4;

bool losesColorGlyphs(const QPainter& painter)
{
    const QPaintEngine* engine = painter.paintEngine();
    return engine && (engine->type() == QPaintEngine::Pdf || engine->type() == QPaintEngine::Picture);
}

// PDF output (a printer's too) has no colour glyphs: the emoji face's glyphs would be left
// out, so they are drawn as pictures where the text puts them.
void drawColorGlyphs(QPainter& painter, const QTextLine& line, QPointF offset)
{
    if (!losesColorGlyphs(painter))
        return;
    for (const QGlyphRun& run : line.glyphRuns()) {
        if (!run.rawFont().familyName().contains(QStringLiteral("Emoji"), Qt::CaseInsensitive))
            continue;
        const QRectF box = run.boundingRect();
        const QSize pixels(int(std::ceil(box.width() * kColorGlyphScale)),
                           int(std::ceil(box.height() * kColorGlyphScale)));
        if (box.isEmpty() || pixels.isEmpty())
            continue;
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter glyphs(&image);
            glyphs.scale(kColorGlyphScale, kColorGlyphScale);
            glyphs.translate(-box.topLeft());
            glyphs.drawGlyphRun(QPointF(0, 0), run);
        }
        painter.drawImage(QRectF(box.topLeft() + offset, box.size()), image);
    }
}

} // namespace

PageTextLine::PageTextLine(const AttributedString& text, double width)
{
    const QString& string = text.string();
    qsizetype end = 0;
    while (end < string.size() && !endsPageParagraph(string[end]))
        ++end;
    if (end == 0)
        return;
    std::unique_ptr<QTextLayout> layout = text.createTextLayout(0, end);
    QTextOption option;
    option.setWrapMode(width > 0 ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTextDirection(QStringView(string).first(end).isRightToLeft() ? Qt::RightToLeft
                                                                           : Qt::LeftToRight);
    option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    option.setUseDesignMetrics(true);
    layout->setTextOption(option);
    avoidLigatures(*layout);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid())
        line.setLineWidth(width > 0 ? width : kUnwrappedLineWidth);
    layout->endLayout();
    if (layout->lineCount() > 0)
        mLayout = std::move(layout);
}

PageTextLine::~PageTextLine() = default;

qsizetype PageTextLine::length() const
{
    return mLayout ? mLayout->lineAt(0).textLength() : 0;
}

double PageTextLine::width() const
{
    return mLayout ? mLayout->lineAt(0).naturalTextWidth() : 0;
}

double PageTextLine::ascent() const
{
    return mLayout ? mLayout->lineAt(0).ascent() : 0;
}

double PageTextLine::descent() const
{
    return mLayout ? mLayout->lineAt(0).descent() : 0;
}

void PageTextLine::drawAtBaseline(GraphicsContext& context, Point origin) const
{
    if (mLayout)
        drawLine(context, mLayout->lineAt(0), origin);
}

void PageTextLine::avoidLigatures(QTextLayout& layout)
{
    const QString& text = layout.text();
    QList<QTextLayout::FormatRange> split;
    for (const QTextLayout::FormatRange& range : layout.formats()) {
        QTextLayout::FormatRange plain = range;
        QFont font = range.format.font();
        font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
        plain.format.setFont(font);
        // Emoji sequences (skin tones, joined emoji) need their shaping; the rest goes without.
        int start = range.start;
        const int end = std::min<int>(range.start + range.length, int(text.size()));
        while (start < end) {
            const bool emoji = isEmojiPart(text[start]);
            int stop = start + 1;
            while (stop < end && isEmojiPart(text[stop]) == emoji)
                ++stop;
            QTextLayout::FormatRange piece = emoji ? range : plain;
            piece.start = start;
            piece.length = stop - start;
            split.append(piece);
            start = stop;
        }
    }
    layout.setFormats(split);
}

void PageTextLine::drawLine(GraphicsContext& context, const QTextLine& line, Point origin)
{
    QPainter* painter = context.painter();
    if (painter == nullptr || !line.isValid())
        return;
    const QTransform device = painter->combinedTransform();
    const bool yUp = device.m11() * device.m22() - device.m12() * device.m21() < 0;
    painter->save();
    painter->translate(origin.x, origin.y);
    if (yUp)
        painter->scale(1, -1);
    const QPointF offset(-line.x(), -line.y() - line.ascent());
    line.draw(painter, offset);
    drawColorGlyphs(*painter, line, offset);
    painter->restore();
}

} // namespace corvex
