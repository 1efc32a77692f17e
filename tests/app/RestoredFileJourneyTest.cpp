// A window of the user's file comes back after a quit showing what the file holds now: the
// file replaced while Corvex was closed (by a sync tool, a second machine, a backup), a
// change saved into the file while Corvex's own copy could not be written (its data folder
// full), and both the file and the window changed, where the window's unsaved changes come
// back in a window of their own. The first run of each journey is a child that quits for real.

#include "mindmap/SolarSystemViewController.h"
#include "platform/ui/Runners.h"
#include "shell/MyWindow.h"
#include "storage/TempLocationManager.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/support/FaultShim.h"

#include <QDir>
#include <cerrno>

namespace corvex::test {

namespace {

const QString kTrip = QStringLiteral("Trip");
const QString kKeptApartTitle = QStringLiteral("Trip.corvex (unsaved changes)");

QString tripPath()
{
    return QDir::home().filePath(QStringLiteral("Trip.corvex"));
}

bool fileHas(const QString& title)
{
    return ideaWithText(UserFiles::readDocument(tripPath()), title) != nullptr;
}

// Inside the child, launched with Trip.corvex. Argument: what the user does before Ctrl+Q:
// "nothing"; "add <title>" (an idea added and not saved into the file); or "full" (Corvex's
// data folder full: "Tickets" added, which only the file can take, then Ctrl+S). A question at
// the quit is answered "Quit Anyway" and told as "asked: <its message>"; "quitting" comes
// before Ctrl+Q.
CORVEX_APP_SCRIPT(trip_then_quit)
{
    const auto map = MindMapJourney::mindMapOf(kTrip, kTrip);
    if (!map)
        AppChild::fail("no mind map: " + QByteArray::fromStdString(MindMapJourney::whatShows()));
    MyWindow& window = AppJourney::windowOf(*map);
    const QString action = arguments.value(0);
    if (action.startsWith(QLatin1String("add "))) {
        if (!MindMapJourney::addIdea(*map, action.mid(4)) || !window.isDocumentEdited())
            AppChild::fail("no idea added");
    } else if (action == QLatin1String("full")) {
        auto alerts = std::make_shared<ScriptedAlertRunner>();
        alerts->setHandler([](const Alert& alert) -> std::optional<int> {
            AppChild::tell("asked: " + alert.messageText.toUtf8());
            for (std::size_t i = 0; i < alert.buttons.size(); ++i)
                if (alert.buttons[i].title == QLatin1String("Quit Anyway"))
                    return int(i);
            return std::nullopt;
        });
        Runners::setAlertRunner(alerts);
        // Full until the process ends.
        static FaultShim* const full = new FaultShim;
        full->failWritesUnder(TempLocationManager::baseDocURL().toLocalFile().toStdString(), ENOSPC);
        if (!MindMapJourney::addIdea(*map, QStringLiteral("Tickets")) ||
            !AppJourney::waitFor([&] { return map->unsavedChanges().has_value(); }))
            AppChild::fail("the idea was stored in spite of the full disk");
        UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
        // Only the file: the window may stay edited, as the kept copy's own write, tried again
        // by the same Ctrl+S, still fails.
        if (!AppJourney::waitFor([] { return fileHas(QStringLiteral("Tickets")); }))
            AppChild::fail("Ctrl+S wrote no file");
    }
    AppChild::tell("quitting");
    AppJourney::activate(window);
    UserInput::pressKey(window, Qt::Key_Q, Qt::ControlModifier);
}

class RestoredFileJourney : public MindMapJourney
{
protected:
    // Trip.corvex written, opened by the first run, which does `action` and quits cleanly; the
    // questions it was asked.
    QStringList firstRun(const QString& action)
    {
        const QString path = UserFiles::writeDocument(QStringLiteral("Trip.corvex"),
                                                      text(kTrip, {text(QStringLiteral("Pack"))}));
        EXPECT_EQ(path, tripPath());
        QStringList asked;
        auto child = AppChild::startScript(QStringLiteral("trip_then_quit"), {action}, {path});
        if (!child) {
            ADD_FAILURE() << "no first run";
            return asked;
        }
        bool quitting = false;
        while (const auto line = child->readLine(60.0)) {
            if (line->startsWith("asked: "))
                asked << QString::fromUtf8(line->mid(7));
            else if (*line == "quitting")
                quitting = true;
            else
                ADD_FAILURE() << "the first run told: " << line->toStdString();
        }
        const AppEnding ending = child->waitForEnd(60.0);
        EXPECT_TRUE(quitting);
        EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
        return asked;
    }

    // The restored mind map of the file whose planets include these titles, in a window titled
    // `title`.
    static std::shared_ptr<SolarSystemViewController> restoredShowing(const QString& title,
                                                                      const QStringList& planets)
    {
        return waitForScreen<SolarSystemViewController>(
            [&](SolarSystemViewController& map) {
                if (map.solarSystemState() != SolarSystemViewController::StateMindMap ||
                    map.screenOccupied() || windowOf(map).title() != title)
                    return false;
                for (const QString& planet : planets)
                    if (!WhereOnScreen::planet(map, planet).has_value())
                        return false;
                return true;
            },
            20.0);
    }

