// The non-editable text block: only setText rebuilds the text, the defaults (fontAvenirBook 12,
// black), the paragraph style it always uses, and sizing to the text (sizeToFit,
// sizeToFitWidth) through the hosted read-only text view's used rectangle.

#include "toolkit/TextView.h"

#include "model/Globals.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/FieldTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/ReadOnlyTextView.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kParagraph = QStringLiteral(
    "The welcome screen explains how ideas orbit around the central planet, how to add a new idea with a "
    "double click, and how to export the whole map when it is ready to be shared with others.");

const TextAttributes& storedAttributes(const TextView& view)
{
    return view.hostedTextView()->textStorage().attributesAt(0);
}

} // namespace

TEST(TextView, NothingIsHostedBeforeTheFirstText)
{
    auto view = TextView::create();
    EXPECT_EQ(view->hostedTextView(), nullptr);
    EXPECT_TRUE(view->subviews().empty());
    EXPECT_EQ(view->intrinsicContentSize(), Size());
    EXPECT_EQ(view->lineHeightMultiple(), 1.0);
    view->setText(QStringLiteral("Hi"));
    ASSERT_NE(view->hostedTextView(), nullptr);
    ASSERT_EQ(view->subviews().size(), 1u);
    EXPECT_EQ(view->subviews().front(), view->hostedTextView());
    // A second text reuses the hosted view.
    const auto hosted = view->hostedTextView();
    view->setText(QStringLiteral("Again"));
    EXPECT_EQ(view->hostedTextView(), hosted);
    EXPECT_EQ(view->subviews().size(), 1u);
    EXPECT_EQ(hosted->textStorage().string(), QStringLiteral("Again"));
}

TEST(TextView, WithoutFontAndColourTheTextIsAvenirBookTwelveInBlack)
{
    auto view = TextView::create();
    view->setText(QStringLiteral("Welcome"));
    const TextAttributes& a = storedAttributes(*view);
    EXPECT_EQ(a.font, Globals::fontAvenirBook(12.0));
    EXPECT_EQ(a.font.pointSize(), 12.0);
    EXPECT_EQ(a.foregroundColor, PlatformColor::black());
    EXPECT_EQ(a.kern, 0.0);
    EXPECT_EQ(view->hostedTextView()->textStorage().runs().size(), 1u);
}

TEST(TextView, SettingTheFontAfterTheTextChangesNothingUntilTheTextIsSetAgain)
{
    auto view = TextView::create();
    view->setText(QStringLiteral("Legal notice"));
    const Size before = view->intrinsicContentSize();
    const PlatformFont big = PlatformFont::boldSystemFont(30);
    view->setFont(big);
    view->setTextColor(PlatformColor::sRGB(1, 0, 0));
    view->setKern(2);
    EXPECT_EQ(storedAttributes(*view).font, TextView::defaultFont());
    EXPECT_EQ(storedAttributes(*view).foregroundColor, PlatformColor::black());
    EXPECT_EQ(view->intrinsicContentSize(), before);
    view->setText(QStringLiteral("Legal notice"));
    EXPECT_EQ(storedAttributes(*view).font, big);
    EXPECT_EQ(storedAttributes(*view).foregroundColor, PlatformColor::sRGB(1, 0, 0));
    EXPECT_EQ(storedAttributes(*view).kern, 2.0);
    EXPECT_GT(view->intrinsicContentSize().height, before.height);
}

TEST(TextView, TheParagraphStyleHasTheAlignmentAndAlwaysSpacingZeroAndMultipleOne)
{
    auto view = TextView::create();
    view->setTextAlignment(2);
    view->setLineSpacing(7);
    view->setLineHeightMultiple(2.5);
    view->setText(QStringLiteral("Centred"));
    const ParagraphStyle& style = storedAttributes(*view).paragraphStyle;
    ParagraphStyle expected;
    expected.alignment = TextAlignment::Center;
    expected.lineSpacing = 0;
    expected.lineHeightMultiple = 1.0;
    EXPECT_EQ(style, expected) << "line spacing " << style.lineSpacing << ", multiple "
                               << style.lineHeightMultiple;
    // The stored values read back.
    EXPECT_EQ(view->lineSpacing(), 7.0);
    EXPECT_EQ(view->lineHeightMultiple(), 2.5);
    view->setTextAlignment(1);
    view->setText(QStringLiteral("Right"));
    EXPECT_EQ(storedAttributes(*view).paragraphStyle.alignment, TextAlignment::Right);
}

