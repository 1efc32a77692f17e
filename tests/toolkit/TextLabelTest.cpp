// The label: never first responder and never hit, so clicks reach the view holding it; its two
// API forms (text with setAttributedText, and the text field's setFont / setTextColor /
// setDrawsBackground / setBackgroundColor / setAttributedStringValue / sizeToFit); its drawing.

#include "toolkit/TextLabel.h"

#include "platform/ui/Event.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/FieldTestSupport.h"
#include "toolkit/ColoredView.h"

#include <QStringList>
#include <cmath>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A button-like view that takes focus and clicks.
class ClickTarget : public View
{
public:
    explicit ClickTarget(const Rect& frame) : View(frame) {}
    bool acceptsFirstResponder() const override { return true; }
    bool isFlipped() const override { return true; }
    void mouseDown(const Event&) override { ++downs; }
    void mouseUp(const Event&) override { ++ups; }
    int downs = 0;
    int ups = 0;
};

TextAttributes attributes(const PlatformFont& font, const PlatformColor& color, TextAlignment alignment)
{
    TextAttributes a;
    a.font = font;
    a.foregroundColor = color;
    a.paragraphStyle.alignment = alignment;
    return a;
}

const PlatformColor kLabelRed = PlatformColor::sRGB(1, 0, 0);
const PlatformColor kLabelBlue = PlatformColor::sRGB(0, 0, 1);

} // namespace

TEST(TextLabel, InsideAButtonItNeverTakesTheClickOrTheFocus)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(200, 100));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto button = std::make_shared<ClickTarget>(Rect(20, 20, 120, 40));
    background->addSubview(button);
    auto label = TextLabel::create(Rect(10, 10, 100, 20));
    label->setText(QStringLiteral("Press me"));
    button->addSubview(label);

    EXPECT_FALSE(label->acceptsFirstResponder());
    EXPECT_EQ(label->hitTest(Point(50, 15)), nullptr);
    const Point onLabel = label->convertPointToView(Point(50, 10), nullptr);
    EXPECT_EQ(window->contentView()->hitTest(onLabel), button.get()) << "the hit test finds the button";
    window->sendEvent(Event::mouseDown(onLabel));
    window->sendEvent(Event::mouseUp(onLabel));
    EXPECT_EQ(button->downs, 1);
    EXPECT_EQ(button->ups, 1);

    EXPECT_FALSE(window->makeFirstResponder(label.get()));
    EXPECT_NE(window->firstResponder(), label.get());
    EXPECT_TRUE(window->makeFirstResponder(button.get()));
    EXPECT_EQ(window->firstResponder(), button.get());
}

TEST(TextLabel, PlainTextTakesTheLabelsFontColourAndAlignment)
{
    auto label = TextLabel::create();
    EXPECT_EQ(label->font(), PlatformFont::systemFont(13.0));
    EXPECT_EQ(label->textColor(), PlatformColor::black());
    EXPECT_FALSE(label->drawsBackground());
    const PlatformFont font = PlatformFont::systemFont(20.0);
    label->setFont(font);
    label->setTextColor(kLabelRed);
    label->setAlignment(TextAlignment::Center);
    label->setText(QStringLiteral("Idea"));
    EXPECT_EQ(label->text(), QStringLiteral("Idea"));
    EXPECT_EQ(label->attributedText().attributesAt(0), attributes(font, kLabelRed, TextAlignment::Center));
    EXPECT_EQ(label->attributedText().runs().size(), 1u);
}

TEST(TextLabel, TheTextFieldSettersChangeTheWholeCurrentText)
{
    auto label = TextLabel::create();
    AttributedString text(QStringLiteral("ab"),
                          attributes(PlatformFont::systemFont(10), kLabelRed, TextAlignment::Left));
    text.append(QStringLiteral("cd"),
                attributes(PlatformFont::boldSystemFont(12), kLabelBlue, TextAlignment::Left));
    label->setAttributedStringValue(text);
    EXPECT_EQ(label->attributedStringValue(), text);

    const PlatformFont font = PlatformFont::systemFont(16);
    label->setFont(font);
    label->setTextColor(PlatformColor::white());
    for (qsizetype i : {0, 3}) {
        EXPECT_EQ(label->attributedText().attributesAt(i).font, font) << i;
        EXPECT_EQ(label->attributedText().attributesAt(i).foregroundColor, PlatformColor::white()) << i;
    }
    EXPECT_EQ(label->text(), QStringLiteral("abcd"));
}

