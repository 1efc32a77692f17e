// A document imported on the home screen waits in its dock; the user drags it with the real
// pointer (the X server's, as a hand moves the mouse) onto the grid's empty space, away from
// every document and the small markers between them: it lands in the grid at the nearest
// place between documents, as a copy once the user chose "Copy Here".

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/ScreenDrops.h"
#include "model/Globals.h"
#include "shell/MyWindow.h"
#include "storage/IdeaProxy.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"

#include <QStringList>
#include <QUrl>

namespace corvex::test {

namespace {

class HomeDockDragJourney : public MindMapJourney
{
protected:
    // The documents of the grid, in order.
    static QStringList shown(const HomeViewController& home)
    {
        QStringList titles;
        for (const auto& proxy : home.ideaListView()->proxies())
            titles << (proxy ? proxy->text() : QString());
        return titles;
    }
};

} // namespace

TEST_F(HomeDockDragJourney, TheImportedDocumentDraggedOntoEmptyGridSpaceLandsInTheGrid)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(QStringLiteral("Plans"))));
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(QStringLiteral("Shopping"))));
    auto home = waitForScreen<HomeViewController>(
        [](HomeViewController& screen) { return screen.ideaListView()->proxies().size() == 2; });
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));
    const QStringList before = shown(*home);

    // File > Import... of a Corvex document: it waits in the dock.
    const QString file = UserFiles::writeDocument(
        QStringLiteral("Camping.corvex"), text(QStringLiteral("Camping"), {text(QStringLiteral("Tent"))}));
    ASSERT_FALSE(file.isEmpty());
    filePanels().answerOK({QUrl::fromLocalFile(file)});
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Import...")).ran());
    const std::shared_ptr<DockAreaView> dock = home->ideaListView()->dockAreaView();
    ASSERT_NE(dock, nullptr);
    ASSERT_TRUE(waitFor([&] { return dock->ideaView() != nullptr && !dock->isHiddenOrHasHiddenAncestor(); }))
        << "the imported document did not wait in the dock";
    screenshot(QStringLiteral("home-dock-imported"));

    // Dragged from the dock to the grid's empty space below the place after the last
    // document (the documents fill the grid's first row from the left): the nearest place
    // between documents is after the last one.
    const Point from = seen(WhereOnScreen::middle(*dock));
    const Point first = seen(WhereOnScreen::homeDocument(*home, before.front()));
    const Point last = seen(WhereOnScreen::homeDocument(*home, before.back()));
    const Point to(2 * last.x - first.x, last.y - 200);
    ShownMenu menu;
    const QString copy = ScreenDrops::dropChoiceTitle(ScreenDrops::DropChoice::CopyHere);
    ASSERT_TRUE(UserInput::dragWithPointer(window, from, to, copy, &menu)) << "xdotool did not drag";
    EXPECT_TRUE(menu.opened) << "the drop on empty grid space offered no choice";
    EXPECT_TRUE(menu.chose) << "no \"" << copy.toStdString() << "\" among "
                            << menu.titles.join(", ").toStdString();
    EXPECT_TRUE(waitFor([&] { return shown(*home) == before + QStringList{QStringLiteral("Camping")}; }))
        << "the grid shows " << shown(*home).join(", ").toStdString();
    screenshot(QStringLiteral("home-dock-dropped"));
}

} // namespace corvex::test
