#pragma once

// Shared pieces of the idea tests: ideas with fixed identifiers, children by position, and
// ideas read back from the in-memory coder.

#include "model/Idea.h"
#include "model/ModelCodables.h"
#include "tests/model/MemoryCoder.h"

#include <QString>
#include <cstddef>
#include <memory>

namespace corvex::test {

// A text idea with the given identifier.
inline IdeaPtr idea(const char* text, const char* identifier)
{
    return Idea::initWithText(QString::fromUtf8(text), QString::fromUtf8(identifier));
}

// The child at `index` of `parent`.
inline IdeaPtr child(const IdeaPtr& parent, int index)
{
    return parent->ideas().at(std::size_t(index));
}

// The idea a memory record decodes to (the model's classes registered first); null when the
// record holds something else.
inline IdeaPtr decodeIdea(const std::shared_ptr<MemoryRecord>& record)
{
    registerModelCodables();
    return std::dynamic_pointer_cast<Idea>(MemoryCoder::decode(record));
}

} // namespace corvex::test
