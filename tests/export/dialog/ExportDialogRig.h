#pragma once

// Shared pieces of the export dialog's tests: the dialog in a window with scripted save
// panels and alerts and a recording mail opener, a cloud document (location 2, the
// in-process folder back end) whose pictures live only in that location, and helpers that
// press the panes' buttons and wait for their files.

#include "export/EmailOpener.h"
#include "export/SharingViewController.h"
#include "model/Idea.h"
#include "model/ObjectID.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <vector>

namespace corvex {
class ScriptedAlertRunner;
class ScriptedFilePanelRunner;
class ShareTypeView;
class TestFolderPersistenceState;
class Window;
} // namespace corvex

namespace corvex::test {

// Records the files handed over and answers `answer` on the main queue.
class RecordingEmailOpener final : public EmailOpener
{
public:
    void openFileInMail(const QString& path, Completion completion) override;

    QStringList paths;
    bool answer = true;
};

// Counts the dialog's requests to be dismissed.
class RecordingDismissal final : public ExportScreenDelegate
{
public:
    void pleaseDismissSharingView(ViewController&) override { ++requests; }
    int requests = 0;
};

// The cloud location 2, served by the folder back end, with the storage facade running.
class CloudLocation
{
public:
    CloudLocation();
    ~CloudLocation();

    // Stores the bytes as an attachment of the location; its identifier.
    ObjectID storeAttachment(const QByteArray& bytes);
    // "Trip ✈" with notes, a web link and two picture ideas whose big pictures are
    // attachments of this location only.
    IdeaPtr treeWithPictures();

    std::shared_ptr<TestFolderPersistenceState> state;
    // The attachments stored, by identifier string.
    QHash<QString, QByteArray> attachments;
};

// The dialog of a tree in a window.
class DialogRig
{
public:
    explicit DialogRig(IdeaPtr root, StorageLocation location = 0, double width = 1100);
    ~DialogRig();
    DialogRig(const DialogRig&) = delete;
    DialogRig& operator=(const DialogRig&) = delete;

    // The pane of the share type, selected.
    std::shared_ptr<ShareTypeView> select(quint64 shareType);
    // Presses "Export ..." of the pane with the save panel answering `destination`, and waits
    // for the write to end (the dialog asked to close, or the pane's buttons working again).
    // True when the dialog asked to be dismissed.
    bool exportTo(quint64 shareType, const QString& destination);
    // Presses "Send via email ..." and waits until the mail opener or an alert was reached.
    void sendByEmail(quint64 shareType);
    // The window's pixels, written to test-output/export-dialog/<name>.png.
    QImage render(const QString& name);

    std::shared_ptr<ScriptedFilePanelRunner> panels;
    std::shared_ptr<ScriptedAlertRunner> alerts;
    std::shared_ptr<RecordingEmailOpener> mail = std::make_shared<RecordingEmailOpener>();
    std::shared_ptr<RecordingDismissal> dismissal = std::make_shared<RecordingDismissal>();
    std::shared_ptr<Window> window;
    std::shared_ptr<SharingViewController> dialog;
};

// The folder a test's exports go to (made).
QString exportFolder();
// Whether the program runs and ends with status 0; its output is written into the failure
// message otherwise.
bool toolAccepts(const QString& program, const QStringList& arguments);

} // namespace corvex::test
