#pragma once

#include "platform/core/CompletionCheck.h"
#include "platform/core/MainQueue.h"

#include "platform/core/SourceLocation.h"
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
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

    struct Record;

    // What expect() hands out: called as a completion is, and, made into a Completion, told
    // of that completion's faults (answered twice, let go unanswered), which fail the test.
    template <class... Args> class Recorded
    {
    public:
        Recorded(std::shared_ptr<Record> record, std::function<void(Args...)> body)
            : mRecord(std::move(record)), mBody(std::move(body))
        {}

        void operator()(Args... args) const
        {
            noteCall(*mRecord);
            if (mBody)
                mBody(std::forward<Args>(args)...);
        }

        std::function<void(CompletionFault, const SourceLocation&)> faultHook() const
        {
            return [record = mRecord](CompletionFault fault, const SourceLocation& made) {
                noteFault(*record, fault, made);
            };
        }

    private:
        std::shared_ptr<Record> mRecord;
        std::function<void(Args...)> mBody;
    };

    // A completion named `name`; `body` (optional) runs on each call with the arguments.
    template <class... Args>
    Recorded<Args...> expect(const QString& name, OnThread thread = OnThread::Main,
                             std::type_identity_t<std::function<void(Args...)>> body = {})
    {
        return Recorded<Args...>(add(name, thread), std::move(body));
    }

    template <class... Args>
    Recorded<Args...> expect(const QString& name, std::type_identity_t<std::function<void(Args...)>> body)
    {
        return expect<Args...>(name, OnThread::Main, std::move(body));
    }

    // Runs the event loop until every completion has been called (or the timeout passes).
    bool waitAll(double timeoutSeconds = 10.0);
    bool allCalled() const;
    int callCount(const QString& name) const;
    // Fails the test for each completion that was never called; answers true when none.
    bool verify();

public:
    struct Record
    {
        QString name;
        OnThread thread;
        std::atomic<int> calls{0};
        std::atomic<bool> letGo{false}; // already failed the test where it was let go
    };

private:
    std::shared_ptr<Record> add(const QString& name, OnThread thread);
    static void noteCall(Record& record);
    static void noteFault(Record& record, CompletionFault fault, const SourceLocation& made);

    mutable std::mutex mMutex;
    std::vector<std::shared_ptr<Record>> mRecords;
    bool mVerified = false;
};

} // namespace corvex::test
