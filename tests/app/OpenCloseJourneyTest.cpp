// Every window the application opens, opened as a user opens it and closed in each way a user
// closes it (its button, Escape, closing the window), the main window taking keys afterwards.

#include "editor/EditIdeaViewController.h"
#include "editor/EditViewTabBar.h"
#include "export/ShareTypeView.h"
#include "export/SharingViewController.h"
#include "export/TabItem.h"
#include "mindmap/SolarSystemViewController.h"
#include "shell/AboutView.h"
#include "shell/AboutWindow.h"
#include "shell/LegalNoticesWindow.h"
#include "shell/MyWindow.h"
#include "shell/PreferencesWindow.h"
#include "shell/TopBarView.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "toolkit/ButtonView.h"
#include "toolkit/RoundedTextButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPrintDialog>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace corvex::test {

namespace {

class OpenCloseJourney : public MindMapJourney
{
protected:
    enum class Close
    {
        Button,
        Escape,
        Window,
        CtrlW,
        OtherWindow
    };

    void SetUp() override
    {
        MindMapJourney::SetUp();
        mTrip = launchWithDocument(
            text(QStringLiteral("Trip"), {text(QStringLiteral("Pack")), text(QStringLiteral("Maps"))}));
    }

    MyWindow& window() { return windowOf(*mTrip); }

    // The mind map has the keyboard again: Ctrl+F starts its search and Escape ends it.
    bool mindMapTakesKeys()
    {
        if (!activate(window()))
            return false;
        UserInput::pressKey(window(), Qt::Key_F, Qt::ControlModifier);
        // The usual budget: a loaded machine can take seconds to hand the keys back.
        if (!waitFor([&] { return mTrip->topBar()->isEditingSearchText(); }))
            return false;
        UserInput::pressKey(window(), Qt::Key_Escape);
        return waitFor([&] { return !mTrip->topBar()->isEditingSearchText() && !mTrip->screenOccupied(); });
    }

    // A top-level widget of that type shown now; null when none is.
    template <class Widget> static Widget* shownTopLevel()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = dynamic_cast<Widget*>(widget); found && widget->isVisible())
                return found;
        }
        return nullptr;
    }

    // Closes a top-level window of the application as the user does.
    static void closeWindow(Window& shown, Close how)
    {
        if (how == Close::Escape)
            UserInput::pressKey(shown, Qt::Key_Escape);
        else if (how == Close::CtrlW)
            UserInput::pressKey(shown, Qt::Key_W, Qt::ControlModifier);
        else
            shown.hostWidget()->close(); // as the title bar's close button asks
    }

    std::shared_ptr<SolarSystemViewController> mTrip;
};

const char* name(int how)
{
    static const char* names[] = {"its button", "Escape", "closing the window", "Ctrl+W",
                                  "turning to another window"};
    return names[how];
}

} // namespace

TEST_F(OpenCloseJourney, IdeaEditor)
{
    ASSERT_NE(mTrip, nullptr) << whatShows();
    for (const Close how : {Close::Button, Close::Escape, Close::Window, Close::OtherWindow}) {
        if (how == Close::OtherWindow) {
            // A second window of Corvex to turn to.
            ASSERT_TRUE(UserInput::chooseMenuBarItem(window(), QStringLiteral("File"),
                                                     QStringLiteral("New iCloud Window"))
                            .ran());
            ASSERT_TRUE(waitFor([] { return windows().size() == 2; }));
            ASSERT_TRUE(activate(window()));
        }
        ASSERT_TRUE(UserInput::rightClick(window(),
                                          seen(WhereOnScreen::planet(*mTrip, QStringLiteral("Pack"))),
                                          QStringLiteral("Edit"))
                        .chose);
        ASSERT_TRUE(popoverShows()) << "Edit opened no editor";
        auto editor = std::dynamic_pointer_cast<EditIdeaViewController>(mTrip->ideaEditor());
        ASSERT_NE(editor, nullptr);
        Window* popover = Window::keyWindow();
        ASSERT_NE(popover, nullptr);
        ASSERT_NE(popover, &window()) << "the editor did not take the keyboard";
        if (how == Close::Button) {
            UserInput::click(*popover, seen(WhereOnScreen::middle(*editor->tabBar()->doneButton())));
        } else if (how == Close::Escape) {
            UserInput::pressKey(*popover, Qt::Key_Escape);
        } else if (how == Close::Window) { // a click elsewhere in the window closes a transient popover
            UserInput::click(window(), seen(WhereOnScreen::emptySpace(*mTrip)));
        } else {
            // The user renames the idea, then turns to another window of Corvex: the editor
            // stays while it is typed into, and goes with what was typed kept.
            UserInput::pressKey(*popover, Qt::Key_A, Qt::ControlModifier);
            UserInput::typeText(*popover, QStringLiteral("Pack list"));
            EXPECT_TRUE(popover->isKeyWindow() && !otherTopLevels().empty())
                << "the editor went while typed into";
            ASSERT_TRUE(activate(*windows().back()));
        }
        EXPECT_TRUE(waitFor([&] { return otherTopLevels().empty() && !mTrip->ideaEditor(); }))
            << "the editor stayed after " << name(int(how));
        if (how == Close::OtherWindow) {
            EXPECT_TRUE(waitFor([&] {
                return WhereOnScreen::planet(*mTrip, QStringLiteral("Pack list")).has_value();
            })) << "what was typed into the editor was lost";
        }
        EXPECT_TRUE(mindMapTakesKeys()) << "after the editor closed by " << name(int(how));
    }
}

