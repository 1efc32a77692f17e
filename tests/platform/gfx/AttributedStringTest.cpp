#include "platform/gfx/AttributedString.h"
#include "platform/gfx/EmojiClusters.h"
#include "platform/gfx/GraphicsContext.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;
using corvex::test::FlippedCanvas;
using corvex::test::saveForReview;

namespace {

const QString kTextGroup = QStringLiteral("attributed_text");

PlatformFont lato(double size)
{
    return PlatformFont::fontWithName(QStringLiteral("Avenir Book"), size);
}

AttributedString text(const QString& string, double size = 20,
                      const PlatformColor& color = PlatformColor::black())
{
    return AttributedString(string, lato(size), color);
}

// Where the ink of an image lies: rows and columns with an alpha above half, the ink's
// vertical centroid, and the row holding the most ink.
struct Ink
{
    int top = -1;
    int bottom = -1;
    int left = -1;
    int right = -1;
    long count = 0;
    double centroidY = 0;
    int fullestRow = -1;

    bool isEmpty() const { return count == 0; }
};

std::ostream& operator<<(std::ostream& os, const Ink& ink)
{
    return os << "ink rows " << ink.top << ".." << ink.bottom << ", columns " << ink.left << ".." << ink.right
              << ", centroid y " << ink.centroidY << ", fullest row " << ink.fullestRow << ", pixels "
              << ink.count;
}

Ink inkOf(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    Ink ink;
    double sumY = 0;
    int fullest = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        int inRow = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (row[4 * x + 3] < 128)
                continue;
            ++inRow;
            ink.top = ink.top < 0 ? y : ink.top;
            ink.bottom = y;
            ink.left = ink.left < 0 ? x : std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            sumY += y;
            ++ink.count;
        }
        if (inRow > fullest) {
            fullest = inRow;
            ink.fullestRow = y;
        }
    }
    if (ink.count > 0)
        ink.centroidY = sumY / double(ink.count);
    return ink;
}

// A capital T: upright, its bar (the fullest row) lies at the top of its ink.
bool isUprightT(const Ink& ink)
{
    return !ink.isEmpty() && ink.fullestRow - ink.top <= (ink.bottom - ink.top) / 4;
}

} // namespace

TEST(AttributedStringRuns, ChangesSplitAndMergeRuns)
{
    AttributedString s = text(QStringLiteral("Hello world"));
    ASSERT_EQ(s.runs().size(), 1u);
    s.setForegroundColor(PlatformColor::red(), 6, 5);
    ASSERT_EQ(s.runs().size(), 2u);
    EXPECT_EQ(s.runs()[1].start, 6);
    EXPECT_EQ(s.runs()[1].length, 5);
    EXPECT_EQ(s.runs()[1].attributes.foregroundColor, PlatformColor::red());
    EXPECT_EQ(s.runs()[1].attributes.font, lato(20)) << "changing the colour keeps the font";

    s.setKern(1.5, 2, 2);
    ASSERT_EQ(s.runs().size(), 4u);
    qsizetype start = -1, length = -1;
    EXPECT_EQ(s.attributesAt(3, &start, &length).kern, 1.5);
    EXPECT_EQ(start, 2);
    EXPECT_EQ(length, 2);

    // Setting the same values back merges the runs again.
    s.setKern(0, 0, 100);
    s.setForegroundColor(PlatformColor::black(), 0, s.length());
    ASSERT_EQ(s.runs().size(), 1u);
    EXPECT_EQ(s, text(QStringLiteral("Hello world")));
}

