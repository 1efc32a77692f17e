#include "platform/ui/QtFilePanelRunner.h"

#include "platform/core/MainQueue.h"
#include "platform/ui/Window.h"

#include <QFileDialog>
#include <memory>

namespace corvex {

namespace {

// Ends the dialog's panel once: with the dialog's answer when it finishes, with Cancel when
// it is destroyed unfinished. Then shows it window-modally (open() does not block) on the
// window's host, or application-modally without one.
void runFilePanelDialog(QFileDialog* dialog, QWidget* host, FilePanelRunner::Completion completion)
{
    auto pending = std::make_shared<FilePanelRunner::Completion>(std::move(completion));
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, pending](int result) {
        if (!*pending)
            return;
        const FilePanelRunner::Completion call = std::move(*pending);
        *pending = nullptr;
        const bool accepted = result == QDialog::Accepted;
        const QList<QUrl> urls = accepted ? dialog->selectedUrls() : QList<QUrl>();
        // After the dialog has gone off screen.
        MainQueue::post(
            [call, accepted, urls] { call(accepted ? FilePanelRunner::OK : FilePanelRunner::Cancel, urls); });
    });
    QObject::connect(dialog, &QObject::destroyed, [pending] {
        if (!*pending)
            return;
        const FilePanelRunner::Completion call = std::move(*pending);
        *pending = nullptr;
        // Not from inside the destruction of the window that took the dialog with it.
        MainQueue::post([call] { call(FilePanelRunner::Cancel, {}); });
    });
    if (host) {
        dialog->open();
    } else {
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
    }
}

QFileDialog* newFilePanelDialog(Window* window, const QString& directory, const QString& message,
                                const QString& prompt)
{
    QWidget* host = window ? window->hostWidget() : nullptr;
    auto* dialog = new QFileDialog(host);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setDirectory(directory);
    if (!message.isEmpty())
        dialog->setWindowTitle(message);
    if (!prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, prompt);
    return dialog;
}

} // namespace

void QtFilePanelRunner::present(const OpenPanel& panel, Window* window, Completion completion)
{
    QFileDialog* dialog = newFilePanelDialog(window, panel.directory, panel.message, panel.prompt);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (panel.canChooseDirectories && !panel.canChooseFiles)
        dialog->setFileMode(QFileDialog::Directory);
    else
        dialog->setFileMode(panel.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                          : QFileDialog::ExistingFile);
    const QString filter = panel.nameFilter();
    if (!filter.isEmpty() && dialog->fileMode() != QFileDialog::Directory)
        dialog->setNameFilter(filter);
    runFilePanelDialog(dialog, dialog->parentWidget(), std::move(completion));
}

void QtFilePanelRunner::presentSave(const SavePanel& panel, Window* window, Completion completion)
{
    QFileDialog* dialog = newFilePanelDialog(window, panel.directory, panel.message, panel.prompt);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    const QString filter = panel.nameFilter();
    if (!filter.isEmpty())
        dialog->setNameFilter(filter);
    if (!panel.allowedFileTypes.isEmpty())
        dialog->setDefaultSuffix(panel.allowedFileTypes.first());
    if (!panel.nameFieldStringValue.isEmpty())
        dialog->selectFile(panel.nameFieldStringValue);
    runFilePanelDialog(dialog, dialog->parentWidget(), std::move(completion));
}

} // namespace corvex