TEST(TextLabel, AttributedTextKeepsItsRunsAndLendsItsFirstAttributesToTheLabel)
{
    auto label = TextLabel::create();
    const PlatformFont first = PlatformFont::systemFont(18);
    AttributedString text(QStringLiteral("Big"), attributes(first, kLabelBlue, TextAlignment::Right));
    text.append(QStringLiteral(" small"),
                attributes(PlatformFont::systemFont(9), kLabelRed, TextAlignment::Right));
    label->setAttributedText(text);
    EXPECT_EQ(label->attributedText(), text);
    EXPECT_EQ(label->font(), first);
    EXPECT_EQ(label->fontSize(), 18.0);
    EXPECT_EQ(label->textColor(), kLabelBlue);
    EXPECT_EQ(label->alignment(), TextAlignment::Right);
    // A plain string afterwards gets those attributes.
    label->setText(QStringLiteral("plain"));
    EXPECT_EQ(label->attributedText().attributesAt(0), attributes(first, kLabelBlue, TextAlignment::Right));
}

TEST(TextLabel, FontSizeKeepsTheFace)
{
    auto label = TextLabel::create();
    label->setFont(PlatformFont::boldSystemFont(12));
    label->setText(QStringLiteral("x"));
    label->setFontSize(30);
    EXPECT_EQ(label->fontSize(), 30.0);
    EXPECT_EQ(label->font(), PlatformFont::boldSystemFont(30));
    EXPECT_EQ(label->attributedText().attributesAt(0).font, PlatformFont::boldSystemFont(30));
}

TEST(TextLabel, SizeToFitKeepsTheOriginAndFitsTheTextWithItsPadding)
{
    auto label = TextLabel::create(Rect(7, 9, 3, 3));
    label->setText(QStringLiteral("A longer label"));
    const Size text = label->attributedText().size();
    label->sizeToFit();
    EXPECT_EQ(label->frame().origin, Point(7, 9));
    EXPECT_EQ(label->frame().size.width, std::ceil(text.width + 2 * TextLabel::TextPadding));
    EXPECT_EQ(label->frame().size.height, std::ceil(text.height));
    // More text, wider label.
    label->setText(QStringLiteral("A longer label, longer still"));
    label->sizeToFit();
    EXPECT_GT(label->frame().size.width, std::ceil(text.width + 2 * TextLabel::TextPadding));
    // An empty label is one line of its font high.
    label->setText(QString());
    label->sizeToFit();
    EXPECT_EQ(label->frame().size.height, std::ceil(label->font().lineHeight()));
}

// ---- Drawing ----

namespace {

struct LabelPicture
{
    QImage image;
    int coloured = 0;        // pixels close to the probe colour
    int colouredOutside = 0; // of them, outside the label
};

// The label at (10, 10) in a white 200 x 40 window, at 1 pixel a point; counts the pixels
// whose colour is near `probe`.
LabelPicture renderLabel(const std::shared_ptr<TextLabel>& label, const QColor& probe)
{
    auto window = Window::create(Size(200, 40));
    window->setBackingScaleFactorOverride(1);
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    background->addSubview(label);
    LabelPicture picture;
    picture.image = window->renderToImage(1);
    const QRect area = pixelRect(label->frame(), 1, 0);
    for (int y = 0; y < picture.image.height(); ++y) {
        for (int x = 0; x < picture.image.width(); ++x) {
            const QColor c = pixelAt(picture.image, x, y);
            if (std::abs(c.red() - probe.red()) + std::abs(c.green() - probe.green()) +
                    std::abs(c.blue() - probe.blue()) <
                60) {
                ++picture.coloured;
                if (!area.contains(x, y))
                    ++picture.colouredOutside;
            }
        }
    }
    return picture;
}

} // namespace

TEST(TextLabelRendering, TheTextIsDrawnInItsColourInsideTheLabelOnly)
{
    ScopedVirtualTime time;
    auto label = TextLabel::create(Rect(10, 10, 150, 20));
    label->setFont(PlatformFont::boldSystemFont(16));
    label->setTextColor(kLabelRed);
    label->setText(QStringLiteral("Mindmap planets"));
    const LabelPicture picture = renderLabel(label, QColor(255, 0, 0));
    saveOutput(picture.image, QStringLiteral("label_text"));
    EXPECT_GT(picture.coloured, 40) << "red glyphs";
    EXPECT_EQ(picture.colouredOutside, 0);
    // Without a background the white window shows around the glyphs.
    EXPECT_EQ(pixelAt(picture.image, 158, 28), QColor(255, 255, 255));
}

TEST(TextLabelRendering, TheBackgroundIsFilledOnlyWhenAskedFor)
{
    ScopedVirtualTime time;
    auto label = TextLabel::create(Rect(10, 10, 150, 20));
    label->setBackgroundColor(kLabelBlue);
    label->setText(QStringLiteral("x"));
    EXPECT_EQ(renderLabel(label, QColor(0, 0, 255)).coloured, 0) << "drawsBackground is off";
    EXPECT_FALSE(label->isOpaque());

    label->removeFromSuperview();
    label->setDrawsBackground(true);
    EXPECT_TRUE(label->isOpaque());
    const LabelPicture picture = renderLabel(label, QColor(0, 0, 255));
    saveOutput(picture.image, QStringLiteral("label_background"));
    EXPECT_EQ(picture.colouredOutside, 0);
    EXPECT_GT(picture.coloured, 150 * 20 - 100) << "the whole label but the glyph";
}