TEST(AttributedStringRuns, RangesAreClampedToTheText)
{
    AttributedString s = text(QStringLiteral("abc"));
    s.setForegroundColor(PlatformColor::red(), 2, 100);
    s.setForegroundColor(PlatformColor::red(), -5, 0);
    s.setForegroundColor(PlatformColor::red(), 50, 3);
    ASSERT_EQ(s.runs().size(), 2u);
    EXPECT_EQ(s.runs()[1].start, 2);
    EXPECT_EQ(s.runs()[1].length, 1);
    EXPECT_EQ(s.attributesAt(-3).foregroundColor, PlatformColor::black());
    EXPECT_EQ(s.attributesAt(99).foregroundColor, PlatformColor::red());
    // A range starting before the text covers only its part inside.
    AttributedString t = text(QStringLiteral("abcdef"));
    t.setKern(3, -4, 6);
    ASSERT_EQ(t.runs().size(), 2u);
    EXPECT_EQ(t.runs()[0].length, 2);
    EXPECT_EQ(t.runs()[0].attributes.kern, 3.0);
    t.setKern(1, 4, std::numeric_limits<qsizetype>::max());
    EXPECT_EQ(t.attributesAt(5).kern, 1.0);
    EXPECT_EQ(t.attributesAt(3).kern, 0.0);
    const AttributedString empty;
    EXPECT_EQ(empty.attributesAt(0).font.pointSize(), 12.0);
}

TEST(AttributedStringRuns, AStringCanBeAppendedToItself)
{
    AttributedString s = text(QStringLiteral("ab"));
    s.setForegroundColor(PlatformColor::red(), 1, 1);
    s.append(s);
    EXPECT_EQ(s.string(), QStringLiteral("abab"));
    ASSERT_EQ(s.runs().size(), 4u);
    EXPECT_EQ(s.attributesAt(3).foregroundColor, PlatformColor::red());
    EXPECT_EQ(s.attributesAt(2).foregroundColor, PlatformColor::black());
}

TEST(AttributedStringRuns, AppendKeepsEachPartsAttributes)
{
    AttributedString s = text(QStringLiteral("one "));
    s.append(text(QStringLiteral("two"), 30));
    s.append(QStringLiteral(" three"), s.attributesAt(0));
    EXPECT_EQ(s.string(), QStringLiteral("one two three"));
    ASSERT_EQ(s.runs().size(), 3u);
    EXPECT_EQ(s.attributesAt(5).font.pointSize(), 30.0);
    EXPECT_EQ(s.attributesAt(9).font.pointSize(), 20.0);
}

TEST(AttributedStringMeasure, SizeGrowsWithTheText)
{
    const Size shortSize = text(QStringLiteral("Idea")).size();
    const Size longSize = text(QStringLiteral("Idea with a longer title")).size();
    EXPECT_GT(shortSize.width, 10.0);
    EXPECT_GT(longSize.width, 3 * shortSize.width);
    EXPECT_DOUBLE_EQ(shortSize.height, longSize.height) << "one line each";
    const Size bigger = text(QStringLiteral("Idea"), 40).size();
    EXPECT_NEAR(bigger.width, 2 * shortSize.width, 0.05 * bigger.width);
    EXPECT_EQ(AttributedString().size(), Size(0, 0));
}

TEST(AttributedStringMeasure, OneLineIsTheFontsLineHeight)
{
    const PlatformFont font = lato(20);
    EXPECT_NEAR(text(QStringLiteral("Hg")).size().height, font.lineHeight(), 0.01);
    // A final line feed starts no further line; one inside does.
    EXPECT_NEAR(text(QStringLiteral("Hg\n")).size().height, font.lineHeight(), 0.01);
    EXPECT_NEAR(text(QStringLiteral("Hg\nHg")).size().height, 2 * font.lineHeight(), 0.01);
    EXPECT_NEAR(text(QStringLiteral("Hg\r\nHg")).size().height, 2 * font.lineHeight(), 0.01);
    EXPECT_NEAR(text(QStringLiteral("Hg\n\nHg")).size().height, 3 * font.lineHeight(), 0.01);
}

