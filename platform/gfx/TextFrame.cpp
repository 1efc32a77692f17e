#include "platform/gfx/TextFrame.h"

#include "platform/gfx/ColorGlyphPictures.h"
#include "platform/gfx/GraphicsContext.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// How far the first and last sampled heights stay inside the band, so that a band edge lying
// on a horizontal edge of the shape (the flat top or bottom of a cut disc) still meets it.
constexpr double kEdgeInset = 1.0e-6;
// Slack for deciding that a band stays inside the bounding box or a line fits its room.
constexpr double kFitSlackTF = 1.0e-6;
// Heights sampled across a band besides its edges and the shape's corners inside it.
constexpr int kInteriorSamples = 5;
// At most this many corners of the shape's outline are sampled per band.
constexpr int kMaxCornerSamples = 64;
// The first slice of a paragraph handed to the layout; doubled while lines reach its end, so
// that a paragraph far longer than the shape holds is never shaped whole.
constexpr qsizetype kFirstWindow = 256;
// Re-layouts of one line when its measured height changes its band.
constexpr int kMetricPasses = 3;
// QTextLine keeps widths in 1/64 points.
constexpr double kFixedUnit = 64.0;
constexpr double kTextFrameTabInterval = 28.0;
// Bands left empty because not even one grapheme fits them, at most, per frame; and the least
// a band moves down, so that a degenerate paragraph style cannot stall the typesetter.
constexpr int kMaxEmptyBands = 4096;
constexpr double kMinimumStep = 1.0 / 64;

struct Interval
{
    double left = 0;
    double right = 0;
    double width() const { return right - left; }
};

