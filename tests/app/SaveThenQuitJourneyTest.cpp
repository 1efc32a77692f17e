// A save the user asked for, still being written when the user quits: the write is held at
// the disk (FaultShim) until the quit has begun, by Ctrl+Q or by SIGTERM. Corvex waits for it:
// the file holds the edit, and the end is clean.

#include "mindmap/SolarSystemViewController.h"
#include "platform/ui/Application.h"
#include "shell/MyWindow.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <csignal>

namespace corvex::test {

namespace {

struct SaveThenQuitCase
{
    const char* name;
    bool byKeys; // Ctrl+Q, else SIGTERM
};

const SaveThenQuitCase kSaveThenQuitCases[] = {
    {"CtrlQ", true},
    {"Sigterm", false},
};

void PrintTo(const SaveThenQuitCase& quit, std::ostream* out)
{
    *out << quit.name;
}

// Arguments: the case's name, "keys" for Ctrl+Q, the document's path. Tells "held" once the
// save's write waits at the disk, then quits by the keys or waits for the test's signal, and
// lets the write go on only once the quit has been asked for. Tells, when the quit's steps
// begin, whether the file was written by then.
CORVEX_APP_SCRIPT(save_then_quit)
{
    const QString path = arguments.value(2);
    const QByteArray before = readFile(path);
    Application::instance()->addQuitObserver([path, before] {
        AppChild::tell(readFile(path) == before ? "the quit began before the file was written"
                                                : "the file was written before the quit began");
    });
    auto trip = MindMapJourney::mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    if (!trip)
        AppChild::fail("the map never showed");
    MyWindow& window = AppJourney::windowOf(*trip);
    if (!MindMapJourney::addIdea(*trip, QStringLiteral("Tickets")))
        AppChild::fail("no idea added");
    // Never destroyed: the process ends with it installed.
    auto* disk = new FaultShim;
    disk->holdWritesUnder(QDir::homePath().toStdString());
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    if (!AppJourney::waitFor([disk] { return disk->waitForHeldWrite(0.0); }))
        AppChild::fail("the save wrote nothing");
    AppChild::tell("held");
    if (arguments.value(1) == QLatin1String("keys"))
        UserInput::pressKey(window, Qt::Key_Q, Qt::ControlModifier);
    if (!AppJourney::waitFor([] { return Application::instance()->isQuitting(); }, 20.0))
        AppChild::fail("no quit");
    AppJourney::screenshot(QStringLiteral("save-then-quit-") + arguments.value(0));
    disk->releaseWrites();
}

class SaveThenQuitJourney : public AppJourney, public ::testing::WithParamInterface<SaveThenQuitCase>
{};

} // namespace

TEST_P(SaveThenQuitJourney, TheFileHoldsTheEditAndCorvexEndsCleanly)
{
    const SaveThenQuitCase& quit = GetParam();
    const QString path = UserFiles::writeDocument(
        QStringLiteral("Trip.corvex"), text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"))}));
    ASSERT_FALSE(path.isEmpty());
    auto child = AppChild::startScript(
        QStringLiteral("save_then_quit"),
        {QString::fromLatin1(quit.name), quit.byKeys ? QStringLiteral("keys") : QString(), path}, {path});
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(child->readLine(60.0).value_or("(nothing)").toStdString(), "held")
        << child->waitForEnd(1.0).describe().toStdString();
    if (!quit.byKeys) {
        ASSERT_TRUE(child->signal(SIGTERM));
    }
    EXPECT_EQ(child->readLine(30.0).value_or("(nothing)").toStdString(),
              "the file was written before the quit began");
    const AppEnding ending = child->waitForEnd(30.0);
    EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
    EXPECT_NE(ideaWithText(UserFiles::readDocument(path), QStringLiteral("Tickets")), nullptr)
        << "the save was cut off by the quit";
}

INSTANTIATE_TEST_SUITE_P(Quits, SaveThenQuitJourney, ::testing::ValuesIn(kSaveThenQuitCases),
                         [](const ::testing::TestParamInfo<SaveThenQuitCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace corvex::test
