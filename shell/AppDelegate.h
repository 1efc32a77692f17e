#pragma once

#include "model/ApplicationDelegate.h"
#include "model/MyResult.h"
#include "platform/core/Completion.h"
#include "platform/core/FileFingerprint.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/Application.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class DropboxNoticeBoard;
class Idea;
class IdeaDocument;
class MainWindowController;
class Menu;
class PreferencesWindowController;
class RecentDocumentsMenu;

// The application's delegate: the launch sequence, the window list and its saved state
// ("CurrentState", written every 5 s after a change and at quit), the local-file operations,
// the recent files ("RecentLocalFiles"), the sign-in redirect and the application-level menu
// actions. The one instance is made by install() and answers Globals::app(). Main thread
// only.
class AppDelegate : public ApplicationDelegate,
                    public ApplicationHandler,
                    public std::enable_shared_from_this<AppDelegate>
{
    struct Private
    {};

public:
    static inline const QString CurrentStateKey = QStringLiteral("CurrentState");
    static inline const QString ControllerStatesKey = QStringLiteral("controllerStates");
    static inline const QString RecentLocalFilesKey = QStringLiteral("RecentLocalFiles");
    static inline const QString CurrentVersionKey = QStringLiteral("CurrentCorvexVersion");
    static inline const QString FocusedAdvancedControlIndexKey =
        QStringLiteral("FocusedAdvancedControlIndex");
    static constexpr double StateUpdateInterval = 5.0;
    static constexpr int MaxRecentFiles = 10;
    // The maker's site; the user guide and support pages are paths under it.
    static inline const QString SiteBase = QStringLiteral("https://www.tallowfen.com");

    explicit AppDelegate(Private);
    ~AppDelegate() override;

    // Makes the delegate and installs it as Globals::app().
    static std::shared_ptr<AppDelegate> install();
    // The installed delegate; null before install() or after uninstall().
    static std::shared_ptr<AppDelegate> shared();
    // Takes it out again (tests); its windows close.
    static void uninstall();

    // ---- ApplicationHandler ----
    void applicationWillFinishLaunching() override;
    void applicationOpenFile(const QString& path) override;
    void applicationOpenUrl(const QUrl& url) override;
    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminate() override;
    void applicationWriteStateBeforeQuit() override;
    bool respondsToAction(const QString& actionId) const override;
    bool validateAction(const QString& actionId, const MenuItem& item) override;
    void performAction(const QString& actionId, MenuItem& item) override;

    // ---- ApplicationDelegate ----
    void markPersistentAppStateDirty() override;
    void updatePersistentAppStateNow() override;
    void addNewRecentDocumentURL(const QUrl& fileUrl) override;
    bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) override;
    void openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier) override;
    bool isFileCurrentlyOpen(const QUrl& fileUrl) override;
    void documentShown(const QString& docIdentifier) override;

    // ---- Windows ----
    void addAndShowNewWindowController(const std::shared_ptr<MainWindowController>& controller);
    void removeWindowController(const std::shared_ptr<MainWindowController>& controller);
    const std::vector<std::shared_ptr<MainWindowController>>& windowControllers() const
    {
        return mWindowControllers;
    }
    // The first window showing the file, compared by canonical path (a symbolic link or
    // "/a/./b" finds the same window); null when none.
    std::shared_ptr<MainWindowController> findWindowWithURL(const QUrl& fileUrl) const;

    // ---- Saved state ----
    QVariantMap createState(bool quitting) const;
    bool restoreFromState(const QVariant& state);
    bool restoreFromStoredState();
    bool updateStoredState(bool quitting);
    bool stateIsDirty() const { return mStateIsDirty; }
    // Arms the 5-second cycle: a pass writes the state when it is dirty and clears the flag.
    void dispatchNextStateUpdate();

    // ---- Local files ----
    void createNewLocalFileWithInitialAction(int initialAction);
    // `afterShown` (may be empty) runs on the main queue once the document's window is shown.
    void createNewLocalFileFromIdea(const std::shared_ptr<Idea>& idea, const QUrl& representedURL,
                                    int initialAction, Completion<> afterShown = {});
    using OpenCompletion = Completion<const MyResultPtr&>;
    void doOpenLocalFile(const QString& path, OpenCompletion completion);
    void qvOpenLocalFile();
    void newCloudWindow(unsigned location);
    // The recent files, newest first, as stored.
    QStringList recentLocalFiles() const;
    RecentDocumentsMenu& recentDocumentsMenu() { return *mRecentMenu; }
    // The main menu model every main window shows.
    const std::shared_ptr<Menu>& mainMenu() const { return mMainMenu; }

    // ---- Version ----
    // "<CFBundleShortVersionString>.<CFBundleVersion>".
    static QString versionNumberDisplayString();
    // The running version string the launch compares (tests set it; empty: the bundle's).
    void setRunningVersionForTesting(const QString& version) { mRunningVersionOverride = version; }
    // What plugs the formats, storage back ends and screens into their seams (the
    // application's assembly); run when the launch begins, never in a launch that only hands
    // its files to the running instance.
    void setScreenRegistration(std::function<void()> registration)
    {
        mScreenRegistration = std::move(registration);
    }

    qint64 focusedAdvancedControlIndex() const;
    void setFocusedAdvancedControlIndex(qint64 index);

    // The sign-in failed or was cancelled.
    void sessionDidReceiveAuthorizationFailure();

    // The preferences window's controller (General and Advanced panes), made on first call
    // and kept.
    PreferencesWindowController& preferencesWindowController();

    // What the Dropbox location tells the user, as alerts on its windows.
    DropboxNoticeBoard& dropboxNotices() { return *mDropboxNotices; }

