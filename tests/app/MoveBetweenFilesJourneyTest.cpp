// Two maps kept in files, each in its own window side by side: the user drags an idea from one
// window into the other with the X server's own pointer and chooses Move Here. Both windows
// show their maps as changed; closing each asks whether to save it, and once both are saved
// the idea is in one file only, the one it was moved into. On the bare X server and under a
// window manager.

#include "mindmap/ScreenDrops.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "shell/MyWindow.h"
#include "storage/TempLocationManager.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/FaultShim.h"

#include <QWidget>
#include <cerrno>
#include <optional>
#include <utility>

namespace corvex::test {

namespace {

// Side by side at the top of the screen (y up from its bottom), so that neither covers the
// other.
const Rect kAlphaFrame(20, 360, 760, 600);
const Rect kBetaFrame(820, 360, 760, 600);
// Long enough for a press to pick a planet up.
constexpr double kLongPress = 0.5;

class MoveBetweenFilesJourney : public MindMapJourney, public ::testing::WithParamInterface<Desktop>
{
protected:
    // The window's title as the window manager shows it: "*" after it while edited.
    static QString shownTitle(MyWindow& window)
    {
        const QWidget* host = window.hostWidget();
        QString title = host ? host->windowTitle() : QString();
        return title.replace(QStringLiteral("[*]"),
                             host && host->isWindowModified() ? QStringLiteral("*") : QString());
    }

    static bool holds(const QString& path, const QString& text)
    {
        return ideaWithText(UserFiles::readDocument(path), text) != nullptr;
    }

    // The iCloud location opted for (the launch opens the files' windows only) and two small
    // files: alpha holding Tent, beta holding Maps.
    static std::pair<QString, QString> smallFiles()
    {
        UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
        return {UserFiles::writeDocument(QStringLiteral("alpha.corvex"),
                                         text(QStringLiteral("alpha"), {text(QStringLiteral("Tent"))})),
                UserFiles::writeDocument(QStringLiteral("beta.corvex"),
                                         text(QStringLiteral("beta"), {text(QStringLiteral("Maps"))}))};
    }

    // A window manager gives the keys to each window it maps, which may come after the launch
    // answered: once the later window has had them, none is still to come.
    bool settled(MyWindow& first, MyWindow& later)
    {
        return activate(later) && waitFor([&] { return later.isKeyWindow(); }) && activate(first) &&
               waitFor([&] { return first.isKeyWindow(); });
    }

    // Drags the planet `title` of `from` onto the first adder of `to` with the real pointer
    // and chooses Move Here; true once the idea shows in `to`.
    bool moveHere(SolarSystemViewController& from, SolarSystemViewController& to, const QString& title)
    {
        MyWindow& source = windowOf(from);
        const auto planet = WhereOnScreen::planet(from, title);
        const auto adder = WhereOnScreen::adder(to, 0);
        if (!planet || !adder)
            return false;
        ShownMenu menu;
        const Point target = source.convertPointFromGlobal(windowOf(to).convertPointToGlobal(*adder));
        return UserInput::dragWithPointer(source, *planet, target,
                                          ScreenDrops::dropChoiceTitle(ScreenDrops::DropChoice::MoveHere),
                                          &menu, kLongPress) &&
               menu.chose && waitFor([&] { return WhereOnScreen::planet(to, title).has_value(); });
    }
};

} // namespace

TEST_P(MoveBetweenFilesJourney, MoveHereTakesTheIdeaOutOfOneFileAndPutsItIntoTheOther)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    // The iCloud location opted for: the launch opens the two files' windows only.
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString alphaPath = UserFiles::writeDocument(
        QStringLiteral("alpha.corvex"),
        text(QStringLiteral("alpha"),
             {text(QStringLiteral("Tent")), text(QStringLiteral("Stove")), text(QStringLiteral("Rope"))}));
    const QString betaPath = UserFiles::writeDocument(
        QStringLiteral("beta.corvex"),
        text(QStringLiteral("beta"), {text(QStringLiteral("Maps")), text(QStringLiteral("Tickets"))}));
    ASSERT_TRUE(launch({alphaPath, betaPath}, 2));
    auto alpha = mindMapOf(QStringLiteral("alpha"), QStringLiteral("alpha"));
    auto beta = mindMapOf(QStringLiteral("beta"), QStringLiteral("beta"));
    ASSERT_TRUE(alpha && beta) << whatShows();
    MyWindow& alphaWindow = windowOf(*alpha);
    MyWindow& betaWindow = windowOf(*beta);
    alphaWindow.setFrame(kAlphaFrame);
    betaWindow.setFrame(kBetaFrame);
    ASSERT_TRUE(waitFor([&] {
        const QRect left = alphaWindow.hostWidget()->frameGeometry();
        const QRect right = betaWindow.hostWidget()->frameGeometry();
        return left.right() < right.left() && WhereOnScreen::planet(*alpha, QStringLiteral("Tent")) &&
               WhereOnScreen::adder(*beta, 1);
    })) << "the windows did not come side by side";
    ASSERT_TRUE(activate(alphaWindow));
    EXPECT_EQ(shownTitle(alphaWindow), QStringLiteral("alpha.corvex"));
    EXPECT_EQ(shownTitle(betaWindow), QStringLiteral("beta.corvex"));

