#pragma once

#include "platform/ui/AlertRunner.h"

namespace corvex {

// The application's alert runner: an application-modal QMessageBox. Every button gets the
// same role, because QMessageBox reorders buttons by role for the platform style and the
// callers rely on their order; the first button is the default (Return), and Escape and the
// close box press the dismissal button (Alert::dismissalIndex), so a dismissal never runs a
// destructive choice; an alert ended by a quit that began while it showed was not answered.
// Texts are shown as plain text: they may carry document names.
class QtAlertRunner final : public AlertRunner
{
protected:
    std::optional<int> present(const Alert& alert) override;
};

} // namespace corvex
