#pragma once

#include "platform/core/MainQueue.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex::test {

// Hands out completion blocks that check the completion contract: each must be called
// exactly once, on the expected thread, and never inside the call that took it. A second
// call, a call on the wrong thread or a main-thread call straight from the test body (no
// event being delivered, no scheduled task running: see LaterTurn) fails the running test
// at once; a block never called fails it when the recorder is verified
// or destroyed.
class CompletionRecorder
{
public:
    enum class OnThread
    {
        Main,
        Background,
        Any
    };

    CompletionRecorder() = default;
    ~CompletionRecorder();
    CompletionRecorder(const CompletionRecorder&) = delete;
    CompletionRecorder& operator=(const CompletionRecorder&) = delete;

    // A completion named `name`; `body` (optional) runs on each call with the arguments.
    template <class... Args>
    std::function<void(Args...)> expect(const QString& name, OnThread thread = OnThread::Main,
                                        std::function<void(Args...)> body = {})
    {
        auto record = add(name, thread);
        return [record, body = std::move(body)](Args... args) {
            noteCall(*record);
            if (body)
                body(std::forward<Args>(args)...);
        };
    }

    template <class... Args>
    std::function<void(Args...)> expect(const QString& name, std::function<void(Args...)> body)
    {
        return expect<Args...>(name, OnThread::Main, std::move(body));
    }

    // Runs the event loop until every completion has been called (or the timeout passes).
    bool waitAll(double timeoutSeconds = 10.0);
    bool allCalled() const;
    int callCount(const QString& name) const;
    // Fails the test for each completion that was never called; answers true when none.
    bool verify();

private:
    struct Record
    {
        QString name;
        OnThread thread;
        std::atomic<int> calls{0};
    };

    std::shared_ptr<Record> add(const QString& name, OnThread thread);
    static void noteCall(Record& record);

    mutable std::mutex mMutex;
    std::vector<std::shared_ptr<Record>> mRecords;
    bool mVerified = false;
};

} // namespace corvex::test
