#include "tests/doubles/ui/ScriptedFilePanelRunner.h"

#include "platform/core/MainQueue.h"

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
    Completion completion = std::move(mOpen.front());
    mOpen.pop_front();
    const QList<QUrl> chosen = response == OK ? urls : QList<QUrl>();
    MainQueue::post([completion, response, chosen] { completion(response, chosen); });
    return true;
}

void ScriptedFilePanelRunner::present(const OpenPanel& panel, Window* window, Completion completion)
{
    mPresented.push_back(Record{panel, window});
    openPanel(std::move(completion));
}

void ScriptedFilePanelRunner::presentSave(const SavePanel& panel, Window* window, Completion completion)
{
    mPresentedSaves.push_back(SaveRecord{panel, window});
    openPanel(std::move(completion));
}

void ScriptedFilePanelRunner::openPanel(Completion completion)
{
    mOpen.push_back(std::move(completion));
    if (mAnswers.empty())
        return;
    const Answer answer = mAnswers.front();
    mAnswers.pop_front();
    respond(answer.response, answer.urls);
}

} // namespace corvex
