// Alerts: the answer of a dismissal without a choice, the scripted runner, and the Qt
// default driven offscreen by keys queued into its modal loop.

#include "platform/core/Log.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtAlertRunner.h"
#include "platform/ui/Runners.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/platform/ui/ModalTestSupport.h"
#include "tests/support/LogCapture.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

Alert alertWith(std::initializer_list<Alert::Button> buttons)
{
    Alert alert;
    alert.messageText = QStringLiteral("Delete the idea?");
    alert.informativeText = QStringLiteral("It has 3 children.");
    alert.buttons = buttons;
    return alert;
}

const Alert::Button kDelete{QStringLiteral("Choice.Delete"), Alert::DestructiveButton};
const Alert::Button kCancel{QStringLiteral("Choice.Cancel"), Alert::CancelButton};
const Alert::Button kClose{QStringLiteral("Choice.Close"), Alert::NormalButton};
const Alert::Button kSave{QStringLiteral("Save"), Alert::NormalButton};
const Alert::Button kDontSave{QStringLiteral("Do Not Save"), Alert::NormalButton};

// Runs the Qt default with the keys sent into its loop; `inspect` sees the message box.
int runQtAlert(const Alert& alert, std::vector<Qt::Key> keys, std::function<void(QMessageBox*)> inspect = {})
{
    ModalDriver driver(ModalDriver::Target::ModalWidget, std::move(keys), [&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        EXPECT_NE(box, nullptr) << "the modal widget is a " << widget->metaObject()->className();
        if (box && inspect)
            inspect(box);
    });
    QtAlertRunner runner;
    const int answer = runner.runModal(alert);
    EXPECT_TRUE(driver.sent()) << "the alert never showed";
    EXPECT_FALSE(driver.rescued());
    return answer;
}

// The button titles from left to right as the box lays them out.
QStringList buttonOrder(QMessageBox* box)
{
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
        return a->mapTo(box, QPoint(0, 0)).x() < b->mapTo(box, QPoint(0, 0)).x();
    });
    QStringList titles;
    for (QAbstractButton* button : buttons)
        titles.append(button->text());
    return titles;
}

} // namespace

TEST(AlertDismissal, AnswersTheFirstCancelButtonElseTheFirstButton)
{
    EXPECT_EQ(alertWith({kDelete, kCancel}).dismissalIndex(), 1);
    EXPECT_EQ(alertWith({kSave, kDontSave, kCancel}).dismissalIndex(), 2);
    EXPECT_EQ(alertWith({kCancel, kDelete, kCancel}).dismissalIndex(), 0);
    // A single button still ends the alert (and frees the screen its block releases).
    EXPECT_EQ(alertWith({kClose}).dismissalIndex(), 0);
    EXPECT_EQ(alertWith({kDelete, kSave}).dismissalIndex(), 0);
    EXPECT_EQ(alertWith({}).dismissalIndex(), 0);
}

TEST(ScriptedAlertRunner, AnswersQueuedPressesAsThousandPlusIndexInOrder)
{
    ScriptedAlertRunner runner;
    runner.answerIndex(2);
    runner.answerTitle(QStringLiteral("Do Not Save"));
    runner.answerIndex(0);
    const Alert alert = alertWith({kSave, kDontSave, kCancel});
    EXPECT_EQ(runner.runModal(alert), 1002);
    EXPECT_EQ(runner.runModal(alert), 1001);
    EXPECT_EQ(runner.runModal(alert), 1000);
    EXPECT_EQ(runner.pendingAnswers(), 0u);
    ASSERT_EQ(runner.presentedCount(), 3);
    EXPECT_EQ(runner.presented()[0].messageText, QStringLiteral("Delete the idea?"));
    EXPECT_EQ(runner.presented()[0].informativeText, QStringLiteral("It has 3 children."));
    ASSERT_EQ(runner.presented()[0].buttons.size(), 3u);
    EXPECT_EQ(runner.presented()[0].buttons[2].type, int(Alert::CancelButton));
}

