#include "shell/AppDelegate.h"

#include "cloud/container/CloudAccount.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Bundle.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/FileFingerprint.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/StaleTemporarySweep.h"
#include "platform/core/StartupTrace.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/UrlOpener.h"
#include "shell/AboutWindow.h"
#include "shell/AdvancedPreferencesViewController.h"
#include "shell/DropboxNoticeBoard.h"
#include "shell/GeneralPreferencesViewController.h"
#include "shell/MainWindowController.h"
#include "shell/MenuHelper.h"
#include "shell/MyWindow.h"
#include "shell/PreferencesWindowController.h"
#include "shell/WindowGeometry.h"
#include "storage/AttachmentNames.h"
#include "storage/FileUtil.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"
#include "toolkit/CustomAlertView.h"
#include "toolkit/FileOpeningMessages.h"
#include "toolkit/LosingChangesAlert.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace corvex {

namespace {

std::weak_ptr<AppDelegate>& installedAppDelegate()
{
    static std::weak_ptr<AppDelegate> delegate;
    return delegate;
}

// The leading decimal number of a text, as a version's doubleValue: 0 for none.
double leadingNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(\\d+(\\.\\d*)?|\\.\\d+)"));
    const QRegularExpressionMatch match = number.match(text);
    return match.hasMatch() ? match.captured(0).trimmed().toDouble() : 0.0;
}

// One spelling per file: symbolic links and "." or ".." resolved when the file exists.
QString canonicalPathOf(const QUrl& url)
{
    if (!url.isLocalFile())
        return QString();
    const QString path = url.toLocalFile();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

// "RecentLocalFiles" as stored: the strings of a list, anything else logged and left out.
QStringList readRecentLocalFiles()
{
    const QVariant stored =
        UserDefaults::standardUserDefaults().objectForKey(AppDelegate::RecentLocalFilesKey);
    QStringList paths;
    if (!stored.isValid())
        return paths;
    if (stored.typeId() != QMetaType::QVariantList && stored.typeId() != QMetaType::QStringList) {
        Log::error(QStringLiteral("\"RecentLocalFiles\" is not a list; it is ignored"));
        return paths;
    }
    for (const QVariant& entry : stored.toList()) {
        if (entry.typeId() == QMetaType::QString && !entry.toString().isEmpty())
            paths.append(entry.toString());
        else
            Log::error(
                QStringLiteral("\"RecentLocalFiles\" holds an entry that is not a path; it is left out"));
    }
    return paths;
}

MyResultPtr couldNotRestoreResult()
{
    return MyResult::error(QStringLiteral("mac:Error:CouldNotRestoreWindowsProperly"),
                           QStringLiteral("We could not restore all application windows"));
}

} // namespace

AppDelegate::AppDelegate(Private) : mRecentMenu(std::make_unique<RecentDocumentsMenu>(MaxRecentFiles))
{
    mMainMenu = MenuHelper::createMainMenu(mRecentMenu->menu());
    mDropboxNotices = std::make_unique<DropboxNoticeBoard>([this]() -> Window* {
        for (const auto& controller : mWindowControllers) {
            MyWindow* window = controller->myWindow().get();
            if (window && window->isVisible() && !window->isClosing() &&
                window->cloudLocation() == IdeaDocument::DropboxLocation)
                return window;
        }
        return nullptr;
    });
}

AppDelegate::~AppDelegate()
{
    if (mStateUpdateTask != 0)
        MainQueue::cancel(mStateUpdateTask);
}

std::shared_ptr<AppDelegate> AppDelegate::install()
{
    auto delegate = std::make_shared<AppDelegate>(Private());
    std::weak_ptr<AppDelegate> weak = delegate;
    delegate->mRecentMenu->setOpenCallback([weak](const QString& path) {
        if (auto self = weak.lock())
            self->applicationOpenFile(path);
    });
    delegate->mRecentMenu->setChangedCallback([weak] {
        if (auto self = weak.lock())
            UserDefaults::standardUserDefaults().setObject(RecentLocalFilesKey,
                                                           QVariant(self->mRecentMenu->paths()));
    });
    installedAppDelegate() = delegate;
    Globals::setApp(delegate);
    ActionRouter::setApplicationTarget(delegate.get());
    return delegate;
}

