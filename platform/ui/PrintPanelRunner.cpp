#include "platform/ui/PrintPanelRunner.h"

#include "platform/ui/Window.h"
#include "platform/ui/WindowTeardown.h"

#include <QPrintDialog>
#include <QPrinter>

namespace corvex {

namespace {

std::shared_ptr<PrintPanelRunner>& installedPrintPanelRunner()
{
    static std::shared_ptr<PrintPanelRunner> runner;
    return runner;
}

} // namespace

PrintPanelRunner::~PrintPanelRunner() = default;

std::shared_ptr<PrintPanelRunner> PrintPanelRunner::current()
{
    std::shared_ptr<PrintPanelRunner>& installed = installedPrintPanelRunner();
    if (installed)
        return installed;
    static const std::shared_ptr<PrintPanelRunner> qtRunner = std::make_shared<QtPrintPanelRunner>();
    return qtRunner;
}

std::shared_ptr<PrintPanelRunner> PrintPanelRunner::install(std::shared_ptr<PrintPanelRunner> runner)
{
    std::shared_ptr<PrintPanelRunner> previous = std::move(installedPrintPanelRunner());
    installedPrintPanelRunner() = std::move(runner);
    return previous;
}

bool QtPrintPanelRunner::runPrintPanel(QPrinter& printer, Window* window)
{
    QPrintDialog dialog(&printer, window ? window->hostWidget() : nullptr);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    const WindowTeardown::ModalLoop loop;
    return dialog.exec() == QDialog::Accepted;
}

} // namespace corvex
