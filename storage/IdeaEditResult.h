#pragma once

#include <QString>

namespace corvex {

// What an edit of a document's tree came to. Changed: added, deleted or given new values;
// Moved and Copied: the idea is where it was asked to go, its source gone or kept; Refused:
// nothing changed, and the reason says why (for the log, not for the user).
enum class IdeaEditOutcome
{
    Changed,
    Moved,
    Copied,
    Refused,
};

struct IdeaEditResult
{
    IdeaEditOutcome outcome = IdeaEditOutcome::Refused;
    QString reason;

    bool made() const { return outcome != IdeaEditOutcome::Refused; }
    static IdeaEditResult refused(const QString& why) { return {IdeaEditOutcome::Refused, why}; }
};

} // namespace corvex
