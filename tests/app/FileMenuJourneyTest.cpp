// The menu bar as it follows the document shown: Save and Save As only for documents kept in
// files (local and new ones), every other item enabled when someone on the window's chain
// handles it, and a disabled item doing nothing, by mouse or by its key.

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/app/XServerInput.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <cstring>

namespace corvex::test {

namespace {

class FileMenuJourney : public MindMapJourney
{
protected:
    static QStringList enabledItems(const ShownMenu& menu)
    {
        QStringList enabled;
        for (qsizetype i = 0; i < menu.titles.size(); ++i) {
            if (menu.enabled[std::size_t(i)] && menu.titles[i] != QStringLiteral("-"))
                enabled << menu.titles[i];
        }
        return enabled;
    }

    static bool holds(const IdeaPtr& root, const QString& text)
    {
        return ideaWithText(root, text) != nullptr;
    }
};

} // namespace

TEST_F(FileMenuJourney, LocalDocumentSavesToItsFileAndEnablesWhatItsScreenHandles)
{
    auto trip = launchWithDocument(
        text(QStringLiteral("Trip"), {text(QStringLiteral("Pack")), text(QStringLiteral("Maps"))}));
    ASSERT_NE(trip, nullptr);
    MyWindow& window = windowOf(*trip);
    const QString path = QDir::home().filePath(QStringLiteral("Trip.corvex"));

    // What the mind map, the window and the application handle is enabled; nobody answers
    // "New Dropbox Window" while Dropbox is off.
    const ShownMenu file = UserInput::openMenuBarMenu(window, QStringLiteral("File"));
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(
        enabledItems(file),
        (QStringList{QStringLiteral("New Mind Map"), QStringLiteral("New iCloud Window"),
                     QStringLiteral("Open..."), QStringLiteral("Open Recent"), QStringLiteral("Import..."),
                     QStringLiteral("Save"), QStringLiteral("Save As..."), QStringLiteral("Export..."),
                     QStringLiteral("Print..."), QStringLiteral("Preferences..."),
                     QStringLiteral("Close Window"), QStringLiteral("Quit Corvex")}));
    EXPECT_EQ(file.isEnabled(QStringLiteral("New Dropbox Window")), false);

    // Adding an element needs the mind map itself: it does its work there and is disabled in
    // the overview. Nobody on the mind map's chain zooms.
    ShownMenu view =
        UserInput::chooseMenuBarItem(window, QStringLiteral("View"), QStringLiteral("Add New Element"));
    EXPECT_EQ(view.isEnabled(QStringLiteral("Add New Element")), true);
    EXPECT_EQ(view.isEnabled(QStringLiteral("Zoom In")), false);
    EXPECT_TRUE(popoverShows()) << "Add New Element opened no editor";
    ASSERT_TRUE(closePopovers());
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip")), nullptr);
    ASSERT_TRUE(showOverview(*trip));
    view = UserInput::chooseMenuBarItem(window, QStringLiteral("View"), QStringLiteral("Add New Element"));
    EXPECT_EQ(view.isEnabled(QStringLiteral("Add New Element")), false)
        << "Add New Element is enabled in the overview";
    EXPECT_EQ(view.isEnabled(QStringLiteral("Toggle Mind Map")), true);
    EXPECT_FALSE(view.chose);
    EXPECT_FALSE(popoverShows(0.5)) << "a disabled Add New Element still opened an editor";
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("View"), QStringLiteral("Toggle Mind Map"))
            .ran());
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip")), nullptr);

    // Save writes the change into the document's own file, without asking where.
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Maps"))),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([&] { return !WhereOnScreen::planet(*trip, QStringLiteral("Maps")); }));
    ASSERT_TRUE(UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save")).ran());
    EXPECT_TRUE(waitFor([&] { return !holds(UserFiles::readDocument(path), QStringLiteral("Maps")); }))
        << "Save did not write the document's file";
    EXPECT_TRUE(holds(UserFiles::readDocument(path), QStringLiteral("Pack")));
    EXPECT_TRUE(filePanels().presentedSaves().empty());

    // Save As asks for a file and writes it there.
    const QString copy = QDir::home().filePath(QStringLiteral("Trip copy.corvex"));
    filePanels().answerOK({QUrl::fromLocalFile(copy)});
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save As...")).ran());
    EXPECT_TRUE(waitFor([&] { return holds(UserFiles::readDocument(copy), QStringLiteral("Pack")); }))
        << "Save As wrote no file";
    EXPECT_EQ(filePanels().presentedSaves().size(), 1u);

    // Save As into a folder that is gone: the alert says which file and why, and nothing is
    // written.
    const QString lost = QDir::home().filePath(QStringLiteral("Gone/Trip.corvex"));
    filePanels().answerOK({QUrl::fromLocalFile(lost)});
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save As...")).ran());
    ASSERT_TRUE(waitFor([this] { return alerts().presentedCount() == 1; }));
    const QString why = alerts().presented().back().informativeText;
    EXPECT_TRUE(why.startsWith(QStringLiteral("Failed to save file\n\n"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QLatin1Char('"') + lost + QLatin1Char('"'))) << why.toStdString();
    EXPECT_TRUE(why.contains(QString::fromLocal8Bit(::strerror(ENOENT)))) << why.toStdString();
    EXPECT_FALSE(QFileInfo::exists(lost));
}

TEST_F(FileMenuJourney, NewDocumentSaveAsksForItsFile)
{
    auto trip = launchWithDocument(text(QStringLiteral("Trip")));
    ASSERT_NE(trip, nullptr);
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(windowOf(*trip), QStringLiteral("File"), QStringLiteral("New Mind Map"))
            .ran());
    // The new document opens with its root in the editor.
    auto fresh = waitForScreen<SolarSystemViewController>([&trip](SolarSystemViewController& screen) {
        return &screen != trip.get() && screen.document() &&
               !screen.document()->representativeURL().isLocalFile();
    });
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(popoverShows());
    ASSERT_TRUE(closePopovers());
    MyWindow& window = windowOf(*fresh);
    ASSERT_TRUE(activate(window));

    const ShownMenu file = UserInput::openMenuBarMenu(window, QStringLiteral("File"));
    EXPECT_EQ(file.isEnabled(QStringLiteral("Save")), true);
    EXPECT_EQ(file.isEnabled(QStringLiteral("Save As...")), true);
    const QString path = QDir::home().filePath(QStringLiteral("Fresh.corvex"));
    filePanels().answerOK({QUrl::fromLocalFile(path)});
    ASSERT_TRUE(UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save")).ran());
    EXPECT_TRUE(waitFor([&] { return UserFiles::readDocument(path) != nullptr; })) << "Save wrote no file";
    EXPECT_EQ(filePanels().presentedSaves().size(), 1u);
}

TEST_F(FileMenuJourney, CloudDocumentHasNoSaveItemsAndItsSaveKeyDoesNothing)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(
        UserFiles::addDocumentToLocation(2, text(QStringLiteral("Garden"), {text(QStringLiteral("Beds"))})));
    auto home = waitForScreen<HomeViewController>([](HomeViewController& shown) {
        return WhereOnScreen::homeDocument(shown, QStringLiteral("Garden")).has_value();
    });
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));

    // The home screen handles importing, and nothing of a document.
    ShownMenu file = UserInput::openMenuBarMenu(window, QStringLiteral("File"));
    EXPECT_EQ(file.isEnabled(QStringLiteral("Import...")), true);
    for (const QString& item : {QStringLiteral("Save"), QStringLiteral("Save As..."),
                                QStringLiteral("Export..."), QStringLiteral("Print...")})
        EXPECT_EQ(file.isEnabled(item), false) << item.toStdString() << " on the home screen";

    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Garden"))),
                                      QStringLiteral("Open"))
                    .chose);
    auto garden = mindMapOf(QStringLiteral("Garden"), QStringLiteral("Garden"));
    ASSERT_NE(garden, nullptr);
    file = UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save"));
    EXPECT_EQ(file.isEnabled(QStringLiteral("Save")), false) << "Save is enabled for a cloud document";
    EXPECT_EQ(file.isEnabled(QStringLiteral("Save As...")), false)
        << "Save As is enabled for a cloud document";
    EXPECT_EQ(file.isEnabled(QStringLiteral("Export...")), true);
    EXPECT_FALSE(file.chose);

    // Their keys do nothing either.
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(waitFor(
        [this] { return !filePanels().presentedSaves().empty() || alerts().presentedCount() > 0; }, 1.0))
        << "a disabled Save ran by its key";
}

