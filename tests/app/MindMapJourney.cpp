#include "tests/app/MindMapJourney.h"

#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "shell/MyWindow.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"

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
