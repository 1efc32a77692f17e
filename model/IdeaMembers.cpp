#include "model/IdeaMembers.h"

#include "model/ColorTheme.h"
#include "model/Idea.h"
#include "model/IdeaStoredMembers.h"

namespace corvex {

namespace {

const QString& nameOf(const ColorPtr& color)
{
    static const QString none;
    return color ? color->name() : none;
}

const QString& nameOf(const IconImagePtr& icon)
{
    static const QString none;
    return icon ? icon->name() : none;
}

IdeaMemberValue dataValue(const QByteArray& data)
{
    return data.isNull() ? IdeaMemberValue() : IdeaMemberValue(data);
}

} // namespace

const QString& IdeaMembers::codingKey(IdeaMember member)
{
    static const std::array<QString, kIdeaMemberCount> keys = [] {
        std::array<QString, kIdeaMemberCount> made;
        for (std::size_t i = 0; i < kIdeaMemberCount; ++i)
            made[i] =
                QString::fromLatin1(kIdeaMemberRows[i].key.data(), qsizetype(kIdeaMemberRows[i].key.size()));
        return made;
    }();
    return keys[std::size_t(member)];
}

IdeaMemberValue IdeaMembers::stored(const Idea& idea, IdeaMember member)
{
    IdeaMemberValue found;
    IdeaStoredMembers::forEach(idea, [&](const IdeaMemberRow& row, const auto& value) {
        if (row.member == member)
            found = value;
    });
    return found;
}

IdeaMemberValue IdeaMembers::shown(const Idea& idea, IdeaMember member)
{
    switch (member) {
    case IdeaMember::Text:
        return idea.text();
    case IdeaMember::Url:
        return idea.URL();
    case IdeaMember::Note:
        return idea.note();
    case IdeaMember::Color:
        return idea.color();
    case IdeaMember::IconImage:
        return idea.iconImage();
    case IdeaMember::ColorThemeType:
        return qint64(idea.colorThemeType());
    case IdeaMember::Image:
        return dataValue(idea.image().pngData());
    case IdeaMember::BigImageData:
        return dataValue(idea.bigImageData());
    case IdeaMember::Identifier:
    case IdeaMember::IdeaType:
    case IdeaMember::LinkedIdea:
    case IdeaMember::Att:
        return stored(idea, member);
    default:
        break;
    }
    IdeaPtr keep;
    const Idea* content = row(member).ideas == IdeaMemberIdeas::Content ? idea.contentIdea(keep) : &idea;
    return content ? content->keptValue(member) : IdeaMemberValue();
}

void IdeaMembers::setShown(Idea& idea, IdeaMember member, const IdeaMemberValue& value)
{
    const auto text = [&] { return memberValueAs<QString>(value); };
    switch (member) {
    case IdeaMember::Text:
        idea.setText(text());
        return;
    case IdeaMember::Url:
        idea.setURL(text());
        return;
    case IdeaMember::Note:
        idea.setNote(text());
        return;
    case IdeaMember::Color:
        idea.setColor(memberValueAs<ColorPtr>(value));
        return;
    case IdeaMember::IconImage:
        idea.setIconImage(memberValueAs<IconImagePtr>(value));
        return;
    case IdeaMember::ColorThemeType:
        idea.setColorThemeType(ColorThemeType(quint64(memberValueAs<qint64>(value))));
        return;
    case IdeaMember::Att:
        idea.setAtt(ObjectID::parseFromString(text()));
        return;
    case IdeaMember::Identifier:
    case IdeaMember::IdeaType:
    case IdeaMember::LinkedIdea:
    case IdeaMember::Image:
    case IdeaMember::BigImageData:
        return; // made by the idea's own operations, never set from outside
    default:
        break;
    }
    // As the setters of content do: a link shows its target's and keeps none of its own.
    if (row(member).ideas == IdeaMemberIdeas::Content && idea.isLink())
        return;
    idea.setKeptValue(member, value);
}

bool IdeaMembers::sameForEditor(IdeaMemberType type, const IdeaMemberValue& a, const IdeaMemberValue& b)
{
    // Texts compare as QString does: a null text and an empty one alike.
    switch (type) {
    case IdeaMemberType::Text:
        return memberValueAs<QString>(a) == memberValueAs<QString>(b);
    case IdeaMemberType::ColorName:
        return nameOf(memberValueAs<ColorPtr>(a)) == nameOf(memberValueAs<ColorPtr>(b));
    case IdeaMemberType::Icon:
        return nameOf(memberValueAs<IconImagePtr>(a)) == nameOf(memberValueAs<IconImagePtr>(b));
    case IdeaMemberType::Integer:
        return memberValueAs<qint64>(a) == memberValueAs<qint64>(b);
    case IdeaMemberType::Data:
        break;
    }
    return memberValueAs<QByteArray>(a) == memberValueAs<QByteArray>(b);
}

IdeaMemberValue IdeaStoredValues::value(const IdeaMemberRow& row) const
{
    const std::size_t at = IdeaMembers::slot(row.member);
    switch (row.type) {
    case IdeaMemberType::Text:
        return texts[at] ? IdeaMemberValue(*texts[at]) : IdeaMemberValue();
    case IdeaMemberType::ColorName:
        return texts[at] ? IdeaMemberValue(ColorTheme::colorByName(*texts[at])) : IdeaMemberValue();
    case IdeaMemberType::Integer:
        return integers[at];
    case IdeaMemberType::Data:
        return dataValue(data[at]);
    case IdeaMemberType::Icon:
        break;
    }
    return icons[at] ? IdeaMemberValue(icons[at]) : IdeaMemberValue();
}

} // namespace corvex
