// A document being read when the user quits: the reader is held at the formats' gate, so the
// read never ends; the windows keep answering meanwhile (Ctrl+Q is a key press they take), and
// the quit, by Ctrl+Q or SIGTERM, ends the application at once, cleanly, with its windows
// saved, without waiting for the reader.

#include "formats/ExportImport.h"
#include "home/HomeViewController.h"
#include "model/Globals.h"
#include "platform/core/MainQueue.h"
#include "shell/AppDelegate.h"
#include "shell/MyWindow.h"
#include "tests/app/AppChild.h"
#include "tests/app/AppJourney.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"

#include <QJsonArray>
#include <QJsonObject>
#include <condition_variable>
#include <csignal>
#include <mutex>

namespace corvex::test {

namespace {

// A gate nothing in the child opens. Never destroyed: the held reader still waits on it while
// the process ends.
struct ClosedGate
{
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

// Ctrl+Q in the key window.
void pressQuitKeys()
{
    for (const auto& window : AppJourney::windows()) {
        if (window->isKeyWindow()) {
            UserInput::pressKey(*window, Qt::Key_Q, Qt::ControlModifier);
            return;
        }
    }
    AppChild::tell("no key window");
}

// Arguments: the document to open, "keys" to quit with Ctrl+Q once the reader is held.
CORVEX_APP_SCRIPT(open_a_document_held_at_the_gate)
{
    auto* gate = new ClosedGate;
    const bool byKeys = arguments.value(1) == QLatin1String("keys");
    ExportImport::setReadingGate([gate, byKeys] {
        // Told from the main queue: that it is told at all shows the main thread is free.
        MainQueue::post([byKeys] {
            AppChild::tell("held");
            if (byKeys)
                pressQuitKeys();
        });
        std::unique_lock lock(gate->mutex);
        gate->opened.wait(lock, [gate] { return gate->open; });
        AppChild::tell("gate opened");
    });
    auto home = AppJourney::waitForScreen<HomeViewController>({}, 20.0);
    if (!home || !AppJourney::activate(AppJourney::windowOf(*home))) {
        AppChild::tell("no home screen");
        return;
    }
    AppDelegate::shared()->doOpenLocalFile(arguments.value(0), {});
}

class ReadingQuitJourney : public AppJourney, public ::testing::WithParamInterface<bool>
{};

} // namespace

TEST_P(ReadingQuitJourney, AQuitWhileADocumentIsReadEndsTheApplicationCleanly)
{
    const bool byKeys = GetParam();
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString path = UserFiles::writeDocument(
        QStringLiteral("Trip.corvex"), text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"))}));
    auto child = AppChild::startScript(QStringLiteral("open_a_document_held_at_the_gate"),
                                       {path, byKeys ? QStringLiteral("keys") : QString()});
    ASSERT_NE(child, nullptr);
    bool held = false;
    while (const auto line = child->readLine(60.0)) {
        ASSERT_NE(*line, QByteArray("no home screen"));
        ASSERT_NE(*line, QByteArray("no key window"));
        ASSERT_NE(*line, QByteArray("gate opened"));
        if (*line == "held") {
            held = true;
            break;
        }
    }
    ASSERT_TRUE(held) << "the reader never reached the gate; the application "
                      << child->waitForEnd(1.0).describe().toStdString();
    if (!byKeys) {
        ASSERT_TRUE(child->signal(SIGTERM));
    }
    const AppEnding ending = child->waitForEnd(10.0);
    EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
    while (const auto line = child->readLine(0.5))
        EXPECT_NE(*line, QByteArray("gate opened"));
    // The home window the quit saved comes back at the next launch.
    EXPECT_GE(UserFiles::defaults()
                  .value(QStringLiteral("CurrentState"))
                  .toObject()
                  .value(QStringLiteral("controllerStates"))
                  .toArray()
                  .size(),
              1);
}

INSTANTIATE_TEST_SUITE_P(ByKeysAndBySignal, ReadingQuitJourney, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "CtrlQ" : "Sigterm");
                         });

} // namespace corvex::test