    // From alpha's planet to the place between beta's two planets, and Move Here.
    const Point from = seen(WhereOnScreen::planet(*alpha, QStringLiteral("Tent")));
    const Point to = alphaWindow.convertPointFromGlobal(
        betaWindow.convertPointToGlobal(seen(WhereOnScreen::adder(*beta, 1))));
    const QString moveHere = ScreenDrops::dropChoiceTitle(ScreenDrops::DropChoice::MoveHere);
    ShownMenu menu;
    ASSERT_TRUE(UserInput::dragWithPointer(alphaWindow, from, to, moveHere, &menu, kLongPress))
        << "xdotool did not drag";
    ASSERT_TRUE(menu.chose) << "no \"" << moveHere.toStdString() << "\" among "
                            << menu.titles.join(QStringLiteral(", ")).toStdString();
    EXPECT_TRUE(waitFor([&] {
        return WhereOnScreen::planet(*beta, QStringLiteral("Tent")) &&
               !WhereOnScreen::planet(*alpha, QStringLiteral("Tent"));
    })) << "the idea did not move from alpha's window into beta's";
    // One edit of both maps: each window says its map has changes its file lacks.
    EXPECT_TRUE(waitFor([&] {
        return shownTitle(alphaWindow) == QStringLiteral("alpha.corvex*") &&
               shownTitle(betaWindow) == QStringLiteral("beta.corvex*");
    })) << "titles \""
        << shownTitle(alphaWindow).toStdString() << "\" and \"" << shownTitle(betaWindow).toStdString()
        << "\"";
    screenshot(QStringLiteral("move-between-files-") + QLatin1String(desktopName(GetParam())));
    // Nothing is written into the files before the user saves them.
    EXPECT_TRUE(holds(alphaPath, QStringLiteral("Tent")));
    EXPECT_FALSE(holds(betaPath, QStringLiteral("Tent")));

    // File > Close Window (Ctrl+W's item) on each asks whether to save it; the user saves
    // both. Chosen in the window's own menu bar: the window manager moves the focus about as
    // windows open and close, and keys follow it. A home window stays, so that closing them
    // does not quit Corvex.
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(alphaWindow, QStringLiteral("File"), QStringLiteral("New iCloud Window"))
            .ran());
    ASSERT_TRUE(waitFor([] { return windows().size() == 3; })) << "New iCloud Window opened no window";
    const QString question = QStringLiteral("Do you want save the changes you made?");
    for (const std::shared_ptr<MyWindow>& window : windows()) {
        if (window.get() != &alphaWindow && window.get() != &betaWindow)
            continue;
        const int asked = alerts().presentedCount();
        alerts().answerTitle(QStringLiteral("Save"));
        ASSERT_TRUE(
            UserInput::chooseMenuBarItem(*window, QStringLiteral("File"), QStringLiteral("Close Window"))
                .ran());
        ASSERT_TRUE(waitFor([&] { return alerts().presentedCount() == asked + 1; }))
            << "\"" << shownTitle(*window).toStdString() << "\" closed without a question";
        EXPECT_EQ(alerts().presented().back().informativeText, question);
        ASSERT_TRUE(waitFor([&] { return !window->isVisible(); })) << "saved, the window stayed open";
    }
    EXPECT_EQ(windows().size(), 1u);
    EXPECT_FALSE(holds(alphaPath, QStringLiteral("Tent"))) << "alpha.corvex still holds the idea moved away";
    EXPECT_TRUE(holds(alphaPath, QStringLiteral("Stove")));
    EXPECT_TRUE(holds(betaPath, QStringLiteral("Tent"))) << "beta.corvex lacks the idea moved into it";
    EXPECT_TRUE(holds(betaPath, QStringLiteral("Maps")));
}

