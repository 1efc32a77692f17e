#include "platform/gfx/TextFrame.h"
#include "platform/gfx/GraphicsContext.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using namespace corvex;
using corvex::test::saveForReview;

namespace {

const QString kTextFrameGroup = QStringLiteral("text_frame");

// The text area of a planet of radius 56 without an icon: the disc of radius t around (t, t)
// cut by a chord 0.55 t below its centre and one 0.7 t above it. It is built from arcs as the
// planet draws it; the tests check it against the geometry below, worked out independently.
constexpr double kAreaRadius = 53;
constexpr double kAreaBelow = 0.55;
constexpr double kAreaAbove = 0.7;

Path cutDiscArea(double t, double below, double above)
{
    Path path;
    const double pi = std::acos(-1.0);
    path.addArc(Point(t, t), t, pi - std::asin(above), -(pi - std::asin(below)), false);
    path.addArc(Point(t, t), t, -std::asin(below), std::asin(above), false);
    path.closeSubpath();
    return path;
}

// The cut disc's chord at height y (shape coordinates): its half width, negative outside.
double cutDiscHalfChord(double y, double t = kAreaRadius)
{
    if (y < t - kAreaBelow * t - 1e-9 || y > t + kAreaAbove * t + 1e-9)
        return -1;
    const double dy = y - t;
    return std::sqrt(std::max(0.0, t * t - dy * dy));
}

// How far a point lies outside the cut disc (0 inside).
double outsideCutDisc(double x, double y, double t = kAreaRadius)
{
    const double fromCenter = std::hypot(x - t, y - t) - t;
    const double belowBottom = (t - kAreaBelow * t) - y;
    const double aboveTop = y - (t + kAreaAbove * t);
    return std::max({0.0, fromCenter, belowBottom, aboveTop});
}

TextAttributes titleAttributes(double size, const PlatformColor& color = PlatformColor::white())
{
    TextAttributes attributes;
    attributes.font = PlatformFont::fontWithName(QStringLiteral("Helvetica"), size);
    attributes.foregroundColor = color;
    attributes.paragraphStyle.alignment = TextAlignment::Center;
    attributes.paragraphStyle.lineSpacing = 2.0;
    attributes.paragraphStyle.minimumLineHeight = size;
    attributes.paragraphStyle.maximumLineHeight = size;
    return attributes;
}

AttributedString title(const QString& text, double size = 11)
{
    return AttributedString(text, titleAttributes(size));
}

QString fortyWords()
{
    static const char* const words[] = {"sun",  "moon", "star", "idea", "plan", "map",  "note", "link",
                                        "blue", "red",  "mind", "tree", "leaf", "root", "seed", "rain"};
    QStringList list;
    for (int i = 0; i < 40; ++i)
        list << QLatin1String(words[i % 16]);
    return list.join(QLatin1Char(' '));
}

// Draws the frame into a y-up bitmap of the shape's bounding box, `scale` pixels a point.
QImage drawFrame(const TextFrame& frame, double scale = 1)
{
    const Rect bounds = frame.shapeBounds();
    auto context =
        GraphicsContext::createBitmap(std::ceil(bounds.maxX() * scale), std::ceil(bounds.maxY() * scale));
    if (!context)
        return {};
    context->scaleCTM(scale, scale);
    frame.draw(*context);
    return context->makeImage();
}

// The farthest any inked pixel's centre lies outside the cut disc, in points; rows of the
// image run from the top (highest y) down.
double farthestInkOutside(const QImage& image, double scale)
{
    double farthest = 0;
    for (int row = 0; row < image.height(); ++row) {
        const uchar* pixels = image.constScanLine(row);
        for (int column = 0; column < image.width(); ++column) {
            if (pixels[column * 4 + 3] == 0)
                continue;
            const double x = (column + 0.5) / scale;
            const double y = (image.height() - row - 0.5) / scale;
            farthest = std::max(farthest, outsideCutDisc(x, y));
        }
    }
    return farthest;
}

long inkedPixels(const QImage& image)
{
    long count = 0;
    for (int row = 0; row < image.height(); ++row) {
        const uchar* pixels = image.constScanLine(row);
        for (int column = 0; column < image.width(); ++column)
            count += pixels[column * 4 + 3] != 0 ? 1 : 0;
    }
    return count;
}

// Each placed line fits its band's narrowest chord and sits inside it; the ranges run on
// from the start of the text.
void expectLinesInsideCutDisc(const TextFrame& frame, const QString& what)
{
    const Rect bounds = frame.shapeBounds();
    qsizetype next = 0;
    for (size_t i = 0; i < frame.lines().size(); ++i) {
        const TextFrameLine& line = frame.lines()[i];
        SCOPED_TRACE(what.toStdString() + ", line " + std::to_string(i));
        const double baseline = bounds.minY() + line.origin.y;
        const double bottomChord = cutDiscHalfChord(baseline - line.descent);
        const double topChord = cutDiscHalfChord(baseline + line.ascent);
        ASSERT_GE(bottomChord, 0) << "band bottom " << baseline - line.descent << " outside the area";
        ASSERT_GE(topChord, 0) << "band top " << baseline + line.ascent << " outside the area";
        // The chord widens towards the centre, so the narrowest lies at one of the band's edges.
        const double halfChord = std::min(bottomChord, topChord);
        const double left = bounds.minX() + line.origin.x;
        EXPECT_LE(line.width, 2 * halfChord + 1e-6);
        EXPECT_GE(left, kAreaRadius - halfChord - 1e-6);
        EXPECT_LE(left + line.width, kAreaRadius + halfChord + 1e-6);
        EXPECT_EQ(line.start, next);
        EXPECT_GE(line.length, 0);
        next = line.start + line.length;
    }
}

TEST(TextFrame, FortyWordsFillTheAreaLineByLine)
{
    const QString text = fortyWords();
    const TextFrame frame = TextFrame::typeset(title(text), cutDiscArea(kAreaRadius, kAreaBelow, kAreaAbove));
    const auto& lines = frame.lines();
    ASSERT_GE(lines.size(), 4u);
    expectLinesInsideCutDisc(frame, QStringLiteral("forty words"));
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_NEAR(lines[i - 1].origin.y - lines[i].origin.y, 13.0, 1e-9)
            << "between lines " << i - 1 << ", " << i;
    // More words than the area holds: the frame ends on a whole line, before the text does.
    const qsizetype placed = lines.back().start + lines.back().length;
    EXPECT_LT(placed, text.size());
    EXPECT_TRUE(placed == text.size() || text[placed - 1] == QLatin1Char(' ') ||
                text[placed] == QLatin1Char(' '))
        << "cut inside a word at " << placed;
    // The first line hangs from the area's top.
    EXPECT_NEAR(lines.front().origin.y + lines.front().ascent, frame.shapeBounds().height(), 1e-9);

    constexpr double kScale = 4;
    const QImage image = drawFrame(frame, kScale);
    saveForReview(image, kTextFrameGroup, QStringLiteral("forty_words"));
    EXPECT_GT(inkedPixels(image), 500);
    EXPECT_LE(farthestInkOutside(image, kScale), 1.0);
}

TEST(TextFrame, ShapeBoundsAreTheTightBoxOfTheOutline)
{
    const TextFrame frame =
        TextFrame::typeset(title(QStringLiteral("x")), cutDiscArea(kAreaRadius, kAreaBelow, kAreaAbove));
    const Rect bounds = frame.shapeBounds();
    EXPECT_NEAR(bounds.minX(), 0, 1e-2); // curves approximate the arcs
    EXPECT_NEAR(bounds.maxX(), 2 * kAreaRadius, 1e-2);
    EXPECT_NEAR(bounds.minY(), kAreaRadius * (1 - kAreaBelow), 1e-3);
    EXPECT_NEAR(bounds.maxY(), kAreaRadius * (1 + kAreaAbove), 1e-3);
}

TEST(TextFrame, LinesAreCentredInTheirChordWhateverTheirWidth)
{
    // An off-centre rectangle: every chord is [30, 130].
    Path shape;
    shape.addRect(Rect(30, 10, 100, 60));
    const TextFrame frame = TextFrame::typeset(title(QStringLiteral("a\nmuch longer line\nmid")), shape);
    ASSERT_EQ(frame.lines().size(), 3u);
    for (const TextFrameLine& line : frame.lines()) {
        EXPECT_GT(line.width, 0);
        EXPECT_NEAR(frame.shapeBounds().minX() + line.origin.x + line.width / 2, 80, 1e-6);
    }
}

struct BreakCase
{
    const char* name;
    QString text;
    std::vector<std::pair<qsizetype, qsizetype>> ranges; // (start, length) of each line
    friend void PrintTo(const BreakCase& c, std::ostream* os) { *os << c.name; }
};

class TextFrameBreaks : public ::testing::TestWithParam<BreakCase>
{};

TEST_P(TextFrameBreaks, LinesEndAtBreaksAndCarryThem)
{
    const BreakCase& c = GetParam();
    Path shape;
    shape.addRect(Rect(0, 0, 200, 200));
    const TextFrame frame = TextFrame::typeset(title(c.text), shape);
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    for (const TextFrameLine& line : frame.lines())
        ranges.emplace_back(line.start, line.length);
    EXPECT_EQ(ranges, c.ranges);
    for (size_t i = 1; i < frame.lines().size(); ++i)
        EXPECT_NEAR(frame.lines()[i - 1].origin.y - frame.lines()[i].origin.y, 13.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextFrameBreaks,
    ::testing::Values(BreakCase{"empty", QString(), {}},
                      BreakCase{"one_word", QStringLiteral("word"), {{0, 4}}},
                      BreakCase{"line_feed", QStringLiteral("ab\ncd"), {{0, 3}, {3, 2}}},
                      BreakCase{"line_separator",
                                QStringLiteral("ab") + QChar(0x2028) + QStringLiteral("cd"),
                                {{0, 3}, {3, 2}}},
                      BreakCase{"crlf_counts_once", QStringLiteral("ab\r\ncd"), {{0, 4}, {4, 2}}},
                      BreakCase{"paragraph_separator",
                                QStringLiteral("ab") + QChar(0x2029) + QStringLiteral("cd"),
                                {{0, 3}, {3, 2}}},
                      BreakCase{"breaks_only", QStringLiteral("\n\n\n"), {{0, 1}, {1, 1}, {2, 1}}},
                      BreakCase{"trailing_break_opens_nothing", QStringLiteral("ab\n"), {{0, 3}}}),
    [](const ::testing::TestParamInfo<BreakCase>& info) { return std::string(info.param.name); });

TEST(TextFrame, AWordWiderThanTheLineBreaksAnywhere)
{
    Path shape;
    shape.addRect(Rect(0, 0, 40, 200));
    const QString word(60, QLatin1Char('m'));
    const TextFrame frame = TextFrame::typeset(title(word), shape);
    ASSERT_GE(frame.lines().size(), 3u);
    qsizetype placed = 0;
    for (const TextFrameLine& line : frame.lines()) {
        EXPECT_LE(line.width, 40 + 1e-6);
        EXPECT_GT(line.length, 0);
        placed += line.length;
    }
    EXPECT_EQ(placed, word.size());
}

TEST(TextFrame, ABandWithoutRoomIsLeftEmptyAndTheTextGoesOnBelow)
{
    // A triangle standing on its base: its tip holds nothing, lower bands hold the text.
    Path shape;
    const Point corners[] = {{0, 0}, {200, 0}, {100, 100}};
    shape.addLines(corners, 3);
    shape.closeSubpath();
    const TextFrame frame = TextFrame::typeset(title(QStringLiteral("wide words here")), shape);
    ASSERT_FALSE(frame.lines().empty());
    EXPECT_EQ(frame.lines().front().start, 0);
    EXPECT_LE(frame.lines().front().origin.y + frame.lines().front().ascent, 100 - 13 + 1e-9);
    for (const TextFrameLine& line : frame.lines()) {
        // Within the triangle at the band's top, where it is narrowest.
        const double top = line.origin.y + line.ascent;
        const double halfWidth = 100 - top;
        EXPECT_GE(line.origin.x, 100 - halfWidth - 1e-6);
        EXPECT_LE(line.origin.x + line.width, 100 + halfWidth + 1e-6);
    }
}

TEST(TextFrame, DegenerateShapesPlaceNothing)
{
    const AttributedString text = title(QStringLiteral("some words"));
    Path empty;
    Path line;
    line.moveTo(Point(0, 0));
    line.lineTo(Point(100, 0));
    Path tiny;
    tiny.addRect(Rect(0, 0, 0.5, 0.5));
    for (const Path* shape : {&empty, &line, &tiny}) {
        const TextFrame frame = TextFrame::typeset(text, *shape);
        EXPECT_TRUE(frame.lines().empty());
        auto context = GraphicsContext::createBitmap(10, 10);
        frame.draw(*context);
        EXPECT_EQ(inkedPixels(context->makeImage()), 0);
    }
}

// Titles from any document: none may crash, and whatever they place stays in the area.
struct HostileTitle
{
    const char* name;
    QString text;
    friend void PrintTo(const HostileTitle& c, std::ostream* os) { *os << c.name; }
};

class TextFrameHostileTitles : public ::testing::TestWithParam<HostileTitle>
{};

TEST_P(TextFrameHostileTitles, StayInsideTheArea)
{
    const HostileTitle& c = GetParam();
    const TextFrame frame =
        TextFrame::typeset(title(c.text), cutDiscArea(kAreaRadius, kAreaBelow, kAreaAbove));
    expectLinesInsideCutDisc(frame, QString::fromLatin1(c.name));
    for (size_t i = 1; i < frame.lines().size(); ++i)
        EXPECT_LT(frame.lines()[i].origin.y, frame.lines()[i - 1].origin.y);
    constexpr double kScale = 2;
    const QImage image = drawFrame(frame, kScale);
    saveForReview(image, kTextFrameGroup, QStringLiteral("hostile_") + QString::fromLatin1(c.name));
    EXPECT_LE(farthestInkOutside(image, kScale), 1.0);
}

QString repeated(const QString& unit, int times)
{
    QString result;
    for (int i = 0; i < times; ++i)
        result += unit;
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextFrameHostileTitles,
    ::testing::Values(
        HostileTitle{"empty", QString()}, HostileTitle{"line_feeds_only", repeated(QStringLiteral("\n"), 40)},
        HostileTitle{"line_separators_only", repeated(QString(QChar(0x2028)), 40)},
        HostileTitle{"right_to_left",
                     repeated(QStringLiteral("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd "
                                             "\u0645\u0631\u062d\u0628\u0627 "),
                              8)},
        HostileTitle{"emoji", repeated(QStringLiteral("\U0001F600\U0001F30D \U0001F468\u200D\U0001F469\u200D"
                                                      "\U0001F467 "),
                                       10)},
        HostileTitle{"ten_thousand_letters", QString(10000, QLatin1Char('w'))},
        HostileTitle{"ten_thousand_in_words", repeated(QStringLiteral("word "), 2000)},
        HostileTitle{"ten_thousand_breaks", repeated(QStringLiteral("a\n"), 5000)},
        HostileTitle{"lone_surrogates",
                     repeated(QString(QChar(0xD800)) + QStringLiteral("x") + QChar(0xDC00), 50)},
        HostileTitle{"combining_marks", QStringLiteral("a") + repeated(QString(QChar(0x0301)), 300)},
        HostileTitle{"controls_and_tabs", repeated(QStringLiteral("\t\x01\x7f x"), 60)}),
    [](const ::testing::TestParamInfo<HostileTitle>& info) { return std::string(info.param.name); });

TEST(TextFrame, EmojiAndRightToLeftTextDrawInk)
{
    const QString texts[] = {QStringLiteral("\U0001F600\U0001F30D"),
                             QStringLiteral("\u05e9\u05dc\u05d5\u05dd")};
    for (const QString& text : texts) {
        const TextFrame frame =
            TextFrame::typeset(title(text), cutDiscArea(kAreaRadius, kAreaBelow, kAreaAbove));
        ASSERT_EQ(frame.lines().size(), 1u);
        EXPECT_EQ(frame.lines().front().length, text.size());
        EXPECT_GT(inkedPixels(drawFrame(frame, 2)), 20);
    }
}

TEST(TextFrame, DrawsUprightInTheStringsColours)
{
    // Red over the first word, blue over the second.
    AttributedString text = title(QStringLiteral("TTTT LLLL"));
    text.setForegroundColor(PlatformColor::deviceRGB(1, 0, 0, 1), 0, 4);
    text.setForegroundColor(PlatformColor::deviceRGB(0, 0, 1, 1), 5, 4);
    Path shape;
    shape.addRect(Rect(0, 0, 200, 40));
    const TextFrame frame = TextFrame::typeset(text, shape);
    ASSERT_EQ(frame.lines().size(), 1u);
    constexpr double kScale = 4;
    const QImage image = drawFrame(frame, kScale);
    saveForReview(image, kTextFrameGroup, QStringLiteral("colours"));
    long red = 0;
    long blue = 0;
    // A "T" carries its ink at the top, an "L" at the bottom: compare the halves of the
    // line's ink rows (image rows run from the top).
    int top = image.height();
    int bottom = -1;
    for (int row = 0; row < image.height(); ++row) {
        const uchar* p = image.constScanLine(row);
        for (int column = 0; column < image.width(); ++column) {
            if (p[column * 4 + 3] < 128)
                continue;
            top = std::min(top, row);
            bottom = std::max(bottom, row);
            red += p[column * 4] > 128 && p[column * 4 + 2] < 64 ? 1 : 0;
            blue += p[column * 4 + 2] > 128 && p[column * 4] < 64 ? 1 : 0;
        }
    }
    EXPECT_GT(red, 50);
    EXPECT_GT(blue, 50);
    ASSERT_LT(top, bottom);
    // The red T's crossbar is its widest row; it lies in the upper part of the ink.
    int widestRedRow = -1;
    int widestRed = 0;
    for (int row = top; row <= bottom; ++row) {
        const uchar* p = image.constScanLine(row);
        int count = 0;
        for (int column = 0; column < image.width(); ++column)
            count += p[column * 4 + 3] >= 128 && p[column * 4] > 128 && p[column * 4 + 2] < 64 ? 1 : 0;
        if (count > widestRed) {
            widestRed = count;
            widestRedRow = row;
        }
    }
    EXPECT_LT(widestRedRow, (top + bottom) / 2) << "glyphs drawn upside down";
}

TEST(TextFrame, AWorkerThreadDrawsTheSameBytes)
{
    const AttributedString text =
        title(fortyWords().left(60) + QStringLiteral(" \U0001F600 \u05e9\u05dc\u05d5\u05dd"));
    const Path shape = cutDiscArea(kAreaRadius, kAreaBelow, kAreaAbove);
    auto render = [&] { return drawFrame(TextFrame::typeset(text, shape), 2); };
    const QImage onMain = render();
    QImage onWorker;
    std::thread([&] { onWorker = render(); }).join();
    ASSERT_FALSE(onMain.isNull());
    ASSERT_EQ(onMain.size(), onWorker.size());
    EXPECT_GT(inkedPixels(onMain), 100);
    EXPECT_TRUE(onMain == onWorker) << "the worker's drawing differs";
}

// The centring rule, on a block of three lines in a tall rectangle (the block's extent is read
// from the frame: from the last line's descent to the first line's ascent).
class TextFrameCentring : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Path shape;
        shape.addRect(Rect(0, 0, 200, 300));
        frame = TextFrame::typeset(title(QStringLiteral("one\ntwo\nthree")), shape);
        ASSERT_EQ(frame.lines().size(), 3u);
        blockBottom = frame.lines().back().origin.y - frame.lines().back().descent;
        blockTop = frame.lines().front().origin.y + frame.lines().front().ascent;
    }
    double center() const { return (blockBottom + blockTop) / 2; }

