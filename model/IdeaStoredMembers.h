#pragma once

#include "model/Idea.h"
#include "model/IdeaMembers.h"

#include <variant>

namespace corvex {

// The members an idea stores, as a document holds them, handed to a visitor one by one in
// the members' table's order without a copy: the one place that knows which of Idea's fields
// holds which row. What the writers write and IdeaMembers::stored answers. Any thread that
// may read the idea.
class IdeaStoredMembers
{
public:
    // Calls `visit(row, value)` for each member the idea stores (a link's own members, never
    // its target's), the value as its row's type holds it: const QString&, qint64,
    // const QByteArray&, const ColorPtr& or const IconImagePtr&. Null texts and data, and
    // colours and icons the idea has not, are left out; numbers are always there.
    template <class Visit> static void forEach(const Idea& idea, Visit&& visit)
    {
        const bool link = idea.isLink();
        const Idea::Extras* extras = idea.mExtras.get();
        // A null text or data is not stored.
        const auto unlessNull = [&](const IdeaMemberRow& row, const auto& value) {
            if (!value.isNull())
                visit(row, value);
        };
        for (const IdeaMemberRow& row : kIdeaMemberRows) {
            if (!IdeaMembers::storedBy(row, link))
                continue;
            switch (row.member) {
            case IdeaMember::Identifier:
                unlessNull(row, idea.mIdentifier);
                break;
            case IdeaMember::IdeaType:
                visit(row, qint64(qint32(idea.mIdeaType)));
                break;
            case IdeaMember::LinkedIdea:
                if (extras)
                    unlessNull(row, extras->linkedIdentifier);
                break;
            case IdeaMember::Text:
                unlessNull(row, idea.mText);
                break;
            case IdeaMember::Url:
                if (extras)
                    unlessNull(row, extras->url);
                break;
            case IdeaMember::Note:
                unlessNull(row, idea.mNote);
                break;
            case IdeaMember::Color:
                if (idea.mColor)
                    visit(row, idea.mColor);
                break;
            case IdeaMember::Att:
                if (extras)
                    unlessNull(row, extras->att.asString());
                break;
            case IdeaMember::Image:
                if (extras && extras->image.hasImage())
                    unlessNull(row, extras->image.pngData());
                break;
            case IdeaMember::BigImageData:
                if (extras)
                    unlessNull(row, extras->bigImageData);
                break;
            case IdeaMember::IconImage:
                if (idea.mIconImage)
                    visit(row, idea.mIconImage);
                break;
            case IdeaMember::ColorThemeType:
                visit(row, qint64(qint32(idea.mColorThemeType)));
                break;
            default:
                // A member of the general store.
                std::visit(
                    [&](const auto& value) {
                        if constexpr (!std::is_same_v<std::decay_t<decltype(value)>, std::monostate>)
                            visit(row, value);
                    },
                    idea.keptValue(row.member));
                break;
            }
        }
    }
};

} // namespace corvex
