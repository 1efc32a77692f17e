// Renderings tell the layer delegates of the tree before and after they draw, so that a
// delegate whose pixels live outside the tree can put them in: every rendering entry point
// does, painting a window on screen does not.

#include "platform/ui/RenderingScope.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"
#include "platform/ui/WindowCompositor.h"

#include <QPainter>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

class RenderingRecorder final : public LayerDelegate
{
public:
    RenderingRecorder(QString name, QStringList& log) : mName(std::move(name)), mLog(log) {}
    void layerWillBeRendered(Layer& layer) override { mLog << QStringLiteral("will ") + mName + at(layer); }
    void layerWasRendered(Layer& layer) override { mLog << QStringLiteral("was ") + mName + at(layer); }

private:
    static QString at(Layer& layer) { return QStringLiteral(" ") + layer.name(); }
    QString mName;
    QStringList& mLog;
};

// root > a (delegate A) > b (delegate B); root > c without a delegate.
struct RecordedTree
{
    RecordedTree()
    {
        root->setName(QStringLiteral("root"));
        root->setAnchorPoint(Point(0, 0));
        root->setBounds(Rect(0, 0, 40, 30));
        a->setName(QStringLiteral("a"));
        a->setFrame(Rect(0, 0, 20, 20));
        a->setDelegate(delegateA);
        b->setName(QStringLiteral("b"));
        b->setFrame(Rect(0, 0, 10, 10));
        b->setDelegate(delegateB);
        c->setFrame(Rect(20, 0, 20, 20));
        root->addSublayer(a);
        a->addSublayer(b);
        root->addSublayer(c);
    }

    QStringList log;
    std::shared_ptr<Layer> root = Layer::create();
    std::shared_ptr<Layer> a = Layer::create();
    std::shared_ptr<Layer> b = Layer::create();
    std::shared_ptr<Layer> c = Layer::create();
    std::shared_ptr<RenderingRecorder> delegateA =
        std::make_shared<RenderingRecorder>(QStringLiteral("A"), log);
    std::shared_ptr<RenderingRecorder> delegateB =
        std::make_shared<RenderingRecorder>(QStringLiteral("B"), log);
};

} // namespace

TEST(RenderingScope, EachDelegateHearsOnceAndAgainAtTheEndWhateverTheTreeBecame)
{
    RecordedTree t;
    {
        const RenderingScope rendering(*t.root);
        EXPECT_EQ(t.log, (QStringList{"will A a", "will B b"}));
        // Changes meanwhile: b leaves, a new layer with a delegate comes (it heard nothing).
        t.b->removeFromSuperlayer();
        auto late = Layer::create();
        late->setName(QStringLiteral("late"));
        late->setDelegate(std::make_shared<RenderingRecorder>(QStringLiteral("L"), t.log));
        t.root->addSublayer(late);
    }
    EXPECT_EQ(t.log, (QStringList{"will A a", "will B b", "was B b", "was A a"}));
}

TEST(RenderingScope, EveryRenderingEntryPointTakesOneAndTheScreenPaintDoesNot)
{
    const std::pair<const char*, std::function<void(RecordedTree&)>> entries[] = {
        {"Layer::renderInContext",
         [](RecordedTree& t) {
             auto context = GraphicsContext::createBitmap(40, 30);
             ASSERT_NE(context, nullptr);
             t.root->renderInContext(*context);
         }},
        {"Compositor::renderToImage",
         [](RecordedTree& t) { Compositor::renderToImage(*t.root, Size(40, 30), 1); }},
        {"WindowCompositor::renderFrame",
         [](RecordedTree& t) {
             WindowCompositor compositor;
             compositor.setRootLayer(t.root);
             compositor.renderFrame(Size(40, 30), 1);
         }},
    };
    for (const auto& [name, render] : entries) {
        SCOPED_TRACE(name);
        RecordedTree t;
        render(t);
        EXPECT_EQ(t.log, (QStringList{"will A a", "will B b", "was B b", "was A a"}));
    }

    RecordedTree t;
    WindowCompositor compositor;
    compositor.setRootLayer(t.root);
    QImage screen(40, 30, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&screen);
    compositor.paintFrame(painter, Size(40, 30));
    EXPECT_TRUE(t.log.isEmpty()) << t.log.join(QStringLiteral(", ")).toStdString();
}
