#pragma once

#include "platform/core/AlertPresenter.h"

namespace corvex {

// The alert presenter of the interface layer: each alert goes to the current alert runner
// (Qt's modal dialog in the application, a scripted runner in tests); its last button is
// the cancel-type one. An alert ended by the quit answers Unanswered.
class RunnerAlertPresenter : public AlertPresenter
{
public:
    int runModal(const QString& messageText, const QString& informativeText,
                 const QStringList& buttons) override;
    // Registers one with AlertPresenter (the shell calls it at launch).
    static void registerPresenter();
};

} // namespace corvex
