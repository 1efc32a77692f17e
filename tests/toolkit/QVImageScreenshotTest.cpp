#include "toolkit/QVImageScreenshot.h"

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/graphics/ImageTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/BaseView.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>
#include <ostream>

using namespace corvex;
using corvex::test::imagePixel;
using corvex::test::kBlue;
using corvex::test::kClear;
using corvex::test::kGreen;
using corvex::test::kRed;
using corvex::test::LogCapture;
using corvex::test::saveEnlargedOutput;

namespace {

// Draws a red band along its top edge (10 points) over blue, whichever way its y axis runs,
// and says which way that was.
class BandedView : public View
{
public:
    BandedView(const Rect& frame, bool flipped) : View(frame), mFlipped(flipped) {}
    bool isFlipped() const override { return mFlipped; }
    void drawRect(const Rect&, GraphicsContext& context) override
    {
        const Rect b = bounds();
        context.setFillColor(PlatformColor::deviceRGB(0, 0, 1, 1));
        context.fillRect(b);
        context.setFillColor(PlatformColor::deviceRGB(1, 0, 0, 1));
        context.fillRect(mFlipped ? Rect(0, 0, b.width(), 10) : Rect(0, b.height() - 10, b.width(), 10));
        drewFlipped = context.isFlipped();
        ++draws;
    }
    bool drewFlipped = false;
    int draws = 0;

private:
    bool mFlipped;
};

// A 40 x 30 view with the red band on top and a green 8 x 8 subview in its top-left corner.
std::shared_ptr<BandedView> makeBanded(bool flipped, const Rect& frame = Rect(0, 0, 40, 30))
{
    auto view = std::make_shared<BandedView>(frame, flipped);
    auto corner = View::create(flipped ? Rect(0, 0, 8, 8) : Rect(0, 22, 8, 8));
    corner->layer()->setBackgroundColor(PlatformColor::deviceRGB(0, 1, 0, 1));
    view->addSubview(corner);
    view->setNeedsDisplay();
    return view;
}

void expectUpright(const QImage& image, const std::string& context)
{
    ASSERT_EQ(image.size(), QSize(40, 30)) << context;
    EXPECT_EQ(imagePixel(image, 2, 2), kGreen) << context << ": the subview sits in the top-left corner";
    EXPECT_EQ(imagePixel(image, 20, 0), kRed) << context << ": the top row is the top of the view";
    EXPECT_EQ(imagePixel(image, 39, 9), kRed) << context;
    EXPECT_EQ(imagePixel(image, 20, 10), kBlue) << context;
    EXPECT_EQ(imagePixel(image, 20, 29), kBlue) << context << ": the bottom row is the bottom of the view";
    EXPECT_EQ(imagePixel(image, 2, 27), kBlue) << context;
}

} // namespace

TEST(QVImageScreenshot, AFlippedAndAnUnflippedViewComeOutUprightWhereverTheyAre)
{
    for (const bool flipped : {true, false}) {
        const std::string kind = flipped ? "flipped view" : "unflipped view";

        auto alone = makeBanded(flipped);
        const QVImage standalone = QVImageScreenshot::initByCapturingScreenshot(alone.get());
        EXPECT_EQ(alone->drewFlipped, flipped) << kind << ": drawn in its own coordinates";
        expectUpright(standalone.cgImage(), kind + " without a superview");
        saveEnlargedOutput(standalone.cgImage(),
                           QString::fromStdString("screenshot_" + kind.substr(0, kind.find(' '))));

        auto window = Window::create(Size(40, 30));
        auto content = makeBanded(flipped);
        window->setContentView(content);
        expectUpright(QVImageScreenshot::initByCapturingScreenshot(content.get()).cgImage(),
                      kind + " as a window's content view");

        for (const bool superFlipped : {true, false}) {
            auto super = std::make_shared<BandedView>(Rect(0, 0, 100, 80), superFlipped);
            auto inner = makeBanded(flipped, Rect(30, 20, 40, 30));
            super->addSubview(inner);
            window->setContentView(super);
            expectUpright(QVImageScreenshot::initByCapturingScreenshot(inner.get()).cgImage(),
                          kind + " in a " + (superFlipped ? "flipped" : "unflipped") + " superview");
        }
    }
}