    // An idea added in the window and Ctrl+S: true once the file holds it.
    static bool addAndSave(SolarSystemViewController& map, const QString& title)
    {
        if (!addIdea(map, title))
            return false;
        UserInput::pressKey(windowOf(map), Qt::Key_S, Qt::ControlModifier);
        return waitFor([&] { return fileHas(title) && !windowOf(map).isDocumentEdited(); });
    }
};

} // namespace

TEST_F(RestoredFileJourney, AFileReplacedWhileCorvexWasClosedComesBackAsItIsNow)
{
    ASSERT_TRUE(firstRun(QStringLiteral("nothing")).isEmpty());
    // Another machine's version of the file arrives.
    ASSERT_EQ(
        UserFiles::writeDocument(QStringLiteral("Trip.corvex"),
                                 text(kTrip, {text(QStringLiteral("Pack")), text(QStringLiteral("Visa"))})),
        tripPath());

    ASSERT_TRUE(launch());
    const auto trip =
        restoredShowing(QStringLiteral("Trip.corvex"), {QStringLiteral("Pack"), QStringLiteral("Visa")});
    ASSERT_NE(trip, nullptr) << "the window came back without the file's new content: " << whatShows();
    screenshot(QStringLiteral("restored-replaced-file"));
    EXPECT_FALSE(windowOf(*trip).isDocumentEdited());

    ASSERT_TRUE(addAndSave(*trip, QStringLiteral("Passport")));
    EXPECT_TRUE(fileHas(QStringLiteral("Visa"))) << "the save undid the new version";
    EXPECT_TRUE(fileHas(QStringLiteral("Pack")));
}

TEST_F(RestoredFileJourney, AChangeSavedIntoTheFileWhileTheDataFolderWasFullComesBack)
{
    const QStringList asked = firstRun(QStringLiteral("full"));
    // Asking at the quit or not, never more than the one question.
    EXPECT_LE(asked.size(), 1) << asked.join(QLatin1String(" / ")).toStdString();
    ASSERT_TRUE(fileHas(QStringLiteral("Tickets")));

    // The disk has room again.
    ASSERT_TRUE(launch());
    const auto trip =
        restoredShowing(QStringLiteral("Trip.corvex"), {QStringLiteral("Pack"), QStringLiteral("Tickets")});
    ASSERT_NE(trip, nullptr) << "the window came back without the idea saved into the file: " << whatShows();
    screenshot(QStringLiteral("restored-after-full-data-folder"));
    EXPECT_FALSE(windowOf(*trip).isDocumentEdited());

    ASSERT_TRUE(addAndSave(*trip, QStringLiteral("Visa")));
    EXPECT_TRUE(fileHas(QStringLiteral("Tickets"))) << "the save lost the idea";
}

TEST_F(RestoredFileJourney, WhenBothTheFileAndTheWindowChangedBothComeBackInWindowsOfTheirOwn)
{
    ASSERT_TRUE(firstRun(QStringLiteral("add Mine")).isEmpty());
    ASSERT_EQ(
        UserFiles::writeDocument(QStringLiteral("Trip.corvex"),
                                 text(kTrip, {text(QStringLiteral("Pack")), text(QStringLiteral("Theirs"))})),
        tripPath());

    // Two windows, told apart by their titles: under a window manager, which shows them.
    ASSERT_TRUE(runOn(Desktop::Openbox)) << "no window manager";
    ASSERT_TRUE(launch());
    const auto file =
        restoredShowing(QStringLiteral("Trip.corvex"), {QStringLiteral("Pack"), QStringLiteral("Theirs")});
    ASSERT_NE(file, nullptr) << "the file's window shows something else: " << whatShows();
    const auto mine = restoredShowing(kKeptApartTitle, {QStringLiteral("Pack"), QStringLiteral("Mine")});
    ASSERT_NE(mine, nullptr) << "no window with the unsaved changes: " << whatShows();
    screenshot(QStringLiteral("restored-both-changed"));
    EXPECT_EQ(windows().size(), 2u);
    EXPECT_FALSE(WhereOnScreen::planet(*file, QStringLiteral("Mine")).has_value());
    EXPECT_FALSE(windowOf(*file).isDocumentEdited());
    EXPECT_TRUE(windowOf(*mine).isDocumentEdited()) << "the unsaved changes look saved";
    EXPECT_TRUE(windowOf(*mine).docURL().isEmpty()) << "the unsaved changes would be saved over the file";
    // Nothing lost: the file as it came, the changes in their window.
    EXPECT_TRUE(fileHas(QStringLiteral("Theirs")));
    EXPECT_FALSE(fileHas(QStringLiteral("Mine")));
}

} // namespace corvex::test
