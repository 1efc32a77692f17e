#include "toolkit/CustomAlertView.h"

#include "platform/ui/AlertRunner.h"
#include "platform/ui/Runners.h"

#include <limits>

namespace corvex {

namespace {

// The alert's kinds are ints; a kind no caller uses counts as a normal button.
int alertButtonType(quint64 type)
{
    return type > quint64(std::numeric_limits<int>::max()) ? int(Alert::NormalButton) : int(type);
}

void runPlainAlert(const QString& informativeText)
{
    Alert alert;
    alert.informativeText = informativeText;
    const std::shared_ptr<AlertRunner> runner = Runners::alertRunner();
    runner->runModal(alert);
}

} // namespace

CustomAlertView::CustomAlertView(const QString& title, const QString& message) : mTitle(title), mText(message)
{}

std::shared_ptr<CustomAlertView> CustomAlertView::create(const QString& title, const QString& message)
{
    return std::make_shared<CustomAlertView>(title, message);
}

void CustomAlertView::addButton(const QString& title, quint64 buttonType, Block onClick)
{
    mButtons.emplace_back(title, buttonType, std::move(onClick));
}

void CustomAlertView::showFromWindow(Window*)
{
    Alert alert;
    alert.messageText = mTitle;
    alert.informativeText = mText;
    for (const CAVButton& button : mButtons)
        alert.addButton(button.title(), alertButtonType(button.buttonType()));
    mAlertView = alert;

    const std::shared_ptr<AlertRunner> runner = Runners::alertRunner();
    const int response = runner->runModal(alert);
    const qint64 index = response > 999 ? qint64(response) - AlertRunner::FirstButtonReturn : 0;
    handleResultWithButtonIndex(index);
}

void CustomAlertView::handleResultWithButtonIndex(qint64 index)
{
    if (!mAlertView)
        return;
    Block block;
    if (index >= 0 && index < qint64(mButtons.size()))
        block = mButtons[std::size_t(index)].block();
    mButtons.clear();
    mAlertView.reset();
    // Last: the block may end this object's life.
    if (block)
        block();
}

void CustomAlertView::showErrorResult(const MyResultPtr& result)
{
    runPlainAlert(result ? result->description() : QString());
}

void CustomAlertView::showErrorWithMessage(const QString& message)
{
    runPlainAlert(message);
}

} // namespace corvex