TEST_F(FileMenuJourney, ANewCloudDocumentsWindowIsNamedByItsRootAsSoonAsItIsNamed)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    auto home = waitForScreen<HomeViewController>();
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));
    const auto& shown = home->ideaListView()->visibleItems();
    const auto adder = shown.find(IdeaListView::AdderKey);
    ASSERT_NE(adder, shown.end());
    // With the X server's pointer, as a hand clicks: the adder does not answer a click Qt
    // delivers itself.
    ASSERT_TRUE(XServerInput::click(
        window.convertPointToGlobal(seen(WhereOnScreen::middle(*adder->second))).toPoint()));

    // The new document opens with its root in the editor; the user names it.
    auto orchard = waitForScreen<SolarSystemViewController>();
    ASSERT_NE(orchard, nullptr);
    Window* editor = popoverShows() ? Window::keyWindow() : nullptr;
    ASSERT_NE(editor, nullptr);
    // The editor takes keys once its text tab is made, a turn after the popover shows (the
    // screen's switch answers on a later turn, so the popover may be seen before that turn).
    ASSERT_TRUE(waitFor(
        [&] {
            QWidget* focus = QApplication::focusWidget();
            return focus && focus->window() == editor->hostWidget();
        },
        5.0));
    UserInput::typeText(*editor, QStringLiteral("Orchard"));
    ASSERT_TRUE(closePopovers());
    EXPECT_TRUE(waitFor([&] { return windowOf(*orchard).title() == QStringLiteral("Orchard"); }, 5.0))
        << windowOf(*orchard).title().toStdString();
    screenshot(QStringLiteral("new-cloud-document-named"));
}

} // namespace corvex::test
