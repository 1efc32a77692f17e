// The display pass draws the layers that draw asynchronously at once, on the process's
// cores: each as it would draw alone, its new contents in the frame being prepared.

#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;

namespace {

// A disc and a line of text, as a planet draws them.
class DiscLayer : public Layer
{
public:
    explicit DiscLayer(int number) : mNumber(number) {}
    QString className() const override { return QStringLiteral("DiscLayer"); }
    void drawInContext(GraphicsContext& context) override
    {
        ++draws;
        context.setFillColor(PlatformColor::deviceRGB(0.2, 0.4, 0.1 * mNumber, 1));
        context.fillEllipseInRect(Rect(4, 4, 52, 52));
        AttributedString(QStringLiteral("Idea %1").arg(mNumber),
                         PlatformFont::fontWithName(QStringLiteral("HelveticaNeue"), 11),
                         PlatformColor::white())
            .drawAtPoint(context, Point(10, 26));
    }
    std::atomic<int> draws{0};

private:
    const int mNumber;
};

// Displays its layer itself, as a view that draws nothing does.
class DisplayingDelegate : public LayerDelegate
{
public:
    bool displayLayer(Layer&) override
    {
        askedOn = std::this_thread::get_id();
        return true;
    }
    std::thread::id askedOn;
};

struct Grid
{
    std::shared_ptr<Layer> root;
    std::vector<std::shared_ptr<DiscLayer>> discs;
};

Grid gridOfDiscs(int count, bool asynchronously)
{
    Grid grid;
    grid.root = Layer::createBackingLayer(false);
    grid.root->setFrame(Rect(0, 0, 600, 400));
    for (int i = 0; i < count; ++i) {
        auto disc = std::make_shared<DiscLayer>(i);
        disc->setBounds(Rect(0, 0, 60, 60));
        disc->setPosition(Point(40 + 70 * (i % 8), 40 + 70 * (i / 8)));
        disc->setContentsScale(2);
        disc->setDrawsAsynchronously(asynchronously);
        disc->setNeedsDisplay();
        grid.root->addSublayer(disc);
        grid.discs.push_back(disc);
    }
    return grid;
}

} // namespace

TEST(LayerConcurrentDisplay, LayersDrawnAtOnceLookAsDrawnOneByOneAndBelongToTheFrame)
{
    Grid together = gridOfDiscs(12, true);
    Grid alone = gridOfDiscs(12, false);
    Compositor::prepareFrame(*together.root);
    Compositor::prepareFrame(*alone.root);

    for (std::size_t i = 0; i < together.discs.size(); ++i) {
        SCOPED_TRACE(i);
        const DiscLayer& disc = *together.discs[i];
        EXPECT_EQ(disc.draws.load(), 1);
        EXPECT_FALSE(disc.needsDisplay());
        ASSERT_EQ(disc.contents().size(), QSize(120, 120));
        EXPECT_TRUE(disc.contents() == alone.discs[i]->contents()) << "pixel for pixel";
    }
    EXPECT_EQ(together.root->consumeDirtyLayers(), 0) << "nothing is left marked for another frame";

    // Redrawn in a later frame: the same picture.
    const QImage before = together.discs[3]->contents();
    together.discs[3]->setNeedsDisplay();
    together.discs[5]->setNeedsDisplay();
    Compositor::prepareFrame(*together.root);
    EXPECT_EQ(together.discs[3]->draws.load(), 2);
    EXPECT_TRUE(together.discs[3]->contents() == before);
}

TEST(LayerConcurrentDisplay, ADelegateIsAskedOnTheMainThreadWhetherItDisplaysTheLayer)
{
    Grid grid = gridOfDiscs(3, true);
    auto delegate = std::make_shared<DisplayingDelegate>();
    grid.discs[1]->setDelegate(delegate);
    Compositor::prepareFrame(*grid.root);
    EXPECT_EQ(delegate->askedOn, std::this_thread::get_id());
    EXPECT_EQ(grid.discs[1]->draws.load(), 0) << "the delegate displayed it";
    EXPECT_EQ(grid.discs[0]->draws.load(), 1);
    EXPECT_EQ(grid.discs[2]->draws.load(), 1);
}
