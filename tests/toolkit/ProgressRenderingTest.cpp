// The spinner, the round and bar indicators and the progress HUD against reference pictures
// drawn from the drawing rules by tests/data/gen/make_progress_references.py
// (tests/data/widgets/progress_*.png). Text is left out of the comparison; our renderings
// go to test-output/toolkit/progress/.

#include "toolkit/ProgressHUD.h"

#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/WidgetReferenceSupport.h"
#include "toolkit/BarProgressView.h"
#include "toolkit/ProgressHUDLabel.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/RoundProgressView.h"
#include "toolkit/SpinningProgressIndicator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRect>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

// The colours the reference script uses.
const PlatformColor kFinColor = PlatformColor::deviceRGB(0.1, 0.3, 0.8, 1.0);
const PlatformColor kDarkBox = PlatformColor::deviceRGB(0.2, 0.25, 0.3, 1.0);
// One line of the label and details fonts, as the script assumes them.
constexpr double kLabelHeight = 19.203125;
constexpr double kDetailsHeight = 17;

void save(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/toolkit/progress");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QImage render(View& view)
{
    return premultiplied(QVImageScreenshot::initByCapturingScreenshot(&view).cgImage());
}

// A view rectangle (y-up, in the captured view's bounds of height `height`) as image pixels,
// grown by a pixel for the text's antialiasing.
QRect pixelsOf(const Rect& r, double height)
{
    return QRect(int(r.minX()) - 1, int(height - r.maxY()) - 1, int(r.width()) + 3, int(r.height()) + 3);
}

constexpr uchar kTransparent[4] = {0, 0, 0, 0};

// The largest difference of any channel between two premultiplied pixels.
int pixelDifference(const uchar* a, const uchar* b)
{
    int d = 0;
    for (int c = 0; c < 4; ++c)
        d = std::max(d, std::abs(int(a[c]) - int(b[c])));
    return d;
}

// Compares premultiplied bytes outside `excluded`. Where the reference is flat (no pixel of
// its 3 x 3 neighbourhood differs from it by more than `tolerance`) ours must match within
// `tolerance`: a shape in the wrong place, of the wrong size or colour, or missing, fails
// there. On the reference's edges (pixels with a neighbour that differs more) the script's exact coverage and
// the painter's antialiasing (which flattens curves into chords) may differ, but only by what an edge moved
// by a quarter of a pixel changes: `edgeTolerance`.
void expectMatchesReference(const QImage& ours, const QString& name, const std::vector<QRect>& excluded = {},
                            int tolerance = 6, int edgeTolerance = 64)
{
    save(ours, name);
    const QImage expected = widgetReference(name);
    ASSERT_FALSE(expected.isNull()) << "missing reference " << (widgetDataDir() + name).toStdString();
    ASSERT_EQ(ours.size(), expected.size()) << name.toStdString();
    const auto at = [](const QImage& image, int x, int y) { return image.constScanLine(y) + 4 * x; };
    QImage diff(ours.size(), QImage::Format_RGBA8888);
    diff.fill(Qt::white);
    int flatCompared = 0, flatOutliers = 0, edgeCompared = 0, edgeOutliers = 0;
    int worstFlat = 0, worstEdge = 0;
    QPoint worstFlatAt(-1, -1), worstEdgeAt(-1, -1);
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            if (std::any_of(excluded.begin(), excluded.end(),
                            [&](const QRect& r) { return r.contains(x, y); })) {
                diff.setPixelColor(x, y, QColor(200, 200, 255));
                continue;
            }
            // Beyond the bounds nothing is drawn: a shape reaching them has an edge there.
            bool edge = false;
            for (int ny = y - 1; ny <= y + 1 && !edge; ++ny)
                for (int nx = x - 1; nx <= x + 1 && !edge; ++nx)
                    edge = pixelDifference(at(expected, x, y), expected.rect().contains(nx, ny)
                                                                   ? at(expected, nx, ny)
                                                                   : kTransparent) > tolerance;
            const int d = pixelDifference(at(ours, x, y), at(expected, x, y));
            if (edge) {
                ++edgeCompared;
                if (d > worstEdge) {
                    worstEdge = d;
                    worstEdgeAt = QPoint(x, y);
                }
                if (d > edgeTolerance) {
                    ++edgeOutliers;
                    diff.setPixelColor(x, y, QColor(255, 0, 255));
                } else if (d > tolerance) {
                    diff.setPixelColor(x, y, QColor(255, 200, 200));
                }
            } else {
                ++flatCompared;
                if (d > worstFlat) {
                    worstFlat = d;
                    worstFlatAt = QPoint(x, y);
                }
                if (d > tolerance) {
                    ++flatOutliers;
                    diff.setPixelColor(x, y, QColor(255, 0, 0));
                }
            }
        }
    }
    save(diff, name + QStringLiteral("_diff"));
    EXPECT_GT(flatCompared, 0) << name.toStdString();
    EXPECT_EQ(flatOutliers, 0) << name.toStdString() << ": " << flatOutliers << " of " << flatCompared
                               << " flat pixels differ by more than " << tolerance << ", most (" << worstFlat
                               << ") at (" << worstFlatAt.x() << ", " << worstFlatAt.y() << ")";
    EXPECT_EQ(edgeOutliers, 0) << name.toStdString() << ": " << edgeOutliers << " of " << edgeCompared
                               << " edge pixels differ by more than " << edgeTolerance << ", most ("
                               << worstEdge << ") at (" << worstEdgeAt.x() << ", " << worstEdgeAt.y() << ")";
}

} // namespace