std::shared_ptr<AppDelegate> AppDelegate::shared()
{
    return installedAppDelegate().lock();
}

void AppDelegate::uninstall()
{
    auto delegate = shared();
    if (!delegate)
        return;
    if (ActionRouter::applicationTarget() == delegate.get())
        ActionRouter::setApplicationTarget(nullptr);
    const auto controllers = delegate->mWindowControllers;
    for (const auto& controller : controllers)
        controller->myWindow()->close();
    delegate->mWindowControllers.clear();
    Globals::setApp(nullptr);
    installedAppDelegate().reset();
}

// ---- Launch ----

void AppDelegate::applicationWillFinishLaunching()
{
    // What the screens and storage find through seams is plugged in before any file opens.
    if (mScreenRegistration)
        mScreenRegistration();
    StartupTrace::mark("seams plugged in");
}

void AppDelegate::applicationDidFinishLaunching()
{
    // 1. The reporting kit (nothing runs when none is linked in).
    ReportingKitLaunch::start();
    StartupTrace::mark("launch step 1 done");
    // 2. Defaults.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.registerDefaults({{RecentLocalFilesKey, QVariantList()}});
    // 3. The sign-in service was registered as the launch began (the assembly), with its key.
    // 4. Open Recent, newest first as stored (noting them oldest first would reverse them).
    mRecentMenu->setPaths(readRecentLocalFiles());
    // 5. The main menu.
    if (!mMainMenu)
        Log::assertionFailure(554, "-[AppDelegate applicationDidFinishLaunching:]");
    StartupTrace::mark("defaults read");
    // 6. The saved windows.
    if (!restoreFromStoredState())
        CustomAlertView::showErrorResult(couldNotRestoreResult());
    StartupTrace::mark("windows restored");
    // 7. Scratch files of earlier runs (never this run's: a launch file may be importing).
    FileUtil::cleanTemporaryFilesDuringStartup();
    // Named temporaries of saves killed in earlier runs, in the program's own folders. The
    // container a sync tool shares may hold another machine's save under way: it is left.
    GlobalQueue::async([container = FolderCloudAccount::standardFolder()] {
        StaleTemporarySweep::run(StaleTemporarySweep::ownFolders(), {container});
    });
    // 8. The state cycle.
    dispatchNextStateUpdate();
    // 9. The version check; a new version other than 1.6 ends the launch with its welcome.
    if (checkVersion()) {
        mLaunchFinished = true;
        StartupTrace::mark("launch finished");
        return;
    }
    StartupTrace::mark("version checked");
    // 10. The first window, unless the launch files are still on their way to theirs: it opens
    // only if none of them brings one.
    mLaunchFinished = true;
    if (mLaunchFilesOpening > 0 || mDocumentsBeingCreated > 0)
        mFirstWindowOwed = true;
    else
        openFirstWindow();
    StartupTrace::mark("launch finished");
}

QString AppDelegate::versionNumberDisplayString()
{
    const Bundle& bundle = Bundle::mainBundle();
    return QStringLiteral("%1.%2").arg(bundle.shortVersion(), bundle.version());
}

QString AppDelegate::runningVersion() const
{
    return mRunningVersionOverride.isEmpty() ? versionNumberDisplayString() : mRunningVersionOverride;
}

bool AppDelegate::checkVersion()
{
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    const QString running = runningVersion();
    const QVariant storedValue = defaults.objectForKey(CurrentVersionKey);
    const QString stored = storedValue.typeId() == QMetaType::QString ? storedValue.toString() : QString();
    if (storedValue.isValid() && stored == running)
        return false;
    if (leadingNumber(stored) < 1.5 && Globals::userHasOptedForDropbox())
        Globals::optForDropbox(false);
    defaults.setString(CurrentVersionKey, running);
    if (!defaults.synchronize().ok())
        Log::error(QStringLiteral("The defaults could not be written"));
    if (!running.startsWith(QLatin1String("1.6."))) {
        createNewLocalFileWithInitialAction(MainWindowController::InitialActionWelcome);
        return true;
    }
    return false;
}

