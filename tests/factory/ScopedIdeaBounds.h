#pragma once

#include "model/IdeaDocumentDataObject.h"

#include <optional>

namespace corvex::test {

// Small bounds on the ideas of a document while it lives, so that a document just past them
// stays small; the shipped bounds again after it.
class ScopedIdeaBounds
{
public:
    ScopedIdeaBounds(qint64 ideas, qint64 children)
    {
        IdeaDocumentDataObject::setIdeaBoundsForTesting(IdeaDocumentDataObject::IdeaBounds{ideas, children});
    }
    ~ScopedIdeaBounds() { IdeaDocumentDataObject::setIdeaBoundsForTesting(std::nullopt); }
    ScopedIdeaBounds(const ScopedIdeaBounds&) = delete;
    ScopedIdeaBounds& operator=(const ScopedIdeaBounds&) = delete;
};

} // namespace corvex::test