TEST_F(OpenCloseJourney, ExportDialogWithEachPane)
{
    ASSERT_NE(mTrip, nullptr) << whatShows();
    const auto openDialog = [&]() -> std::shared_ptr<SharingViewController> {
        if (!UserInput::chooseMenuBarItem(window(), QStringLiteral("File"), QStringLiteral("Export..."))
                 .chose)
            return nullptr;
        std::shared_ptr<SharingViewController> dialog;
        waitFor([&] {
            for (const auto& shown : mTrip->presentedViewControllers())
                dialog = std::dynamic_pointer_cast<SharingViewController>(shown);
            return dialog && dialog->viewIfLoaded() && dialog->viewIfLoaded()->window();
        });
        return dialog;
    };
    for (const Close how : {Close::Button, Close::Escape, Close::Window}) {
        auto dialog = openDialog();
        ASSERT_NE(dialog, nullptr) << "File > Export... showed no dialog";
        // Every tab shows its pane (once: some panes render a preview).
        const auto& tabs = dialog->tabButtons();
        ASSERT_EQ(tabs.size(), 7u);
        // The user clicks once the dialog has come to rest.
        std::optional<Point> last;
        ASSERT_TRUE(waitFor([&] {
            const std::optional<Point> now = WhereOnScreen::middle(*tabs.back());
            const bool still = now && last && *now == *last;
            last = now;
            waitFor([] { return false; }, 0.05);
            return still;
        })) << "the export dialog never came to rest";
        if (how == Close::Button) {
            // The mind map's own items are disabled under the dialog.
            const ShownMenu file = UserInput::openMenuBarMenu(window(), QStringLiteral("File"));
            EXPECT_EQ(file.isEnabled(QStringLiteral("Export...")), false);
            EXPECT_EQ(file.isEnabled(QStringLiteral("Print...")), false);
            EXPECT_EQ(file.isEnabled(QStringLiteral("Save")), false);
            EXPECT_EQ(file.isEnabled(QStringLiteral("Preferences...")), true);
        }
        for (std::size_t i = 0; how == Close::Button && i < tabs.size(); ++i) {
            UserInput::click(window(), seen(WhereOnScreen::middle(*tabs[i])));
            EXPECT_TRUE(waitFor([&] { return dialog->currentShareTypeIndex() == qint64(i); }, 3.0))
                << "tab " << i << " showed no pane";
        }
        if (how == Close::Window && dialog->currentShareTypeIndex() != 1)
            UserInput::click(window(), seen(WhereOnScreen::middle(*tabs[1])));
        const auto& pane = dialog->shareTypes()[std::size_t(dialog->currentShareTypeIndex())];
        if (how == Close::Button)
            UserInput::click(window(), seen(WhereOnScreen::middle(*pane->cancelButton())));
        else if (how == Close::Escape)
            UserInput::pressKey(window(), Qt::Key_Escape);
        else // a click outside the dialog, on the screen's protector
            UserInput::click(window(), Point(8, 8));
        EXPECT_TRUE(waitFor([&] {
            return mTrip->presentedViewControllers().empty() && !mTrip->screenOccupied();
        })) << "the export dialog stayed after "
            << (how == Close::Window ? "a click outside" : name(int(how)));
        EXPECT_TRUE(mindMapTakesKeys()) << "after the export dialog";
    }
}

TEST_F(OpenCloseJourney, PrintDialog)
{
    ASSERT_NE(mTrip, nullptr) << whatShows();
    for (const Close how : {Close::Button, Close::Escape, Close::Window}) {
        // The real print dialog runs modally: it is answered from inside its own loop.
        bool seenDialog = false;
        QTimer closer;
        closer.setInterval(50);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            auto* dialog = shownTopLevel<QPrintDialog>();
            if (!dialog || !dialog->windowHandle() || !dialog->isActiveWindow())
                return;
            seenDialog = true;
            closer.stop();
            if (how == Close::Button) {
                for (auto* button : dialog->findChildren<QAbstractButton*>()) {
                    if (button->isVisible() &&
                        button->text().remove(QLatin1Char('&')) == QStringLiteral("Cancel")) {
                        button->click();
                        return;
                    }
                }
                ADD_FAILURE() << "the print dialog shows no Cancel button";
                dialog->reject();
            } else if (how == Close::Escape) {
                QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
            } else {
                dialog->close();
            }
        });
        closer.start();
        UserInput::pressKey(window(), Qt::Key_P, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return seenDialog && !shownTopLevel<QPrintDialog>(); }, 20.0))
            << "the print dialog did not close by " << name(int(how));
        closer.stop();
        EXPECT_TRUE(mindMapTakesKeys()) << "after the print dialog closed by " << name(int(how));
    }
}