TEST(ScriptedAlertRunner, DismissalAnswersTheCancelButtonNeverTheDestructiveOne)
{
    ScriptedAlertRunner runner;
    runner.answerDismissed();
    runner.answerDismissed();
    runner.answerDismissed();
    EXPECT_EQ(runner.runModal(alertWith({kDelete, kCancel})), 1001);
    EXPECT_EQ(runner.runModal(alertWith({kClose})), 1000);
    EXPECT_EQ(runner.runModal(alertWith({kSave, kDontSave, kCancel})), 1002);
}

TEST(ScriptedAlertRunner, AnAlertEndedByTheQuitIsADismissalUnlessTheCallerAsksForTheAnswerOnly)
{
    ScriptedAlertRunner runner;
    const Alert alert = alertWith({kSave, kDontSave, kCancel});
    runner.answerEndedByQuit();
    EXPECT_EQ(runner.runModal(alert), 1002);
    runner.answerEndedByQuit();
    EXPECT_EQ(runner.runModalUnlessQuit(alert), std::nullopt);
    // The user's own dismissal and presses are answers.
    runner.answerDismissed();
    EXPECT_EQ(runner.runModalUnlessQuit(alert), 1002);
    runner.answerIndex(0);
    EXPECT_EQ(runner.runModalUnlessQuit(alert), 1000);
}

TEST(ScriptedAlertRunner, WithoutAnAnswerItAsksTheHandlerElseDismisses)
{
    ScriptedAlertRunner runner;
    EXPECT_EQ(runner.runModal(alertWith({kDelete, kCancel})), 1001);
    int asked = 0;
    runner.setHandler([&](const Alert& alert) -> std::optional<int> {
        ++asked;
        EXPECT_EQ(alert.buttons.size(), 2u);
        return 0;
    });
    EXPECT_EQ(runner.runModal(alertWith({kDelete, kCancel})), 1000);
    EXPECT_EQ(asked, 1);
    // A title no button has is a dismissal.
    runner.answerTitle(QStringLiteral("Maybe"));
    EXPECT_EQ(runner.runModal(alertWith({kDelete, kCancel})), 1001);
    EXPECT_EQ(asked, 1);
}

TEST(ScriptedAlertRunner, AnAlertWithoutButtonsShowsTheDefaultButton)
{
    ScriptedAlertRunner runner;
    runner.answerIndex(0);
    EXPECT_EQ(runner.runModal(alertWith({})), 1000);
    ASSERT_EQ(runner.presentedCount(), 1);
    ASSERT_EQ(runner.presented()[0].buttons.size(), 1u);
    EXPECT_EQ(runner.presented()[0].buttons[0].title, QStringLiteral("OK"));
}

