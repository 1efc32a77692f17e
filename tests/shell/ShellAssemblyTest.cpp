#include "tests/shell/ShellTestSupport.h"

#include "app/ApplicationAssembly.h"
#include "platform/core/AlertPresenter.h"
#include "platform/core/LaunchSeams.h"
#include "platform/ui/Application.h"
#include "platform/ui/UrlOpener.h"
#include "platform/ui/View.h"
#include "toolkit/ScreenFactory.h"

#include <gtest/gtest.h>

namespace corvex::test {

TEST(ShellAssembly, OnlyTheProgramsAssemblyInstallsTheReportingKitsStartHook)
{
    const struct
    {
        ReportingKitAtLaunch kit;
        bool hookBefore;
        bool hookAfter;
    } cases[] = {
        {ReportingKitAtLaunch::Start, false, true},
        {ReportingKitAtLaunch::LeaveOut, false, false},
        // A hook set by hand before the assembly stays.
        {ReportingKitAtLaunch::LeaveOut, true, true},
    };
    Application& application = shellApplication();
    const std::shared_ptr<AlertPresenter> alertPresenter = AlertPresenter::registered();
    const bool menuPresenter = View::hasContextMenuPresenter();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kit == ReportingKitAtLaunch::Start ? "start" : "leave out");
        ReportingKitLaunch::setHook(c.hookBefore ? ReportingKitLaunch::Hook([] {})
                                                 : ReportingKitLaunch::Hook());
        const std::shared_ptr<AppDelegate> delegate = assembleApplication(application, c.kit);
        EXPECT_EQ(ReportingKitLaunch::hasHook(), c.hookAfter);
        EXPECT_EQ(application.handler(), delegate.get());
        disassembleApplication(application);
        EXPECT_EQ(application.handler(), nullptr);
    }
    ReportingKitLaunch::setHook({});
    AlertPresenter::setRegistered(alertPresenter);
    if (!menuPresenter)
        View::setContextMenuPresenter(nullptr);
}

TEST(ShellAssembly, TheRigsScriptedRunnersWinOverWhatTheAssemblyInstalls)
{
    ShellRig rig;
    EXPECT_FALSE(ReportingKitLaunch::hasHook());
    // The launch's screens are the application's own.
    EXPECT_TRUE(ScreenFactory::hasScreen(MainWindowController::HomeScreenClass));
    EXPECT_TRUE(ScreenFactory::hasScreen(MainWindowController::MindMapScreenClass));

    rig.alerts->answerIndex(1);
    EXPECT_EQ(AlertPresenter::present(QStringLiteral("Report"), QStringLiteral("Send it?"),
                                      {QStringLiteral("Send"), QStringLiteral("Don't Send")}),
              AlertPresenter::FirstButtonReturn + 1);
    ASSERT_EQ(rig.alerts->presentedCount(), 1);
    EXPECT_EQ(rig.alerts->presented()[0].messageText, QStringLiteral("Report"));
    EXPECT_EQ(UrlOpener::current(), rig.urls);
}

} // namespace corvex::test
