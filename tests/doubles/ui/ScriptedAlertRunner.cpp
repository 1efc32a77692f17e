#include "tests/doubles/ui/ScriptedAlertRunner.h"

namespace corvex {

void ScriptedAlertRunner::answerIndex(int index)
{
    mAnswers.push_back(Answer{Answer::Kind::Index, index, QString()});
}

void ScriptedAlertRunner::answerTitle(const QString& title)
{
    mAnswers.push_back(Answer{Answer::Kind::Title, 0, title});
}

void ScriptedAlertRunner::answerDismissed()
{
    mAnswers.push_back(Answer{Answer::Kind::Dismiss, 0, QString()});
}

void ScriptedAlertRunner::answerEndedByQuit()
{
    mAnswers.push_back(Answer{Answer::Kind::Quit, 0, QString()});
}

std::optional<int> ScriptedAlertRunner::present(const Alert& alert)
{
    mPresented.push_back(alert);
    if (mAnswers.empty())
        return mHandler ? mHandler(alert) : std::nullopt;
    const Answer answer = mAnswers.front();
    mAnswers.pop_front();
    switch (answer.kind) {
    case Answer::Kind::Index:
        return answer.index;
    case Answer::Kind::Title:
        for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
            if (alert.buttons[i].title == answer.title)
                return int(i);
        }
        return std::nullopt;
    case Answer::Kind::Quit:
        return EndedByQuit;
    case Answer::Kind::Dismiss:
        break;
    }
    return std::nullopt;
}

} // namespace corvex
