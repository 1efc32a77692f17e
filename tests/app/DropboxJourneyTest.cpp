// Dropbox through the running application, against the Dropbox emulator on 127.0.0.1: the
// user connects in Preferences, the browser's sign-in page hands its redirect to a second
// launch of Corvex (as the desktop does with the sign-in link), a Dropbox window shows the
// document another machine put there, and an edit in its window reaches Dropbox: the file,
// its entry in the index and its content. Then the user takes Corvex's access away on the
// website: the next edit meets the refusal, an alert says so once with the way back, and the
// windows' cloud icons show "error". Another program may also put a folder where the open
// document was: the edit made meanwhile goes up as a document of its own, the notice about it
// runs its loop to the end before the document's window closes, and then the user is told
// why the window went. Screenshots: test-output/app-dropbox-*.png.

#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/Paths.h"
#include "platform/net/DropboxRedirect.h"
#include "platform/ui/QtAlertRunner.h"
#include "shell/AppDelegate.h"
#include "shell/DropboxNoticeBoard.h"
#include "shell/GeneralPreferencesViewController.h"
#include "shell/MyWindow.h"
#include "shell/PreferencesWindowController.h"
#include "storage/IdeaProxy.h"
#include "storage/IndexJSONDocument.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/net/DropboxEmulator.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace corvex::test {

namespace {

const QString kSharedGarden = QStringLiteral("Garden");
const QString kGardenPath = QStringLiteral("/document-1.crvx");
const QString kGardenDocument = QStringLiteral("dropbox:/document-1.crvx");
// A key of letters only: it becomes the redirect's URL scheme.
const QByteArray kJourneyAppKey = "corvexjourney";

// Every text of a stored document's tree; empty when the bytes are no document.
QStringList textsOf(const QByteArray& bytes)
{
    QStringList texts;
    const auto payload = IdeaDocumentDataObject::readFromSomeData(bytes);
    std::function<void(const IdeaPtr&)> walk = [&](const IdeaPtr& idea) {
        if (!idea)
            return;
        texts.append(idea->text());
        for (const IdeaPtr& child : idea->ideas())
            walk(child);
    };
    if (payload)
        walk(payload->idea());
    return texts;
}

// The documents "/corvex.index" lists, by identifier with their texts.
std::map<QString, QString> indexed(const DropboxEmulator& emulator)
{
    std::map<QString, QString> entries;
    const auto index = emulator.file(QStringLiteral("/corvex.index"));
    if (!index)
        return entries;
    Error error;
    const auto proxies =
        IndexJSONDocument::decodeProxies(*IndexJSONDocument::makeDecoder(index->content), &error);
    if (proxies)
        for (const IdeaProxyPtr& proxy : *proxies)
            entries[proxy->docIdentifier()] = proxy->text();
    return entries;
}

// Whether a local copy of the Dropbox location holds a document with this idea.
bool mirrorHolds(const QString& idea)
{
    const QString mirror =
        Paths::applicationSupport() + QLatin1Char('/') + Paths::appFolderName() + QStringLiteral("/dropbox");
    QDirIterator copies(mirror, {QStringLiteral("*.crvx")}, QDir::Files, QDirIterator::Subdirectories);
    while (copies.hasNext()) {
        QFile copy(copies.next());
        if (copy.open(QIODevice::ReadOnly) && textsOf(copy.readAll()).contains(idea))
            return true;
    }
    return false;
}

class DropboxJourney : public MindMapJourney
{
protected:
    void SetUp() override
    {
        // Before the application object, whose instance takes only its key's redirects; the
        // second launch that hands the redirect over inherits them too.
        ASSERT_TRUE(emulator.start());
        qputenv("CORVEX_DROPBOX_APP_KEY", kJourneyAppKey);
        qputenv("CORVEX_DROPBOX_API_URL", emulator.baseUrl().toUtf8());
        qputenv("CORVEX_DROPBOX_CONTENT_URL", emulator.baseUrl().toUtf8());
        qputenv("CORVEX_DROPBOX_AUTHORIZE_URL",
                (emulator.baseUrl() + QStringLiteral("/oauth2/authorize")).toUtf8());
        MindMapJourney::SetUp();
        emulator.registerApp(DropboxSignInService::appKey(),
                             {DropboxRedirect::redirectUri(DropboxSignInService::redirectScheme())});
        // Another machine's document: the garden with two beds.
        const IdeaPtr root =
            text(kSharedGarden, {text(QStringLiteral("Beds")), text(QStringLiteral("Paths"))});
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto payload = IdeaDocumentDataObject::payloadForWriting(root, now, now);
        ASSERT_TRUE(payload);
        emulator.putFile(kGardenPath, payload->corvexData().valueOr(QByteArray()));
    }
    void TearDown() override
    {
        MindMapJourney::TearDown();
        for (const char* name : {"CORVEX_DROPBOX_APP_KEY", "CORVEX_DROPBOX_API_URL",
                                 "CORVEX_DROPBOX_CONTENT_URL", "CORVEX_DROPBOX_AUTHORIZE_URL"})
            qunsetenv(name);
    }

