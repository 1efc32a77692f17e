#include "shell/WindowGeometry.h"

#include <gtest/gtest.h>

namespace corvex {

namespace {

struct PreparedCase
{
    Size visible;
    Size expected;
};

} // namespace

TEST(WindowGeometry, PreparedSizeHoldsBetweenTheLimits)
{
    const PreparedCase cases[] = {
        {Size(1440, 900), Size(1172, 760)},
        {Size(1024, 600), Size(1024, 540)},
        {Size(600, 500), Size(640, 520)},
        {Size(0, 0), Size(640, 520)},
    };
    for (const PreparedCase& c : cases) {
        const Rect rect = WindowGeometry::preparedContentRect(Rect(Point(), c.visible));
        EXPECT_EQ(rect.size, c.expected) << c.visible.width << "x" << c.visible.height;
    }
    // 1600 x 1000: centred, 26 above the middle (the first window of a fresh launch).
    EXPECT_EQ(WindowGeometry::preparedContentRect(Rect(0, 0, 1600, 1000)), Rect(214, 146, 1172, 760));
}

TEST(WindowGeometry, CascadesOnlyBelowAMainWindowNearTheTop)
{
    const Rect screen(0, 0, 1600, 1000);
    const Rect fresh(400, 250, 800, 500);
    // Top edge 299 below the screen's top: 30 right, 30 down.
    const Rect near(100, 1000 - 299 - 500, 800, 500);
    EXPECT_EQ(WindowGeometry::cascadedFrame(screen, near, fresh), Rect(130, 1000 - 299 - 30 - 500, 800, 500));
    // 300 or more below the top: the prepared frame stays.
    const Rect far(100, 1000 - 300 - 500, 800, 500);
    EXPECT_EQ(WindowGeometry::cascadedFrame(screen, far, fresh), fresh);
}

TEST(WindowGeometry, CascadeStopsInsideTheBottomRightCorner)
{
    const Rect screen(0, 0, 1600, 1000);
    const Rect main(1000, 200, 600, 800);
    const Rect fresh(0, 0, 800, 600);
    const Rect frame = WindowGeometry::cascadedFrame(screen, main, fresh);
    EXPECT_EQ(frame.origin.x, 1600 - 800 - 5);
    EXPECT_EQ(frame.origin.y, 1000 - 30 - 600);
    const Rect low = WindowGeometry::cascadedFrame(screen, Rect(0, 0, 600, 720), Rect(0, 0, 400, 700));
    EXPECT_EQ(low.origin.y, 5); // the bottom edge stops 5 above the screen's bottom
}

TEST(WindowGeometry, SavedFrameOffEveryScreenOrEmptyKeepsThePreparedOne)
{
    const Rect prepared(214, 146, 1172, 760);
    const std::vector<Rect> areas{Rect(0, 0, 1600, 1000)};
    EXPECT_EQ(WindowGeometry::restoredFrame(Rect(5000, 80, 800, 600), prepared, areas), prepared);
    EXPECT_EQ(WindowGeometry::restoredFrame(Rect(), prepared, areas), prepared);
    EXPECT_EQ(WindowGeometry::restoredFrame(Rect(10, 10, 0, 600), prepared, areas), prepared);
    EXPECT_EQ(WindowGeometry::restoredFrame(Rect(1500, 80, 800, 600), prepared, areas),
              Rect(1500, 80, 800, 600));
    EXPECT_EQ(WindowGeometry::restoredFrame(Rect(1500, 80, 800, 600), prepared, {}), prepared);
}

} // namespace corvex
