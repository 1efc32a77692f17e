#include "platform/gfx/AttributedString.h"

#include "platform/gfx/ColorGlyphPictures.h"
#include "platform/gfx/EmojiClusters.h"
#include "platform/gfx/GraphicsContext.h"

#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex {

namespace {

// A line width that never wraps (QTextLine keeps widths as 26.6 fixed point: stay far below
// its limit).
constexpr double kUnlimitedWidth = 1.0e6;
// The default distance between tab stops, in points.
constexpr double kTabInterval = 28.0;
// Rounding slack when deciding whether a line fits a height.
constexpr double kFitSlack = 0.01;

const QChar kEllipsis(0x2026);

bool isParagraphTerminator(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator;
}

QTextCharFormat charFormat(const TextAttributes& attributes)
{
    QFont font = attributes.font.qfont();
    if (attributes.kern != 0 && std::isfinite(attributes.kern))
        font.setLetterSpacing(QFont::AbsoluteSpacing, attributes.kern);
    QTextCharFormat format;
    format.setFont(font, QTextCharFormat::FontPropertiesAll);
    format.setForeground(attributes.foregroundColor.toBrush());
    return format;
}

QFont baseFont(const TextAttributes& attributes)
{
    QFont font = attributes.font.qfont();
    if (attributes.kern != 0 && std::isfinite(attributes.kern))
        font.setLetterSpacing(QFont::AbsoluteSpacing, attributes.kern);
    return font;
}

// A piece of the text a layout is made of: a range of the source, or an ellipsis that takes
// the attributes at a source position.
struct Piece
{
    qsizetype start = 0;
    qsizetype end = 0;
    bool ellipsis = false;
};

// The ranges cut where emoji clusters begin and end, the clusters set in the colour emoji face:
// left to font fallback, a sequence's characters would come from several faces, some without
// colour ("1" and an empty box for a keycap).
QList<QTextLayout::FormatRange> withColorEmoji(const QString& text,
                                               const QList<QTextLayout::FormatRange>& formats)
{
    const std::vector<EmojiClusters::Range> clusters = EmojiClusters::find(text);
    if (clusters.empty())
        return formats;
    QList<QTextLayout::FormatRange> split;
    for (const QTextLayout::FormatRange& range : formats) {
        qsizetype at = range.start;
        const qsizetype end = range.start + range.length;
        auto append = [&](qsizetype from, qsizetype to, bool emoji) {
            if (from >= to)
                return;
            QTextLayout::FormatRange piece = range;
            piece.start = int(from);
            piece.length = int(to - from);
            if (emoji)
                piece.format.setFont(PlatformFont::colorEmojiFont(range.format.font()),
                                     QTextCharFormat::FontPropertiesAll);
            split.append(piece);
        };
        for (const EmojiClusters::Range& cluster : clusters) {
            const qsizetype from = std::max(at, cluster.start);
            const qsizetype to = std::min(end, cluster.start + cluster.length);
            if (from >= to)
                continue;
            append(at, from, false);
            append(from, to, true);
            at = to;
        }
        append(at, end, false);
    }
    return split;
}

std::unique_ptr<QTextLayout> layoutOfPieces(const AttributedString& source, const std::vector<Piece>& pieces)
{
    QString text;
    QList<QTextLayout::FormatRange> formats;
    for (const Piece& piece : pieces) {
        if (piece.ellipsis) {
            QTextLayout::FormatRange range;
            range.start = int(text.size());
            range.length = 1;
            range.format = charFormat(source.attributesAt(piece.start));
            formats.append(range);
            text += kEllipsis;
            continue;
        }
        for (const AttributedString::Run& run : source.runs()) {
            const qsizetype from = std::max(run.start, piece.start);
            const qsizetype to = std::min(run.start + run.length, piece.end);
            if (from >= to)
                continue;
            QTextLayout::FormatRange range;
            range.start = int(text.size() + (from - piece.start));
            range.length = int(to - from);
            range.format = charFormat(run.attributes);
            formats.append(range);
        }
        text += QStringView(source.string()).mid(piece.start, piece.end - piece.start);
    }
    const qsizetype firstPosition = pieces.empty() ? 0 : pieces.front().start;
    auto layout = std::make_unique<QTextLayout>(text, baseFont(source.attributesAt(firstPosition)),
                                                PlatformFont::pointDevice());
    layout->setFormats(withColorEmoji(text, formats));
    return layout;
}

QTextOption textOption(QTextOption::WrapMode wrap, bool justify)
{
    QTextOption option;
    option.setWrapMode(wrap);
    // Alignment other than justification is applied by the typesetter (line positions).
    option.setAlignment(justify ? Qt::AlignJustify : (Qt::AlignLeft | Qt::AlignAbsolute));
    option.setTabStopDistance(kTabInterval);
    option.setUseDesignMetrics(true);
    return option;
}

double singleLineWidth(QTextLayout& layout)
{
    layout.setTextOption(textOption(QTextOption::NoWrap, false));
    layout.beginLayout();
    double width = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(kUnlimitedWidth);
        width = std::max(width, line.naturalTextWidth());
    }
    layout.endLayout();
    return width;
}