void AppDelegate::openFirstWindow()
{
    // A window waiting for its close to take effect is as good as closed.
    if (std::any_of(mWindowControllers.begin(), mWindowControllers.end(),
                    [](const auto& controller) { return !controller->myWindow()->isClosing(); }))
        return;
    if (Globals::userHasOptedForICloud())
        newCloudWindow(IdeaDocument::ICloudLocation);
    else if (Globals::userHasOptedForDropbox())
        newCloudWindow(IdeaDocument::DropboxLocation);
    else
        createNewLocalFileWithInitialAction(MainWindowController::InitialActionEditIdea);
}

void AppDelegate::openOwedFirstWindow()
{
    if (!mFirstWindowOwed || mLaunchFilesOpening > 0 || mDocumentsBeingCreated > 0)
        return;
    mFirstWindowOwed = false;
    openFirstWindow();
}

void AppDelegate::applicationOpenFile(const QString& path)
{
    const bool launchFile = !mLaunchFinished;
    if (launchFile)
        ++mLaunchFilesOpening;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    doOpenLocalFile(path, [weak, launchFile](const MyResultPtr& result) {
        const bool failed = result && !result->isOK();
        if (failed)
            CustomAlertView::showErrorResult(result);
        auto self = weak.lock();
        if (!self || !launchFile)
            return;
        --self->mLaunchFilesOpening;
        // A file read is on its way to its window (its document being created): that one
        // settles the debt.
        if (failed)
            self->openOwedFirstWindow();
    });
}

void AppDelegate::applicationOpenUrl(const QUrl& url)
{
    // Only the answer to a sign-in this process started reaches the service.
    auto service = DropboxSignInService::registered();
    if (!service || !DropboxSignInService::isRedirect(url)) {
        Log::info(QStringLiteral("Ignoring a URL that is not the Dropbox sign-in redirect"));
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    service->handleRedirectURL(
        url, [weak](DropboxSignInService::Outcome outcome, const QString& description) {
            auto self = weak.lock();
            if (!self)
                return;
            switch (outcome) {
            case DropboxSignInService::Outcome::Success:
                Globals::optForDropbox(true);
                Log::info(QStringLiteral("Success! User is logged into Dropbox."));
                break;
            case DropboxSignInService::Outcome::Cancel:
                Log::info(QStringLiteral("Authorization flow was manually canceled by user!"));
                self->sessionDidReceiveAuthorizationFailure();
                break;
            case DropboxSignInService::Outcome::Error:
                Log::error(QStringLiteral("Error: %1").arg(description));
                self->sessionDidReceiveAuthorizationFailure();
                break;
            case DropboxSignInService::Outcome::NotRedirect:
                break;
            }
        });
}

void AppDelegate::sessionDidReceiveAuthorizationFailure()
{
    NotificationCenter::defaultCenter().post(DropboxNotifications::InvalidAccessToken);
    if (!Globals::userHasOptedForDropbox())
        return;
    Globals::optForDropbox(false);
    auto alert = CustomAlertView::create(
        QStringLiteral("Dropbox Authentication"),
        QStringLiteral(
            "Problem with authenticating with Dropbox. Please reconnect your account in Corvex Settings."));
    alert->addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString()), 1, {});
    alert->showFromWindow(Window::mainWindow());
}

bool AppDelegate::applicationShouldTerminate()
{
    // Changes that could not be written are lost only knowingly: each window with some asks
    // in turn, and a Cancel keeps Corvex running. (A signal's quit never asks.)
    for (const auto& controller : mWindowControllers) {
        const auto lost = controller->unsavedChanges();
        if (!lost)
            continue;
        bool quit = false;
        LosingChangesAlert::create(*lost, LosingChangesAlert::Action::Quit, [&quit] {
            quit = true;
        })->showFromWindow(controller->myWindow().get());
        if (!quit)
            return false;
    }
    return true;
}

void AppDelegate::applicationWriteStateBeforeQuit()
{
    // Every window is still open here: the state holds them all.
    updateStoredState(true);
}

// ---- Actions ----

bool AppDelegate::respondsToAction(const QString& actionId) const
{
    static const QStringList handled{
        QStringLiteral("qvNewLocalFile:"),     QStringLiteral("qvNewCloudWindow:"),
        QStringLiteral("qvNewDropboxWindow:"), QStringLiteral("qvOpenLocalFile:"),
        QStringLiteral("qvOpenUserGuide:"),    QStringLiteral("qvContactSupport:"),
        QStringLiteral("qvTestToggleICloud:"), QStringLiteral("qvOpenPreferences:"),
        QStringLiteral("qvOpenAboutDialog:"),  MenuHelper::QuitAction};
    return handled.contains(actionId);
}