    // Connects Corvex to the emulator's account from the window: the browser gets the sign-in
    // page; the page's redirect reaches Corvex through a second launch, as the desktop hands
    // the sign-in link over. Preferences are closed again.
    void signIn(MyWindow& window)
    {
        ASSERT_TRUE(pressDropboxButton(window));
        ASSERT_TRUE(waitFor([this] { return !browser().opened.isEmpty(); })) << "no sign-in page opened";
        const QString redirect = emulator.openInBrowser(browser().opened.back().toString());
        ASSERT_TRUE(redirect.startsWith(DropboxSignInService::redirectScheme() + QStringLiteral("://")))
            << redirect.toStdString();
        auto handing = AppChild::startBinary({redirect});
        ASSERT_NE(handing, nullptr);
        ASSERT_TRUE(waitFor([] { return Globals::userHasOptedForDropbox(); }, 20.0)) << "not signed in";
        const AppEnding handed = handing->waitForEnd(20.0);
        EXPECT_TRUE(handed.ended && handed.exitCode == 0 && handed.signal == 0)
            << handed.describe().toStdString();
        ASSERT_FALSE(emulator.issuedAccessTokens().empty());
        AppDelegate::shared()->preferencesWindowController().window()->close();
    }

    // A Dropbox window opened from the window, showing the other machine's garden on its home
    // grid; or null.
    static std::shared_ptr<HomeViewController> dropboxHomeWithGarden(MyWindow& window)
    {
        if (!UserInput::chooseMenuBarItem(window, QStringLiteral("File"),
                                          QStringLiteral("New Dropbox Window"))
                 .chose)
            return nullptr;
        auto home = waitForScreen<HomeViewController>(
            [](HomeViewController& screen) {
                return WhereOnScreen::homeDocument(screen, kSharedGarden).has_value();
            },
            60.0);
        if (!home)
            ADD_FAILURE() << "the garden did not come to a Dropbox window";
        return home;
    }

    // The garden opened from a Dropbox window's home grid in a window of its own. Its mind map,
    // or null.
    static std::shared_ptr<SolarSystemViewController> openGarden(MyWindow& window)
    {
        const auto home = dropboxHomeWithGarden(window);
        if (!home)
            return nullptr;
        MyWindow& homeWindow = windowOf(*home);
        if (!activate(homeWindow) ||
            !UserInput::rightClick(homeWindow, seen(WhereOnScreen::homeDocument(*home, kSharedGarden)),
                                   QStringLiteral("Open in New Window"))
                 .chose)
            return nullptr;
        return mindMapOf(kSharedGarden, kSharedGarden);
    }

    // The alert shown for real, in Qt's own nested loop: once it is up, a screenshot
    // (test-output/app-<shot>.png) and Return. The index of the button pressed.
    static int pressReturnOnRealAlert(const Alert& alert, const QString& shot)
    {
        QTimer::singleShot(0, [shot] {
            waitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5.0);
            screenshot(shot);
            if (QWidget* box = QApplication::activeModalWidget())
                QTest::keyClick(box, Qt::Key_Return);
        });
        return QtAlertRunner().runModal(alert) - AlertRunner::FirstButtonReturn;
    }

