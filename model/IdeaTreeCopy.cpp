#include "model/IdeaTreeCopy.h"

#include <QHash>
#include <utility>
#include <vector>

namespace corvex {

IdeaPtr IdeaTreeCopy::copyKeepingIdentifiers(const Idea& root)
{
    std::vector<std::pair<Idea*, const Idea*>> copies;
    IdeaPtr top = root.copySubtree(true, copies);
    // The first copy in pre-order with each identifier: what the copy's own link pass would
    // find, so that the copy's links are resolved as it is made, wherever it is read.
    QHash<QString, const Idea*> byIdentifier;
    for (const auto& [copy, source] : copies) {
        if (!copy->mIdentifier.isNull() && !byIdentifier.contains(copy->mIdentifier))
            byIdentifier.insert(copy->mIdentifier, copy);
    }
    for (const auto& [copy, source] : copies) {
        if (!copy->isLink())
            continue;
        const QString target = copy->linkedIdentifier();
        const Idea* found = target.isNull() ? nullptr : byIdentifier.value(target);
        if (found) {
            copy->setResolvedTarget(found, *top);
            continue;
        }
        IdeaPtr keepAlive;
        if (const Idea* content = source->contentIdea(keepAlive))
            copy->becomePlainCopyOf(content);
        else
            copy->setResolvedTarget(nullptr, *top);
    }
    return top;
}

} // namespace corvex
