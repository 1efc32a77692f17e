#pragma once

#include "graphics/QVImage.h"
#include "model/ColorTheme.h"
#include "model/Idea.h"

#include <QString>
#include <initializer_list>

namespace corvex::test {

// Small idea trees for journeys, written as outlines: text("Trip", {text("Pack"), ...}). Each
// idea has a colour of the standard themes, as ideas made in Corvex have.
inline IdeaPtr coloured(IdeaPtr idea)
{
    static std::size_t next = 0;
    const auto& themes = ColorTheme::standardThemes();
    idea->setColor(themes[next++ % themes.size()]->colors().front());
    return idea;
}

inline IdeaPtr text(const QString& title, std::initializer_list<IdeaPtr> children = {})
{
    IdeaPtr idea = coloured(Idea::initWithText(title));
    for (const IdeaPtr& child : children)
        (void)idea->addIdea(child);
    return idea;
}

inline IdeaPtr noted(const QString& title, const QString& note)
{
    IdeaPtr idea = coloured(Idea::initWithText(title));
    idea->setNote(note);
    return idea;
}

inline IdeaPtr webLink(const QString& title, const QString& url)
{
    IdeaPtr idea = coloured(Idea::initWithURL(url, QVImage()));
    idea->setText(title);
    return idea;
}

// The first idea of the tree, depth first, with this text; null when none has it.
inline IdeaPtr ideaWithText(const IdeaPtr& idea, const QString& title)
{
    if (!idea)
        return nullptr;
    if (idea->text() == title)
        return idea;
    for (const IdeaPtr& child : idea->ideas()) {
        if (IdeaPtr found = ideaWithText(child, title))
            return found;
    }
    return nullptr;
}

} // namespace corvex::test
