#pragma once

#include "platform/ui/AlertRunner.h"

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace corvex {

// An alert runner for tests: shows nothing and answers from a script. Each alert takes the
// next queued answer; with none queued it asks the handler, and without a handler it is
// dismissed without a choice. Every alert shown is recorded.
class ScriptedAlertRunner final : public AlertRunner
{
public:
    // The index of the pressed button, or nothing for a dismissal without a choice.
    using Handler = std::function<std::optional<int>(const Alert&)>;

    // Queues a press of the button at the index.
    void answerIndex(int index);
    // Queues a press of the first button with this title (a dismissal when none has it).
    void answerTitle(const QString& title);
    // Queues a dismissal without a choice (Escape, the close box).
    void answerDismissed();
    // Queues an ending by the application's quit while the alert showed (no answer).
    void answerEndedByQuit();
    void setHandler(Handler handler) { mHandler = std::move(handler); }

    // The alerts shown so far, in order, as shown (with the default button added when the
    // caller gave none).
    const std::vector<Alert>& presented() const { return mPresented; }
    int presentedCount() const { return int(mPresented.size()); }
    std::size_t pendingAnswers() const { return mAnswers.size(); }

protected:
    std::optional<int> present(const Alert& alert) override;

private:
    struct Answer
    {
        enum class Kind
        {
            Index,
            Title,
            Dismiss,
            Quit,
        };
        Kind kind = Kind::Dismiss;
        int index = 0;
        QString title;
    };

    std::deque<Answer> mAnswers;
    Handler mHandler;
    std::vector<Alert> mPresented;
};

} // namespace corvex