TEST(AttributedStringMeasure, KernAddsToEveryCharacter)
{
    AttributedString kerned = text(QStringLiteral("abcdefghij"));
    const double plain = kerned.size().width;
    kerned.setKern(2.0, 0, kerned.length());
    EXPECT_NEAR(kerned.size().width - plain, 20.0, 0.5);
}

TEST(AttributedStringMeasure, WrappingToAWidthGivesMoreLines)
{
    const AttributedString s =
        text(QStringLiteral("A title long enough to need several lines at this width"));
    const double lineHeight = lato(20).lineHeight();
    const Rect unbounded = s.boundingRectWithSize(Size(0, 0));
    EXPECT_EQ(unbounded.size, s.size());
    EXPECT_NEAR(unbounded.height(), lineHeight, 0.01);

    const Rect wrapped = s.boundingRectWithSize(Size(150, 1000));
    EXPECT_EQ(wrapped.origin, Point(0, 0));
    EXPECT_LE(wrapped.width(), 150.0);
    EXPECT_GE(wrapped.height(), 3 * lineHeight - 0.01) << "height " << wrapped.height();
    // The height is not cut to the size asked for.
    EXPECT_EQ(s.boundingRectWithSize(Size(150, 10)).height(), wrapped.height());

    const Rect narrower = s.boundingRectWithSize(Size(80, 0));
    EXPECT_GT(narrower.height(), wrapped.height());
}

TEST(AttributedStringMeasure, LongWordsBreakInsideWhenTheyCannotFit)
{
    const AttributedString word = text(QStringLiteral("Supercalifragilisticexpialidocious"));
    const Rect wrapped = word.boundingRectWithSize(Size(100, 0));
    EXPECT_LE(wrapped.width(), 100.0);
    EXPECT_GT(wrapped.height(), 2 * lato(20).lineHeight());

    AttributedString clipped = word;
    ParagraphStyle style;
    style.lineBreakMode = LineBreakMode::Clipping;
    clipped.setParagraphStyle(style, 0, clipped.length());
    EXPECT_NEAR(clipped.boundingRectWithSize(Size(100, 0)).height(), lato(20).lineHeight(), 0.01);
}

TEST(AttributedStringMeasure, TruncatingModesKeepOneLineWithinTheWidth)
{
    for (LineBreakMode mode :
         {LineBreakMode::TruncatingHead, LineBreakMode::TruncatingTail, LineBreakMode::TruncatingMiddle}) {
        AttributedString s = text(QStringLiteral("A title far too long for the width it is given"));
        ParagraphStyle style;
        style.lineBreakMode = mode;
        s.setParagraphStyle(style, 0, s.length());
        const Rect r = s.boundingRectWithSize(Size(120, 0));
        EXPECT_LE(r.width(), 120.0) << int(mode);
        EXPECT_GT(r.width(), 60.0) << int(mode);
        EXPECT_NEAR(r.height(), lato(20).lineHeight(), 0.01) << int(mode);
        // Text that fits stays whole.
        AttributedString fits = text(QStringLiteral("Fits"));
        fits.setParagraphStyle(style, 0, fits.length());
        EXPECT_EQ(fits.boundingRectWithSize(Size(120, 0)).width(), fits.size().width);
    }
}

TEST(AttributedStringMeasure, ParagraphStyleSpacingAndLineHeights)
{
    const double line = lato(20).lineHeight();
    AttributedString s = text(QStringLiteral("one\ntwo\nthree"));
    ParagraphStyle style;
    style.lineSpacing = 5;
    style.paragraphSpacing = 7;
    s.setParagraphStyle(style, 0, s.length());
    EXPECT_NEAR(s.size().height, 3 * line + 2 * (5 + 7), 0.01);

    style = ParagraphStyle();
    style.lineHeightMultiple = 2;
    s.setParagraphStyle(style, 0, s.length());
    EXPECT_NEAR(s.size().height, 6 * line, 0.01);

    style = ParagraphStyle();
    style.minimumLineHeight = 40;
    style.maximumLineHeight = 40;
    s.setParagraphStyle(style, 0, s.length());
    EXPECT_NEAR(s.size().height, 120, 0.01);
}

