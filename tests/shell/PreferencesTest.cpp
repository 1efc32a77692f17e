#include "tests/shell/PreferencesTestSupport.h"
#include "tests/shell/ShellTestSupport.h"

#include "model/Globals.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/SingleInstance.h"
#include "shell/AdvancedPreferencesViewController.h"
#include "shell/GeneralPreferencesViewController.h"
#include "shell/PreferencesViewController.h"
#include "shell/PreferencesWindowController.h"
#include "storage/IdeaDocument.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <cmath>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

const ScreenInfo kPrefsScreen{Rect(0, 0, 1600, 1000), Rect(0, 0, 1600, 1000), 1.0};

PreferencesWindowController& openPreferencesFromTheMenu(ShellRig& rig)
{
    auto item = MenuItem::create(QStringLiteral("Preferences..."));
    rig.app->performAction(QStringLiteral("qvOpenPreferences:"), *item);
    return rig.app->preferencesWindowController();
}

void clickToolbarItem(PreferencesWindowController& prefs, const QString& identifier)
{
    QAction* item = prefs.toolbarItemForIdentifier(identifier);
    ASSERT_NE(item, nullptr) << identifier.toStdString();
    QWidget* button = prefs.window()->toolbar()->widgetForAction(item);
    ASSERT_NE(button, nullptr) << identifier.toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

QString imageOf(const QPushButton* button)
{
    return button->property(GeneralPreferencesViewController::ImageNameProperty).toString();
}

std::shared_ptr<GeneralPreferencesViewController> generalPane(PreferencesWindowController& prefs)
{
    return std::dynamic_pointer_cast<GeneralPreferencesViewController>(
        prefs.viewControllerForIdentifier(GeneralPreferencesViewController::Identifier));
}

Point topLeftOf(PreferencesWindow& window)
{
    const Rect frame = window.frame();
    return Point(frame.minX(), frame.maxY());
}

// A pane of the generic controller's tests: a plain widget of 300 x 200, resizable as told,
// committing its editing as told.
class PrefsTestPane final : public PreferencesViewController
{
public:
    PrefsTestPane(QString identifier, bool resizable)
        : mIdentifier(std::move(identifier)), mResizable(resizable)
    {}
    QString identifier() const override { return mIdentifier; }
    QIcon toolbarItemImage() const override { return QIcon(); }
    QString toolbarItemLabel() const override { return mIdentifier; }
    QWidget* view() override
    {
        if (!mView) {
            mView = std::make_unique<QWidget>();
            mView->resize(300, 200);
        }
        return mView.get();
    }
    void viewWillAppear() override { ++appeared; }
    void viewDidDisappear() override { ++disappeared; }
    std::optional<bool> hasResizableWidth() const override { return mResizable; }
    std::optional<bool> hasResizableHeight() const override { return mResizable; }
    bool commitEditing() override { return commits; }

    bool commits = true;
    int appeared = 0;
    int disappeared = 0;

private:
    QString mIdentifier;
    bool mResizable;
    std::unique_ptr<QWidget> mView;
};

} // namespace