// The outline of a closed shape, flattened, with what answers "which x ranges does the
// shape cover at height y" under the non-zero winding rule.
class ShapeOutline
{
public:
    explicit ShapeOutline(const QPainterPath& path)
    {
        const QList<QPolygonF> polygons = path.toSubpathPolygons();
        for (const QPolygonF& polygon : polygons) {
            const qsizetype n = polygon.size();
            if (n < 2)
                continue;
            for (qsizetype i = 0; i < n; ++i) {
                const QPointF a = polygon[i];
                const QPointF b = polygon[(i + 1) % n]; // closes every subpath
                if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) ||
                    !std::isfinite(b.y()))
                    continue;
                if (a.y() != b.y())
                    mEdges.push_back({a.x(), a.y(), b.x(), b.y()});
                mCornerHeights.push_back(a.y());
            }
        }
        std::sort(mCornerHeights.begin(), mCornerHeights.end());
        mCornerHeights.erase(std::unique(mCornerHeights.begin(), mCornerHeights.end()), mCornerHeights.end());
    }

    // The covered ranges at height y, left to right.
    std::vector<Interval> coveredAt(double y) const
    {
        struct Crossing
        {
            double x;
            int direction;
        };
        std::vector<Crossing> crossings;
        for (const Edge& e : mEdges) {
            // Half-open in y, so that a corner shared by two edges counts once.
            int direction = 0;
            if (e.y1 <= y && y < e.y2)
                direction = 1;
            else if (e.y2 <= y && y < e.y1)
                direction = -1;
            if (direction == 0)
                continue;
            const double x = e.x1 + (y - e.y1) * (e.x2 - e.x1) / (e.y2 - e.y1);
            crossings.push_back({x, direction});
        }
        std::sort(crossings.begin(), crossings.end(),
                  [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
        std::vector<Interval> covered;
        int winding = 0;
        for (const Crossing& c : crossings) {
            const int before = winding;
            winding += c.direction;
            if (before == 0 && winding != 0) {
                covered.push_back({c.x, c.x});
            } else if (before != 0 && winding == 0 && !covered.empty()) {
                covered.back().right = c.x;
                if (covered.back().width() <= 0)
                    covered.pop_back();
            }
        }
        return covered;
    }

    // The widest range covered at every sampled height of [bottom, top]; empty when none.
    Interval roomAcross(double bottom, double top) const
    {
        std::vector<double> heights;
        const double low = bottom + kEdgeInset;
        const double high = std::max(low, top - kEdgeInset);
        heights.push_back(low);
        heights.push_back(high);
        for (int i = 1; i <= kInteriorSamples; ++i)
            heights.push_back(low + (high - low) * i / (kInteriorSamples + 1));
        // A flattened outline's coverage changes slope only at its corners: sampling them
        // makes the answer exact for the polygon.
        const auto first = std::upper_bound(mCornerHeights.begin(), mCornerHeights.end(), low);
        const auto last = std::lower_bound(mCornerHeights.begin(), mCornerHeights.end(), high);
        const auto corners = std::distance(first, last);
        if (corners > 0) {
            const auto step =
                std::max<std::ptrdiff_t>(1, (corners + kMaxCornerSamples - 1) / kMaxCornerSamples);
            for (auto it = first; it < last; it += std::min(step, std::distance(it, last))) {
                heights.push_back(*it);
                heights.push_back(std::min(high, *it + kEdgeInset));
            }
        }

        std::vector<Interval> common = coveredAt(heights.front());
        for (size_t i = 1; i < heights.size() && !common.empty(); ++i)
            common = intersect(common, coveredAt(heights[i]));
        Interval widest;
        for (const Interval& range : common) {
            if (range.width() > widest.width())
                widest = range;
        }
        return widest;
    }

private:
    struct Edge
    {
        double x1, y1, x2, y2;
    };

    static std::vector<Interval> intersect(const std::vector<Interval>& a, const std::vector<Interval>& b)
    {
        std::vector<Interval> result;
        size_t i = 0;
        size_t j = 0;
        while (i < a.size() && j < b.size()) {
            const double left = std::max(a[i].left, b[j].left);
            const double right = std::min(a[i].right, b[j].right);
            if (right > left)
                result.push_back({left, right});
            if (a[i].right < b[j].right)
                ++i;
            else
                ++j;
        }
        return result;
    }

    std::vector<Edge> mEdges;
    std::vector<double> mCornerHeights;
};

bool isTextFrameParagraphEnd(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator;
}

// The line box height the paragraph style gives a line of natural height `natural`.
double styledLineHeight(const ParagraphStyle& style, double natural)
{
    double height = natural;
    if (style.lineHeightMultiple > 0 && std::isfinite(style.lineHeightMultiple))
        height *= style.lineHeightMultiple;
    if (style.minimumLineHeight > 0 && std::isfinite(style.minimumLineHeight))
        height = std::max(height, style.minimumLineHeight);
    if (style.maximumLineHeight > 0 && std::isfinite(style.maximumLineHeight))
        height = std::min(height, style.maximumLineHeight);
    return height;
}

struct LineMetrics
{
    double ascent = 0;
    double descent = 0;
    double leading = 0;
    friend bool operator==(const LineMetrics&, const LineMetrics&) = default;
};

// The metrics a line starting at `position` is expected to have before it is laid out.
LineMetrics expectedMetrics(const AttributedString& text, qsizetype position)
{
    const QFontMetricsF metrics(text.attributesAt(position).font.qfont(), PlatformFont::pointDevice());
    return {metrics.ascent(), metrics.descent(), metrics.leading()};
}

QTextOption frameTextOption(bool rightToLeft)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Lines are placed by the frame: glyphs start at the line's left end in either direction.
    option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    option.setTabStopDistance(kTextFrameTabInterval);
    option.setUseDesignMetrics(true);
    return option;
}

// What a typeset frame holds: the placed lines and the layouts that draw them.
struct FrameContents
{
    std::vector<TextFrameLine> lines;
    Rect bounds;
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    struct LineRef
    {
        size_t layout = 0;
        int line = 0;
    };
    std::vector<LineRef> refs; // one per placed line
};

// The vertical state of the typesetter between lines.
struct Cursor
{
    bool atTop = true; // no line box placed yet: the next line hangs from the top
    double boxTop = 0; // the next box's top, when not at the top
};

enum class ParagraphResult
{
    Done,      // every line of the paragraph placed
    Full,      // the shape is full
    NeedsMore, // a line reached the end of the text handed to the layout
};

struct FrameSetter
{
    const AttributedString& text;
    const ShapeOutline& outline;
    Rect bounds;
    FrameContents& out;
    int emptyBands = 0;