TEST(TextView, TheKernIsKeptInSinglePrecision)
{
    auto view = TextView::create();
    view->setKern(0.1);
    view->setText(QStringLiteral("kern"));
    EXPECT_EQ(storedAttributes(*view).kern, double(0.1f));
    EXPECT_NE(storedAttributes(*view).kern, 0.1);
}

TEST(TextView, TheInsetReachesTheHostedView)
{
    auto view = TextView::create();
    view->setInset(Size(5, 3));
    view->setText(QStringLiteral("x"));
    EXPECT_EQ(view->hostedTextView()->textContainerInset(), Size(5, 3));
}

TEST(TextView, TheHostedViewFillsTheBounds)
{
    auto view = TextView::create();
    view->setText(QStringLiteral("Fill"));
    view->setFrame(Rect(20, 30, 160, 50));
    EXPECT_EQ(view->hostedTextView()->frame(), Rect(0, 0, 160, 50));
}

TEST(TextView, SizeToFitWidthOnAShortWordStaysBelowTheWidth)
{
    auto view = TextView::create();
    view->setText(QStringLiteral("Idea"));
    view->sizeToFitWidth(200);
    const double natural = view->hostedTextView()->textStorage().size().width;
    EXPECT_LT(view->frame().size.width, 200.0);
    EXPECT_NEAR(view->frame().size.width, natural, 0.01);
    EXPECT_EQ(view->frame().size, view->hostedTextView()->frame().size);
    EXPECT_NEAR(view->frame().size.height, Globals::fontAvenirBook(12).lineHeight(), 1.0) << "one line";
}

TEST(TextView, SizeToFitWidthOnAParagraphTakesTheWidthAndTheWrappedHeight)
{
    auto view = TextView::create();
    view->setText(kParagraph);
    view->sizeToFitWidth(200);
    EXPECT_EQ(view->frame().size.width, 200.0);
    const Rect wrapped = view->hostedTextView()->textStorage().boundingRectWithSize(Size(200, 0));
    EXPECT_NEAR(view->frame().size.height, wrapped.height(), 0.01);
    EXPECT_GT(view->frame().size.height, 3 * Globals::fontAvenirBook(12).lineHeight()) << "several lines";
    EXPECT_EQ(view->frame().size, view->hostedTextView()->frame().size);
}

TEST(TextView, SizeToFitWidthAddsTheInsetWidthButNeverPassesTheWidth)
{
    auto view = TextView::create();
    view->setInset(Size(6, 0));
    view->setText(QStringLiteral("Idea"));
    view->sizeToFitWidth(200);
    const double natural = view->hostedTextView()->textStorage().size().width;
    EXPECT_NEAR(view->frame().size.width, float(natural + 6), 0.01);

    view->setText(kParagraph);
    view->sizeToFitWidth(200);
    EXPECT_EQ(view->frame().size.width, 200.0);
}

TEST(TextView, SizeToFitKeepsTheOriginAndTakesTheUsedSize)
{
    auto view = TextView::create();
    view->setFrame(Rect(12, 34, 500, 100));
    view->setText(QStringLiteral("Short text"));
    const Size used = view->hostedTextView()->usedRect().size;
    EXPECT_EQ(view->intrinsicContentSize(), used);
    view->sizeToFit();
    EXPECT_EQ(view->frame().origin, Point(12, 34));
    EXPECT_EQ(view->frame().size, used);
    EXPECT_EQ(view->hostedTextView()->frame().size, used);
}

TEST(TextViewRendering, TheTextIsDrawnInItsColourWithinTheView)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(240, 120));
    window->setBackingScaleFactorOverride(1);
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto view = TextView::create();
    background->addSubview(view);
    view->setTextColor(PlatformColor::sRGB(0, 0, 1));
    view->setText(kParagraph);
    view->setFrameOrigin(Point(10, 10));
    view->sizeToFitWidth(200);
    const QImage shown = window->renderToImage(1);
    saveOutput(shown, QStringLiteral("text_view"));
    const QRect area = pixelRect(view->frame(), 1, 0);
    int blue = 0;
    int blueOutside = 0;
    int lastBlueRow = -1;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QColor c = pixelAt(shown, x, y);
            if (c.blue() > 200 && c.red() < 100 && c.green() < 100) {
                ++blue;
                lastBlueRow = std::max(lastBlueRow, y);
                if (!area.contains(x, y))
                    ++blueOutside;
            }
        }
    }
    EXPECT_GT(blue, 200);
    EXPECT_EQ(blueOutside, 0);
    EXPECT_GT(lastBlueRow, area.top() + area.height() * 3 / 4) << "the wrapped lines reach down the view";
}
