#include "model/IdeaValues.h"

#include "model/Idea.h"

namespace corvex {

IdeaValues IdeaValues::editedOf(const Idea& idea)
{
    IdeaValues values;
    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        if (row.edited)
            values.set(row.member, IdeaMembers::shown(idea, row.member));
    }
    return values;
}

void IdeaValues::applyTo(Idea& idea) const
{
    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        if (row.edited)
            IdeaMembers::setShown(idea, row.member, value(row.member));
    }
}

bool IdeaValues::differsFrom(const IdeaValues& other) const
{
    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        if (row.edited && !IdeaMembers::sameForEditor(row.type, value(row.member), other.value(row.member)))
            return true;
    }
    return false;
}

QString IdeaValues::text(IdeaMember member) const
{
    return memberValueAs<QString>(value(member));
}

qint64 IdeaValues::integer(IdeaMember member) const
{
    return memberValueAs<qint64>(value(member));
}

ColorPtr IdeaValues::color(IdeaMember member) const
{
    return memberValueAs<ColorPtr>(value(member));
}

IconImagePtr IdeaValues::icon(IdeaMember member) const
{
    return memberValueAs<IconImagePtr>(value(member));
}

} // namespace corvex
