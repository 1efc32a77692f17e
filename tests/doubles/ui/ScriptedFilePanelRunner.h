#pragma once

#include "platform/ui/FilePanelRunner.h"

#include <deque>
#include <vector>

namespace corvex {

// A file-panel runner for tests: shows nothing. A panel (open or save, from one queue of
// answers) takes the next queued answer and completes on the main queue; with none queued it
// stays open until the test answers it with respond(). Every panel shown is recorded (its
// directory filled in); a save panel's answer is the first URL of answerOK.
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

    struct SaveRecord
    {
        SavePanel panel;
        Window* window = nullptr;
    };

    const std::vector<Record>& presented() const { return mPresented; }
    const std::vector<SaveRecord>& presentedSaves() const { return mPresentedSaves; }
    int presentedCount() const { return int(mPresented.size()); }
    std::size_t pendingAnswers() const { return mAnswers.size(); }

protected:
    void present(const OpenPanel& panel, Window* window, Reply reply) override;
    void presentSave(const SavePanel& panel, Window* window, Reply reply) override;

private:
    struct Answer
    {
        int response = Cancel;
        QList<QUrl> urls;
    };

    std::deque<Answer> mAnswers;
    std::deque<Reply> mOpen;
    std::vector<Record> mPresented;
    std::vector<SaveRecord> mPresentedSaves;

    void openPanel(Reply reply);
};

} // namespace corvex
