// `corvex FILE` as a user types it: the launch shows the file's window and nothing more, and a
// file that cannot be read still leaves the user a window once they were told why.

#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"

#include <QDir>
#include <QUrl>

namespace corvex::test {

namespace {

class LaunchFileJourney : public MindMapJourney
{};

} // namespace

TEST_F(LaunchFileJourney, AFileOnTheCommandLineOpensItsWindowAlone)
{
    // The iCloud location opted for: without the file, the launch's first window is its home.
    auto trip = launchWithDocument(text(QStringLiteral("Trip"), {text(QStringLiteral("Tent"))}));
    ASSERT_NE(trip, nullptr) << "the file's window never showed its mind map";
    MyWindow& window = windowOf(*trip);
    EXPECT_EQ(window.docURL().fileName(), QStringLiteral("Trip.corvex"));
    // No second window comes later, and no untitled document's idea editor shows.
    EXPECT_FALSE(waitFor([] { return windows().size() != 1 || !otherTopLevels().empty(); }, 1.5))
        << windows().size() << " windows";
    EXPECT_EQ(alerts().presentedCount(), 0);
    screenshot(QStringLiteral("launch-file-alone"));
}

TEST_F(LaunchFileJourney, AFileThatCannotBeReadIsToldAndTheFirstWindowOpensAfter)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString missing = QDir::home().filePath(QStringLiteral("Gone.corvex"));
    std::size_t windowsAtAlert = 99;
    alerts().setHandler([&](const Alert&) -> std::optional<int> {
        windowsAtAlert = windows().size();
        return std::nullopt;
    });
    ASSERT_TRUE(launch({missing}));
    auto home = waitForScreen<HomeViewController>();
    ASSERT_NE(home, nullptr) << "no first window after the failed file";
    EXPECT_EQ(alerts().presentedCount(), 1);
    EXPECT_EQ(windowsAtAlert, 0u);
    EXPECT_FALSE(waitFor([] { return windows().size() != 1; }, 1.0)) << windows().size() << " windows";
}

} // namespace corvex::test
