// A map another program exported as an outline, opened in Corvex, edited and saved with
// File > Save: the outline stays as it was, byte for byte, and the edit goes into a Corvex file
// beside it, which opens again with the edit.

#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/SerialQueue.h"
#include "shell/MyWindow.h"
#include "storage/StorageQueues.h"
#include "storage/TempLocationManager.h"
#include "storage/TemporaryLocation.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/FreeplaneOutline.h"

#include <QDir>
#include <QFile>
#include <QUrl>

namespace corvex::test {

namespace {

class ForeignFileJourney : public MindMapJourney
{
protected:
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QStringList childTexts(const SolarSystemViewController& screen)
    {
        QStringList texts;
        for (const IdeaPtr& child : screen.rootIdea()->ideas())
            texts.append(child->text());
        return texts;
    }
};

} // namespace

TEST_F(ForeignFileJourney, AnOutlineEditedAndSavedStaysAsItWasAndTheEditGoesIntoACorvexFileBesideIt)
{
    const QString folder = QDir::home().filePath(QStringLiteral("Maps"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString outline = folder + QStringLiteral("/Trip.opml");
    const QString beside = folder + QStringLiteral("/Trip.corvex");
    {
        QFile file(outline);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(kFreeplaneOpml), kFreeplaneOpml.size());
    }
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    // Its window comes before its first save ends: saves are held until the window shows.
    SerialQueue& saves = StorageQueues::persistenceQueue();
    saves.suspend();
    bool held = true;
    const auto resumeOnExit = std::shared_ptr<void>(nullptr, [&](void*) {
        if (held)
            saves.resume();
    });
    ASSERT_TRUE(launch({outline}));
    auto trip = mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    ASSERT_NE(trip, nullptr);
    const QString stored = TemporaryLocation::documentURL(trip->document()->docIdentifier()).toLocalFile();
    EXPECT_FALSE(QFile::exists(stored)) << "the window waited for the first save";
    held = false;
    saves.resume();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(stored); })) << "the first save never came";
    MyWindow& window = windowOf(*trip);
    ASSERT_TRUE(activate(window));
    EXPECT_EQ(childTexts(*trip), QStringList{QStringLiteral("Trip")});

    // The edit: a new idea by the space bar, named in its editor.
    UserInput::pressKey(window, Qt::Key_Space);
    ASSERT_TRUE(popoverShows()) << "the space bar opened no editor";
    Window* editor = Window::keyWindow();
    ASSERT_NE(editor, nullptr);
    UserInput::typeText(*editor, QStringLiteral("Come back"));
    ASSERT_TRUE(closePopovers());
    ASSERT_TRUE(waitFor([&] { return childTexts(*trip).contains(QStringLiteral("Come back")); }))
        << childTexts(*trip).join(QLatin1Char(',')).toStdString();
    ASSERT_TRUE(waitFor([&] { return window.isDocumentEdited(); })) << "the edit left the window unmarked";

    // Save asks for a Corvex file, proposing the outline's name in its folder.
    filePanels().answerOK({QUrl::fromLocalFile(beside)});
    ASSERT_TRUE(UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Save")).ran());
    ASSERT_TRUE(waitFor([&] { return UserFiles::readDocument(beside) != nullptr; })) << "Save wrote no file";
    // The window names the file once Corvex has taken the save in.
    ASSERT_TRUE(waitFor([&] { return window.title() == QStringLiteral("Trip.corvex"); }));
    ASSERT_EQ(filePanels().presentedSaves().size(), 1u);
    EXPECT_EQ(filePanels().presentedSaves()[0].panel.directory, folder);
    EXPECT_EQ(filePanels().presentedSaves()[0].panel.nameFieldStringValue, QStringLiteral("Trip.corvex"));
    EXPECT_EQ(contents(outline), kFreeplaneOpml) << "the outline was written over";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              (QStringList{QStringLiteral("Trip.corvex"), QStringLiteral("Trip.opml")}));

    // Saved again, the change goes into the Corvex file without asking.
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(waitFor([&] { return filePanels().presentedSaves().size() > 1; }, 1.0))
        << "a second Save asked again";
    EXPECT_EQ(contents(outline), kFreeplaneOpml);

    // The window closed once the save is done (no question about unsaved changes), and the
    // Corvex file opened from a home window: the edit is there. The launch showed the file's
    // window alone, so the home window is asked for first.
    ASSERT_TRUE(waitFor([&] { return !window.isDocumentEdited(); })) << "the saves left the window edited";
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("New iCloud Window"))
            .ran());
    ASSERT_TRUE(waitFor([] { return windows().size() == 2; })) << "New iCloud Window opened no window";
    ASSERT_TRUE(activate(window));
    UserInput::pressKey(window, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return !findScreen<SolarSystemViewController>(); }));
    ASSERT_FALSE(windows().empty()) << "the home window went with the document's";
    // Corvex's own copy of the closed window's map goes with it: the file holds the map.
    const QDir copies(TempLocationManager::baseDocURL().toLocalFile());
    EXPECT_TRUE(waitFor([&] { return copies.entryList(QDir::Files).isEmpty(); }))
        << copies.entryList(QDir::Files).join(QLatin1Char(',')).toStdString();
    MyWindow& home = *windows().front();
    ASSERT_TRUE(activate(home));
    filePanels().answerOK({QUrl::fromLocalFile(beside)});
    UserInput::pressKey(home, Qt::Key_O, Qt::ControlModifier);
    auto reopened = mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(childTexts(*reopened), (QStringList{QStringLiteral("Trip"), QStringLiteral("Come back")}));
    EXPECT_EQ(windowOf(*reopened).title(), QStringLiteral("Trip.corvex"));
    EXPECT_EQ(contents(outline), kFreeplaneOpml);
}

} // namespace corvex::test
