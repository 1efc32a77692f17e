// The view tree: willRemoveSubview on every path a view leaves by, ordering of subviews and
// their layers, window and superview hooks, hosted layers, and the layer properties a view
// maps (alpha, hidden, implicit actions).

#include "platform/ui/Layer.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ViewTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// Logs the hierarchy hooks it receives.
class HookView : public View
{
public:
    HookView(QString name, std::shared_ptr<QStringList> log) : mName(std::move(name)), mLog(std::move(log)) {}

    void willRemoveSubview(View* subview) override
    {
        mLog->append(mName + QStringLiteral(".willRemove ") + nameOf(subview));
    }
    void didAddSubview(View* subview) override
    {
        mLog->append(mName + QStringLiteral(".didAdd ") + nameOf(subview));
    }
    void viewWillMoveToSuperview(View* superview) override
    {
        mLog->append(mName + QStringLiteral(".willMoveToSuperview ") + nameOf(superview));
    }
    void didMoveToSuperview() override
    {
        mLog->append(mName + QStringLiteral(".didMoveToSuperview ") + nameOf(superview()));
    }
    void viewWillMoveToWindow(Window* window) override
    {
        mLog->append(mName +
                     (window ? QStringLiteral(".willMoveToWindow") : QStringLiteral(".willLeaveWindow")));
    }
    void viewDidMoveToWindow() override
    {
        mLog->append(mName +
                     (window() ? QStringLiteral(".didMoveToWindow") : QStringLiteral(".didLeaveWindow")));
    }

    const QString& name() const { return mName; }

private:
    static QString nameOf(View* view)
    {
        auto* hook = dynamic_cast<HookView*>(view);
        return hook ? hook->mName : QStringLiteral("null");
    }

    QString mName;
    std::shared_ptr<QStringList> mLog;
};

struct Tree
{
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    std::shared_ptr<HookView> make(const QString& name) { return std::make_shared<HookView>(name, log); }
};

QStringList names(const View& parent)
{
    QStringList out;
    for (const auto& v : parent.subviews())
        out.append(static_cast<const HookView&>(*v).name());
    return out;
}

// The subviews' layers in the parent's layer, in order (raw sublayers shown by name).
QStringList layerOrder(const View& parent)
{
    QStringList out;
    for (const auto& layer : parent.layer()->sublayers()) {
        QString name = layer->name();
        for (const auto& v : parent.subviews()) {
            if (v->layer() == layer)
                name = static_cast<const HookView&>(*v).name();
        }
        out.append(name);
    }
    return out;
}

} // namespace

TEST(ViewHierarchy, WillRemoveSubviewRunsOnEveryRemovalPath)
{
    Tree t;
    auto a = t.make(QStringLiteral("a"));
    auto b = t.make(QStringLiteral("b"));
    auto x = t.make(QStringLiteral("x"));
    auto y = t.make(QStringLiteral("y"));
    a->addSubview(x);
    a->addSubview(y);

    t.log->clear();
    x->removeFromSuperview();
    EXPECT_TRUE(t.log->contains(QStringLiteral("a.willRemove x")))
        << t.log->join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(x->superview(), nullptr);

    a->addSubview(x);
    t.log->clear();
    b->addSubview(x); // moving to another superview
    EXPECT_TRUE(t.log->contains(QStringLiteral("a.willRemove x")))
        << t.log->join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(x->superview(), b.get());
    EXPECT_EQ(names(*a), QStringList{QStringLiteral("y")});

    a->addSubview(x);
    t.log->clear();
    a->addSubview(y); // bringing to front by adding again
    EXPECT_TRUE(t.log->contains(QStringLiteral("a.willRemove y")))
        << t.log->join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(names(*a), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));

    t.log->clear();
    a->addSubview(y, View::Ordering::Below, x.get()); // re-ordering relative to a sibling
    EXPECT_TRUE(t.log->contains(QStringLiteral("a.willRemove y")));
    EXPECT_EQ(names(*a), (QStringList{QStringLiteral("y"), QStringLiteral("x")}));

    auto z = t.make(QStringLiteral("z"));
    t.log->clear();
    a->replaceSubview(x.get(), z);
    EXPECT_TRUE(t.log->contains(QStringLiteral("a.willRemove x")));
    EXPECT_EQ(names(*a), (QStringList{QStringLiteral("y"), QStringLiteral("z")}));
}

TEST(ViewHierarchy, HooksComeInOrderAroundAMove)
{
    Tree t;
    auto a = t.make(QStringLiteral("a"));
    auto b = t.make(QStringLiteral("b"));
    auto x = t.make(QStringLiteral("x"));
    a->addSubview(x);
    t.log->clear();
    b->addSubview(x);
    EXPECT_EQ(*t.log,
              (QStringList{QStringLiteral("x.willMoveToSuperview b"), QStringLiteral("a.willRemove x"),
                           QStringLiteral("x.didMoveToSuperview b"), QStringLiteral("b.didAdd x")}));
}