TEST(Preferences, TheMenuOpensOneWindowOnGeneralCentredAndSizedToThePane)
{
    ShellRig rig;
    ASSERT_TRUE(rig.app->respondsToAction(QStringLiteral("qvOpenPreferences:")));
    PreferencesWindowController& prefs = openPreferencesFromTheMenu(rig);
    PreferencesWindow* window = prefs.window();
    ASSERT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Preferences"));
    EXPECT_EQ(prefs.toolbarItemIdentifiers(),
              (QStringList{QStringLiteral("GeneralPreferences"), QStringLiteral("AdvancedPreferences")}));
    EXPECT_EQ(prefs.toolbarItemForIdentifier(QStringLiteral("GeneralPreferences"))->text(),
              QStringLiteral("General"));
    EXPECT_FALSE(prefs.toolbarItemForIdentifier(QStringLiteral("AdvancedPreferences"))->icon().isNull());
    ASSERT_TRUE(prefs.selectedViewController());
    EXPECT_EQ(prefs.selectedViewController()->identifier(), QStringLiteral("GeneralPreferences"));
    EXPECT_TRUE(prefs.toolbarItemForIdentifier(QStringLiteral("GeneralPreferences"))->isChecked());

    // The pane's first size is its minimum; the window holds it below the toolbar, centred.
    ASSERT_EQ(prefs.minimumViewRects().count(QStringLiteral("GeneralPreferences")), 1u);
    const Size general =
        rectFromString(prefs.minimumViewRects().at(QStringLiteral("GeneralPreferences"))).size;
    EXPECT_GT(general.width, 0);
    EXPECT_GT(general.height, 0);
    EXPECT_EQ(window->contentSize(), general);
    const Rect frame = window->frame();
    EXPECT_EQ(frame.size.height, general.height + window->toolbarHeight());
    EXPECT_EQ(frame.origin.x, std::floor((1600 - frame.size.width) / 2));
    EXPECT_EQ(frame.origin.y, std::floor((1000 - frame.size.height) * 2 / 3));
    savePrefsRendering(*window, QStringLiteral("general_first_opening.png"));

    // Closing hides; the menu shows the same window again.
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(&openPreferencesFromTheMenu(rig), &prefs);
    EXPECT_EQ(prefs.window(), window);
    EXPECT_TRUE(window->isVisible());
}

TEST(Preferences, AdvancedControlsStoreTheTextSizeAndContrast)
{
    ShellRig rig;
    shellDefaults().setString(Globals::FontSizeFactorKey, QStringLiteral("abc")); // by hand
    Globals::resetCachesForTesting();
    PreferencesWindowController& prefs = openPreferencesFromTheMenu(rig);
    int changes = 0;
    int switches = 0;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const auto appearance = center.addObserver(Globals::AppearanceSettingsChangedNotification, nullptr,
                                               [&](const NotificationCenter::Notification&) { ++changes; });
    const auto switched = center.addObserver(PreferencesWindowController::DidChangeViewNotification, &prefs,
                                             [&](const NotificationCenter::Notification&) { ++switches; });

    clickToolbarItem(prefs, QStringLiteral("AdvancedPreferences"));
    auto advanced =
        std::dynamic_pointer_cast<AdvancedPreferencesViewController>(prefs.selectedViewController());
    ASSERT_TRUE(advanced);
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(shellDefaults().stringForKey(PreferencesWindowController::SelectedIdentifierKey),
              QStringLiteral("AdvancedPreferences"));
    QComboBox* popup = advanced->textSizePopup();
    ASSERT_EQ(popup->count(), 5);
    EXPECT_EQ(advanced->textSizeTitles(),
              (QStringList{QStringLiteral("Tiny"), QStringLiteral("Small"), QStringLiteral("Normal"),
                           QStringLiteral("Large"), QStringLiteral("Extra")}));
    EXPECT_EQ(popup->currentText(), QStringLiteral("Normal")); // "abc" reads as the default 5
    EXPECT_FALSE(advanced->highContrastButton()->isChecked());

    QTest::keyClick(popup, Qt::Key_Down);
    EXPECT_EQ(popup->currentText(), QStringLiteral("Large"));
    EXPECT_EQ(shellDefaults().integerForKey(Globals::FontSizeFactorKey), 6);
    EXPECT_EQ(Globals::fontSizeFactor(), 6);
    EXPECT_EQ(changes, 1);
    QTest::keyClick(popup, Qt::Key_Up);
    QTest::keyClick(popup, Qt::Key_Up);
    EXPECT_EQ(shellDefaults().integerForKey(Globals::FontSizeFactorKey), 4);

    QTest::mouseClick(advanced->highContrastButton(), Qt::LeftButton);
    EXPECT_TRUE(Globals::highContrastText());
    EXPECT_TRUE(shellDefaults().boolForKey(Globals::HighContrastTextKey));
    EXPECT_EQ(changes, 4); // three sizes, then the contrast
    savePrefsRendering(*prefs.window(), QStringLiteral("advanced.png"));

    // Back to General through the toolbar; the Advanced pane's widget leaves the window.
    clickToolbarItem(prefs, QStringLiteral("GeneralPreferences"));
    EXPECT_EQ(prefs.selectedViewController()->identifier(), QStringLiteral("GeneralPreferences"));
    EXPECT_EQ(advanced->view()->parent(), nullptr);
    EXPECT_EQ(switches, 2);
    center.removeObserver(appearance);
    center.removeObserver(switched);
}

