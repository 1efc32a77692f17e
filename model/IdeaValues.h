#pragma once

#include "model/IdeaMembers.h"

#include <array>

namespace corvex {

class Idea;

// Values of an idea's members, keyed by the members' table: what the idea editor is preset
// with and gives back, one bundle however many members it edits. A member without a value
// reads as missing (a null text, 0, no colour, no icon).
class IdeaValues
{
public:
    // The members the editor carries (IdeaMemberRow::edited), as the idea shows them.
    static IdeaValues editedOf(const Idea& idea);
    // Writes every edited member into the idea through its setters; a missing value clears
    // the member.
    void applyTo(Idea& idea) const;
    // Whether an edited member's value differs from the one in `other`, as the editor
    // compares them (IdeaMembers::sameForEditor).
    bool differsFrom(const IdeaValues& other) const;

    const IdeaMemberValue& value(IdeaMember member) const { return mValues[std::size_t(member)]; }
    void set(IdeaMember member, IdeaMemberValue value) { mValues[std::size_t(member)] = std::move(value); }

    // The value as its type; missing reads as null, 0 or nullptr.
    QString text(IdeaMember member) const;
    qint64 integer(IdeaMember member) const;
    ColorPtr color(IdeaMember member) const;
    IconImagePtr icon(IdeaMember member) const;

private:
    std::array<IdeaMemberValue, kIdeaMemberCount> mValues;
};

} // namespace corvex