TEST(ViewHierarchy, WillRemoveSubviewMaySeeTheViewStillInPlace)
{
    // The host's hook runs before the view leaves, so it can still look the view up among
    // its subviews.
    struct Host : View
    {
        int indexSeen = -1;
        void willRemoveSubview(View* subview) override
        {
            for (std::size_t i = 0; i < subviews().size(); ++i) {
                if (subviews()[i].get() == subview)
                    indexSeen = int(i);
            }
        }
    };
    auto host = std::make_shared<Host>();
    auto first = View::create();
    auto second = View::create();
    host->addSubview(first);
    host->addSubview(second);
    second->removeFromSuperview();
    EXPECT_EQ(host->indexSeen, 1);
}

TEST(ViewHierarchy, SubviewLayersKeepTheSubviewOrderAmongRawSublayers)
{
    Tree t;
    auto parent = t.make(QStringLiteral("p"));
    auto one = t.make(QStringLiteral("one"));
    auto two = t.make(QStringLiteral("two"));
    auto three = t.make(QStringLiteral("three"));
    parent->addSubview(one);
    auto raw = Layer::create();
    raw->setName(QStringLiteral("raw"));
    parent->layer()->addSublayer(raw);
    parent->addSubview(two);
    parent->addSubview(three, View::Ordering::Below, two.get());
    EXPECT_EQ(names(*parent),
              (QStringList{QStringLiteral("one"), QStringLiteral("three"), QStringLiteral("two")}));
    EXPECT_EQ(layerOrder(*parent), (QStringList{QStringLiteral("one"), QStringLiteral("raw"),
                                                QStringLiteral("three"), QStringLiteral("two")}));

    auto bottom = t.make(QStringLiteral("bottom"));
    parent->addSubview(bottom, View::Ordering::Below, nullptr);
    EXPECT_EQ(names(*parent).front(), QStringLiteral("bottom"));
    EXPECT_EQ(layerOrder(*parent).front(), QStringLiteral("bottom"));

    three->removeFromSuperview();
    EXPECT_EQ(three->layer()->superlayer(), nullptr);
    EXPECT_EQ(layerOrder(*parent), (QStringList{QStringLiteral("bottom"), QStringLiteral("one"),
                                                QStringLiteral("raw"), QStringLiteral("two")}));
}