TEST(ScriptedAlertRunner, AnAnswerOutOfRangeLogsAndCountsAsDismissal)
{
    LogCapture log;
    ScriptedAlertRunner runner;
    runner.answerIndex(5);
    EXPECT_EQ(runner.runModal(alertWith({kDelete, kCancel})), 1001);
    EXPECT_TRUE(
        log.contains(QStringLiteral("ERROR: Assertion failure: Alert answered a button it does not have: 5")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(Runners, AnswerTheQtDefaultsUntilOthersAreInstalled)
{
    EXPECT_NE(dynamic_cast<QtAlertRunner*>(Runners::alertRunner().get()), nullptr);
    auto scripted = std::make_shared<ScriptedAlertRunner>();
    EXPECT_EQ(Runners::setAlertRunner(scripted), nullptr);
    EXPECT_EQ(Runners::alertRunner(), scripted);
    auto second = std::make_shared<ScriptedAlertRunner>();
    EXPECT_EQ(Runners::setAlertRunner(second), scripted);
    Runners::reset();
    EXPECT_NE(dynamic_cast<QtAlertRunner*>(Runners::alertRunner().get()), nullptr);
}

TEST(QtAlertRunner, EscapeOnDeleteAndCancelAnswersCancel)
{
    EXPECT_EQ(runQtAlert(alertWith({kDelete, kCancel}), {Qt::Key_Escape}), 1001);
}

TEST(QtAlertRunner, EscapeOnASingleCloseButtonAnswersIt)
{
    EXPECT_EQ(runQtAlert(alertWith({kClose}), {Qt::Key_Escape}), 1000);
}

TEST(QtAlertRunner, EscapeWithoutACancelButtonAnswersTheFirstButton)
{
    EXPECT_EQ(runQtAlert(alertWith({kSave, kDontSave}), {Qt::Key_Escape}), 1000);
}

TEST(QtAlertRunner, TheCloseBoxAnswersTheCancelButton)
{
    ModalDriver driver(ModalDriver::Target::ModalWidget, {}, [](QWidget* widget) {
        // Through the window system's close request, as the close box sends it.
        QMetaObject::invokeMethod(widget, &QWidget::close, Qt::QueuedConnection);
    });
    QtAlertRunner runner;
    EXPECT_EQ(runner.runModal(alertWith({kDelete, kCancel})), 1001);
    EXPECT_FALSE(driver.rescued());
}

TEST(QtAlertRunner, ReturnAnswersTheFirstButton)
{
    EXPECT_EQ(runQtAlert(alertWith({kSave, kDontSave, kCancel}), {Qt::Key_Return}), 1000);
    EXPECT_EQ(runQtAlert(alertWith({kDelete, kCancel}), {Qt::Key_Return}), 1000);
}

TEST(QtAlertRunner, KeepsTheButtonsInTheirOrderAndShowsPlainTextApplicationModally)
{
    Alert alert = alertWith({kSave, kDontSave, kCancel});
    alert.messageText = QStringLiteral("<b>Map & co</b>");
    alert.informativeText = QStringLiteral("<i>unsaved</i>");
    alert.buttons[0].title = QStringLiteral("Save & Close");
    const int answer = runQtAlert(alert, {Qt::Key_Escape}, [](QMessageBox* box) {
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(buttonOrder(box),
                  (QStringList{QStringLiteral("Save && Close"), QStringLiteral("Do Not Save"),
                               QStringLiteral("Choice.Cancel")}));
        ASSERT_NE(box->defaultButton(), nullptr);
        EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Save && Close"));
        ASSERT_NE(box->escapeButton(), nullptr);
        EXPECT_EQ(box->escapeButton()->text(), QStringLiteral("Choice.Cancel"));
        EXPECT_EQ(box->text(), QStringLiteral("<b>Map & co</b>"));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        ASSERT_NE(informative, nullptr);
        EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    });
    EXPECT_EQ(answer, 1002);
}

TEST(QtAlertRunner, PressingAButtonAnswersItsIndex)
{
    const int answer = runQtAlert(alertWith({kSave, kDontSave, kCancel}), {}, [](QMessageBox* box) {
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QStringLiteral("Do Not Save"))
                QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        }
    });
    EXPECT_EQ(answer, 1001);
}

TEST(QtAlertRunner, AnAlertWithoutButtonsShowsOKAndAnswersIt)
{
    const int answer = runQtAlert(alertWith({}), {Qt::Key_Escape}, [](QMessageBox* box) {
        EXPECT_EQ(buttonOrder(box), QStringList{QStringLiteral("OK")});
    });
    EXPECT_EQ(answer, 1000);
}

TEST(QtAlertRunner, EscapeAnswersTheCancelButtonWhileASigtermDuringTheAlertLeavesItUnanswered)
{
    int argc = 1;
    char name[] = "corvex";
    char* argv[] = {name, nullptr};
    Application app(argc, argv, {false, true, false});
    QtAlertRunner runner;
    {
        ModalDriver driver(ModalDriver::Target::ModalWidget, {Qt::Key_Escape});
        EXPECT_EQ(runner.runModalUnlessQuit(alertWith({kDelete, kCancel})), 1001);
        EXPECT_TRUE(driver.sent());
    }
    ModalDriver driver(ModalDriver::Target::ModalWidget, {}, [](QWidget*) { ::raise(SIGTERM); });
    LogCapture log;
    EXPECT_EQ(runner.runModalUnlessQuit(alertWith({kDelete, kCancel})), std::nullopt);
    EXPECT_FALSE(driver.rescued());
    EXPECT_TRUE(app.isQuitting());
    EXPECT_TRUE(log.contains(QStringLiteral("Quit requested by signal")));
}
