#include "tests/doubles/ui/ScriptedFilePanelRunner.h"

namespace corvex {

void ScriptedFilePanelRunner::answerOK(const QList<QUrl>& urls)
{
    mAnswers.push_back(Answer{OK, urls});
}

void ScriptedFilePanelRunner::answerCancel()
{
    mAnswers.push_back(Answer{Cancel, {}});
}

bool ScriptedFilePanelRunner::respond(int response, const QList<QUrl>& urls)
{
    if (mOpen.empty())
        return false;
    const Reply reply = std::move(mOpen.front());
    mOpen.pop_front();
    // The caller's completion is heard on the main queue, on a later turn.
    reply(response, response == OK ? urls : QList<QUrl>());
    return true;
}

void ScriptedFilePanelRunner::present(const OpenPanel& panel, Window* window, Reply reply)
{
    mPresented.push_back(Record{panel, window});
    openPanel(std::move(reply));
}

void ScriptedFilePanelRunner::presentSave(const SavePanel& panel, Window* window, Reply reply)
{
    mPresentedSaves.push_back(SaveRecord{panel, window});
    openPanel(std::move(reply));
}

void ScriptedFilePanelRunner::openPanel(Reply reply)
{
    mOpen.push_back(std::move(reply));
    if (mAnswers.empty())
        return;
    const Answer answer = mAnswers.front();
    mAnswers.pop_front();
    respond(answer.response, answer.urls);
}

} // namespace corvex