// With the data folder full nothing the user adds is stored: an idea added there and dragged
// into the other window arrives as the user sees it. The copy cannot be stored either, so the
// first window keeps its idea too (nothing is lost either way).
TEST_P(MoveBetweenFilesJourney, AnIdeaAddedWhileTheDataFolderIsFullArrivesAsShown)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    const auto [alphaPath, betaPath] = smallFiles();
    ASSERT_TRUE(launch({alphaPath, betaPath}, 2));
    auto alpha = mindMapOf(QStringLiteral("alpha"), QStringLiteral("alpha"));
    auto beta = mindMapOf(QStringLiteral("beta"), QStringLiteral("beta"));
    ASSERT_TRUE(alpha && beta) << whatShows();
    MyWindow& alphaWindow = windowOf(*alpha);
    windowOf(*alpha).setFrame(kAlphaFrame);
    windowOf(*beta).setFrame(kBetaFrame);
    ASSERT_TRUE(waitFor([&] { return WhereOnScreen::adder(*beta, 0).has_value(); }));
    ASSERT_TRUE(settled(alphaWindow, windowOf(*beta)));
    FaultShim full;
    full.failWritesUnder(TempLocationManager::baseDocURL().toLocalFile().toStdString(), ENOSPC);
    ASSERT_TRUE(addIdea(*alpha, QStringLiteral("Lantern")));
    ASSERT_TRUE(waitFor([&] { return alpha->unsavedChanges().has_value(); })) << "stored on a full disk";

    EXPECT_TRUE(moveHere(*alpha, *beta, QStringLiteral("Lantern"))) << "the idea did not arrive as shown";
    EXPECT_TRUE(waitFor([&] { return !beta->screenOccupied(); }));
    EXPECT_TRUE(WhereOnScreen::planet(*alpha, QStringLiteral("Lantern")))
        << "the source lost an idea not stored";
    screenshot(QStringLiteral("move-while-full-") + QLatin1String(desktopName(GetParam())));
}

// Opened while the data folder is full, neither window's own copy can be made; once there is
// room again, a move from one into the other is a move: the idea leaves the first window.
TEST_P(MoveBetweenFilesJourney, WindowsOpenedWhileTheDataFolderIsFullMoveOnceThereIsRoom)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    const auto [alphaPath, betaPath] = smallFiles();
    std::optional<FaultShim> full(std::in_place);
    full->failWritesUnder(TempLocationManager::baseDocURL().toLocalFile().toStdString(), ENOSPC);
    ASSERT_TRUE(launch({alphaPath, betaPath}, 2));
    auto alpha = mindMapOf(QStringLiteral("alpha"), QStringLiteral("alpha"));
    auto beta = mindMapOf(QStringLiteral("beta"), QStringLiteral("beta"));
    ASSERT_TRUE(alpha && beta) << whatShows();
    MyWindow& alphaWindow = windowOf(*alpha);
    alphaWindow.setFrame(kAlphaFrame);
    windowOf(*beta).setFrame(kBetaFrame);
    ASSERT_TRUE(waitFor([&] { return WhereOnScreen::adder(*beta, 0).has_value(); }));
    full.reset();
    ASSERT_TRUE(settled(alphaWindow, windowOf(*beta)));
    ASSERT_TRUE(moveHere(*alpha, *beta, QStringLiteral("Tent"))) << "the idea did not arrive";
    EXPECT_TRUE(waitFor([&] { return !beta->screenOccupied() && !alpha->screenOccupied(); }));
    EXPECT_TRUE(waitFor([&] { return !WhereOnScreen::planet(*alpha, QStringLiteral("Tent")).has_value(); }))
        << "the move ended as a copy: the first window keeps the idea";
    EXPECT_TRUE(waitFor([&] { return shownTitle(alphaWindow) == QStringLiteral("alpha.corvex*"); }))
        << "the first window does not say that its map changed: " << shownTitle(alphaWindow).toStdString();
    screenshot(QStringLiteral("move-after-room-again-") + QLatin1String(desktopName(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Desktops, MoveBetweenFilesJourney, kEachDesktop, desktopTestName);

} // namespace corvex::test
