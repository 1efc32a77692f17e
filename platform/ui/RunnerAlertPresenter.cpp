#include "platform/ui/RunnerAlertPresenter.h"

#include "platform/ui/AlertRunner.h"
#include "platform/ui/Runners.h"

namespace corvex {

int RunnerAlertPresenter::runModal(const QString& messageText, const QString& informativeText,
                                   const QStringList& buttons)
{
    std::shared_ptr<AlertRunner> runner = Runners::alertRunner();
    if (!runner)
        return NoAlertShown;
    Alert alert;
    alert.messageText = messageText;
    alert.informativeText = informativeText;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        alert.addButton(buttons[i],
                        i + 1 == buttons.size() && i > 0 ? Alert::CancelButton : Alert::NormalButton);
    return runner->runModalUnlessQuit(alert).value_or(Unanswered);
}

void RunnerAlertPresenter::registerPresenter()
{
    AlertPresenter::setRegistered(std::make_shared<RunnerAlertPresenter>());
}

} // namespace corvex