    TextFrame frame;
    double blockBottom = 0;
    double blockTop = 0;
};

TEST_F(TextFrameCentring, MovesTheBlockTowardTheDesiredCentreWithinTheBounds)
{
    struct Case
    {
        const char* name;
        double desiredFromCenter; // desired centre relative to the block's centre
        double lowerBelowBottom;  // the lower bound's distance below the block's bottom
        double upperAboveTop;     // the upper bound's distance above the block's top
        double expected;          // the offset
    };
    const Case cases[] = {
        {"down_freely", -50, 100, 100, -50},
        {"up_freely", 30, 100, 100, 30},
        {"up_clamped_by_upper", 30, 100, 10, 10},
        {"down_clamped_by_lower", -50, 20, 100, -20},
        {"already_there", 0, 10, 10, 0},
        // A block already beyond a bound is never pushed away from the desired centre.
        {"above_upper_stays", 30, 100, -15, 0},
        {"below_lower_stays", -30, -15, 100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double offset =
            textFrameCentringOffset(frame, center() + c.desiredFromCenter, blockBottom - c.lowerBelowBottom,
                                    blockTop + c.upperAboveTop);
        EXPECT_NEAR(offset, c.expected, 1e-4);
    }
}

TEST_F(TextFrameCentring, AnEmptyFrameIsNeverMoved)
{
    Path shape;
    shape.addRect(Rect(0, 0, 200, 300));
    const TextFrame empty = TextFrame::typeset(title(QString()), shape);
    EXPECT_EQ(textFrameCentringOffset(empty, 150, 0, 300), 0.0);
    EXPECT_EQ(textFrameCentringOffset(TextFrame(), -5, -10, 10), 0.0);
}

} // namespace
