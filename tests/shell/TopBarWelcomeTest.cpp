#include "mindmap/MindMapScreenSeams.h"
#include "platform/ui/Window.h"
#include "shell/MainLayoutView.h"
#include "shell/TopBarView.h"
#include "shell/WelcomeScreenView.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/TextView.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

class TopBarRecorder final : public TopBarServicesDelegate
{
public:
    std::vector<bool> reports;
    std::vector<int> actions;
    void topBarAction(int action, const Rect&) override { actions.push_back(action); }
    void topBarSearchStatusDidChange(bool changed) override { reports.push_back(changed); }
};

// A click the view underneath the card would count.
class CountingView final : public ColoredView
{
public:
    using ColoredView::ColoredView;
    int clicks = 0;
    void mouseDown(const Event&) override { ++clicks; }
};

// A top bar in a window's layout, as a screen shows it.
struct BarInWindow
{
    std::shared_ptr<Window> window = Window::create(Size(1000, 40));
    std::shared_ptr<MainLayoutView> layout = MainLayoutView::create();
    std::shared_ptr<TopBarView> bar = TopBarView::create();

    BarInWindow()
    {
        window->setContentView(layout);
        layout->setTopBar(bar);
    }
};

} // namespace

TEST(TopBar, ReportsEachChangeAndNoChangeAtTheEndOfEditing)
{
    ScopedVirtualTime time;
    auto bar = TopBarView::create();
    auto recorder = std::make_shared<TopBarRecorder>();
    bar->setDelegate(recorder);
    // Typing a character and deleting it again: two changes, then none when editing ends.
    bar->searchField()->setText(QStringLiteral("a"));
    bar->searchTextDidChange();
    EXPECT_TRUE(recorder->reports.empty()); // reported on the next turn
    time.runDue();
    bar->searchField()->setText(QString());
    bar->searchTextDidChange();
    time.runDue();
    bar->searchDidEndEditing();
    EXPECT_EQ(recorder->reports, (std::vector<bool>{true, true, false}));

    recorder->reports.clear();
    bar->setCurrentSearchText(QStringLiteral("kept"));
    bar->searchDidBeginEditing();
    bar->searchDidEndEditing();
    EXPECT_EQ(recorder->reports, (std::vector<bool>{false}));
}

TEST(TopBar, TypingGoesOnWhileTheWindowIsInactiveOrAPopUpMenuIsOpen)
{
    ScopedVirtualTime time;
    const BarInWindow shown;
    const auto& bar = shown.bar;
    auto recorder = std::make_shared<TopBarRecorder>();
    bar->setDelegate(recorder);
    shown.window->makeKeyAndOrderFront();
    bar->startEditingSearchText();
    ASSERT_TRUE(bar->isEditingSearchText());
    QWidget* field = bar->searchField()->widget();
    for (const Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent away(QEvent::FocusOut, reason);
        QApplication::sendEvent(field, &away);
        EXPECT_TRUE(bar->isEditingSearchText()) << "focus reason " << reason;
        QFocusEvent back(QEvent::FocusIn, reason);
        QApplication::sendEvent(field, &back);
    }
    time.runDue();
    EXPECT_TRUE(recorder->reports.empty());

    // The user's click elsewhere ends it.
    QFocusEvent clickedAway(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(field, &clickedAway);
    EXPECT_FALSE(bar->isEditingSearchText());
    EXPECT_EQ(recorder->reports, std::vector<bool>{false});
}

TEST(TopBar, SearchTextHidesTheToggleAndTheContentButtonTakesItsPlace)
{
    ScopedVirtualTime time;
    const BarInWindow shown;
    const auto& [window, layout, bar] = shown;
    layout->setContentView(ColoredView::create(PlatformColor::white()));
    bar->setHomeAction(true);
    bar->setContentAction(true);
    bar->setMindmapToggleAction(true, false);
    layout->forceDirtyLayout();
    bar->forceDirtyLayout();
    const double toggleX = bar->mindmapToggleButton()->frame().origin.x;
    EXPECT_EQ(bar->homeButton()->frame(), Rect(14, 6, 28, 28));
    EXPECT_EQ(bar->mindmapToggleButton()->frame().maxX(), 1000 - 14);
    EXPECT_EQ(bar->contentButton()->frame().maxX(), toggleX - 10);
    EXPECT_EQ(bar->searchField()->frame().midX(), 500);
    window->renderToImage(1).save(testOutputDir() + QStringLiteral("/shell_top_bar.png"));

    bar->setCurrentSearchText(QStringLiteral("planet"));
    bar->forceDirtyLayout();
    EXPECT_TRUE(bar->mindmapToggleButton()->isHidden());
    EXPECT_EQ(bar->contentButton()->frame().maxX(), 1000 - 14);
    const QImage tinted = window->renderToImage(1);
    tinted.save(testOutputDir() + QStringLiteral("/shell_top_bar_search.png"));
    EXPECT_EQ(tinted.pixelColor(300, 3), QColor(215, 222, 228));

    bar->setHomeAction(false);
    EXPECT_EQ(bar->homeButton(), nullptr);
}

TEST(MainLayout, ReplacingViewsRemovesTheOldOnes)
{
    auto layout = MainLayoutView::create();
    layout->setFrame(Rect(0, 0, 400, 300));
    auto bar = TopBarView::create();
    auto first = ColoredView::create(PlatformColor::white());
    layout->setTopBar(bar);
    layout->setTopBar(bar); // the same view: nothing changes
    layout->setContentView(first);
    EXPECT_EQ(bar->frame(), Rect(0, 0, 400, 40));
    EXPECT_EQ(first->frame(), Rect(0, 40, 400, 260));
    layout->setContentView(nullptr);
    EXPECT_EQ(first->superview(), nullptr);
    EXPECT_EQ(bar->superview(), layout.get());
}

TEST(WelcomeCard, CentredItSwallowsClicksAndTheButtonClosesIt)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(1172, 760));
    auto under = ColoredView::make<CountingView>(PlatformColor::sRGB(0.2, 0.6, 0.4));
    window->setContentView(under);
    const QVImage screenshot = QVImageScreenshot::initByCapturingScreenshot(under.get());
    auto welcome = WelcomeScreenView::initWithScreenshot(screenshot);
    under->addSubview(welcome);
    welcome->forceDirtyLayout();
    const Rect card = welcome->card()->frame();
    EXPECT_EQ(card.origin.x, 1172 / 2 - 150 - 26);
    EXPECT_EQ(card.size.width, 352);
    EXPECT_EQ(card.origin.y, 760 / 2 - 195);
    EXPECT_EQ(welcome->versionLabel()->text().left(15), QStringLiteral("Corvex version "));
    window->renderToImage(1).save(testOutputDir() + QStringLiteral("/shell_welcome_card.png"));

    window->sendEvent(Event::mouseDown(Point(20, 20)));
    window->sendEvent(Event::mouseUp(Point(20, 20)));
    EXPECT_EQ(under->clicks, 0);
    welcome->roundedTextButtonPressed(*welcome->closeButton());
    EXPECT_EQ(welcome->superview(), nullptr);
}

} // namespace corvex::test
