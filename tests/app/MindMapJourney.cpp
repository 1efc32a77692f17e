#include "tests/app/MindMapJourney.h"

#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/ui/Runners.h"
#include "shell/MyWindow.h"
#include "storage/PersistenceController.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"

namespace corvex::test {

std::shared_ptr<SolarSystemViewController> MindMapJourney::launchWithDocument(const IdeaPtr& root)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString path = UserFiles::writeDocument(root->text() + QStringLiteral(".corvex"), root);
    if (path.isEmpty() || !launch({path}))
        return nullptr;
    auto screen = mindMapOf(root->text(), root->text());
    if (screen)
        activate(windowOf(*screen));
    return screen;
}

std::shared_ptr<SolarSystemViewController> MindMapJourney::mindMapOf(const QString& rootText,
                                                                     const QString& ideaText)
{
    return waitForScreen<SolarSystemViewController>([&](SolarSystemViewController& screen) {
        return screen.rootIdea() && screen.rootIdea()->text() == rootText && screen.ownIdea() &&
               screen.ownIdea()->text() == ideaText &&
               screen.solarSystemState() == SolarSystemViewController::StateMindMap &&
               !screen.drillingUpOrDown() && !screen.screenOccupied() &&
               WhereOnScreen::centre(screen).has_value();
    });
}

std::string MindMapJourney::whatShows()
{
    QStringList told;
    for (const auto& window : windows()) {
        const auto screen = screenOf(*window);
        if (const auto home = std::dynamic_pointer_cast<HomeViewController>(screen)) {
            told.append(QStringLiteral("a home screen of location %1 (occupied by \"%2\", %3 open waiting)")
                            .arg(home->location())
                            .arg(home->currentOccupyingOperation(), home->waitingOpen().isNull()
                                                                        ? QStringLiteral("no")
                                                                        : QStringLiteral("one")));
        } else if (const auto map = std::dynamic_pointer_cast<SolarSystemViewController>(screen)) {
            told.append(QStringLiteral("a mind map of \"%1\" at \"%2\" (state %3, occupied by \"%4\"%5)")
                            .arg(map->rootIdea() ? map->rootIdea()->text() : QStringLiteral("nothing"),
                                 map->ownIdea() ? map->ownIdea()->text() : QStringLiteral("nothing"))
                            .arg(map->solarSystemState())
                            .arg(map->currentOccupyingOperation(),
                                 map->drillingUpOrDown() ? QStringLiteral(", drilling") : QString()));
        } else {
            told.append(screen ? QStringLiteral("another screen") : QStringLiteral("no screen"));
        }
    }
    if (told.isEmpty())
        told.append(QStringLiteral("no window"));
    const PersistenceController& storage = PersistenceController::singleton();
    for (const StorageLocation location : {StorageLocation(2), StorageLocation(3)})
        told.append(QStringLiteral("location %1: status %2, %3")
                        .arg(location)
                        .arg(unsigned(storage.statusForLocation(location)))
                        .arg(storage.isLocationReadyForUse(location)
                                 ? QStringLiteral("listed")
                                 : QStringLiteral("no complete list yet")));
    const auto alerts = std::dynamic_pointer_cast<ScriptedAlertRunner>(Runners::alertRunner());
    told.append(QStringLiteral("%1 alert(s) shown").arg(alerts ? alerts->presentedCount() : -1));
    if (alerts)
        for (const auto& alert : alerts->presented())
            told.append(QStringLiteral("alert \"%1\": %2").arg(alert.messageText, alert.informativeText));
    return told.join(QStringLiteral("; ")).toStdString();
}

bool MindMapJourney::addIdea(SolarSystemViewController& map, const QString& title)
{
    if (!activate(windowOf(map)))
        return false;
    UserInput::pressKey(windowOf(map), Qt::Key_Space);
    // The editor shows before it takes the keys: under a window manager, a turn or more later.
    Window* editor = nullptr;
    if (!popoverShows() || !waitFor([&] {
            editor = Window::keyWindow();
            return editor && editor != &windowOf(map);
        }))
        return false;
    UserInput::typeText(*editor, title);
    return closePopovers() && waitFor([&] {
               return WhereOnScreen::planet(map, title).has_value() && map.savesInFlight() == 0 &&
                      !map.screenOccupied();
           });
}

bool MindMapJourney::showOverview(SolarSystemViewController& screen)
{
    if (!UserInput::chooseMenuBarItem(windowOf(screen), QStringLiteral("View"),
                                      QStringLiteral("Toggle Mind Map"))
             .chose)
        return false;
    return waitFor([&screen] {
        return screen.solarSystemState() == SolarSystemViewController::StateOverview &&
               !screen.screenOccupied() &&
               WhereOnScreen::overviewNode(screen, screen.rootIdea()->text()).has_value();
    });
}

} // namespace corvex::test
