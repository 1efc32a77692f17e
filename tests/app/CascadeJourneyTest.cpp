// New windows step down and to the right from the window the user last worked in, never on top
// of it: File > New iCloud Window twice, then a document handed over by `corvex FILE` while
// Corvex runs; on the bare X server and under a window manager.

#include "model/Globals.h"
#include "shell/MyWindow.h"
#include "shell/WindowGeometry.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"

#include <QWidget>

namespace corvex::test {

namespace {

class CascadeJourney : public AppJourney, public ::testing::WithParamInterface<Desktop>
{
protected:
    // Waits for the next window to open; null when none did.
    static std::shared_ptr<MyWindow> nextWindow(std::size_t before)
    {
        if (!waitFor([before] { return windows().size() > before; }, 20.0))
            return nullptr;
        return windows().back();
    }

    // Where the window shows its content on the screen (Qt's coordinates, y down).
    static QPoint placeOf(MyWindow& window) { return window.hostWidget()->geometry().topLeft(); }
};

} // namespace

TEST_P(CascadeJourney, NewWindowsStepAwayFromTheLastWindowWorkedIn)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString document =
        UserFiles::writeDocument(QStringLiteral("Trip.corvex"), text(QStringLiteral("Trip")));
    ASSERT_TRUE(launch());
    std::shared_ptr<MyWindow> last = windows().front();
    ASSERT_TRUE(activate(*last));
    const int step = int(WindowGeometry::CascadeStep);
    // The first window is near the screen's top: the cascade applies.
    ASSERT_LT(placeOf(*last).y(), int(WindowGeometry::CascadeTopDistance));

    for (int i = 0; i < 2; ++i) {
        const QPoint from = placeOf(*last);
        ASSERT_TRUE(
            UserInput::chooseMenuBarItem(*last, QStringLiteral("File"), QStringLiteral("New iCloud Window"))
                .ran());
        std::shared_ptr<MyWindow> opened = nextWindow(std::size_t(i) + 1);
        ASSERT_NE(opened, nullptr) << "no new window";
        // As the user sees it: the new window comes up as the one worked in. Under a window
        // manager its focus arrives a moment after the map, and a click elsewhere before that
        // would be taken back.
        ASSERT_TRUE(waitFor([&] { return opened->hostWidget()->isActiveWindow() && opened->isKeyWindow(); }))
            << "the new window did not become the active one";
        EXPECT_TRUE(waitFor([&] { return placeOf(*opened) == from + QPoint(step, step); }))
            << "New iCloud Window " << i + 1 << " opened at (" << placeOf(*opened).x() << ", "
            << placeOf(*opened).y() << "), the window it came from at (" << from.x() << ", " << from.y()
            << ")";
        last = opened;
    }

    // The user goes back to the first window, then opens a document from a terminal.
    std::shared_ptr<MyWindow> first = windows().front();
    ASSERT_TRUE(activate(*first));
    const QPoint from = placeOf(*first);
    auto handing = AppChild::startBinary({document});
    ASSERT_NE(handing, nullptr);
    std::shared_ptr<MyWindow> opened = nextWindow(3);
    ASSERT_NE(opened, nullptr) << "the handed-over document opened no window";
    EXPECT_TRUE(waitFor([&] { return placeOf(*opened) == from + QPoint(step, step); }))
        << "the handed-over document opened at (" << placeOf(*opened).x() << ", " << placeOf(*opened).y()
        << "), the last window worked in at (" << from.x() << ", " << from.y() << ")";
    // It ends once it has handed the document over (the instance's socket is the running one's).
    const AppEnding handed = handing->waitForEnd(20.0);
    EXPECT_TRUE(handed.ended && handed.signal == 0 && handed.exitCode == 0 && handed.crashRecords.isEmpty())
        << handed.describe().toStdString();
    screenshot(QStringLiteral("cascade-") + QLatin1String(desktopName(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Desktops, CascadeJourney, kEachDesktop, desktopTestName);

} // namespace corvex::test