TEST(Preferences, StoredTextSizeFactorsOutsideTheRangeSelectTheNearestSize)
{
    ScreenFacade::ScopedOverride screen({kPrefsScreen});
    const std::vector<std::pair<QVariant, QString>> cases{
        {QVariant(qint64(9)), QStringLiteral("Extra")},
        {QVariant(qint64(1)), QStringLiteral("Tiny")},
        {QVariant(QStringLiteral("abc")), QStringLiteral("Normal")},
        {QVariant(qint64(4)), QStringLiteral("Small")}};
    for (const auto& [stored, title] : cases) {
        shellDefaults().setObject(Globals::FontSizeFactorKey, stored);
        Globals::resetCachesForTesting();
        AdvancedPreferencesViewController pane;
        pane.view();
        EXPECT_EQ(pane.textSizePopup()->currentText(), title) << stored.toString().toStdString();
    }
}

// One process picks Advanced, moves the window and picks "Large"; the next opens as it was left.
CORVEX_TEST_HELPER(prefsFirstProcess)
{
    ShellRig rig;
    PreferencesWindowController& prefs = openPreferencesFromTheMenu(rig);
    clickToolbarItem(prefs, QStringLiteral("AdvancedPreferences"));
    prefs.window()->move(300, 1000 - 700); // Qt's y runs down from the screen's top
    auto advanced =
        std::dynamic_pointer_cast<AdvancedPreferencesViewController>(prefs.selectedViewController());
    if (!advanced)
        return 2;
    advanced->textSizePopup()->setFocus();
    QTest::keyClick(advanced->textSizePopup(), Qt::Key_Down);
    rig.settle([] {
        return shellDefaults().stringForKey(PreferencesWindowController::FrameTopLeftKey) ==
               QStringLiteral("{300, 700}");
    });
    return shellDefaults().synchronize().ok() ? 0 : 3;
}

CORVEX_TEST_HELPER(prefsSecondProcess)
{
    ShellRig rig;
    PreferencesWindowController& prefs = openPreferencesFromTheMenu(rig);
    auto advanced =
        std::dynamic_pointer_cast<AdvancedPreferencesViewController>(prefs.selectedViewController());
    const QString line = (prefs.selectedViewController() ? prefs.selectedViewController()->identifier()
                                                         : QStringLiteral("none")) +
                         QLatin1Char('|') + toString(topLeftOf(*prefs.window())) + QLatin1Char('|') +
                         (advanced ? advanced->textSizePopup()->currentText() : QString());
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

TEST(Preferences, ASecondProcessOpensOnThePaneCornerAndSizeTheFirstLeft)
{
    auto first = HelperProcess::start(QStringLiteral("prefsFirstProcess"));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->wait(), 0);
    QFile file(UserDefaults::standardFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << UserDefaults::standardFilePath().toStdString();
    const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(stored.value(PreferencesWindowController::SelectedIdentifierKey).toString(),
              QStringLiteral("AdvancedPreferences"));
    EXPECT_EQ(stored.value(PreferencesWindowController::FrameTopLeftKey).toString(),
              QStringLiteral("{300, 700}"));
    EXPECT_EQ(stored.value(Globals::FontSizeFactorKey).toInt(), 6);

    auto second = HelperProcess::start(QStringLiteral("prefsSecondProcess"));
    ASSERT_TRUE(second);
    const std::optional<QByteArray> line = second->readLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, QByteArray("AdvancedPreferences|{300, 700}|Large"));
    EXPECT_EQ(second->wait(), 0);
}

