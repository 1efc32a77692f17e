#pragma once

namespace corvex {

struct IdeaEditSummary;

// Told once for each edit IdeaEditingService makes, on the main thread, right after the tree
// changed and before it is saved.
class IdeaEditObserver
{
public:
    virtual ~IdeaEditObserver();
    virtual void ideaTreeEdited(const IdeaEditSummary& summary) = 0;
};

} // namespace corvex