private:
    // openDocumentInNewWindow once the document's location has its list.
    void openListedDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier);
    void runStateUpdatePass();
    QString runningVersion() const;
    // Launch step 9; true when it ended the launch (the welcome document).
    bool checkVersion();
    void openFirstWindow();
    // The first window step 10 held back for the launch files, once none of them can bring
    // its own window any more and none did.
    void openOwedFirstWindow();
    void installMenuBar(MainWindowController& controller);
    // The window of a document its storage answered `token` for (or the alert for none).
    void showCreatedDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token, int initialAction,
                             Completion<> afterShown);
    // doOpenLocalFile once the file's fingerprint is taken (none when it could not be).
    void importLocalFile(const QUrl& url, const std::optional<FileFingerprint>& fingerprint,
                         OpenCompletion completion);
    // A file's tree, read: its window first, then its first save into the temporary location,
    // which never blocks the window (the file opened is never written). The document is in
    // step with the file as the fingerprint says.
    void showOpenedFile(const std::shared_ptr<Idea>& idea, const QUrl& url,
                        const std::optional<FileFingerprint>& fingerprint, Completion<> afterShown);

    std::vector<std::shared_ptr<MainWindowController>> mWindowControllers;
    bool mStateIsDirty = false;
    // Files handed to the launch count as windows to come until each has its window or failed;
    // while any is, step 10 owes its first window instead of opening it.
    bool mLaunchFinished = false;
    int mLaunchFilesOpening = 0;
    int mDocumentsBeingCreated = 0;
    bool mFirstWindowOwed = false;
    std::unique_ptr<RecentDocumentsMenu> mRecentMenu;
    std::shared_ptr<Menu> mMainMenu;
    QString mRunningVersionOverride;
    std::function<void()> mScreenRegistration;
    Scheduler::TaskId mStateUpdateTask = 0;
    bool mStateCycleArmed = false;
    std::unique_ptr<PreferencesWindowController> mPreferencesWindowController;
    std::unique_ptr<DropboxNoticeBoard> mDropboxNotices;
};

} // namespace corvex
