// Questions from below the interface reach the user through the current alert runner.

#include "platform/ui/RunnerAlertPresenter.h"
#include "platform/ui/Runners.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

TEST(RunnerAlertPresenter, AnswersThePressedButtonADismissalStandsForTheLastButtonAndAQuitForNone)
{
    EXPECT_EQ(AlertPresenter::present(QStringLiteral("t"), QStringLiteral("m"), {QStringLiteral("OK")}),
              AlertPresenter::NoAlertShown);
    auto runner = std::make_shared<ScriptedAlertRunner>();
    Runners::setAlertRunner(runner);
    RunnerAlertPresenter::registerPresenter();
    const QStringList buttons{QStringLiteral("Send"), QStringLiteral("Always Send"),
                              QStringLiteral("Don't Send")};
    runner->answerIndex(1);
    runner->answerDismissed();
    runner->answerEndedByQuit();
    EXPECT_EQ(
        AlertPresenter::present(QStringLiteral("Send Crash Report?"), QStringLiteral("Looks like"), buttons),
        1001);
    EXPECT_EQ(
        AlertPresenter::present(QStringLiteral("Send Crash Report?"), QStringLiteral("Looks like"), buttons),
        1002);
    EXPECT_EQ(
        AlertPresenter::present(QStringLiteral("Send Crash Report?"), QStringLiteral("Looks like"), buttons),
        AlertPresenter::Unanswered);
    ASSERT_EQ(runner->presentedCount(), 3);
    EXPECT_EQ(runner->presented()[0].messageText, QStringLiteral("Send Crash Report?"));
    EXPECT_EQ(runner->presented()[0].buttons[2].title, QStringLiteral("Don't Send"));
    AlertPresenter::setRegistered(nullptr);
    Runners::reset();
}

} // namespace
} // namespace corvex
