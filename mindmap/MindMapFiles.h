#pragma once

#include "model/MyResult.h"
#include "platform/core/Completion.h"
#include "toolkit/BaseViewController.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class ExportScreen;
class ExportScreenDelegate;
class IdeaDocument;
class SaveRetry;
class SolarSystemViewController;
class ViewController;

// What the mind-map screen does with its document's files, owned by the screen: saving into a
// Corvex file (and the save panel), the save retried after a failure, import, export and
// printing, and the questions before its window closes. Main thread only.
class MindMapFiles
{
public:
    using ResultCompletion = Completion<const MyResultPtr&>;

    explicit MindMapFiles(SolarSystemViewController& screen);
    ~MindMapFiles();
    MindMapFiles(const MindMapFiles&) = delete;
    MindMapFiles& operator=(const MindMapFiles&) = delete;

    // Menu actions; each does nothing while the screen is occupied.
    void qvSaveLocalFile();
    void qvSaveLocalFileAs();
    void qvImport();
    void qvPrintIdea();
    // Writes the shown tree as a document archive to the file; the window then names the
    // file and is no longer edited.
    void doSaveLocalFile(const QUrl& url, ResultCompletion completion);
    // Lets the user name a ".corvex" file in a save panel on the window, then writes it.
    void performSaveLocalFileWithCompletion(ResultCompletion completion);
    // Presents the export screen on the tab of the share type (ExportScreen::ShareType).
    void launchExportForType(quint64 shareType);
    void pleaseDismissSharingView(ViewController& screen);
    const std::shared_ptr<ExportScreen>& exportScreen() const { return mExportScreen; }
    // See SolarSystemViewController::startClosingCanCloseNow.
    bool startClosingCanCloseNow();
    // Edits kept neither in the document's file nor in its stored copy: a save failed and no
    // save into the file has written them since.
    std::optional<BaseViewController::UnsavedChanges> unsavedChanges() const;
    // The last save of the document's kept copy failed and none succeeded since.
    bool keptCopyBehind() const;
    // True once a save into the document's file has written every edit made so far.
    bool fileHoldsEveryEdit() const;
    bool canCloseTempFileIfAsked() const { return mCanCloseTempFileIfAsked; }
    // A save's outcome: a failure is kept, told once and tried again; a success ends it.
    void saveFailed();
    void saveSucceeded();
    // Asks the window to close on a later turn.
    void closeWindowLater();
    static void showResultIfError(const MyResultPtr& result);
    // "corvex_yyyyMMdd_HHmm.pdf" for the current local time.
    static QString createPDFFileName();

private:
    void showCloseTempFileQuestion();
    void showCloseLosingChangesQuestion(const BaseViewController::UnsavedChanges& lost);

    SolarSystemViewController& mScreen;
    std::shared_ptr<ExportScreen> mExportScreen;
    std::shared_ptr<ExportScreenDelegate> mExportScreenDelegate;
    bool mCanCloseTempFileIfAsked = false;
    std::unique_ptr<SaveRetry> mSaveRetry; // made at the first failure
    bool mCanCloseLosingChanges = false;
    // The edits the document's file holds since a save into it: the document's change count
    // then (the document compared only, never reached through).
    struct FileHolds
    {
        const IdeaDocument* document = nullptr;
        quint64 changeCount = 0;
    };
    FileHolds mFileHolds;
};

} // namespace corvex
