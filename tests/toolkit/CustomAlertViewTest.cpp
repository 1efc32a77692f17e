// Alerts with blocks: the chosen button's block alone runs, after the alert has let go of
// its buttons; an alert is used once; a dismissal without a choice runs the cancel button
// (or the first one), never a destructive choice; the Qt default driven by keys.

#include "toolkit/CustomAlertView.h"
#include "model/MyResult.h"
#include "platform/ui/QtAlertRunner.h"
#include "platform/ui/Runners.h"
#include "tests/platform/ui/ModalTestSupport.h"
#include "tests/toolkit/ControllerTestSupport.h"

#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// An alert whose buttons note their title into `ran` when chosen.
std::shared_ptr<CustomAlertView> alertNoting(QStringList& ran,
                                             std::initializer_list<std::pair<const char*, quint64>> buttons)
{
    auto alert = CustomAlertView::create(QStringLiteral("Unsaved changes"), QStringLiteral("Keep them?"));
    for (const auto& [title, type] : buttons) {
        const QString name = QString::fromLatin1(title);
        alert->addButton(name, type, [&ran, name] { ran.append(name); });
    }
    return alert;
}

// Runs the alert on the Qt default with the keys sent into its modal loop.
void showWithQtKeys(CustomAlertView& alert, std::vector<Qt::Key> keys,
                    std::function<void(QMessageBox*)> inspect = {})
{
    ModalDriver driver(ModalDriver::Target::ModalWidget, std::move(keys), [&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr) << "the modal widget is a " << widget->metaObject()->className();
        if (inspect)
            inspect(box);
    });
    Runners::setAlertRunner(std::make_shared<QtAlertRunner>());
    alert.showFromWindow(nullptr);
    Runners::reset();
    EXPECT_TRUE(driver.sent()) << "the alert never showed";
    EXPECT_FALSE(driver.rescued());
}

constexpr quint64 kNormal = CAVButton::NormalType;
constexpr quint64 kDestructive = CAVButton::DestructiveType;
constexpr quint64 kCancel = CAVButton::CancelType;

} // namespace

TEST(CustomAlertView, ShowsTitleMessageAndButtonsInOrderWithTheirKinds)
{
    ScriptedRunners runners;
    QStringList ran;
    auto alert = alertNoting(
        ran, {{"Save", kNormal}, {"Do Not Save", kNormal}, {"Delete", kDestructive}, {"Cancel", kCancel}});
    runners.alerts->answerIndex(0);
    alert->showFromWindow(nullptr);
    ASSERT_EQ(runners.alerts->presentedCount(), 1);
    const Alert& shown = runners.alerts->presented()[0];
    EXPECT_EQ(shown.messageText, QStringLiteral("Unsaved changes")) << "the title is the message text";
    EXPECT_EQ(shown.informativeText, QStringLiteral("Keep them?"));
    EXPECT_EQ(buttonTitles(shown), (QStringList{QStringLiteral("Save"), QStringLiteral("Do Not Save"),
                                                QStringLiteral("Delete"), QStringLiteral("Cancel")}));
    ASSERT_EQ(shown.buttons.size(), 4u);
    EXPECT_EQ(shown.buttons[2].type, int(Alert::DestructiveButton));
    EXPECT_EQ(shown.buttons[3].type, int(Alert::CancelButton));
    EXPECT_EQ(ran, QStringList{QStringLiteral("Save")});
}

TEST(CustomAlertView, ChoosingTheThirdButtonRunsOnlyTheThirdBlock)
{
    ScriptedRunners runners;
    QStringList ran;
    auto alert = alertNoting(ran, {{"Save", kNormal}, {"Do Not Save", kNormal}, {"Cancel", kCancel}});
    runners.alerts->answerIndex(2);
    alert->showFromWindow(nullptr);
    EXPECT_EQ(ran, QStringList{QStringLiteral("Cancel")});
}