    // File > Preferences..., the General pane's Dropbox button clicked.
    static bool pressDropboxButton(MyWindow& window)
    {
        if (!UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Preferences..."))
                 .chose)
            return false;
        auto general = std::dynamic_pointer_cast<GeneralPreferencesViewController>(
            AppDelegate::shared()->preferencesWindowController().viewControllerForIdentifier(
                GeneralPreferencesViewController::Identifier));
        QPushButton* button = general ? general->dropboxConnectButton() : nullptr;
        if (!button || !waitFor([button] { return button->isVisible(); }))
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }

    // The idea's text changed in its editor, as a user does it.
    static bool rename(SolarSystemViewController& map, const QString& from, const QString& to)
    {
        MyWindow& window = windowOf(map);
        if (!activate(window) ||
            !UserInput::rightClick(window, seen(WhereOnScreen::planet(map, from)), QStringLiteral("Edit"))
                 .chose ||
            !popoverShows() || !Window::keyWindow())
            return false;
        Window& editor = *Window::keyWindow();
        UserInput::pressKey(editor, Qt::Key_A, Qt::ControlModifier);
        UserInput::typeText(editor, to);
        return closePopovers() && waitFor([&] { return WhereOnScreen::planet(map, to).has_value(); });
    }

    // test-output/app-<name>.png: the left end of the window's title bar, where the cloud icon
    // is, three times its size.
    static void titleBarShot(MyWindow& window, const QString& name)
    {
        screenshot(name); // lets the last step's drawing finish
        const QRect frame = window.hostWidget()->frameGeometry();
        const QPixmap bar = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), 240, 48);
        bar.scaled(bar.size() * 3, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            .save(testOutputDir() + QStringLiteral("/app-") + name + QStringLiteral(".png"));
    }

    // Whether a document Dropbox holds, under any name, has the idea.
    bool anyDocumentOnDropboxHolds(const QString& idea) const
    {
        for (const DropboxEmulator::File& file : emulator.topLevelFiles())
            if (file.pathDisplay.endsWith(QStringLiteral(".crvx")) && textsOf(file.content).contains(idea))
                return true;
        return false;
    }

    bool onDropbox(const QString& idea, double seconds = 30.0)
    {
        return waitFor(
            [&] {
                const auto file = emulator.file(kGardenPath);
                return file && textsOf(file->content).contains(idea);
            },
            seconds);
    }

    DropboxEmulator emulator;
};

} // namespace

