#include "model/IdeaTreeCopy.h"

#include <QSet>
#include <utility>
#include <vector>

namespace corvex {

IdeaPtr IdeaTreeCopy::copyKeepingIdentifiers(const Idea& root)
{
    std::vector<std::pair<Idea*, const Idea*>> copies;
    IdeaPtr top = root.copySubtree(true, copies);
    QSet<QString> identifiers;
    for (const auto& [copy, source] : copies) {
        if (!copy->mIdentifier.isNull())
            identifiers.insert(copy->mIdentifier);
    }
    for (const auto& [copy, source] : copies) {
        if (!copy->isLink())
            continue;
        const QString target = copy->linkedIdentifier();
        if (!target.isNull() && identifiers.contains(target))
            continue;
        IdeaPtr keepAlive;
        if (const Idea* content = source->contentIdea(keepAlive))
            copy->becomePlainCopyOf(content);
    }
    return top;
}

} // namespace corvex
