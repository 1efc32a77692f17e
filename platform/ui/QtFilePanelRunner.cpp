#include "platform/ui/QtFilePanelRunner.h"

#include "platform/core/MainQueue.h"
#include "platform/ui/Window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
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

// A save dialog that gives a typed name the panel's extension before it asks whether to
// replace a file: the question, and the answer, are about the file that is then written
// ("trip.opml" becomes "trip.opml.corvex", and it is that file which must not be replaced
// unasked). Qt's own dialog, where accept() is where that question is asked.
class SaveFileDialog final : public QFileDialog
{
public:
    SaveFileDialog(QWidget* host, FilePanelRunner::SavePanel panel)
        : QFileDialog(host), mPanel(std::move(panel))
    {
        setOption(QFileDialog::DontUseNativeDialog);
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !QFileInfo(files.first()).isDir()) {
            const QString named =
                mPanel.withAllowedExtension(QUrl::fromLocalFile(files.first())).toLocalFile();
            if (!named.isEmpty() && named != files.first()) {
                // The name field keeps what is typed while it has the keyboard (selectFile
                // leaves it alone then): the name goes into the field itself.
                if (auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    field->setText(QFileInfo(named).fileName());
                else
                    selectFile(named);
            }
        }
        QFileDialog::accept();
    }

private:
    const FilePanelRunner::SavePanel mPanel;
};

QFileDialog* setUpFilePanelDialog(QFileDialog* dialog, const QString& directory, const QString& message,
                                  const QString& prompt)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setDirectory(directory);
    if (!message.isEmpty())
        dialog->setWindowTitle(message);
    if (!prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, prompt);
    return dialog;
}

QWidget* hostOf(Window* window)
{
    return window ? window->hostWidget() : nullptr;
}

} // namespace

void QtFilePanelRunner::present(const OpenPanel& panel, Window* window, Completion completion)
{
    QFileDialog* dialog =
        setUpFilePanelDialog(new QFileDialog(hostOf(window)), panel.directory, panel.message, panel.prompt);
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
    QFileDialog* dialog = setUpFilePanelDialog(new SaveFileDialog(hostOf(window), panel), panel.directory,
                                               panel.message, panel.prompt);
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
