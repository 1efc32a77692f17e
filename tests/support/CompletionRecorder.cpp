#include "tests/support/CompletionRecorder.h"

#include "tests/support/LaterTurn.h"
#include "tests/support/RunUntil.h"

#include <gtest/gtest.h>

namespace corvex::test {

CompletionRecorder::~CompletionRecorder()
{
    if (!mVerified)
        verify();
}

std::shared_ptr<CompletionRecorder::Record> CompletionRecorder::add(const QString& name, OnThread thread)
{
    auto record = std::make_shared<Record>();
    record->name = name;
    record->thread = thread;
    std::lock_guard lock(mMutex);
    mRecords.push_back(record);
    return record;
}

void CompletionRecorder::noteCall(Record& record)
{
    const int calls = ++record.calls;
    if (calls > 1)
        ADD_FAILURE() << "completion \"" << record.name.toStdString() << "\" called " << calls << " times";
    const bool main = MainQueue::isMainThread();
    if (record.thread == OnThread::Main && !main)
        ADD_FAILURE() << "completion \"" << record.name.toStdString() << "\" called off the main thread";
    if (record.thread == OnThread::Background && main)
        ADD_FAILURE() << "completion \"" << record.name.toStdString() << "\" called on the main thread";
    // On the main thread a completion runs from an event or a scheduled task; run straight
    // from the test body, it was answered inside the call that took it.
    if (main && !LaterTurn::active())
        ADD_FAILURE() << "completion \"" << record.name.toStdString()
                      << "\" called inside the call that took it";
}

void CompletionRecorder::noteFault(Record& record, CompletionFault fault, const SourceLocation& made)
{
    // A second answer is told for every completion by the test main's reporter; one let go
    // unanswered is told here, where it happens, rather than only when the recorder verifies.
    if (fault != CompletionFault::LetGoUnanswered)
        return;
    record.letGo.store(true);
    ADD_FAILURE() << "completion \"" << record.name.toStdString()
                  << "\": " << CompletionCheck::describe(fault, made).toStdString();
}

bool CompletionRecorder::allCalled() const
{
    std::lock_guard lock(mMutex);
    for (const auto& record : mRecords) {
        if (record->calls.load() == 0 && !record->letGo.load())
            return false;
    }
    return true;
}

bool CompletionRecorder::waitAll(double timeoutSeconds)
{
    return runUntil([this] { return allCalled(); }, timeoutSeconds);
}

int CompletionRecorder::callCount(const QString& name) const
{
    std::lock_guard lock(mMutex);
    int total = 0;
    for (const auto& record : mRecords) {
        if (record->name == name)
            total += record->calls.load();
    }
    return total;
}

bool CompletionRecorder::verify()
{
    mVerified = true;
    std::lock_guard lock(mMutex);
    bool good = true;
    for (const auto& record : mRecords) {
        if (record->calls.load() == 0 && !record->letGo.load()) {
            ADD_FAILURE() << "completion \"" << record->name.toStdString() << "\" was never called";
            good = false;
        }
    }
    return good;
}

} // namespace corvex::test