TEST_F(OpenCloseJourney, PreferencesWithEachPane)
{
    ASSERT_NE(mTrip, nullptr) << whatShows();
    for (const Close how : {Close::Escape, Close::Window, Close::CtrlW}) {
        ASSERT_TRUE(
            UserInput::chooseMenuBarItem(window(), QStringLiteral("File"), QStringLiteral("Preferences..."))
                .ran());
        PreferencesWindow* preferences = nullptr;
        ASSERT_TRUE(waitFor([&] {
            preferences = shownTopLevel<PreferencesWindow>();
            return preferences && preferences->isActiveWindow();
        })) << "File > Preferences... showed no window";
        // A click on each toolbar item selects its pane.
        QStringList titles;
        for (QAction* item : preferences->toolbar()->actions()) {
            QWidget* button = preferences->toolbar()->widgetForAction(item);
            if (!button || !qobject_cast<QToolButton*>(button))
                continue;
            QTest::mouseClick(button, Qt::LeftButton);
            if (waitFor([&] { return item->isChecked(); }, 3.0))
                titles << item->text();
        }
        EXPECT_EQ(titles, (QStringList{QStringLiteral("General"), QStringLiteral("Advanced")}));
        if (how == Close::Escape)
            QTest::keyClick(preferences->windowHandle(), Qt::Key_Escape);
        else if (how == Close::CtrlW)
            QTest::keyClick(preferences->windowHandle(), Qt::Key_W, Qt::ControlModifier);
        else
            preferences->close();
        EXPECT_TRUE(waitFor([&] { return !shownTopLevel<PreferencesWindow>(); }))
            << "the preferences stayed after " << name(int(how));
        EXPECT_TRUE(mindMapTakesKeys()) << "after the preferences closed by " << name(int(how));
    }
}

TEST_F(OpenCloseJourney, AboutAndLegalNotices)
{
    ASSERT_NE(mTrip, nullptr) << whatShows();
    // Titled as the window manager shows them.
    EXPECT_EQ(window().hostWidget()->windowTitle(), QStringLiteral("Trip.corvex"));
    for (const Close how : {Close::Escape, Close::Window, Close::CtrlW}) {
        ASSERT_TRUE(
            UserInput::chooseMenuBarItem(window(), QStringLiteral("Help"), QStringLiteral("About Corvex"))
                .ran());
        ASSERT_TRUE(waitFor([] { return AboutWindow::shared() && AboutWindow::shared()->isKeyWindow(); }))
            << "Help > About Corvex showed no window";
        AboutWindow& about = *AboutWindow::shared();
        EXPECT_TRUE(about.hostWidget()->isVisible()) << "the about window is not on the screen";
        EXPECT_EQ(about.hostWidget()->windowTitle(), QStringLiteral("Corvex"));
        screenshot(QStringLiteral("about-%1").arg(int(how)));
        // Its link opens the legal notices.
        UserInput::click(about, seen(WhereOnScreen::middle(*about.aboutView()->buttonView())));
        ASSERT_TRUE(waitFor([] {
            return LegalNoticesWindow::shared() && LegalNoticesWindow::shared()->isKeyWindow();
        })) << "the link showed no legal notices";
        LegalNoticesWindow& legal = *LegalNoticesWindow::shared();
        EXPECT_TRUE(legal.hostWidget()->isVisible()) << "the legal notices are not on the screen";
        EXPECT_EQ(legal.hostWidget()->windowTitle(), QStringLiteral("Legal Notices"));
        screenshot(QStringLiteral("legal-notices-%1").arg(int(how)));
        closeWindow(legal, how);
        EXPECT_TRUE(waitFor([&] { return !legal.hostWidget()->isVisible(); }))
            << "the legal notices stayed after " << name(int(how));
        ASSERT_TRUE(activate(about));
        closeWindow(about, how);
        EXPECT_TRUE(waitFor([&] { return !about.hostWidget()->isVisible(); }))
            << "the about window stayed after " << name(int(how));
        EXPECT_TRUE(mindMapTakesKeys()) << "after the about window closed by " << name(int(how));
    }
}

} // namespace corvex::test
