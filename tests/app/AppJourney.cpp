#include "tests/app/AppJourney.h"

#include "app/ApplicationAssembly.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/Application.h"
#include "platform/ui/Runners.h"
#include "platform/ui/UrlOpener.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindowController.h"
#include "shell/MyWindow.h"
#include "tests/app/UserInput.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseViewController.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <stdexcept>

namespace corvex::test {

namespace {

// The application's own name as its first argument; the test's arguments are not launch files.
int gArgumentCount = 1;
char gProgramName[] = "corvex";
char* gArguments[] = {gProgramName, nullptr};

QString currentTestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? QString::fromUtf8(info->test_suite_name()) + QLatin1Char('.') +
                      QString::fromUtf8(info->name())
                : QStringLiteral("unnamed");
}

} // namespace

AppJourney::AppJourney() = default;
AppJourney::~AppJourney() = default;

void AppJourney::SetUp()
{
    mApplication = std::make_unique<Application>(gArgumentCount, gArguments);
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
        << "the application tests run on real windows of their own X server";
    mAlerts = std::make_shared<ScriptedAlertRunner>();
    mFilePanels = std::make_shared<ScriptedFilePanelRunner>();
    mBrowser = std::make_shared<RecordingUrlOpener>();
    Runners::setAlertRunner(mAlerts);
    Runners::setFilePanelRunner(mFilePanels);
    mPreviousOpener = UrlOpener::setCurrent(mBrowser);
}

void AppJourney::TearDown()
{
    if (HasFailure())
        screenshot(QStringLiteral("failed-") + currentTestName());
    if (mDelegate) {
        disassembleApplication(*mApplication);
        mDelegate.reset();
    }
    UrlOpener::setCurrent(mPreviousOpener);
    Runners::reset();
    mApplication.reset();
    mWindowManager.reset();
}

bool AppJourney::runOn(Desktop desktop)
{
    if (desktop == Desktop::Bare)
        return true;
    mWindowManager = WindowManager::startOpenbox();
    return mWindowManager != nullptr;
}

bool AppJourney::launch(const QStringList& files, std::optional<std::size_t> windowsExpected)
{
    mApplication->setLaunchArguments(files);
    mDelegate = assembleApplication(*mApplication);
    if (mApplication->startUp().has_value())
        return false;
    // A launch ends with one window at least; a launch file adds its own once imported.
    const std::size_t expected = windowsExpected   ? *windowsExpected
                                 : files.isEmpty() ? 1
                                                   : std::size_t(files.size());
    return waitFor([expected] { return windows().size() >= expected; }, 20.0);
}

std::vector<std::shared_ptr<MyWindow>> AppJourney::windows()
{
    std::vector<std::shared_ptr<MyWindow>> shown;
    const std::shared_ptr<AppDelegate> delegate = AppDelegate::shared();
    if (!delegate)
        return shown;
    for (const auto& controller : delegate->windowControllers()) {
        const std::shared_ptr<MyWindow>& window = controller->myWindow();
        if (window && window->hasHostWidget() && window->hostWidget()->isVisible())
            shown.push_back(window);
    }
    return shown;
}

std::shared_ptr<BaseViewController> AppJourney::screenOf(const MyWindow& window)
{
    return window.controller();
}

MyWindow& AppJourney::windowOf(const BaseViewController& screen)
{
    auto* window = dynamic_cast<MyWindow*>(screen.myWindow());
    if (!window)
        throw std::logic_error("the screen is in no main window");
    return *window;
}

bool AppJourney::activate(Window& window)
{
    return UserInput::activate(window);
}

std::vector<QWidget*> AppJourney::otherTopLevels()
{
    std::vector<QWidget*> others;
    std::vector<QWidget*> mains;
    for (const auto& window : windows())
        mains.push_back(window->hostWidget());
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && std::find(mains.begin(), mains.end(), widget) == mains.end())
            others.push_back(widget);
    }
    return others;
}

Point AppJourney::seen(const std::optional<Point>& where)
{
    if (!where)
        throw std::runtime_error("the user does not see it on the screen");
    return *where;
}

bool AppJourney::popoverShows(double seconds)
{
    return waitFor([] { return !otherTopLevels().empty(); }, seconds);
}

bool AppJourney::closePopovers()
{
    for (QWidget* popover : otherTopLevels()) {
        if (QWindow* shown = popover->windowHandle())
            QTest::keyClick(shown, Qt::Key_Escape);
    }
    return waitFor([] { return otherTopLevels().empty(); }, 5.0);
}

bool AppJourney::waitFor(const std::function<bool()>& condition, double seconds)
{
    return runUntil(condition, seconds);
}

QString AppJourney::screenshot(const QString& name)
{
    // Animations started by the last step (planets appearing, fades) finish first.
    const double until = MediaClock::now() + 0.4;
    runUntil([until] { return MediaClock::now() > until; }, 1.0);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QString();
    QString fileName = name;
    fileName.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString path = testOutputDir() + QStringLiteral("/app-") + fileName + QStringLiteral(".png");
    screen->grabWindow(0).save(path);
    return path;
}

} // namespace corvex::test