bool AppDelegate::validateAction(const QString& actionId, const MenuItem&)
{
    if (actionId == QLatin1String("qvNewCloudWindow:"))
        return Globals::userHasOptedForICloud();
    if (actionId == QLatin1String("qvNewDropboxWindow:"))
        return Globals::userHasOptedForDropbox();
    return true;
}

void AppDelegate::performAction(const QString& actionId, MenuItem&)
{
    if (actionId == QLatin1String("qvNewLocalFile:"))
        createNewLocalFileWithInitialAction(MainWindowController::InitialActionEditIdea);
    else if (actionId == QLatin1String("qvNewCloudWindow:"))
        newCloudWindow(IdeaDocument::ICloudLocation);
    else if (actionId == QLatin1String("qvNewDropboxWindow:"))
        newCloudWindow(IdeaDocument::DropboxLocation);
    else if (actionId == QLatin1String("qvOpenLocalFile:"))
        qvOpenLocalFile();
    else if (actionId == QLatin1String("qvOpenPreferences:"))
        preferencesWindowController().showWindow();
    else if (actionId == QLatin1String("qvOpenAboutDialog:"))
        AboutWindow::show();
    else if (actionId == QLatin1String("qvOpenUserGuide:"))
        UrlOpener::current()->open(QUrl(SiteBase + QStringLiteral("/files/CorvexForMacUserGuide.pdf")));
    else if (actionId == QLatin1String("qvContactSupport:"))
        UrlOpener::current()->open(QUrl(SiteBase + QStringLiteral("/support/")));
    else if (actionId == MenuHelper::QuitAction && Application::instance())
        Application::instance()->quit(Application::QuitReason::Menu);
}

PreferencesWindowController& AppDelegate::preferencesWindowController()
{
    if (!mPreferencesWindowController) {
        std::vector<PreferencesWindowController::Pane> panes{
            std::make_shared<GeneralPreferencesViewController>(),
            std::make_shared<AdvancedPreferencesViewController>()};
        mPreferencesWindowController = std::make_unique<PreferencesWindowController>(
            std::move(panes), Globals::normalLocalizedStringForKey(QStringLiteral("Preferences"), QString()));
    }
    return *mPreferencesWindowController;
}

// ---- ApplicationDelegate ----

void AppDelegate::markPersistentAppStateDirty()
{
    mStateIsDirty = true;
}

void AppDelegate::updatePersistentAppStateNow()
{
    updateStoredState(false);
}

bool AppDelegate::canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier)
{
    // By identifiers: each window knows its own tree, while the location's handle of the
    // document may have none loaded.
    for (const auto& controller : mWindowControllers) {
        if (!controller->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier))
            return false;
    }
    return true;
}

void AppDelegate::openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier)
{
    // A home grid shows a document made here before its location's first complete list; the
    // window waits for that list rather than come to nothing.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    PersistenceController::singleton().whenListComplete(docIdentifier, [weak, docIdentifier, ideaIdentifier] {
        if (const auto self = weak.lock())
            self->openListedDocumentInNewWindow(docIdentifier, ideaIdentifier);
    });
}

