#pragma once

#include "platform/ui/FilePanelRunner.h"

#include <deque>
#include <vector>

namespace corvex {

// An open-panel runner for tests: shows nothing. A panel takes the next queued answer and
// completes on the main queue; with none queued it stays open until the test answers it with
// respond(). Every panel shown is recorded (its directory filled in).
class ScriptedFilePanelRunner final : public FilePanelRunner
{
public:
    struct Record
    {
        OpenPanel panel;
        Window* window = nullptr;
    };

    // Queues an OK with the files.
    void answerOK(const QList<QUrl>& urls);
    // Queues a cancel.
    void answerCancel();

    // Ends the oldest open panel (the completion runs on the main queue); false when none is
    // open.
    bool respond(int response, const QList<QUrl>& urls = {});
    std::size_t openPanels() const { return mOpen.size(); }

    const std::vector<Record>& presented() const { return mPresented; }
    int presentedCount() const { return int(mPresented.size()); }
    std::size_t pendingAnswers() const { return mAnswers.size(); }

protected:
    void present(const OpenPanel& panel, Window* window, Completion completion) override;

private:
    struct Answer
    {
        int response = Cancel;
        QList<QUrl> urls;
    };

    std::deque<Answer> mAnswers;
    std::deque<Completion> mOpen;
    std::vector<Record> mPresented;
};

} // namespace corvex