    // Lays [start, windowEnd) of the paragraph [start, end).
    ParagraphResult setParagraph(qsizetype start, qsizetype end, qsizetype windowEnd, bool rightToLeft,
                                 Cursor& cursor)
    {
        const ParagraphStyle style = text.attributesAt(start).paragraphStyle;
        const double spacing = std::isfinite(style.lineSpacing) ? std::max(0.0, style.lineSpacing) : 0.0;
        auto layout = text.createTextLayout(start, windowEnd);
        layout->setTextOption(frameTextOption(rightToLeft));
        layout->setCacheEnabled(true);
        layout->beginLayout();
        const size_t layoutIndex = out.layouts.size();
        ParagraphResult result = ParagraphResult::Done;
        bool anyLine = false;
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            anyLine = true;
            // A width before anything else: a line left without one would take the rest of
            // the text when the layout ends.
            line.setLineWidth(0);
            LineMetrics metrics = expectedMetrics(text, start + line.textStart());
            bool placed = false;
            Interval room;
            double baseline = 0;
            while (!placed) {
                // Settle the band: lay the line out in the room of its expected band and again
                // while its measured height moves the band.
                for (int pass = 0; pass < kMetricPasses; ++pass) {
                    const double height =
                        styledLineHeight(style, metrics.ascent + metrics.descent + metrics.leading);
                    baseline = cursor.atTop ? bounds.maxY() - metrics.ascent
                                            : cursor.boxTop - height + metrics.descent;
                    if (baseline - metrics.descent < bounds.minY() - kFitSlackTF)
                        break;
                    room = outline.roomAcross(baseline - metrics.descent, baseline + metrics.ascent);
                    const double width = std::floor(std::max(0.0, room.width()) * kFixedUnit) / kFixedUnit;
                    line.setLineWidth(width);
                    const LineMetrics measured{line.ascent(), line.descent(), line.leading()};
                    if (measured == metrics)
                        break;
                    metrics = measured;
                }
                const double height =
                    styledLineHeight(style, metrics.ascent + metrics.descent + metrics.leading);
                baseline =
                    cursor.atTop ? bounds.maxY() - metrics.ascent : cursor.boxTop - height + metrics.descent;
                if (baseline - metrics.descent < bounds.minY() - kFitSlackTF) {
                    result = ParagraphResult::Full;
                    break;
                }
                room = outline.roomAcross(baseline - metrics.descent, baseline + metrics.ascent);
                const double used = line.naturalTextWidth();
                if (room.width() > 0 && used <= room.width() + kFitSlackTF) {
                    placed = true;
                } else if (++emptyBands > kMaxEmptyBands) {
                    result = ParagraphResult::Full;
                    break;
                } else {
                    // Not even the line's first grapheme fits here: leave this band empty.
                    cursor.atTop = false;
                    cursor.boxTop = std::min(baseline - metrics.descent - spacing,
                                             baseline - metrics.descent + height - kMinimumStep);
                }
            }
            if (!placed)
                break;
            const qsizetype lineEnd = line.textStart() + line.textLength();
            if (windowEnd < end && start + lineEnd >= windowEnd) {
                result = ParagraphResult::NeedsMore;
                break;
            }
            TextFrameLine placedLine;
            placedLine.width = line.naturalTextWidth();
            placedLine.ascent = metrics.ascent;
            placedLine.descent = metrics.descent;
            placedLine.origin = Point(room.left + (room.width() - placedLine.width) / 2 - bounds.minX(),
                                      baseline - bounds.minY());
            placedLine.start = start + line.textStart();
            placedLine.length = line.textLength();
            out.lines.push_back(placedLine);
            out.refs.push_back({layoutIndex, line.lineNumber()});
            cursor.atTop = false;
            cursor.boxTop = baseline - metrics.descent - spacing;
        }
        layout->endLayout();
        if (anyLine)
            out.layouts.push_back(std::move(layout));
        return result;
    }
};

} // namespace

struct TextFrame::Private : FrameContents
{};

TextFrame::TextFrame() : d(std::make_unique<Private>()) {}
TextFrame::~TextFrame() = default;
TextFrame::TextFrame(TextFrame&&) noexcept = default;
TextFrame& TextFrame::operator=(TextFrame&&) noexcept = default;