// The paragraph [start, end) on one line, shortened with an ellipsis at the head, the tail or
// the middle until it fits `width`. Cuts fall on grapheme boundaries.
std::unique_ptr<QTextLayout> truncatedLayout(const AttributedString& source, qsizetype start, qsizetype end,
                                             LineBreakMode mode, double width)
{
    auto whole = layoutOfPieces(source, {{start, end, false}});
    if (singleLineWidth(*whole) <= width)
        return whole;

    std::vector<qsizetype> bounds; // grapheme boundaries, from start to end
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme,
                               QStringView(source.string()).mid(start, end - start));
    for (qsizetype at = 0; at >= 0; at = finder.toNextBoundary())
        bounds.push_back(start + at);
    const qsizetype graphemes = qsizetype(bounds.size()) - 1;

    // The pieces that keep `kept` graphemes.
    auto piecesKeeping = [&](qsizetype kept) -> std::vector<Piece> {
        switch (mode) {
        case LineBreakMode::TruncatingHead: {
            const qsizetype from = bounds[size_t(graphemes - kept)];
            return {{from, from, true}, {from, end, false}};
        }
        case LineBreakMode::TruncatingMiddle: {
            const qsizetype head = bounds[size_t((kept + 1) / 2)];
            const qsizetype tail = bounds[size_t(graphemes - kept / 2)];
            return {{start, head, false}, {std::max(start, head - 1), 0, true}, {tail, end, false}};
        }
        default: {
            const qsizetype to = bounds[size_t(kept)];
            return {{start, to, false}, {std::max(start, to - 1), 0, true}};
        }
        }
    };

    // The most graphemes that fit; an ellipsis alone when none do.
    qsizetype low = 0;
    qsizetype high = graphemes - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        auto candidate = layoutOfPieces(source, piecesKeeping(middle));
        if (singleLineWidth(*candidate) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    return layoutOfPieces(source, piecesKeeping(low));
}

struct Paragraph
{
    std::unique_ptr<QTextLayout> layout;
    ParagraphStyle style;
    bool rightToLeft = false;
};

// Attributed text broken into lines and placed in a y-down space whose origin is the top left
// of the text. Line positions are set on the layouts' lines.
struct TypesetText
{
    std::vector<Paragraph> paragraphs;
    double width = 0;  // the widest line
    double height = 0; // the last line's bottom
};

QTextOption::WrapMode wrapModeFor(LineBreakMode mode, bool bounded)
{
    if (!bounded)
        return QTextOption::NoWrap;
    switch (mode) {
    case LineBreakMode::WordWrap:
        return QTextOption::WrapAtWordBoundaryOrAnywhere;
    case LineBreakMode::CharWrap:
        return QTextOption::WrapAnywhere;
    default:
        return QTextOption::NoWrap;
    }
}