TEST(AttributedStringMeasure, WithoutLineFragmentOriginTheRectSitsOnTheBaseline)
{
    const AttributedString s = text(QStringLiteral("Hg\nsecond line"));
    const Rect r = s.boundingRectWithSize(Size(0, 0), 0);
    const PlatformFont font = lato(20);
    EXPECT_NEAR(r.minY(), font.descender(), 0.01);
    EXPECT_NEAR(r.height(), font.ascender() - font.descender(), 0.01);
    EXPECT_EQ(r.width(), text(QStringLiteral("Hg")).size().width);
}

TEST(AttributedStringMeasure, LeadingCountsOnlyWhenAsked)
{
    const AttributedString s = text(QStringLiteral("one\ntwo"));
    const PlatformFont font = lato(20);
    const double withLeading = s.boundingRectWithSize(Size(0, 0), AttributedString::UsesLineFragmentOrigin |
                                                                      AttributedString::UsesFontLeading)
                                   .height();
    const double without =
        s.boundingRectWithSize(Size(0, 0), AttributedString::UsesLineFragmentOrigin).height();
    EXPECT_NEAR(withLeading, 2 * font.lineHeight(), 0.01);
    EXPECT_NEAR(without, 2 * (font.ascender() - font.descender()), 0.01);
}

TEST(AttributedStringDraw, UprightAtTheTopOfTheRectInAYUpContext)
{
    auto context = GraphicsContext::createBitmap(200, 100);
    ASSERT_TRUE(context);
    ASSERT_FALSE(context->isFlipped());
    text(QStringLiteral("T"), 40).drawInRect(*context, Rect(0, 0, 200, 100));
    const QImage image = context->makeImage();
    saveForReview(image, kTextGroup, QStringLiteral("y_up_top"));
    const Ink ink = inkOf(image);
    ASSERT_FALSE(ink.isEmpty());
    // The rectangle's maximum y (row 0 of the bitmap) is the top of the text.
    EXPECT_LT(ink.top, 15) << ink;
    EXPECT_LT(ink.centroidY, 40) << ink;
    EXPECT_TRUE(isUprightT(ink)) << ink;
}

TEST(AttributedStringDraw, UprightAtTheTopOfTheRectInAFlippedContext)
{
    FlippedCanvas canvas(200, 100);
    ASSERT_TRUE(canvas.context->isFlipped());
    text(QStringLiteral("T"), 40).drawInRect(*canvas.context, Rect(0, 0, 200, 100));
    const QImage image = canvas.finish();
    saveForReview(image, kTextGroup, QStringLiteral("flipped_top"));
    const Ink ink = inkOf(image);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_LT(ink.top, 15) << ink;
    EXPECT_LT(ink.centroidY, 40) << ink;
    EXPECT_TRUE(isUprightT(ink)) << ink;
}

TEST(AttributedStringDraw, BothOrientationsGiveTheSameInk)
{
    const AttributedString s = text(QStringLiteral("Tiles"), 30);
    auto yUp = GraphicsContext::createBitmap(160, 80);
    s.drawInRect(*yUp, Rect(10, 10, 140, 60));
    FlippedCanvas flipped(160, 80);
    s.drawInRect(*flipped.context, Rect(10, 10, 140, 60));
    const Ink a = inkOf(yUp->makeImage());
    const Ink b = inkOf(flipped.finish());
    // In the y-up space the rectangle (10, 10, 140, 60) spans image rows 10..70 as well.
    EXPECT_NEAR(a.top, b.top, 1) << a << " / " << b;
    EXPECT_NEAR(a.bottom, b.bottom, 1) << a << " / " << b;
    EXPECT_NEAR(a.left, b.left, 1) << a << " / " << b;
    EXPECT_NEAR(a.centroidY, b.centroidY, 1.0) << a << " / " << b;
    EXPECT_GE(a.top, 10);
    EXPECT_LT(a.top, 25);
}