TextFrame TextFrame::typeset(const AttributedString& text, const Path& shape)
{
    TextFrame frame;
    Private& p = *frame.d;
    const QRectF box = shape.painterPath().boundingRect();
    p.bounds = Rect::fromQRectF(box);
    if (text.isEmpty() || shape.isEmpty() || !std::isfinite(box.width()) || !std::isfinite(box.height()) ||
        box.width() <= 0 || box.height() <= 0)
        return frame;

    const ShapeOutline outline(shape.painterPath());
    FrameSetter setter{text, outline, p.bounds, p};
    const QString& string = text.string();
    const qsizetype size = string.size();
    Cursor cursor;
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isTextFrameParagraphEnd(string[end]))
            ++end;
        qsizetype next = end;
        if (next < size) {
            ++next;
            if (string[end] == QLatin1Char('\r') && next < size && string[next] == QLatin1Char('\n'))
                ++next;
        }
        const bool rightToLeft = QStringView(string).mid(start, end - start).isRightToLeft();

        // Lay the paragraph out from a growing slice of it, so that only what the shape can
        // hold is shaped.
        qsizetype window = kFirstWindow;
        ParagraphResult result = ParagraphResult::NeedsMore;
        while (result == ParagraphResult::NeedsMore) {
            qsizetype windowEnd = std::min(end, start + window);
            if (windowEnd < end && string[windowEnd - 1].isHighSurrogate())
                ++windowEnd; // never split a surrogate pair
            const size_t linesBefore = p.lines.size();
            const size_t layoutsBefore = p.layouts.size();
            const Cursor cursorBefore = cursor;
            result = setter.setParagraph(start, end, windowEnd, rightToLeft, cursor);
            if (result == ParagraphResult::NeedsMore) {
                p.lines.resize(linesBefore);
                p.refs.resize(linesBefore);
                p.layouts.resize(layoutsBefore);
                cursor = cursorBefore;
                window *= 2;
            }
        }
        if (result == ParagraphResult::Full)
            break;
        // The break that ends the paragraph belongs to its last line.
        if (!p.lines.empty() && next > end)
            p.lines.back().length += next - end;
        start = next;
    }
    return frame;
}

const std::vector<TextFrameLine>& TextFrame::lines() const
{
    return d->lines;
}

Rect TextFrame::shapeBounds() const
{
    return d->bounds;
}

void TextFrame::draw(GraphicsContext& context) const
{
    if (d->lines.empty())
        return;
    QPainter* painter = context.painter();
    if (painter == nullptr)
        return;
    // Glyphs stand upright: in a y-up user space each line is mirrored back around its baseline.
    const QTransform device = painter->combinedTransform();
    const bool yUp = device.m11() * device.m22() - device.m12() * device.m21() < 0;
    for (size_t i = 0; i < d->lines.size(); ++i) {
        const TextFrameLine& placed = d->lines[i];
        const FrameContents::LineRef ref = d->refs[i];
        const QTextLine line = d->layouts[ref.layout]->lineAt(ref.line);
        painter->save();
        painter->translate(d->bounds.minX() + placed.origin.x, d->bounds.minY() + placed.origin.y);
        if (yUp)
            painter->scale(1, -1);
        const QPointF offset(-line.x(), -line.y() - line.ascent());
        line.draw(painter, offset);
        ColorGlyphPictures::drawAfterLine(*painter, line, offset);
        painter->restore();
    }
}

double textFrameCentringOffset(const TextFrame& frame, double desiredCenter, double lowerBound,
                               double upperBound)
{
    const std::vector<TextFrameLine>& lines = frame.lines();
    if (lines.empty())
        return 0;
    const double firstY = lines.front().origin.y;
    const TextFrameLine& last = lines.back();
    const double height = (firstY - last.origin.y) + last.ascent + last.descent;
    const double half = static_cast<float>(height / 2);
    const double center = half + last.origin.y - last.descent;
    if (desiredCenter > center) {
        const double target = std::min(desiredCenter, upperBound - half);
        return target > center ? static_cast<float>(target - center) : 0.0;
    }
    const double target = std::max(half + lowerBound, desiredCenter);
    return center > target ? static_cast<float>(target - center) : 0.0;
}

} // namespace corvex
