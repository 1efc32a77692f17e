#pragma once

#include "platform/ui/Alert.h"

#include <optional>

namespace corvex {

// Shows alerts application-modally and answers the pressed button. The application uses
// QtAlertRunner; tests install a ScriptedAlertRunner through Runners, because a real modal
// loop under the offscreen platform would wait forever. Main thread only.
class AlertRunner
{
public:
    static constexpr int FirstButtonReturn = 1000;

    virtual ~AlertRunner();

    // Shows the alert and returns when it has ended, answering FirstButtonReturn + the index
    // of the pressed button. An alert that ends without a choice answers the button of
    // Alert::dismissalIndex(). An alert without buttons is shown with one default "OK"
    // button and answers FirstButtonReturn.
    int runModal(const Alert& alert);

    // The default button's title for alerts given none (Qt's own translation of "OK").
    static QString defaultButtonTitle();

protected:
    // Shows an alert with at least one button; answers the index of the pressed button, or
    // nothing when the alert was dismissed without a choice.
    virtual std::optional<int> present(const Alert& alert) = 0;
};

} // namespace corvex