TEST(AttributedStringDraw, ARectHighUpInAYUpSpaceHangsTheTextFromItsMaximumY)
{
    auto context = GraphicsContext::createBitmap(200, 200);
    // User y 100..180 is image rows 20..100.
    text(QStringLiteral("T"), 40).drawInRect(*context, Rect(20, 100, 160, 80));
    const Ink ink = inkOf(context->makeImage());
    saveForReview(context->makeImage(), kTextGroup, QStringLiteral("y_up_high_rect"));
    EXPECT_GE(ink.top, 20) << ink;
    EXPECT_LT(ink.top, 35) << ink;
    EXPECT_LE(ink.bottom, 100) << ink;
    EXPECT_GE(ink.left, 20) << ink;
    EXPECT_TRUE(isUprightT(ink)) << ink;
}

TEST(AttributedStringDraw, DrawAtPointPutsTheBoxCornerAtThePoint)
{
    const AttributedString s = text(QStringLiteral("T"), 40);
    const double height = s.size().height;
    // y-up: the point is the box's bottom left.
    auto context = GraphicsContext::createBitmap(200, 200);
    s.drawAtPoint(*context, Point(30, 50));
    const Ink up = inkOf(context->makeImage());
    saveForReview(context->makeImage(), kTextGroup, QStringLiteral("draw_at_point_y_up"));
    EXPECT_LE(up.bottom, 150) << up;
    EXPECT_GE(up.top, int(150 - height)) << up;
    EXPECT_GE(up.left, 30) << up;
    EXPECT_TRUE(isUprightT(up)) << up;
    // Flipped: the point is the box's top left.
    FlippedCanvas canvas(200, 200);
    s.drawAtPoint(*canvas.context, Point(30, 50));
    const Ink down = inkOf(canvas.finish());
    EXPECT_GE(down.top, 50) << down;
    EXPECT_LE(down.bottom, int(50 + height)) << down;
    EXPECT_TRUE(isUprightT(down)) << down;
}

TEST(AttributedStringDraw, TheContextsTransformApplies)
{
    // Scaled by 2: the text comes out twice as large, still upright and at the top.
    auto plain = GraphicsContext::createBitmap(300, 150);
    text(QStringLiteral("T"), 20).drawInRect(*plain, Rect(0, 0, 150, 75));
    auto scaled = GraphicsContext::createBitmap(300, 150);
    scaled->scaleCTM(2, 2);
    text(QStringLiteral("T"), 20).drawInRect(*scaled, Rect(0, 0, 150, 75));
    const Ink a = inkOf(plain->makeImage());
    const Ink b = inkOf(scaled->makeImage());
    saveForReview(scaled->makeImage(), kTextGroup, QStringLiteral("scaled_ctm"));
    EXPECT_NEAR(b.bottom - b.top, 2 * (a.bottom - a.top), 3) << a << " / " << b;
    EXPECT_TRUE(isUprightT(b)) << b;
    EXPECT_LT(b.top, 20) << b;
}

TEST(AttributedStringDraw, AlignmentPlacesTheLine)
{
    const auto inkWith = [](TextAlignment alignment) {
        AttributedString s = text(QStringLiteral("Mid"), 20);
        ParagraphStyle style;
        style.alignment = alignment;
        s.setParagraphStyle(style, 0, s.length());
        auto context = GraphicsContext::createBitmap(300, 50);
        s.drawInRect(*context, Rect(0, 0, 300, 50));
        return inkOf(context->makeImage());
    };
    const Ink left = inkWith(TextAlignment::Left);
    const Ink center = inkWith(TextAlignment::Center);
    const Ink right = inkWith(TextAlignment::Right);
    const Ink natural = inkWith(TextAlignment::Natural);
    EXPECT_LT(left.left, 5) << left;
    EXPECT_NEAR((center.left + center.right) / 2.0, 150, 4) << center;
    EXPECT_GT(right.right, 292) << right;
    EXPECT_EQ(natural.left, left.left);
}

