#include "platform/ui/QtFilePanelRunner.h"

#include "platform/core/MainQueue.h"
#include "platform/ui/Window.h"

#include <QFileDialog>
#include <memory>

namespace corvex {

void QtFilePanelRunner::present(const OpenPanel& panel, Window* window, Completion completion)
{
    QWidget* host = window ? window->hostWidget() : nullptr;
    auto* dialog = new QFileDialog(host);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (panel.canChooseDirectories && !panel.canChooseFiles)
        dialog->setFileMode(QFileDialog::Directory);
    else
        dialog->setFileMode(panel.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                          : QFileDialog::ExistingFile);
    const QString filter = panel.nameFilter();
    if (!filter.isEmpty() && dialog->fileMode() != QFileDialog::Directory)
        dialog->setNameFilter(filter);
    dialog->setDirectory(panel.directory);
    if (!panel.message.isEmpty())
        dialog->setWindowTitle(panel.message);
    if (!panel.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, panel.prompt);

    auto pending = std::make_shared<Completion>(std::move(completion));
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, pending](int result) {
        if (!*pending)
            return;
        const Completion call = std::move(*pending);
        *pending = nullptr;
        const bool accepted = result == QDialog::Accepted;
        const QList<QUrl> urls = accepted ? dialog->selectedUrls() : QList<QUrl>();
        // After the dialog has gone off screen.
        MainQueue::post([call, accepted, urls] { call(accepted ? OK : Cancel, urls); });
    });
    QObject::connect(dialog, &QObject::destroyed, [pending] {
        if (!*pending)
            return;
        const Completion call = std::move(*pending);
        *pending = nullptr;
        // Not from inside the destruction of the window that took the dialog with it.
        MainQueue::post([call] { call(Cancel, {}); });
    });
    // open() makes the dialog window-modal; without a window it is modal to the application,
    // and neither form blocks this call.
    if (host) {
        dialog->open();
    } else {
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
    }
}

} // namespace corvex
