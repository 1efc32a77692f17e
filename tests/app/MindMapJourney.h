#pragma once

#include "tests/app/AppJourney.h"

#include <QString>
#include <memory>
#include <string>

namespace corvex {
class Idea;
class SolarSystemViewController;
} // namespace corvex

namespace corvex::test {

// Journeys on documents' mind maps: opening a document as a user does, finding its screen,
// switching to the overview.
class MindMapJourney : public AppJourney
{
public:
    // A shown mind map of the document whose root has this text, showing the idea with this
    // text (in its centre, or a leaf among its siblings), settled; waits for it.
    static std::shared_ptr<SolarSystemViewController> mindMapOf(const QString& rootText,
                                                                const QString& ideaText);
    // Why no such mind map came, for a failure's message: each window's screen and its state,
    // whether the storage locations had their lists, and the alerts shown.
    static std::string whatShows();
    // View > Toggle Mind Map, then the overview once its switch is over.
    static bool showOverview(SolarSystemViewController& screen);
    // A new idea by the space bar in the map's window, named in its editor; true once its planet
    // shows and the screen is free again (the edit's save answered: a Ctrl+S before that is
    // refused).
    static bool addIdea(SolarSystemViewController& map, const QString& title);

protected:
    // The tree written as "<root text>.corvex" in HOME and opened by launching with it (the
    // iCloud location opted for, so that the launch's own first window is a home screen, not
    // a second new document); its mind map, shown, settled and in the active window.
    std::shared_ptr<SolarSystemViewController> launchWithDocument(const std::shared_ptr<Idea>& root);
};

} // namespace corvex::test