TEST(AttributedStringDraw, LinesThatDoNotFitTheHeightAreLeftOut)
{
    const AttributedString s = text(QStringLiteral("first\nsecond\nthird"), 20);
    const double line = lato(20).lineHeight();
    auto context = GraphicsContext::createBitmap(200, 200);
    // Room for two whole lines and a half.
    s.drawInRect(*context, Rect(0, 200 - 2.5 * line, 200, 2.5 * line));
    const Ink ink = inkOf(context->makeImage());
    EXPECT_LT(ink.bottom, 2 * line + 1) << ink;
    EXPECT_GT(ink.bottom, line) << ink;

    auto tiny = GraphicsContext::createBitmap(200, 200);
    s.drawInRect(*tiny, Rect(0, 0, 200, line / 2));
    EXPECT_TRUE(inkOf(tiny->makeImage()).isEmpty());
}

TEST(AttributedStringDraw, ClippingKeepsInkInsideTheRect)
{
    AttributedString s = text(QStringLiteral("WWWWWWWWWWWWWWWWWWWW"), 20);
    ParagraphStyle style;
    style.lineBreakMode = LineBreakMode::Clipping;
    s.setParagraphStyle(style, 0, s.length());
    auto context = GraphicsContext::createBitmap(300, 60);
    s.drawInRect(*context, Rect(20, 0, 100, 60));
    const Ink ink = inkOf(context->makeImage());
    EXPECT_GE(ink.left, 20) << ink;
    EXPECT_LT(ink.right, 120) << ink;
}

TEST(AttributedStringDraw, RunsDrawInTheirOwnColours)
{
    AttributedString s = text(QStringLiteral("RRRR"), 30, PlatformColor::red());
    s.append(text(QStringLiteral("BBBB"), 30, PlatformColor::deviceRGB(0, 0, 1)));
    auto context = GraphicsContext::createBitmap(200, 50);
    s.drawInRect(*context, Rect(0, 0, 200, 50));
    const QImage image = context->makeImage();
    saveForReview(image, kTextGroup, QStringLiteral("colours"));
    const double split = text(QStringLiteral("RRRR"), 30).size().width;
    int red = 0, blue = 0, wrong = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const auto p = corvex::test::pixelAt(image, x, y);
            // Where the two runs meet a pixel may take ink from both.
            if (p.a < 200 || std::abs(x - split) < 2)
                continue;
            const bool leftPart = x < split;
            // Premultiplied: the own channel equals alpha, the others stay near 0.
            if (leftPart && p.r >= p.a - 2 && p.g + p.b < 40)
                ++red;
            else if (!leftPart && p.b >= p.a - 2 && p.r + p.g < 40)
                ++blue;
            else {
                ++wrong;
                ADD_FAILURE() << "pixel " << x << ", " << y << " is " << p << " (split at " << split << ")";
            }
        }
    }
    EXPECT_GT(red, 50);
    EXPECT_GT(blue, 50);
    EXPECT_EQ(wrong, 0);
}

TEST(AttributedStringDraw, EmojiDrawInColour)
{
    const PlatformFont emoji = PlatformFont::fontWithName(QStringLiteral("Apple Color Emoji"), 40);
    const AttributedString s(QStringLiteral("\U0001F600"), emoji, PlatformColor::black());
    auto context = GraphicsContext::createBitmap(80, 80);
    s.drawInRect(*context, Rect(0, 0, 80, 80));
    const QImage image = context->makeImage();
    saveForReview(image, kTextGroup, QStringLiteral("emoji"));
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const auto p = corvex::test::pixelAt(image, x, y);
            if (p.a > 200 && std::abs(p.r - p.b) > 60)
                ++coloured;
        }
    }
    EXPECT_GT(coloured, 100) << "the emoji font's colour glyphs, not black ink";
}