TEST(PreferencesController, StoredCornersAndPaneSizesAreUsedOnlyWhenTheyFitAScreen)
{
    ScreenFacade::ScopedOverride screen({kPrefsScreen});
    struct Case
    {
        QString topLeft;
        QString paneFrame;
        bool cornerUsed;
        Size expected;
    };
    const std::vector<Case> cases{
        {QStringLiteral("{300, 700}"), QStringLiteral("{{0, 0}, {400, 250}}"), true, Size(400, 250)},
        {QStringLiteral("{5000, 5000}"), QStringLiteral("{{0, 0}, {-5, 1e300}}"), false, Size(300, 200)},
        {QStringLiteral("no point"), QStringLiteral("{{0, 0}, {90000, 90000}}"), false, Size(1600, 0)},
        {QStringLiteral("{-10, 700}"), QStringLiteral("{{0, 0}, {0, 0}}"), false, Size(300, 200)},
        {QStringLiteral("{1e999, 700}"), QStringLiteral("nothing"), false, Size(300, 200)}};
    for (const Case& c : cases) {
        UserDefaults& defaults = shellDefaults();
        defaults.setString(PreferencesWindowController::FrameTopLeftKey, c.topLeft);
        defaults.setString(PreferencesWindowController::frameKeyForIdentifier(QStringLiteral("Grow")),
                           c.paneFrame);
        PreferencesWindowController prefs({std::make_shared<PrefsTestPane>(QStringLiteral("Grow"), true)});
        PreferencesWindow* window = prefs.window();
        const Size expected(c.expected.width,
                            c.expected.height > 0 ? c.expected.height : 1000 - window->toolbarHeight());
        EXPECT_EQ(window->contentSize(), expected) << c.paneFrame.toStdString();
        const Rect frame = window->frame();
        if (c.cornerUsed)
            EXPECT_EQ(topLeftOf(*window), pointFromString(c.topLeft)) << c.topLeft.toStdString();
        else
            EXPECT_EQ(frame.origin.x, std::floor((1600 - frame.size.width) / 2)) << c.topLeft.toStdString();
        EXPECT_TRUE(ScreenFacade::intersectsAnyVisibleFrame(frame)) << c.topLeft.toStdString();
    }
}

TEST(PreferencesController, ResizingAndMovingTheWindowStoresThePaneSizeAndTheCorner)
{
    ScreenFacade::ScopedOverride screen({kPrefsScreen});
    PreferencesWindowController prefs({std::make_shared<PrefsTestPane>(QStringLiteral("Grow"), true)});
    prefs.showWindow();
    PreferencesWindow* window = prefs.window();
    EXPECT_EQ(window->minimumWidth(), 300);
    EXPECT_EQ(window->maximumWidth(), QWIDGETSIZE_MAX);
    window->resize(420, 260 + int(window->toolbarHeight()));
    EXPECT_EQ(shellDefaults().stringForKey(
                  PreferencesWindowController::frameKeyForIdentifier(QStringLiteral("Grow"))),
              QStringLiteral("{{0, 0}, {420, 260}}"));
    window->move(100, 200);
    EXPECT_EQ(shellDefaults().stringForKey(PreferencesWindowController::FrameTopLeftKey),
              QStringLiteral("{100, 800}"));
}

TEST(PreferencesController, APaneThatKeepsItsEditingKeepsTheWindowAndTheTabsCycle)
{
    ScreenFacade::ScopedOverride screen({kPrefsScreen});
    auto a = std::make_shared<PrefsTestPane>(QStringLiteral("A"), false);
    auto b = std::make_shared<PrefsTestPane>(QStringLiteral("B"), false);
    PreferencesWindowController prefs({a, nullptr, b});
    EXPECT_EQ(prefs.toolbarItemIdentifiers(),
              (QStringList{QStringLiteral("A"), PreferencesWindowController::FlexibleSpaceIdentifier,
                           QStringLiteral("B")}));
    prefs.showWindow();
    EXPECT_EQ(prefs.selectedViewController(), a);
    EXPECT_EQ(prefs.window()->windowTitle(), QStringLiteral("A")); // no title: the pane's label
    EXPECT_EQ(a->appeared, 1);

    prefs.goNextTab();
    EXPECT_EQ(prefs.selectedViewController(), b);
    EXPECT_EQ(prefs.indexOfSelectedController(), 2);
    EXPECT_EQ(a->disappeared, 1);
    prefs.goNextTab();
    EXPECT_EQ(prefs.selectedViewController(), a);
    prefs.goPreviousTab();
    EXPECT_EQ(prefs.selectedViewController(), b);
    prefs.selectControllerAtIndex(1); // the placeholder
    prefs.selectControllerAtIndex(7);
    EXPECT_EQ(prefs.selectedViewController(), b);

    // A pane that keeps its editing refuses the switch (the toolbar goes back) and the close.
    b->commits = false;
    clickToolbarItem(prefs, QStringLiteral("A"));
    EXPECT_EQ(prefs.selectedViewController(), b);
    EXPECT_TRUE(prefs.toolbarItemForIdentifier(QStringLiteral("B"))->isChecked());
    EXPECT_FALSE(prefs.window()->close());
    EXPECT_TRUE(prefs.window()->isVisible());
    b->commits = true;
    EXPECT_TRUE(prefs.window()->close());
}