void AppDelegate::openListedDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier)
{
    auto document = PersistenceController::singleton().findDocument(docIdentifier);
    if (!document) {
        Log::warning(QStringLiteral("No document %1 to open in a new window")
                         .arg(AttachmentNames::printable(docIdentifier)));
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    PersistenceController::singleton().openDocument(document, [weak, document, ideaIdentifier](qint64 token) {
        auto self = weak.lock();
        if (self && token < 1)
            Log::warning(QStringLiteral("%1 could not be opened in a new window")
                             .arg(AttachmentNames::printable(document->docIdentifier())));
        if (!self || token < 1)
            return;
        self->addAndShowNewWindowController(MainWindowController::initWithDocumentWindow(
            document, token, ideaIdentifier, MainWindowController::InitialActionNone));
    });
}

bool AppDelegate::isFileCurrentlyOpen(const QUrl& fileUrl)
{
    return findWindowWithURL(fileUrl) != nullptr;
}

void AppDelegate::documentShown(const QString& docIdentifier)
{
    // A document the Dropbox location cannot sync: said again now that the user looks at it.
    if (mDropboxNotices)
        mDropboxNotices->documentOpened(docIdentifier);
}

// ---- Windows ----

void AppDelegate::installMenuBar(MainWindowController& controller)
{
    MenuBar::install(*controller.myWindow(), mMainMenu);
}

void AppDelegate::addAndShowNewWindowController(const std::shared_ptr<MainWindowController>& controller)
{
    if (!controller)
        return;
    Window* main = Window::mainWindow();
    const Rect mainFrame = main ? main->frame() : Rect();
    mWindowControllers.push_back(controller);
    Log::info(QStringLiteral("Opened a new window (%1 open)").arg(mWindowControllers.size()));
    StartupTrace::mark("window controller made");
    installMenuBar(*controller);
    auto window = controller->myWindow();
    window->makeKeyAndOrderFront();
    if (main && main != window.get()) {
        const Rect screen = ScreenFacade::mainScreen().frame;
        window->setFrame(WindowGeometry::cascadedFrame(screen, mainFrame, window->frame()));
    }
    markPersistentAppStateDirty();
}

void AppDelegate::removeWindowController(const std::shared_ptr<MainWindowController>& controller)
{
    auto found = std::find(mWindowControllers.begin(), mWindowControllers.end(), controller);
    if (found != mWindowControllers.end())
        mWindowControllers.erase(found);
    markPersistentAppStateDirty();
}

std::shared_ptr<MainWindowController> AppDelegate::findWindowWithURL(const QUrl& fileUrl) const
{
    const QString wanted = canonicalPathOf(fileUrl);
    if (wanted.isEmpty())
        return nullptr;
    for (const auto& controller : mWindowControllers) {
        if (!controller->myWindow()->isClosing() &&
            canonicalPathOf(controller->myWindow()->docURL()) == wanted)
            return controller;
    }
    return nullptr;
}

// ---- Saved state ----

QVariantMap AppDelegate::createState(bool) const
{
    QVariantList states;
    for (const auto& controller : mWindowControllers) {
        // A window the user closed does not come back, even while its close is under way.
        if (controller->myWindow()->isClosing())
            continue;
        const QVariantMap state = controller->createState();
        if (!state.isEmpty())
            states.append(state);
    }
    return QVariantMap{{ControllerStatesKey, states}};
}

bool AppDelegate::restoreFromState(const QVariant& state)
{
    if (!state.isValid() || state.isNull())
        return true;
    if (state.typeId() != QMetaType::QVariantMap) {
        Log::error(QStringLiteral("\"CurrentState\" is not a dictionary; no window is restored"));
        return false;
    }
    const QVariant entries = state.toMap().value(ControllerStatesKey);
    if (!entries.isValid())
        return true;
    if (entries.typeId() != QMetaType::QVariantList) {
        Log::error(QStringLiteral("\"controllerStates\" is not a list; no window is restored"));
        return false;
    }
    bool all = true;
    for (const QVariant& entry : entries.toList()) {
        if (entry.typeId() != QMetaType::QVariantMap) {
            Log::error(QStringLiteral("A saved window is not a dictionary; it is left out"));
            all = false;
            continue;
        }
        auto controller = MainWindowController::initForRestoration();
        addAndShowNewWindowController(controller);
        if (!controller->restoreFromState(entry.toMap()))
            all = false;
    }
    return all;
}

bool AppDelegate::restoreFromStoredState()
{
    return restoreFromState(UserDefaults::standardUserDefaults().objectForKey(CurrentStateKey));
}

bool AppDelegate::updateStoredState(bool quitting)
{
    const QVariantMap state = createState(quitting);
    UserDefaults::standardUserDefaults().setObject(CurrentStateKey, state);
    return true;
}

void AppDelegate::dispatchNextStateUpdate()
{
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    mStateUpdateTask = MainQueue::postAfter(StateUpdateInterval, [weak] {
        if (auto self = weak.lock())
            self->runStateUpdatePass();
    });
}

void AppDelegate::runStateUpdatePass()
{
    mStateUpdateTask = 0;
    if (mStateIsDirty)
        updateStoredState(false);
    mStateIsDirty = false;
    dispatchNextStateUpdate();
}

// ---- Local files ----

void AppDelegate::createNewLocalFileWithInitialAction(int initialAction)
{
    auto idea = Idea::initWithText(QString());
    const auto& themes = ColorTheme::standardThemes();
    if (!themes.empty() && themes.front() && !themes.front()->colors().empty())
        idea->setColor(themes.front()->colors().front());
    idea->setColorThemeType(ColorThemeTypeLighterColor);
    createNewLocalFileFromIdea(idea, QUrl(), initialAction);
}

namespace {

// A new document of the temporary location holding the tree, dated now; from here the trace
// follows it by the name of the file it came from.
std::shared_ptr<IdeaDocument> newTemporaryDocument(const std::shared_ptr<Idea>& idea,
                                                   const QUrl& representedURL)
{
    auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::TemporaryLocation);
    document->setRepresentativeURL(representedURL);
    document->setIdea(idea);
    const QDateTime now = CalendarClock::now();
    document->setDateCreated(now);
    document->setDateModified(now);
    if (StartupTrace::enabled())
        StartupTrace::mark("document creating", representedURL.fileName().toUtf8().constData());
    return document;
}

void showCouldNotCreateDocument()
{
    CustomAlertView::showErrorResult(MyResult::error(QStringLiteral("mac:Error:CouldNotCreateDocument"),
                                                     QStringLiteral("Could not create document")));
}

} // namespace