TEST(CustomAlertView, TheBlockRunsAfterTheAlertLetGoOfItsButtons)
{
    ScriptedRunners runners;
    auto alert = CustomAlertView::create(QStringLiteral("t"), QStringLiteral("m"));
    bool showingInBlock = true;
    std::size_t buttonsInBlock = 99;
    alert->addButton(QStringLiteral("OK"), kNormal, [&] {
        showingInBlock = alert->isShowing();
        buttonsInBlock = alert->buttons().size();
    });
    runners.alerts->answerIndex(0);
    alert->showFromWindow(nullptr);
    EXPECT_FALSE(showingInBlock);
    EXPECT_EQ(buttonsInBlock, 0u);
    EXPECT_FALSE(alert->isShowing());
}

TEST(CustomAlertView, ABlockMayLetGoOfTheAlertItself)
{
    ScriptedRunners runners;
    auto alert = CustomAlertView::create(QStringLiteral("t"), QStringLiteral("m"));
    std::weak_ptr<CustomAlertView> weak = alert;
    bool ran = false;
    // The alert's only owner is its own button's block: running it ends the alert.
    auto holder = std::make_shared<std::shared_ptr<CustomAlertView>>(alert);
    alert->addButton(QStringLiteral("Close"), kNormal, [holder, &ran] {
        ran = true;
        holder->reset();
    });
    CustomAlertView* raw = alert.get();
    alert.reset();
    runners.alerts->answerIndex(0);
    raw->showFromWindow(nullptr);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(weak.expired());
}

TEST(CustomAlertView, ASecondShowingHasNoButtonsOfItsOwnAndRunsNothing)
{
    ScriptedRunners runners;
    QStringList ran;
    auto alert = alertNoting(ran, {{"Save", kNormal}, {"Cancel", kCancel}});
    runners.alerts->answerIndex(1);
    alert->showFromWindow(nullptr);
    EXPECT_EQ(ran, QStringList{QStringLiteral("Cancel")});
    EXPECT_TRUE(alert->buttons().empty());

    runners.alerts->answerIndex(0);
    alert->showFromWindow(nullptr);
    ASSERT_EQ(runners.alerts->presentedCount(), 2);
    EXPECT_EQ(buttonTitles(runners.alerts->presented()[1]), QStringList{AlertRunner::defaultButtonTitle()})
        << "only the runner's default button";
    EXPECT_EQ(ran, QStringList{QStringLiteral("Cancel")}) << "nothing ran the second time";
    EXPECT_FALSE(alert->isShowing());
}

TEST(CustomAlertView, ADismissalRunsTheFirstCancelButtonNeverTheDestructiveOne)
{
    ScriptedRunners runners;
    QStringList ran;
    auto deletion = alertNoting(
        ran, {{"Delete", kDestructive}, {"Keep", kNormal}, {"Cancel", kCancel}, {"Later", kCancel}});
    runners.alerts->answerDismissed();
    deletion->showFromWindow(nullptr);
    EXPECT_EQ(ran, QStringList{QStringLiteral("Cancel")});
}

TEST(CustomAlertView, ADismissalWithoutACancelButtonRunsTheFirstButton)
{
    ScriptedRunners runners;
    QStringList ran;
    auto single = alertNoting(ran, {{"Close", kNormal}});
    runners.alerts->answerDismissed();
    single->showFromWindow(nullptr);
    EXPECT_EQ(ran, QStringList{QStringLiteral("Close")}) << "a single-button alert still runs its block";

    ran.clear();
    auto two = alertNoting(ran, {{"Save", kNormal}, {"Do Not Save", kNormal}});
    runners.alerts->answerDismissed();
    two->showFromWindow(nullptr);
    EXPECT_EQ(ran, QStringList{QStringLiteral("Save")});
}

TEST(CustomAlertView, AnAlertWithoutButtonsShowsTheDefaultButtonAndRunsNothing)
{
    ScriptedRunners runners;
    CustomAlertView alert(QStringLiteral("t"), QStringLiteral("m"));
    runners.alerts->answerIndex(0);
    alert.showFromWindow(nullptr);
    ASSERT_EQ(runners.alerts->presentedCount(), 1);
    EXPECT_EQ(runners.alerts->presented()[0].buttons.size(), 1u);
    EXPECT_FALSE(alert.isShowing());
}

