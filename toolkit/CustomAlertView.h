#pragma once

#include "model/MyResult.h"
#include "platform/ui/Alert.h"
#include "toolkit/CAVButton.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class Window;

// A question put to the user in an application-modal alert: a title, a message and buttons
// in the order added, each with a kind and a block. showFromWindow shows the alert through
// the installed alert runner (Runners::alertRunner) and runs the chosen button's block
// before it returns. An alert is used once: showing it drops its buttons, so a second
// showing has none of its own (only the runner's default button) and runs nothing.
//
// A dismissal without a choice (Escape, the close box) stands for the first button of the
// cancel kind, else the first button, so that Escape never picks a destructive choice over
// a cancel and a single-button alert still runs its block; Return chooses the first button.
// Main thread only.
class CustomAlertView
{
public:
    using Block = CAVButton::Block;

    CustomAlertView(const QString& title, const QString& message);
    static std::shared_ptr<CustomAlertView> create(const QString& title, const QString& message);

    const QString& title() const { return mTitle; }
    const QString& message() const { return mText; }
    const std::vector<CAVButton>& buttons() const { return mButtons; }
    // Whether the alert is on screen now.
    bool isShowing() const { return mAlertView.has_value(); }

    // Appends a button; the block may be empty.
    void addButton(const QString& title, quint64 buttonType, Block onClick);
    // Shows the alert and runs the chosen button's block before returning. The window is not
    // used: the alert is application-modal, not a sheet.
    void showFromWindow(Window* window);
    // While the alert is shown: drops the buttons and the alert, then runs the block of the
    // button that was at the index (nothing for an index without one). Otherwise nothing.
    void handleResultWithButtonIndex(qint64 index);

    // A plain alert whose informative text is the result's description, with the runner's
    // default button only; shown modally.
    static void showErrorResult(const MyResultPtr& result);
    // The same with the text as the informative text.
    static void showErrorWithMessage(const QString& message);

private:
    QString mTitle;
    QString mText;
    std::vector<CAVButton> mButtons;
    std::optional<Alert> mAlertView; // the alert while it is shown
};

} // namespace corvex
