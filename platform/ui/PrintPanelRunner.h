#pragma once

#include <memory>

class QPrinter;

namespace corvex {

class Window;

// Runs the print panel of a print operation: the user (or a test's script) sets paper,
// orientation, the pages and the destination on the printer and says whether to print. The
// application uses QtPrintPanelRunner; tests install a scripted one. Main thread only.
class PrintPanelRunner
{
public:
    virtual ~PrintPanelRunner();

    // Shows the panel for `printer`, modal to the window (to the application without one),
    // and returns once it has ended: true when the user chose to print.
    virtual bool runPrintPanel(QPrinter& printer, Window* window) = 0;

    // The installed runner, else the Qt one (made on first use).
    static std::shared_ptr<PrintPanelRunner> current();
    // Installs a runner (null goes back to the Qt one) and answers the one installed before
    // (null when it was the Qt one).
    static std::shared_ptr<PrintPanelRunner> install(std::shared_ptr<PrintPanelRunner> runner);
};

// The print panel of Qt: QPrintDialog, run modally.
class QtPrintPanelRunner final : public PrintPanelRunner
{
public:
    bool runPrintPanel(QPrinter& printer, Window* window) override;
};

} // namespace corvex
