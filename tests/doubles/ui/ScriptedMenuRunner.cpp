#include "tests/doubles/ui/ScriptedMenuRunner.h"

#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"

namespace corvex {

void ScriptedMenuRunner::chooseIndex(int index)
{
    mAnswers.push_back(Answer{Answer::Kind::Index, index, QString()});
}

void ScriptedMenuRunner::chooseTitle(const QString& title)
{
    mAnswers.push_back(Answer{Answer::Kind::Title, 0, title});
}

void ScriptedMenuRunner::chooseNothing()
{
    mAnswers.push_back(Answer{Answer::Kind::Nothing, 0, QString()});
}

std::shared_ptr<MenuItem> ScriptedMenuRunner::choose(const Presentation& presentation)
{
    const Menu& menu = *presentation.menu;
    Record record{presentation, {}};
    for (const auto& item : menu.items())
        record.titles.append(item->isSeparator() ? QStringLiteral("-") : item->title());
    mPresented.push_back(std::move(record));

    if (mAnswers.empty())
        return nullptr;
    const Answer answer = mAnswers.front();
    mAnswers.pop_front();
    switch (answer.kind) {
    case Answer::Kind::Index:
        return menu.itemAtIndex(answer.index);
    case Answer::Kind::Title:
        return menu.findItemWithTitle(answer.title);
    case Answer::Kind::Nothing:
        break;
    }
    return nullptr;
}

} // namespace corvex
