#include "platform/core/Completion.h"
#include "platform/core/MainQueue.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>

using namespace corvex;
using namespace corvex::test;

namespace {

// Answers at once, as a careless service might: the type still puts the answer on a later turn.
void answerAtOnce(QString text, Completion<const QString&> completion)
{
    completion(text);
    text = QStringLiteral("changed after the answer");
}

// Answers on a worker thread, from inside a task that carries the completion.
void answerFromWorker(int value, Completion<int> completion)
{
    GlobalQueue::async([value, completion = std::move(completion)]() mutable { completion(value * 2); });
}

} // namespace

TEST(Completion, AnswersOnItsQueueOnALaterTurnWithTheArgumentsAsTheyWere)
{
    ScopedVirtualTime time;
    CompletionRecorder recorder;
    QString heard;
    answerAtOnce(QStringLiteral("hello"),
                 recorder.expect<const QString&>(QStringLiteral("at once"),
                                                 [&](const QString& text) { heard = text; }));
    EXPECT_TRUE(heard.isEmpty()) << "answered inside the call";
    EXPECT_EQ(time.runDue(), 1);
    EXPECT_EQ(heard, QStringLiteral("hello"));

    // Made for the main queue, answered from a worker: heard on the main thread.
    int doubled = 0;
    answerFromWorker(
        21, recorder.expect<int>(QStringLiteral("from a worker"), [&](int value) { doubled = value; }));
    EXPECT_TRUE(runUntil([&] { return time.runDue() > 0 || doubled != 0; }, 10.0));
    EXPECT_EQ(doubled, 42);

    // Made for a global queue: heard off the main thread.
    std::atomic<bool> onMain{true};
    std::atomic<bool> done{false};
    Completion<> background(CompletionQueue::global(), [&] {
        onMain = MainQueue::isMainThread();
        done = true;
    });
    background();
    EXPECT_TRUE(runUntil([&] { return done.load(); }, 10.0));
    EXPECT_FALSE(onMain.load());
    EXPECT_TRUE(recorder.verify());
}

// Each way of breaking the rule, and each way of keeping it without an answer.
TEST(Completion, ASecondAnswerOrAnAnswerLetGoFailsTheTestAndSilenceMustBeSaid)
{
    ScopedVirtualTime time;
    int calls = 0;
    EXPECT_NONFATAL_FAILURE(
        {
            Completion<> twice([&] { ++calls; });
            twice();
            twice();
        },
        "was answered twice");
    time.runDue();
    EXPECT_EQ(calls, 1);

    CompletionRecorder recorder;
    EXPECT_NONFATAL_FAILURE({ Completion<bool> letGo = recorder.expect<bool>(QStringLiteral("let go")); },
                            "\"let go\": completion made at");

    // Said on purpose: no answer and no fault.
    Completion<bool> dropped([&](bool) { ++calls; });
    dropped.drop();
    EXPECT_FALSE(dropped);
    // Wanting no answer: made from nothing, or from an empty callable.
    Completion<int> none(std::function<void(int)>{});
    EXPECT_FALSE(none);
    none(1);
    // Moved: the new holder answers, the old one is empty and lets nothing go.
    Completion<> first([&] { ++calls; });
    Completion<> second(std::move(first));
    second();
    EXPECT_EQ(time.runDue(), 1);
    EXPECT_EQ(calls, 2);
}

// Without a test's reporter (the application) each fault is logged once for the place the
// completion was made at, however often it happens there.
TEST(Completion, TheApplicationLogsEachFaultOnceForEachPlace)
{
    ScopedVirtualTime time;
    const auto testReporter = CompletionCheck::setReporter({});
    LogCapture log;
    for (int round = 0; round < 3; ++round) {
        Completion<> twice([] {});
        twice();
        twice();
        Completion<int> unanswered([](int) {});
    }
    CompletionCheck::setReporter(testReporter);
    time.runDue();
    EXPECT_EQ(log.count(LogLevel::Error, QStringLiteral("was answered twice")), 1)
        << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(log.count(LogLevel::Info, QStringLiteral("was let go unanswered")), 1);
    EXPECT_EQ(log.count(QStringLiteral("CompletionTest.cpp")), 2);
}