TEST(QVImageScreenshot, ABaseViewHostingAViewComesOutUpright)
{
    auto host = BaseView::create(Rect(0, 0, 40, 30));
    host->layer()->setBackgroundColor(PlatformColor::deviceRGB(0, 0, 1, 1));
    auto band = View::create();
    band->layer()->setBackgroundColor(PlatformColor::deviceRGB(1, 0, 0, 1));
    host->addHostedView(
        band, [](View& view, const Rect& bounds) { view.setFrame(Rect(0, 0, bounds.width(), 10)); });
    host->layoutSubtreeIfNeeded();
    ASSERT_EQ(band->frame(), Rect(0, 0, 40, 10));
    const QImage image = QVImageScreenshot::initByCapturingScreenshot(host.get()).cgImage();
    ASSERT_EQ(image.size(), QSize(40, 30));
    EXPECT_EQ(imagePixel(image, 20, 0), kRed);
    EXPECT_EQ(imagePixel(image, 20, 9), kRed);
    EXPECT_EQ(imagePixel(image, 20, 10), kBlue);
    EXPECT_EQ(imagePixel(image, 20, 29), kBlue);
    saveEnlargedOutput(image, QStringLiteral("screenshot_base_view"));
}

TEST(QVImageScreenshot, TheCaptureHasTheBoundsSizeAndShowsCurrentContents)
{
    auto view = makeBanded(true, Rect(500, 400, 40, 30));
    const QImage first = QVImageScreenshot::initByCapturingScreenshot(view.get()).cgImage();
    EXPECT_EQ(first.size(), QSize(40, 30)) << "the view's bounds, not its place";
    EXPECT_EQ(view->draws, 1) << "a view marked for display is drawn for the capture";
    EXPECT_FALSE(view->needsDisplay());
    QVImageScreenshot::initByCapturingScreenshot(view.get());
    EXPECT_EQ(view->draws, 1) << "and only then";

    auto fractional = makeBanded(true, Rect(0, 0, 40.7, 30.9));
    EXPECT_EQ(QVImageScreenshot::initByCapturingScreenshot(fractional.get()).pixelSize(), Size(40, 30))
        << "whole pixels, truncated";
}

TEST(QVImageScreenshot, AHiddenViewGivesAClearImageOfItsSize)
{
    auto view = makeBanded(true);
    view->setHidden(true);
    const QImage image = QVImageScreenshot::initByCapturingScreenshot(view.get()).cgImage();
    ASSERT_EQ(image.size(), QSize(40, 30));
    EXPECT_EQ(imagePixel(image, 20, 0), kClear);
    EXPECT_EQ(imagePixel(image, 2, 2), kClear);
}

TEST(QVImageScreenshot, NoViewOrAnEmptyViewGivesAnImageOfZeroSizeAfterTheBitmapsAssertion)
{
    LogCapture log;
    const QVImage none = QVImageScreenshot::initByCapturingScreenshot(nullptr);
    EXPECT_FALSE(none.hasImage());
    EXPECT_EQ(none.pixelSize(), Size(0, 0));
    EXPECT_EQ(log.count(QStringLiteral(
                  "ERROR: Assertion failure, line: 220 +[QVImage createBitmapContextForSize:]")),
              1)
        << log.lines().join(QLatin1Char('\n')).toStdString();

    auto empty = View::create(Rect(10, 10, 0, 25));
    EXPECT_EQ(QVImageScreenshot::initByCapturingScreenshot(empty.get()).pixelSize(), Size(0, 0));
    EXPECT_EQ(log.count(QStringLiteral("line: 220")), 2);
}
