#include "platform/ui/QtFilePanelRunner.h"

#include "platform/ui/Window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <memory>
#include <utility>

namespace corvex {

namespace {

// Ends the dialog's panel once: with the dialog's answer when it finishes, with Cancel when
// it is destroyed unfinished. Then shows it window-modally (open() does not block) on the
// window's host, or application-modally without one.
void runFilePanelDialog(QFileDialog* dialog, QWidget* host, FilePanelRunner::Reply reply)
{
    // The first of the dialog's endings replies; the reply's completion is heard on a later
    // turn, after the dialog has gone off screen, and not from inside the destruction of the
    // window that took the dialog with it.
    auto ended = std::make_shared<bool>(false);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, reply, ended](int result) {
        if (std::exchange(*ended, true))
            return;
        const bool accepted = result == QDialog::Accepted;
        reply(accepted ? FilePanelRunner::OK : FilePanelRunner::Cancel,
              accepted ? dialog->selectedUrls() : QList<QUrl>());
    });
    QObject::connect(dialog, &QObject::destroyed, [reply, ended] {
        if (!std::exchange(*ended, true))
            reply(FilePanelRunner::Cancel, {});
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

void QtFilePanelRunner::present(const OpenPanel& panel, Window* window, Reply reply)
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
    runFilePanelDialog(dialog, dialog->parentWidget(), std::move(reply));
}

void QtFilePanelRunner::presentSave(const SavePanel& panel, Window* window, Reply reply)
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
    runFilePanelDialog(dialog, dialog->parentWidget(), std::move(reply));
}

} // namespace corvex