TEST_F(DropboxJourney, SignInSyncAnEditAndTellTheRevokedAccessOnce)
{
    ASSERT_TRUE(runOn(Desktop::Openbox)) << "no window manager";
    ASSERT_TRUE(launch());
    MyWindow& first = *windows().front();
    ASSERT_NO_FATAL_FAILURE(signIn(first));

    // The user opens the garden and renames a bed.
    auto map = openGarden(first);
    ASSERT_NE(map, nullptr);
    ASSERT_TRUE(rename(*map, QStringLiteral("Beds"), QStringLiteral("Raised beds")));

    // On Dropbox: the file with the edit, listed in the index under its title.
    EXPECT_TRUE(onDropbox(QStringLiteral("Raised beds")))
        << textsOf(emulator.file(kGardenPath)->content).join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(textsOf(emulator.file(kGardenPath)->content),
              (QStringList{kSharedGarden, QStringLiteral("Raised beds"), QStringLiteral("Paths")}));
    EXPECT_TRUE(waitFor([this] { return indexed(emulator)[kGardenDocument] == kSharedGarden; }, 30.0))
        << "the index lists " << indexed(emulator).size() << " document(s)";
    MyWindow& mapWindow = windowOf(*map);
    EXPECT_TRUE(waitFor([&] { return mapWindow.cloudIconName() == QStringLiteral("cloud"); }))
        << mapWindow.cloudIconName().toStdString();
    titleBarShot(mapWindow, QStringLiteral("dropbox-synced-icon"));

    // The user takes Corvex's access away on the website, then edits again. The alert shows
    // for real once, for its screenshot.
    int accessLostAlerts = 0;
    alerts().setHandler([&](const Alert& alert) -> std::optional<int> {
        if (alert.messageText != DropboxNoticeBoard::AccessLostTitle)
            return std::nullopt;
        if (++accessLostAlerts > 1)
            return 0;
        return pressReturnOnRealAlert(alert, QStringLiteral("dropbox-access-lost-notice"));
    });
    emulator.revokeAllTokens();
    ASSERT_TRUE(rename(*map, QStringLiteral("Paths"), QStringLiteral("Gravel paths")));
    ASSERT_TRUE(waitFor([&] { return accessLostAlerts == 1; }, 60.0)) << "no notice of the lost access";
    const Alert& told = alerts().presented().back();
    EXPECT_TRUE(told.informativeText.contains(QStringLiteral("\"Deactivate\", then \"Connect\"")))
        << told.informativeText.toStdString();
    for (const auto& window : windows()) {
        if (window->cloudLocation() == IdeaDocument::DropboxLocation) {
            EXPECT_TRUE(waitFor([&] { return window->cloudIconName() == QStringLiteral("error"); }))
                << window->cloudIconName().toStdString();
        }
    }
    activate(mapWindow);
    screenshot(QStringLiteral("dropbox-error-icon"));
    titleBarShot(mapWindow, QStringLiteral("dropbox-error-icon-title-bar"));

    // Another edit meets the same cause: it stays on this computer, as the alert said, and
    // nothing more is said.
    ASSERT_TRUE(rename(*map, QStringLiteral("Raised beds"), QStringLiteral("Herb beds")));
    EXPECT_TRUE(waitFor([] { return mirrorHolds(QStringLiteral("Herb beds")); }, 30.0));
    EXPECT_EQ(accessLostAlerts, 1);
    EXPECT_FALSE(textsOf(emulator.file(kGardenPath)->content).contains(QStringLiteral("Herb beds")));
}

TEST_F(DropboxJourney, AFolderPutWhereTheOpenDocumentWasClosesItsWindowAfterTheNoticeAndKeepsTheEdit)
{
    ASSERT_TRUE(runOn(Desktop::Openbox)) << "no window manager";
    ASSERT_TRUE(launch());
    ASSERT_NO_FATAL_FAILURE(signIn(*windows().front()));
    auto map = openGarden(*windows().front());
    ASSERT_NE(map, nullptr);
    std::weak_ptr<MyWindow> mapWindow;
    for (const auto& window : windows())
        if (screenOf(*window) == map)
            mapWindow = window;
    ASSERT_FALSE(mapWindow.expired());
    const QPointer<QWidget> mapHost = mapWindow.lock()->hostWidget();
    const auto mapWindowOpen = [&] {
        const auto window = mapWindow.lock();
        return (window && (window->isVisible() || window->isClosing())) || (mapHost && mapHost->isVisible());
    };

    // Both alerts run for real: Qt's nested loop, a screenshot, Return. The window must live
    // through the notice's loop, and be gone before it is said why.
    const QString closedTitle = QStringLiteral("The window of \u201cGarden\u201d was closed");
    bool inNotice = false;
    int notices = 0;
    bool hostDiedInNotice = false;
    std::optional<bool> openOrClosingAfterNotice;
    int closedAlerts = 0;
    std::optional<bool> mapShownWhenTold;
    QString closedMessage;
    const QObject watch;
    QObject::connect(mapHost, &QObject::destroyed, &watch, [&] { hostDiedInNotice |= inNotice; });
    alerts().setHandler([&](const Alert& alert) -> std::optional<int> {
        if (alert.messageText.endsWith(QStringLiteral("cannot be synced with Dropbox"))) {
            ++notices;
            inNotice = true;
            const int pressed = pressReturnOnRealAlert(alert, QStringLiteral("dropbox-folder-notice"));
            inNotice = false;
            openOrClosingAfterNotice = mapWindowOpen();
            return pressed;
        }
        if (alert.messageText == closedTitle) {
            ++closedAlerts;
            closedMessage = alert.informativeText;
            mapShownWhenTold = mapWindowOpen();
            return pressReturnOnRealAlert(alert, QStringLiteral("dropbox-folder-window-closed"));
        }
        return std::nullopt;
    });

    // Another program deletes the garden on Dropbox and makes a folder in its place; the user,
    // who does not know, renames a bed.
    ASSERT_TRUE(emulator.remove(kGardenPath));
    emulator.makeFolder(kGardenPath);
    ASSERT_TRUE(rename(*map, QStringLiteral("Beds"), QStringLiteral("Raised beds")));
    map.reset();

    ASSERT_TRUE(waitFor([&] { return notices == 1; }, 90.0)) << "no notice of the folder";
    EXPECT_FALSE(hostDiedInNotice) << "the window went inside the notice's loop";
    EXPECT_EQ(openOrClosingAfterNotice, true) << "the window was gone when the notice's loop ended";
    EXPECT_TRUE(waitFor([&] { return !mapWindowOpen(); }, 30.0)) << "the window stayed open";
    ASSERT_TRUE(waitFor([&] { return closedAlerts == 1; }, 30.0)) << "not told why the window closed";
    EXPECT_EQ(mapShownWhenTold, false) << "told while the window was still there";
    EXPECT_TRUE(closedMessage.contains(QStringLiteral("removed from Dropbox")))
        << closedMessage.toStdString();
    screenshot(QStringLiteral("dropbox-folder-after"));

    // The edit goes up under a name of its own; nothing is written over the folder.
    EXPECT_TRUE(waitFor([&] { return anyDocumentOnDropboxHolds(QStringLiteral("Raised beds")); }, 90.0))
        << "the edit did not reach Dropbox";
    EXPECT_FALSE(emulator.file(kGardenPath).has_value());
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(closedAlerts, 1);
}