TEST(PreferencesGeneral, ICloudConnectOptsInAndTheButtonFollowsTheBackEndStatus)
{
    ShellRig rig; // registers the real back ends first
    RegisteredFolderBackEnd backEnd(IdeaDocument::ICloudLocation);
    PreferencesWindowController& prefs = openPreferencesFromTheMenu(rig);
    auto general = generalPane(prefs);
    ASSERT_TRUE(general);
    QPushButton* button = general->iCloudConnectButton();
    EXPECT_EQ(button->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(button->icon().isNull());
    EXPECT_EQ(general->iCloudFooterText()->text(),
              QStringLiteral("Workspace for storing documents in iCloud (syncs with iOS devices)"));
    EXPECT_EQ(general->dropboxFooterText()->text(),
              QStringLiteral("Workspace in Dropbox (multiple platforms)"));

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(Globals::userHasOptedForICloud());
    EXPECT_EQ(button->text(), QStringLiteral("Deactivate"));
    ASSERT_TRUE(rig.settle([&] { return backEnd.state != nullptr; }));
    backEnd.state->reportStatus(0); // workspace status 1
    ASSERT_TRUE(rig.settle([&] { return imageOf(button) == QStringLiteral("sync"); }))
        << imageOf(button).toStdString();
    EXPECT_FALSE(button->icon().isNull());
    savePrefsRendering(*prefs.window(), QStringLiteral("general_icloud_sync.png"));
    backEnd.state->reportStatus(3); // workspace status 4
    ASSERT_TRUE(rig.settle([&] { return imageOf(button) == QStringLiteral("cloud"); }));
    backEnd.state->reportStatus(1); // workspace status 2
    ASSERT_TRUE(rig.settle([&] { return imageOf(button) == QStringLiteral("error"); }));
    EXPECT_EQ(general->iCloudFooterText()->text(),
              QStringLiteral("Note: Last iCloud operation did not succeed."));
    savePrefsRendering(*prefs.window(), QStringLiteral("general_icloud_error.png"));

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(Globals::userHasOptedForICloud());
    EXPECT_EQ(button->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(imageOf(button).isEmpty());
}

TEST(PreferencesGeneral, AnOptedInLocationThatNoBackEndServesShowsItsError)
{
    ShellRig rig;
    // The launch registers the Dropbox back end; this case is about a location none serves.
    const PersistenceStateFactory::Maker dropbox =
        PersistenceStateFactory::registerMaker(IdeaDocument::DropboxLocation, {});
    Globals::optForDropbox(true);
    auto general = generalPane(openPreferencesFromTheMenu(rig));
    ASSERT_TRUE(general);
    EXPECT_EQ(general->dropboxConnectButton()->text(), QStringLiteral("Deactivate"));
    EXPECT_EQ(imageOf(general->dropboxConnectButton()), QStringLiteral("error"));
    EXPECT_EQ(general->dropboxFooterText()->text(),
              QStringLiteral("Note: Last Dropbox operation did not succeed."));
    EXPECT_EQ(general->iCloudConnectButton()->text(), QStringLiteral("Connect"));
    PersistenceStateFactory::registerMaker(IdeaDocument::DropboxLocation, dropbox);
}

TEST(PreferencesGeneral, DropboxConnectSignsInThroughTheBrowserAndTheRedirectOptsIn)
{
    ShellRig rig;
    // In place of the service the assembly registered as the launch began.
    auto signIn = std::make_shared<PreferencesSignInDouble>();
    DropboxSignInService::setRegistered(signIn);
    RegisteredFolderBackEnd backEnd(IdeaDocument::DropboxLocation);
    Application& application = rig.application;
    const QString folder = testDir() + QStringLiteral("/instance");
    const QStringList schemes{DropboxSignInService::redirectScheme()};
    SingleInstance primary(schemes, folder);
    ASSERT_EQ(primary.claim(), SingleInstance::Role::Primary);
    primary.setMessageHandler(
        [&application](const InstanceMessage& m) { application.deliverInstanceMessage(m); });

    auto general = generalPane(openPreferencesFromTheMenu(rig));
    ASSERT_TRUE(general);
    QPushButton* button = general->dropboxConnectButton();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(rig.urls->opened.size(), 1);
    EXPECT_EQ(rig.urls->opened.front(), signIn->signInPage());
    EXPECT_FALSE(Globals::userHasOptedForDropbox());
    EXPECT_EQ(button->text(), QStringLiteral("Connect"));

    // The browser hands the redirect to a second launch, which passes it on over the socket.
    SingleInstance secondary(schemes, folder);
    ASSERT_EQ(secondary.claim(), SingleInstance::Role::Secondary);
    ASSERT_TRUE(secondary.send((DropboxSignInService::redirectScheme() +
                                QStringLiteral("://1/connect?code=c&state=") +
                                PreferencesSignInDouble::State + QLatin1Char('\n'))
                                   .toUtf8()));
    ASSERT_TRUE(rig.settle([] { return Globals::userHasOptedForDropbox(); }));
    EXPECT_TRUE(rig.settle([&] { return button->text() == QStringLiteral("Deactivate"); }));
    EXPECT_FALSE(imageOf(button).isEmpty());

    // Deactivate signs out; with a client signed in already, Connect opts in without a browser.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(Globals::userHasOptedForDropbox());
    EXPECT_EQ(signIn->unlinks, 1);
    EXPECT_EQ(button->text(), QStringLiteral("Connect"));
    signIn->authorized = true;
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(Globals::userHasOptedForDropbox());
    EXPECT_EQ(signIn->authorizations, 1);
    EXPECT_EQ(rig.urls->opened.size(), 1);
    DropboxSignInService::setRegistered(nullptr);
}

// "Connect" where no browser comes up (none installed, or one that will not run as root):
// an alert gives the sign-in page's address to open by hand, once for each press.
TEST(PreferencesGeneral, DropboxConnectWithoutABrowserGivesTheAddress)
{
    ShellRig rig;
    auto signIn = std::make_shared<PreferencesSignInDouble>();
    DropboxSignInService::setRegistered(signIn);
    rig.urls->starts = false;
    auto general = generalPane(openPreferencesFromTheMenu(rig));
    ASSERT_TRUE(general);
    for (int press = 1; press <= 2; ++press) {
        QTest::mouseClick(general->dropboxConnectButton(), Qt::LeftButton);
        ASSERT_TRUE(rig.settle([&] { return rig.alerts->presentedCount() == press; })) << "press " << press;
        const Alert& alert = rig.alerts->presented().back();
        EXPECT_EQ(alert.messageText, GeneralPreferencesViewController::SignInWithoutBrowserTitle);
        EXPECT_TRUE(alert.informativeText.contains(signIn->signInPage().toString(QUrl::FullyEncoded)))
            << alert.informativeText.toStdString();
        EXPECT_EQ(general->dropboxConnectButton()->text(), QStringLiteral("Connect"));
    }
    // Whatever the presses left on the main queue has run by now: no alert more.
    rig.time.advance(60.0);
    EXPECT_EQ(rig.alerts->presentedCount(), 2);
    EXPECT_FALSE(Globals::userHasOptedForDropbox());
    DropboxSignInService::setRegistered(nullptr);
}

} // namespace corvex::test
