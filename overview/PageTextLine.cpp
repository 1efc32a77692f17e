#include "overview/PageTextLine.h"

#include "platform/gfx/ColorGlyphPictures.h"
#include "platform/gfx/EmojiClusters.h"
#include "platform/gfx/GraphicsContext.h"

#include <QPainter>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <vector>

namespace corvex {

namespace {

// Wide enough for any line set without wrapping.
constexpr double kUnwrappedLineWidth = 1.0e6;

bool endsPageParagraph(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator ||
           c == QChar::LineSeparator;
}

// Scripts whose shaping only makes ligatures and the like: their text is as legible without.
bool shapesOnlyForLooks(QChar::Script script)
{
    return script == QChar::Script_Latin || script == QChar::Script_Greek ||
           script == QChar::Script_Cyrillic || script == QChar::Script_Common;
}

// For each UTF-16 unit: whether its text may go without shaping. Arabic, Hebrew points,
// Hangul jamo and every other script that needs its shaping keep it, and so do emoji
// sequences (skin tones, joined emoji). Marks, spaces and punctuation go with the script
// before them (the one after at the start), so a mark stays with its letter.
std::vector<bool> shapingIsCosmetic(const QString& text)
{
    std::vector<QChar::Script> scripts(std::size_t(text.size()), QChar::Script_Common);
    QChar::Script strong = QChar::Script_Common;
    qsizetype firstStrong = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        const QChar::Script script = QChar::script(code);
        if (script != QChar::Script_Common && script != QChar::Script_Inherited) {
            strong = script;
            if (firstStrong < 0)
                firstStrong = i;
        }
        for (qsizetype k = 0; k < units; ++k)
            scripts[std::size_t(i + k)] = strong;
        i += units - 1;
    }
    if (firstStrong > 0)
        std::fill(scripts.begin(), scripts.begin() + firstStrong, scripts[std::size_t(firstStrong)]);
    std::vector<bool> cosmetic(scripts.size());
    for (std::size_t i = 0; i < scripts.size(); ++i)
        cosmetic[i] = shapesOnlyForLooks(scripts[i]);
    // A keycap's digit goes with its mark.
    for (const EmojiClusters::Range& cluster : EmojiClusters::find(text))
        std::fill_n(cosmetic.begin() + cluster.start, cluster.length, false);
    return cosmetic;
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
    const std::vector<bool> plain = shapingIsCosmetic(text);
    QList<QTextLayout::FormatRange> split;
    for (const QTextLayout::FormatRange& range : layout.formats()) {
        QTextLayout::FormatRange unshaped = range;
        QFont font = range.format.font();
        font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
        unshaped.format.setFont(font);
        int start = range.start;
        const int end = std::min<int>(range.start + range.length, int(text.size()));
        while (start < end) {
            const bool cosmetic = plain[std::size_t(start)];
            int stop = start + 1;
            while (stop < end && plain[std::size_t(stop)] == cosmetic)
                ++stop;
            QTextLayout::FormatRange piece = cosmetic ? unshaped : range;
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
    ColorGlyphPictures::drawAfterLine(*painter, line, offset);
    painter->restore();
}

} // namespace corvex