TEST(ProgressRendering, StoppedSpinnerShowsDimFinsOverItsBackground)
{
    auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 48, 48));
    spinner->setColor(kFinColor);
    spinner->setDrawsBackground(true);
    expectMatchesReference(render(*spinner), QStringLiteral("progress_spinner_stopped"));
}

TEST(ProgressRendering, AnimatedSpinnerAfterFourSteps)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(100, 100));
    auto content = View::create(Rect(0, 0, 100, 100));
    window->setContentView(content);
    auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 48, 48));
    content->addSubview(spinner);
    spinner->setUsesThreadedAnimation(false);
    spinner->setColor(kFinColor);
    spinner->startAnimation();
    time.advance(0.025 + 4 * 0.05);
    ASSERT_EQ(spinner->position(), 9) << "four steps from 1: 0, 11, 10, 9";
    expectMatchesReference(render(*spinner), QStringLiteral("progress_spinner_steps"));
}

TEST(ProgressRendering, DeterminateSpinnerAtAQuarter)
{
    auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 48, 48));
    spinner->setColor(kFinColor);
    spinner->setDoubleValue(25);
    expectMatchesReference(render(*spinner), QStringLiteral("progress_spinner_quarter"));
}

TEST(ProgressRendering, RoundIndicatorAsPieAndAsRing)
{
    auto pie = RoundProgressView::create();
    EXPECT_EQ(pie->frame(), Rect(0, 0, 37, 37));
    pie->setProgress(0.3f);
    expectMatchesReference(render(*pie), QStringLiteral("progress_round_pie"));

    auto ring = RoundProgressView::create();
    ring->setAnnular(true);
    ring->setProgress(0.6f);
    expectMatchesReference(render(*ring), QStringLiteral("progress_round_ring"));
}

TEST(ProgressRendering, BarIndicatorAtTheStartTheMiddleAndTheEnd)
{
    for (const auto& [name, progress] :
         {std::pair{"start", 0.03f}, std::pair{"half", 0.5f}, std::pair{"end", 0.97f}}) {
        SCOPED_TRACE(name);
        auto bar = BarProgressView::create();
        EXPECT_EQ(bar->frame(), Rect(0, 0, 120, 20));
        bar->setProgress(progress);
        expectMatchesReference(render(*bar), QStringLiteral("progress_bar_") + QString::fromLatin1(name));
    }
}

TEST(ProgressRendering, HUDWithADimmedBackgroundAPieAndTwoTexts)
{
    ScopedVirtualTime time;
    auto host = View::create(Rect(0, 0, 240, 180));
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    hud->setMode(ProgressHUD::ModeRoundProgress);
    hud->setDimBackground(true);
    hud->setLabelText(QStringLiteral("Load"));
    hud->setDetailsLabelText(QStringLiteral("Wait"));
    hud->setProgress(0.4f);
    View::runUpdateCycle();

    const Rect label = hud->label()->frame();
    const Rect details = hud->detailsLabel()->frame();
    // The layout of the reference depends on the text heights of the installed fonts.
    ASSERT_DOUBLE_EQ(label.size.height, kLabelHeight) << "regenerate the references for these fonts";
    ASSERT_DOUBLE_EQ(details.size.height, kDetailsHeight) << "regenerate the references for these fonts";
    ASSERT_LT(label.size.width, 60) << "the indicator must stay the widest item";
    ASSERT_LT(details.size.width, 60);

    const QImage ours = render(*hud);
    expectMatchesReference(ours, QStringLiteral("progress_hud_round"),
                           {pixelsOf(label, 180), pixelsOf(details, 180)});

    // The texts are there, in their colours: dark grey on the box, white details.
    const QRect labelPixels = pixelsOf(label, 180);
    int darkPixels = 0;
    for (int y = labelPixels.top(); y <= labelPixels.bottom(); ++y)
        for (int x = labelPixels.left(); x <= labelPixels.right(); ++x)
            darkPixels += qRed(ours.pixel(x, y)) < 120;
    EXPECT_GT(darkPixels, 20) << "the label is drawn";
}

TEST(ProgressRendering, HUDWithASpinnerInAColouredBox)
{
    ScopedVirtualTime time;
    auto host = View::create(Rect(0, 0, 240, 180));
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setColor(kDarkBox);
    hud->show(false);
    View::runUpdateCycle();
    expectMatchesReference(render(*hud), QStringLiteral("progress_hud_spinner"));
}

TEST(ProgressRendering, HUDWithABarInABoxOfTranslucentBlack)
{
    ScopedVirtualTime time;
    auto host = View::create(Rect(0, 0, 240, 180));
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setColor(std::nullopt);
    hud->setMode(ProgressHUD::ModeBarProgress);
    hud->show(false);
    hud->setProgress(0.5f);
    View::runUpdateCycle();
    expectMatchesReference(render(*hud), QStringLiteral("progress_hud_bar"));
}