TEST(AttributedStringLayout, TextLayoutsCarryTheRunsInPoints)
{
    AttributedString s = text(QStringLiteral("ab\ncd"), 20);
    s.setFont(lato(40), 3, 2);
    auto layout = s.createTextLayout(3, 5);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->text(), QStringLiteral("cd"));
    layout->beginLayout();
    QTextLine line = layout->createLine();
    line.setLineWidth(1000);
    layout->endLayout();
    EXPECT_NEAR(line.naturalTextWidth(), text(QStringLiteral("cd"), 40).size().width, 0.01);
}

// Each sequence in text set in Lato: one glyph of the colour face, drawn in colour.
TEST(AttributedStringDraw, EmojiSequencesInTextAreOneColourGlyph)
{
    const struct
    {
        const char* name;
        QString sequence;
    } cases[] = {
        {"camping", QStringLiteral("\U0001F3D5")}, // an emoji by default only as a pictograph
        {"technologist", QStringLiteral("\U0001F469\u200D\U0001F4BB")}, // joined
        {"keycap", QStringLiteral("1\uFE0F\u20E3")},
        {"flag", QStringLiteral("\U0001F1EB\U0001F1F7")},
        {"skin_tone", QStringLiteral("\U0001F44D\U0001F3FD")},
        {"heart", QStringLiteral("\u2764\uFE0F")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AttributedString s = text(QStringLiteral("Camping ") + c.sequence, 40);
        auto layout = s.createTextLayout(0, s.length());
        layout->beginLayout();
        layout->createLine().setLineWidth(1000);
        layout->endLayout();
        int emojiGlyphs = 0;
        for (const QGlyphRun& run : layout->lineAt(0).glyphRuns()) {
            if (run.rawFont().familyName() == QStringLiteral("Noto Color Emoji"))
                emojiGlyphs += int(run.glyphIndexes().size());
            else
                EXPECT_EQ(run.rawFont().familyName(), QStringLiteral("Lato"))
                    << "a part of the emoji in another face";
        }
        EXPECT_EQ(emojiGlyphs, 1);

        auto context = GraphicsContext::createBitmap(320, 60);
        s.drawInRect(*context, Rect(0, 0, 320, 60));
        const QImage image = context->makeImage();
        saveForReview(image, kTextGroup, QStringLiteral("emoji_") + QLatin1String(c.name));
        int coloured = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const auto p = corvex::test::pixelAt(image, x, y);
                if (p.a > 200 &&
                    std::max({std::abs(p.r - p.b), std::abs(p.r - p.g), std::abs(p.g - p.b)}) > 60)
                    ++coloured;
            }
        }
        EXPECT_GT(coloured, 100) << "the colour face's glyph, not black ink";
    }
}

TEST(EmojiClustersFind, OnlyEmojiPresentationsAreClusters)
{
    using Range = EmojiClusters::Range;
    const struct
    {
        QString text;
        std::vector<Range> clusters;
    } cases[] = {
        {QStringLiteral("1 \u00A9 \u2764 a"), {}},        // text by default
        {QStringLiteral("\u0915\u094D\u200D\u0937"), {}}, // Devanagari's joiner
        {QStringLiteral("\U0001F3D5\uFE0E"), {}},         // asked for as text
        {QStringLiteral("a1\uFE0F\u20E3b"), {{1, 3}}},
        {QStringLiteral("x\U0001F469\u200D\U0001F4BB\U0001F1EB\U0001F1F7 \U0001F44D\U0001F3FD"),
         {{1, 9}, {11, 4}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EmojiClusters::find(c.text), c.clusters) << c.text.toStdString();
}