void AppDelegate::createNewLocalFileFromIdea(const std::shared_ptr<Idea>& idea, const QUrl& representedURL,
                                             int initialAction, Completion<> afterShown)
{
    // From "document creating" to "document created": the tree encoded and its file written.
    auto document = newTemporaryDocument(idea, representedURL);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    ++mDocumentsBeingCreated;
    PersistenceController::singleton().createDocument(
        document,
        [weak, document, initialAction, afterShown = std::make_shared<Completion<>>(std::move(afterShown)),
         name = representedURL.fileName()](qint64 token) {
            // Named by the file it came from (none for a new document): its window is the next shown.
            if (StartupTrace::enabled())
                StartupTrace::mark("document created", name.toUtf8().constData());
            if (auto self = weak.lock())
                self->showCreatedDocument(document, token, initialAction, std::move(*afterShown));
        });
}

void AppDelegate::showCreatedDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                      int initialAction, Completion<> afterShown)
{
    --mDocumentsBeingCreated;
    if (token < 1) {
        // No window was shown: nothing is to follow it.
        afterShown.drop();
        showCouldNotCreateDocument();
        openOwedFirstWindow();
        return;
    }
    addAndShowNewWindowController(
        MainWindowController::initWithDocumentWindow(document, token, QString(), initialAction));
    openOwedFirstWindow();
    // After the window had a turn of the loop to appear: what it says lies on top.
    afterShown();
}

void AppDelegate::doOpenLocalFile(const QString& path, OpenCompletion completion)
{
    const QUrl url = QUrl::fromLocalFile(path);
    if (auto controller = findWindowWithURL(url)) {
        Log::info(QStringLiteral("%1 is open already: its window comes to the front").arg(path));
        controller->myWindow()->makeKeyAndOrderFront();
        completion(MyResult::OK());
        return;
    }
    // What the file holds is taken before it is read: a restoration later tells by it whether
    // the file changed while Corvex was away, and a change during the read counts as one.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto pending = std::make_shared<OpenCompletion>(std::move(completion));
    FileFingerprint::take(path, [weak, url, pending](const Result<FileFingerprint>& fingerprint) {
        if (auto self = weak.lock())
            self->importLocalFile(url, fingerprint.ok() ? std::optional(fingerprint.value()) : std::nullopt,
                                  std::move(*pending));
        else
            (*pending)(FileOpeningMessages::failedToOpen(Error()));
    });
}

