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
    const auto text = [&] {
        const QString* given = std::get_if<QString>(&value);
        return given ? *given : QString();
    };
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
    case IdeaMember::Color: {
        const ColorPtr* color = std::get_if<ColorPtr>(&value);
        idea.setColor(color ? *color : nullptr);
        return;
    }
    case IdeaMember::IconImage: {
        const IconImagePtr* icon = std::get_if<IconImagePtr>(&value);
        idea.setIconImage(icon ? *icon : nullptr);
        return;
    }
    case IdeaMember::ColorThemeType: {
        const qint64* type = std::get_if<qint64>(&value);
        idea.setColorThemeType(ColorThemeType(type ? quint64(*type) : 0));
        return;
    }
    case IdeaMember::Att: {
        idea.setAtt(ObjectID::parseFromString(text()));
        return;
    }
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
    const auto sameText = [](const QString& x, const QString& y) {
        return (x.isEmpty() && y.isEmpty()) || (x.isEmpty() == y.isEmpty() && x == y);
    };
    switch (type) {
    case IdeaMemberType::Text: {
        const QString* x = std::get_if<QString>(&a);
        const QString* y = std::get_if<QString>(&b);
        return sameText(x ? *x : QString(), y ? *y : QString());
    }
    case IdeaMemberType::ColorName: {
        const ColorPtr* x = std::get_if<ColorPtr>(&a);
        const ColorPtr* y = std::get_if<ColorPtr>(&b);
        return sameText(nameOf(x ? *x : nullptr), nameOf(y ? *y : nullptr));
    }
    case IdeaMemberType::Icon: {
        const IconImagePtr* x = std::get_if<IconImagePtr>(&a);
        const IconImagePtr* y = std::get_if<IconImagePtr>(&b);
        return sameText(nameOf(x ? *x : nullptr), nameOf(y ? *y : nullptr));
    }
    case IdeaMemberType::Integer: {
        const qint64* x = std::get_if<qint64>(&a);
        const qint64* y = std::get_if<qint64>(&b);
        return (x ? *x : 0) == (y ? *y : 0);
    }
    case IdeaMemberType::Data:
        break;
    }
    const QByteArray* x = std::get_if<QByteArray>(&a);
    const QByteArray* y = std::get_if<QByteArray>(&b);
    return (x ? *x : QByteArray()) == (y ? *y : QByteArray());
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
