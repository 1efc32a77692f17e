#pragma once

#include "storage/IdeaDocument.h"

#include <QString>
#include <optional>

namespace corvex {

// What the user is told once a document's window has closed without being asked to: which
// map's window went, and that its document was removed from its location or replaced there
// by a different one (from sync or from another window). Windows of a location the user
// switched off close without a word: the user did that. The alert waits until the close has
// taken effect and Qt is through with every delivery and nested loop (WindowTeardown), so it
// never comes up on the closing window nor inside another alert. Main thread only.
class ForcedCloseNotice
{
public:
    enum class Reason
    {
        Deleted,
        Replaced,
        LocationSwitchedOff,
    };

    struct Texts
    {
        QString title;
        QString message;
    };

    // The alert's texts for the map of that name kept in that location; none when the reason
    // needs no word.
    static std::optional<Texts> textsFor(Reason reason, const QString& mapName, StorageLocation location);
    // Called once the window's close has been asked for: the alert, when the reason has one,
    // on a later turn after that close.
    static void tellOnceClosed(Reason reason, const QString& mapName, StorageLocation location);
};

} // namespace corvex
