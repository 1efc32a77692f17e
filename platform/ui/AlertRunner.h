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
    // As runModal, but an alert that ended without the user, because the application quit
    // while it showed, answers nothing instead of its dismissal button: for a question whose
    // answer must not be assumed. A dismissal by the user (Escape, the close box) still
    // answers the dismissal button.
    std::optional<int> runModalUnlessQuit(const Alert& alert);

    // The default button's title for alerts given none (Qt's own translation of "OK").
    static QString defaultButtonTitle();

protected:
    // What present() answers for an alert that ended because the application quit.
    static constexpr int EndedByQuit = -1;

    // Shows an alert with at least one button; answers the index of the pressed button,
    // nothing when the alert was dismissed without a choice, or EndedByQuit.
    virtual std::optional<int> present(const Alert& alert) = 0;

private:
    struct Ending
    {
        int index;        // the pressed button's, else the dismissal button's
        bool endedByQuit; // the user did not answer
    };
    // Shows the alert, with the default button when it has none.
    Ending show(const Alert& alert);
};

} // namespace corvex