TEST(CustomAlertView, HandlingAResultOutsideAShowingDoesNothing)
{
    QStringList ran;
    auto alert = alertNoting(ran, {{"Save", kNormal}, {"Cancel", kCancel}});
    alert->handleResultWithButtonIndex(0);
    alert->handleResultWithButtonIndex(1);
    EXPECT_TRUE(ran.isEmpty());
    EXPECT_EQ(alert->buttons().size(), 2u) << "the buttons stay for the showing";
}

TEST(CustomAlertView, AnIndexWithoutAButtonRunsNothingButUsesTheAlertUp)
{
    ScriptedRunners runners;
    QStringList ran;
    auto alert = alertNoting(ran, {{"Save", kNormal}});
    runners.alerts->setHandler([&](const Alert&) -> std::optional<int> {
        alert->handleResultWithButtonIndex(7);
        alert->handleResultWithButtonIndex(-1);
        return 0;
    });
    alert->showFromWindow(nullptr);
    EXPECT_TRUE(ran.isEmpty()) << "the alert was used up inside its showing by an index without a button";
    EXPECT_TRUE(alert->buttons().empty());
}

TEST(CustomAlertView, AButtonWithoutABlockIsChosenQuietly)
{
    ScriptedRunners runners;
    CustomAlertView alert(QStringLiteral("t"), QStringLiteral("m"));
    alert.addButton(QStringLiteral("OK"), kNormal, {});
    runners.alerts->answerIndex(0);
    alert.showFromWindow(nullptr);
    EXPECT_TRUE(alert.buttons().empty());
}

TEST(CustomAlertView, ErrorAlertsShowTheTextAsInformativeTextWithTheDefaultButton)
{
    ScriptedRunners runners;
    CustomAlertView::showErrorResult(
        MyResult::error(QStringLiteral("test:NoSuchKey"), QStringLiteral("Disk full")));
    CustomAlertView::showErrorWithMessage(QStringLiteral("Network is gone"));
    CustomAlertView::showErrorResult(nullptr);
    ASSERT_EQ(runners.alerts->presentedCount(), 3);
    const Alert& result = runners.alerts->presented()[0];
    EXPECT_EQ(result.informativeText, QStringLiteral("Disk full"));
    EXPECT_TRUE(result.messageText.isEmpty()) << result.messageText.toStdString();
    EXPECT_EQ(buttonTitles(result), QStringList{AlertRunner::defaultButtonTitle()});
    EXPECT_EQ(runners.alerts->presented()[1].informativeText, QStringLiteral("Network is gone"));
    EXPECT_TRUE(runners.alerts->presented()[2].informativeText.isEmpty());
}

TEST(CustomAlertViewOnQt, EscapeOnDeleteAndCancelRunsCancel)
{
    QStringList ran;
    auto alert = alertNoting(ran, {{"Delete", kDestructive}, {"Cancel", kCancel}});
    showWithQtKeys(*alert, {Qt::Key_Escape}, [](QMessageBox* box) {
        ASSERT_NE(box->escapeButton(), nullptr);
        EXPECT_EQ(box->escapeButton()->text(), QStringLiteral("Cancel"));
        EXPECT_EQ(box->text(), QStringLiteral("Unsaved changes"));
    });
    EXPECT_EQ(ran, QStringList{QStringLiteral("Cancel")});
}

TEST(CustomAlertViewOnQt, ReturnRunsTheFirstButton)
{
    QStringList ran;
    auto alert = alertNoting(ran, {{"Delete", kDestructive}, {"Cancel", kCancel}});
    showWithQtKeys(*alert, {Qt::Key_Return});
    EXPECT_EQ(ran, QStringList{QStringLiteral("Delete")});
}

TEST(CustomAlertViewOnQt, PressingTheSecondOfThreeButtonsRunsItsBlock)
{
    QStringList ran;
    auto alert = alertNoting(ran, {{"Save", kNormal}, {"Do Not Save", kNormal}, {"Cancel", kCancel}});
    showWithQtKeys(*alert, {}, [](QMessageBox* box) {
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QStringLiteral("Do Not Save"))
                QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
        }
    });
    EXPECT_EQ(ran, QStringList{QStringLiteral("Do Not Save")});
}