// Another machine's change to the garden whose every download comes damaged: the notice
// names the garden once; the user, who goes to it from the home grid in the same window, is
// told again, once.
TEST_F(DropboxJourney, AStuckDocumentOpenedFromTheHomeGridIsToldAgain)
{
    ASSERT_TRUE(runOn(Desktop::Openbox)) << "no window manager";
    ASSERT_TRUE(launch());
    ASSERT_NO_FATAL_FAILURE(signIn(*windows().front()));
    const auto home = dropboxHomeWithGarden(*windows().front());
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    const QString stuckTitle = QStringLiteral("\"%1\" cannot be synced with Dropbox").arg(kSharedGarden);
    int told = 0;
    alerts().setHandler([&](const Alert& alert) -> std::optional<int> {
        if (alert.messageText != stuckTitle)
            return std::nullopt;
        ++told;
        return 0;
    });

    emulator.damageDownloads(kGardenPath);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto changed = IdeaDocumentDataObject::payloadForWriting(
        text(kSharedGarden, {text(QStringLiteral("Beds")), text(QStringLiteral("Ponds"))}), now, now);
    ASSERT_TRUE(changed);
    emulator.putFile(kGardenPath, changed->corvexData().valueOr(QByteArray()));
    ASSERT_TRUE(waitFor([&] { return told == 1; }, 90.0)) << "no notice of the damaged garden";

    ASSERT_TRUE(activate(window));
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::homeDocument(*home, kSharedGarden)),
                                      QStringLiteral("Open"))
                    .chose);
    const auto garden = mindMapOf(kSharedGarden, kSharedGarden);
    ASSERT_NE(garden, nullptr) << whatShows();
    EXPECT_EQ(&windowOf(*garden), &window);
    EXPECT_TRUE(waitFor([&] { return told == 2; }, 20.0)) << "not told again when opened";
    // (The copy shown is this computer's, as the notice says.)
    EXPECT_TRUE(WhereOnScreen::planet(*garden, QStringLiteral("Paths")).has_value());
    EXPECT_FALSE(waitFor([&] { return told > 2; }, 5.0)) << "told " << told << " times";
}

} // namespace corvex::test