bool isTruncating(LineBreakMode mode)
{
    return mode == LineBreakMode::TruncatingHead || mode == LineBreakMode::TruncatingTail ||
           mode == LineBreakMode::TruncatingMiddle;
}

double lineOffset(TextAlignment alignment, bool rightToLeft, double available, double lineWidth)
{
    const double room = available - lineWidth;
    switch (alignment) {
    case TextAlignment::Right:
        return room;
    case TextAlignment::Center:
        return room / 2;
    case TextAlignment::Natural:
        return rightToLeft ? room : 0;
    case TextAlignment::Left:
    case TextAlignment::Justified:
        break;
    }
    return 0;
}

// `width` <= 0 or not finite: no limit. `firstLineOnly` stops after the first line.
TypesetText typeset(const AttributedString& text, double width, bool includeLeading,
                    bool firstLineOnly = false)
{
    TypesetText result;
    if (text.isEmpty())
        return result;
    const bool bounded = width > 0 && std::isfinite(width);
    const QString& string = text.string();

    // Paragraph ranges; a terminator at the end opens no further paragraph.
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    for (qsizetype start = 0, i = 0; i <= string.size(); ++i) {
        if (i == string.size()) {
            if (start < i || ranges.empty())
                ranges.emplace_back(start, i);
            break;
        }
        if (!isParagraphTerminator(string[i]))
            continue;
        ranges.emplace_back(start, i);
        if (string[i] == QLatin1Char('\r') && i + 1 < string.size() && string[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
        if (firstLineOnly)
            break;
    }

    // Break lines.
    for (const auto& [start, end] : ranges) {
        Paragraph paragraph;
        paragraph.style = text.attributesAt(start).paragraphStyle;
        paragraph.rightToLeft = QStringView(string).mid(start, end - start).isRightToLeft();
        const LineBreakMode mode = paragraph.style.lineBreakMode;
        const bool truncate = bounded && isTruncating(mode);
        paragraph.layout = truncate ? truncatedLayout(text, start, end, mode, width)
                                    : layoutOfPieces(text, {{start, end, false}});
        const bool justify = bounded && paragraph.style.alignment == TextAlignment::Justified;
        paragraph.layout->setTextOption(
            textOption(truncate ? QTextOption::NoWrap : wrapModeFor(mode, bounded), justify));
        paragraph.layout->beginLayout();
        for (QTextLine line = paragraph.layout->createLine(); line.isValid();
             line = paragraph.layout->createLine()) {
            line.setLineWidth(bounded ? width : kUnlimitedWidth);
            result.width = std::max(result.width, line.naturalTextWidth());
            if (firstLineOnly)
                break;
        }
        paragraph.layout->endLayout();
        result.paragraphs.push_back(std::move(paragraph));
    }

    // Place lines, top down.
    const double available = bounded ? width : result.width;
    double y = 0;
    bool firstLine = true;
    double pendingSpacing = 0;
    for (size_t p = 0; p < result.paragraphs.size(); ++p) {
        Paragraph& paragraph = result.paragraphs[p];
        const ParagraphStyle& style = paragraph.style;
        for (int i = 0; i < paragraph.layout->lineCount(); ++i) {
            QTextLine line = paragraph.layout->lineAt(i);
            if (!firstLine)
                y += pendingSpacing;
            firstLine = false;
            const double natural = line.ascent() + line.descent() + (includeLeading ? line.leading() : 0.0);
            double height = natural;
            if (style.lineHeightMultiple > 0)
                height *= style.lineHeightMultiple;
            if (style.minimumLineHeight > 0)
                height = std::max(height, style.minimumLineHeight);
            if (style.maximumLineHeight > 0)
                height = std::min(height, style.maximumLineHeight);
            const double baseline = y + (height - natural) + line.ascent();
            const double x =
                lineOffset(style.alignment, paragraph.rightToLeft, available, line.naturalTextWidth());
            line.setPosition(QPointF(x, baseline - line.ascent()));
            y += height;
            pendingSpacing = std::max(0.0, style.lineSpacing);
        }
        if (p + 1 < result.paragraphs.size())
            pendingSpacing += std::max(0.0, style.paragraphSpacing);
    }
    result.height = y;
    return result;
}

// The line's box bottom in the typeset space: the next line's top or the text's height.
double lineBottom(const QTextLine& line)
{
    return line.position().y() + line.ascent() + line.descent();
}

void drawTypeset(GraphicsContext& context, const TypesetText& text, const Rect& box, bool clipToBox)
{
    QPainter* painter = context.painter();
    if (painter == nullptr)
        return;
    painter->save();
    // User space is y-up when it mirrors the device's y-down axis: the text is then hung from
    // the box's maximum y and mirrored back so that glyphs stand upright.
    const QTransform device = painter->combinedTransform();
    const bool yUp = device.m11() * device.m22() - device.m12() * device.m21() < 0;
    if (yUp) {
        painter->translate(box.minX(), box.maxY());
        painter->scale(1, -1);
    } else {
        painter->translate(box.minX(), box.minY());
    }
    if (clipToBox)
        painter->setClipRect(QRectF(0, 0, box.width(), box.height()), Qt::IntersectClip);
    for (const Paragraph& paragraph : text.paragraphs) {
        for (int i = 0; i < paragraph.layout->lineCount(); ++i) {
            const QTextLine line = paragraph.layout->lineAt(i);
            if (clipToBox && lineBottom(line) > box.height() + kFitSlack)
                continue;
            line.draw(painter, QPointF(0, 0));
            ColorGlyphPictures::drawAfterLine(*painter, line, QPointF(0, 0));
        }
    }
    painter->restore();
}

} // namespace

AttributedString::AttributedString(const QString& text, const TextAttributes& attributes)
{
    append(text, attributes);
}

AttributedString::AttributedString(const QString& text, const PlatformFont& font, const PlatformColor& color)
{
    TextAttributes attributes;
    attributes.font = font;
    attributes.foregroundColor = color;
    append(text, attributes);
}

void AttributedString::append(const QString& text, const TextAttributes& attributes)
{
    if (text.isEmpty())
        return;
    mRuns.push_back({mText.size(), text.size(), attributes});
    mText += text;
    mergeRuns();
}

void AttributedString::append(const AttributedString& other)
{
    const qsizetype offset = mText.size();
    const std::vector<Run> appended = other.mRuns; // `other` may be this string
    mText += other.mText;
    for (const Run& run : appended)
        mRuns.push_back({run.start + offset, run.length, run.attributes});
    mergeRuns();
}

template <class Change> void AttributedString::changeRange(qsizetype start, qsizetype length, Change change)
{
    const qsizetype size = mText.size();
    if (length <= 0 || start >= size)
        return;
    // start + length, saturated (it can only overflow when start is positive).
    const qsizetype rangeEnd =
        (start > 0 && length > std::numeric_limits<qsizetype>::max() - start) ? size : start + length;
    const qsizetype end = std::clamp<qsizetype>(rangeEnd, 0, size);
    start = std::max<qsizetype>(start, 0);
    if (start >= end)
        return;
    std::vector<Run> runs;
    runs.reserve(mRuns.size() + 2);
    for (const Run& run : mRuns) {
        const qsizetype runEnd = run.start + run.length;
        const qsizetype from = std::max(run.start, start);
        const qsizetype to = std::min(runEnd, end);
        if (from >= to) {
            runs.push_back(run);
            continue;
        }
        if (run.start < from)
            runs.push_back({run.start, from - run.start, run.attributes});
        Run changed{from, to - from, run.attributes};
        change(changed.attributes);
        runs.push_back(std::move(changed));
        if (to < runEnd)
            runs.push_back({to, runEnd - to, run.attributes});
    }
    mRuns = std::move(runs);
    mergeRuns();
}

void AttributedString::mergeRuns()
{
    std::vector<Run> merged;
    merged.reserve(mRuns.size());
    for (Run& run : mRuns) {
        if (run.length <= 0)
            continue;
        if (!merged.empty() && merged.back().attributes == run.attributes)
            merged.back().length += run.length;
        else
            merged.push_back(std::move(run));
    }
    mRuns = std::move(merged);
}

void AttributedString::setAttributes(const TextAttributes& attributes, qsizetype start, qsizetype length)
{
    changeRange(start, length, [&](TextAttributes& a) { a = attributes; });
}

void AttributedString::setFont(const PlatformFont& font, qsizetype start, qsizetype length)
{
    changeRange(start, length, [&](TextAttributes& a) { a.font = font; });
}

void AttributedString::setForegroundColor(const PlatformColor& color, qsizetype start, qsizetype length)
{
    changeRange(start, length, [&](TextAttributes& a) { a.foregroundColor = color; });
}

void AttributedString::setParagraphStyle(const ParagraphStyle& style, qsizetype start, qsizetype length)
{
    changeRange(start, length, [&](TextAttributes& a) { a.paragraphStyle = style; });
}

void AttributedString::setKern(double kern, qsizetype start, qsizetype length)
{
    changeRange(start, length, [&](TextAttributes& a) { a.kern = kern; });
}

const TextAttributes& AttributedString::attributesAt(qsizetype index, qsizetype* runStart,
                                                     qsizetype* runLength) const
{
    static const TextAttributes defaults;
    if (mRuns.empty()) {
        if (runStart != nullptr)
            *runStart = 0;
        if (runLength != nullptr)
            *runLength = 0;
        return defaults;
    }
    index = std::clamp<qsizetype>(index, 0, mText.size() - 1);
    const auto run = std::upper_bound(mRuns.begin(), mRuns.end(), index,
                                      [](qsizetype i, const Run& r) { return i < r.start; }) -
                     1;
    if (runStart != nullptr)
        *runStart = run->start;
    if (runLength != nullptr)
        *runLength = run->length;
    return run->attributes;
}

Size AttributedString::size() const
{
    const TypesetText text = typeset(*this, 0, true);
    return {text.width, text.height};
}

Rect AttributedString::boundingRectWithSize(Size size, unsigned options) const
{
    const bool includeLeading = (options & UsesFontLeading) != 0;
    if ((options & UsesLineFragmentOrigin) == 0) {
        const TypesetText text = typeset(*this, 0, includeLeading, true);
        if (text.paragraphs.empty() || text.paragraphs.front().layout->lineCount() == 0)
            return {};
        const QTextLine line = text.paragraphs.front().layout->lineAt(0);
        return {0, -line.descent(), text.width, line.ascent() + line.descent()};
    }
    const TypesetText text = typeset(*this, size.width, includeLeading);
    return {0, 0, text.width, text.height};
}

void AttributedString::drawAtPoint(GraphicsContext& context, Point point) const
{
    if (isEmpty())
        return;
    const TypesetText text = typeset(*this, 0, true);
    drawTypeset(context, text, Rect(point, Size(text.width, text.height)), false);
}

void AttributedString::drawInRect(GraphicsContext& context, const Rect& rect) const
{
    if (isEmpty() || rect.isNull() || rect.isEmpty())
        return;
    const Rect box = rect.standardized();
    const TypesetText text = typeset(*this, box.width(), true);
    drawTypeset(context, text, box, true);
}

std::unique_ptr<QTextLayout> AttributedString::createTextLayout(qsizetype start, qsizetype end) const
{
    start = std::clamp<qsizetype>(start, 0, mText.size());
    end = std::clamp<qsizetype>(end, start, mText.size());
    return layoutOfPieces(*this, {{start, end, false}});
}

bool operator==(const AttributedString& a, const AttributedString& b)
{
    if (a.mText != b.mText || a.mRuns.size() != b.mRuns.size())
        return false;
    for (size_t i = 0; i < a.mRuns.size(); ++i) {
        const AttributedString::Run& x = a.mRuns[i];
        const AttributedString::Run& y = b.mRuns[i];
        if (x.start != y.start || x.length != y.length || !(x.attributes == y.attributes))
            return false;
    }
    return true;
}

} // namespace corvex
