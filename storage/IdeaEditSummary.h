#pragma once

#include <QString>
#include <cstdint>
#include <memory>

namespace corvex {

class Idea;

// The one account observers get of an edit: what was done to which idea, where it left and
// where it arrived, and the document's change count after it.
struct IdeaEditSummary
{
    enum class Kind
    {
        Insert,
        Move,
        Copy,
        Link,
        Delete,
        ApplyValues,
    };
    // No index: the idea had no place there (it came from elsewhere, or stayed).
    static constexpr std::int64_t NoIndex = -1;

    Kind kind = Kind::Insert;
    QString docIdentifier;
    // The idea placed, taken out or changed; a copy or link is the new idea.
    std::shared_ptr<Idea> idea;
    std::shared_ptr<Idea> fromContainer;
    std::int64_t fromIndex = NoIndex;
    std::shared_ptr<Idea> toContainer;
    std::int64_t toIndex = NoIndex;
    quint64 changeCount = 0;
};

} // namespace corvex