TEST(ViewHierarchy, AViewCannotBeAddedBelowItself)
{
    LogCapture log;
    Tree t;
    auto a = t.make(QStringLiteral("a"));
    auto b = t.make(QStringLiteral("b"));
    a->addSubview(b);
    b->addSubview(a);
    a->addSubview(a);
    EXPECT_EQ(a->superview(), nullptr);
    EXPECT_TRUE(b->subviews().empty());
    EXPECT_EQ(log.count(QStringLiteral("cannot be added to itself")), 2)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(ViewHierarchy, TheWindowReachesTheWholeSubtreeWithItsHooks)
{
    Tree t;
    auto content = t.make(QStringLiteral("content"));
    auto child = t.make(QStringLiteral("child"));
    auto grandchild = t.make(QStringLiteral("grandchild"));
    child->addSubview(grandchild);
    Window window(Size(200, 100));
    window.setContentView(content);
    t.log->clear();
    content->addSubview(child);
    EXPECT_EQ(grandchild->window(), &window);
    EXPECT_TRUE(t.log->contains(QStringLiteral("grandchild.willMoveToWindow")));
    EXPECT_TRUE(t.log->contains(QStringLiteral("grandchild.didMoveToWindow")));

    t.log->clear();
    child->removeFromSuperview();
    EXPECT_EQ(grandchild->window(), nullptr);
    EXPECT_TRUE(t.log->contains(QStringLiteral("grandchild.didLeaveWindow")));

    content->addSubview(child);
    window.setContentView(nullptr);
    EXPECT_EQ(content->window(), nullptr);
    EXPECT_EQ(grandchild->window(), nullptr);
    EXPECT_EQ(content->layer()->superlayer(), nullptr);
}

TEST(ViewHierarchy, AWindowGoingAwayLeavesItsViewsWithoutAWindow)
{
    auto content = View::create();
    auto child = View::create();
    content->addSubview(child);
    {
        Window window;
        window.setContentView(content);
        EXPECT_EQ(child->window(), &window);
    }
    EXPECT_EQ(child->window(), nullptr);
    EXPECT_EQ(child->nextResponder(), content.get());
    EXPECT_EQ(content->nextResponder(), nullptr);
}

TEST(ViewLayer, AHostedLayerKeepsItsAnchorAndTakesTheOldLayersPlace)
{
    auto parent = View::create(Rect(0, 0, 100, 100));
    auto below = View::create(Rect(0, 0, 10, 10));
    auto view = std::make_shared<PlainView>(Rect(10, 20, 40, 30), true);
    auto above = View::create(Rect(0, 0, 10, 10));
    auto child = View::create(Rect(1, 1, 5, 5));
    parent->addSubview(below);
    parent->addSubview(view);
    parent->addSubview(above);
    view->addSubview(child);

    auto custom = Layer::create(); // anchor (0.5, 0.5)
    view->setLayer(custom);
    EXPECT_TRUE(view->hostsLayer());
    EXPECT_EQ(view->layer(), custom);
    EXPECT_EQ(custom->delegate().get(), static_cast<LayerDelegate*>(view.get()));
    EXPECT_EQ(custom->anchorPoint(), Point(0.5, 0.5));
    EXPECT_EQ(custom->position(), Point(30, 35));
    EXPECT_EQ(custom->frame(), Rect(10, 20, 40, 30));
    ASSERT_EQ(parent->layer()->sublayers().size(), 3u);
    EXPECT_EQ(parent->layer()->sublayers()[1], custom);
    EXPECT_EQ(child->layer()->superlayer(), custom);
    EXPECT_EQ(custom->isGeometryFlipped(), true) << "a flipped view in an unflipped one";
}

TEST(ViewLayer, ALayerHostedFromAConstructorGetsTheViewAsDelegateOnceOwned)
{
    struct Hosting : View
    {
        explicit Hosting(std::shared_ptr<Layer> custom)
        {
            setLayer(custom); // before any shared_ptr owns the view
            setNeedsDisplay();
        }
        bool isFlipped() const override { return true; }
        int draws = 0;
        void drawRect(const Rect&, GraphicsContext&) override { ++draws; }
    };
    ScopedVirtualTime time;
    auto custom = Layer::create();
    auto elsewhere = std::make_shared<ScriptedDelegate>();
    custom->setDelegate(elsewhere);
    auto view = std::make_shared<Hosting>(custom);
    EXPECT_EQ(custom->delegate(), nullptr) << "the previous delegate is let go at once";
    auto root = View::create(Rect(0, 0, 100, 100));
    view->setFrame(Rect(0, 0, 20, 20));
    root->addSubview(view);
    EXPECT_EQ(custom->delegate().get(), static_cast<LayerDelegate*>(view.get()));
    time.runDue();
    EXPECT_EQ(view->draws, 1) << "the hosted layer draws through the view";
    // A delegate set on purpose afterwards stays.
    custom->setDelegate(elsewhere);
    EXPECT_EQ(view->layer()->delegate(), elsewhere);
}

TEST(ViewLayer, AlphaAndHiddenAreTheLayersOpacityAndHidden)
{
    auto view = View::create(Rect(0, 0, 10, 10));
    view->setAlphaValue(0.25);
    view->setHidden(true);
    EXPECT_FLOAT_EQ(view->layer()->opacity(), 0.25f);
    EXPECT_TRUE(view->layer()->isHidden());
    view->setHidden(false);
    view->setAlphaValue(1);
    EXPECT_FALSE(view->layer()->isHidden());
    EXPECT_FLOAT_EQ(view->layer()->opacity(), 1.0f);
}

TEST(ViewLayer, PlainViewsDoNotAnimateImplicitlyButViewsThatAllowItDo)
{
    struct AnimatingView : View
    {
        LayerAction actionForLayer(Layer&, const QString&) override { return LayerAction::noAnswer(); }
    };
    ScopedVirtualTime time;
    auto plain = View::create(Rect(0, 0, 10, 10));
    auto animating = std::make_shared<AnimatingView>();
    animating->setFrame(Rect(0, 0, 10, 10));
    plain->layer();
    animating->layer();
    time.advance(0); // the turn's commit: the layers may animate from now on

    plain->setFrameOrigin(Point(50, 50));
    animating->setFrameOrigin(Point(50, 50));
    EXPECT_TRUE(plain->layer()->animationKeys().isEmpty())
        << plain->layer()->animationKeys().join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(animating->layer()->animationKeys().contains(QStringLiteral("position")))
        << animating->layer()->animationKeys().join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(animating->layer()->position(), Point(50, 50)) << "the model value changes at once";
}

TEST(ViewLayer, AContentViewFollowsTheWindowSizeWithoutAnimation)
{
    struct AnimatingView : View
    {
        LayerAction actionForLayer(Layer&, const QString&) override { return LayerAction::noAnswer(); }
    };
    ScopedVirtualTime time;
    Window window(Size(100, 100));
    auto content = std::make_shared<AnimatingView>();
    window.setContentView(content);
    time.advance(0);
    window.setContentSize(Size(300, 200));
    EXPECT_EQ(content->frame(), Rect(0, 0, 300, 200));
    EXPECT_TRUE(content->layer()->animationKeys().isEmpty());
    EXPECT_EQ(window.rootLayer()->bounds(), Rect(0, 0, 300, 200));
}

TEST(ViewDragging, RegisteredTypesAreRecorded)
{
    auto view = View::create();
    view->registerForDraggedTypes({QStringLiteral("public.file-url"), QStringLiteral("idea")});
    view->registerForDraggedTypes({QStringLiteral("idea")});
    EXPECT_EQ(view->registeredDraggedTypes(),
              (QStringList{QStringLiteral("public.file-url"), QStringLiteral("idea")}));
    view->unregisterDraggedTypes();
    EXPECT_TRUE(view->registeredDraggedTypes().isEmpty());
}