void AppDelegate::importLocalFile(const QUrl& url, const std::optional<FileFingerprint>& fingerprint,
                                  OpenCompletion completion)
{
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    auto pending = std::make_shared<OpenCompletion>(std::move(completion));
    PersistenceController::singleton().importDocument(
        url, IdeaDocument::TemporaryLocation,
        [weak, url, fingerprint, pending](const DocumentImporter::Read& read) {
            auto self = weak.lock();
            if (self && read.ok() && read.value()->idea()) {
                const IdeaDocumentDataObjectPtr& payload = read.value();
                // What was read of a damaged file opens, and the person is told what is missing.
                Completion<> afterShown;
                if (!payload->incompleteReading().isEmpty())
                    afterShown = [name = url.fileName(), ideas = payload->idea()->calculateWholeTreeSize(),
                                  why = payload->incompleteReading()] {
                        FileOpeningMessages::showPartlyRead(name, ideas, why);
                    };
                self->showOpenedFile(payload->idea(), url, fingerprint, std::move(afterShown));
                (*pending)(MyResult::OK());
                return;
            }
            (*pending)(read.ok() ? FileOpeningMessages::failedToOpen(Error())
                                 : FileOpeningMessages::failedToOpen(read.error()));
        });
}

void AppDelegate::showOpenedFile(const std::shared_ptr<Idea>& idea, const QUrl& url,
                                 const std::optional<FileFingerprint>& fingerprint, Completion<> afterShown)
{
    auto document = newTemporaryDocument(idea, url);
    document->setFileInStep(fingerprint);
    const QByteArray name = url.fileName().toUtf8();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    ++mDocumentsBeingCreated;
    PersistenceController::singleton().createDocumentOpeningFirst(
        document,
        [weak, document, name,
         afterShown = std::make_shared<Completion<>>(std::move(afterShown))](qint64 token) {
            // Named by the file it came from: its window is the next shown.
            if (StartupTrace::enabled())
                StartupTrace::mark("document opened", name.constData());
            if (auto self = weak.lock())
                self->showCreatedDocument(document, token, MainWindowController::InitialActionNone,
                                          std::move(*afterShown));
        },
        [name](bool stored) {
            // The first save (the tree encoded, deflated and written) has ended.
            if (StartupTrace::enabled())
                StartupTrace::mark("document created", name.constData());
            // The window stays with its tree; its saves fail and say so until it is saved
            // elsewhere.
            if (!stored)
                showCouldNotCreateDocument();
        });
}

void AppDelegate::qvOpenLocalFile()
{
    FilePanelRunner::OpenPanel panel;
    panel.allowedFileTypes = {QStringLiteral("corvex"), QStringLiteral("opml")};
    panel.directory = FilePanelRunner::desktopDirectory();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    Runners::filePanelRunner()->beginOpenPanel(
        panel, Window::mainWindow(), [weak](int response, const QList<QUrl>& urls) {
            auto self = weak.lock();
            if (!self || response != FilePanelRunner::OK || urls.isEmpty() || !urls.front().isLocalFile())
                return;
            self->doOpenLocalFile(urls.front().toLocalFile(), [](const MyResultPtr& result) {
                if (result && !result->isOK())
                    CustomAlertView::showErrorResult(result);
            });
        });
}

void AppDelegate::newCloudWindow(unsigned location)
{
    addAndShowNewWindowController(MainWindowController::initWithCloudWindow(location));
}

QStringList AppDelegate::recentLocalFiles() const
{
    return readRecentLocalFiles();
}

void AppDelegate::addNewRecentDocumentURL(const QUrl& fileUrl)
{
    // Only local files are remembered: another scheme would reopen as something else.
    if (!fileUrl.isLocalFile() || fileUrl.toLocalFile().isEmpty())
        return;
    const QString path = fileUrl.toLocalFile();
    QStringList paths = readRecentLocalFiles();
    paths.removeAll(path);
    paths.prepend(path);
    while (paths.size() > MaxRecentFiles)
        paths.removeLast();
    UserDefaults::standardUserDefaults().setObject(RecentLocalFilesKey, QVariant(paths));
    mRecentMenu->setPaths(paths);
}

qint64 AppDelegate::focusedAdvancedControlIndex() const
{
    return UserDefaults::standardUserDefaults().integerForKey(FocusedAdvancedControlIndexKey);
}

void AppDelegate::setFocusedAdvancedControlIndex(qint64 index)
{
    UserDefaults::standardUserDefaults().setInteger(FocusedAdvancedControlIndexKey, index);
}

} // namespace corvex
