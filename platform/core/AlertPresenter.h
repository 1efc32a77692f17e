#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace corvex {

// How code below the interface layers asks the user a question: an alert with a message, an
// informative text and buttons in order, answered with 1000 + the pressed button's index.
// The interface layer registers the presenter at start-up; with none registered (headless
// runs, tests below the interface) nothing is shown and the answer is 0. An alert the user
// did not answer, because the application quit while it showed, answers Unanswered: unlike
// the interface's own alerts, a question asked from here is not answered by its last
// button then. Main thread only.
class AlertPresenter
{
public:
    static constexpr int NoAlertShown = 0;
    static constexpr int FirstButtonReturn = 1000;
    static constexpr int Unanswered = -1;

    virtual ~AlertPresenter();
    // Shows the alert modally; the last button is the one a dismissal by the user stands for.
    virtual int runModal(const QString& messageText, const QString& informativeText,
                         const QStringList& buttons) = 0;

    static std::shared_ptr<AlertPresenter> registered();
    static void setRegistered(std::shared_ptr<AlertPresenter> presenter);
    // The registered presenter's answer, or NoAlertShown.
    static int present(const QString& messageText, const QString& informativeText,
                       const QStringList& buttons);
};

} // namespace corvex
