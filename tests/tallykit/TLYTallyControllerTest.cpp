#include "kit/net/LOMNetworkClient.h"
#include "platform/core/MainQueue.h"
#include "tallykit/TLYEvent.h"
#include "tallykit/TLYLogger.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace corvex;
using Route = test::VendorServiceStandIn::Route;

namespace {

// One analytics run against the stand-in on an auto-advancing virtual clock.
struct ControllerRun
{
    test::ScopedVirtualTime time{1000.0, test::VirtualScheduler::Mode::AutoAdvance};
    test::VendorServiceStandIn vendor{"com.tallowfen.corvex"};
    std::unique_ptr<test::TallyRegistry> registry = std::make_unique<test::TallyRegistry>();
    std::shared_ptr<TLYTallyController> controller;
    LOMNetworkClient::RandomSource previousRandom = LOMNetworkClient::setRandomSource([] { return 0.5; });

    ControllerRun() { EXPECT_TRUE(vendor.start()); }
    ~ControllerRun()
    {
        stop();
        LOMNetworkClient::setRandomSource(previousRandom);
    }
    void settings(const QByteArray& analyticsMembers = QByteArray())
    {
        test::tallyDeliverSettings(registry->loom, vendor.analyticsSettingsBody(analyticsMembers));
    }
    void start()
    {
        controller = TLYTallyController::create(std::nullopt, registry->loom, test::tallyRoot());
        idle();
    }
    void stop()
    {
        if (!controller)
            return;
        idle();
        controller->waitUntilIdle();
        controller.reset();
    }
    // Pumps until the event queue is empty and no upload is in flight for a moment.
    void idle()
    {
        test::runUntil([&] { return controller->eventQueue()->operationCount() == 0; }, 30);
    }
    void post(const char* notification)
    {
        NotificationCenter::defaultCenter().post(QString::fromLatin1(notification));
        idle();
    }
    int uploadsAnswered(int status) const
    {
        int count = 0;
        for (const auto& upload : vendor.eventsUploads())
            count += upload.status == status ? 1 : 0;
        return count;
    }
    QStringList receivedNames() const
    {
        QStringList names;
        for (const auto& upload : vendor.eventsUploads()) {
            for (const QByteArray& line : upload.lines)
                names.append(QString::fromUtf8(line.split('\t').value(1)));
        }
        return names;
    }
};

} // namespace

TEST(TLYTallyController, HoldsPackagesUntilSettingsArriveThenSendsThemAll)
{
    ControllerRun run;
    run.start(); // a first install: "app_installed" rotates its own log at once
    run.post("NSApplicationDidBecomeActiveNotification");
    EXPECT_TRUE(
        test::runUntil([] { return test::tallyFiles(QStringLiteral("multipartmime")).size() == 2; }, 30));
    EXPECT_EQ(run.vendor.count(Route::Events), 0);
    run.settings();
    ASSERT_TRUE(test::runUntil([&] { return run.uploadsAnswered(202) == 2; }, 30));
    EXPECT_TRUE(
        test::runUntil([] { return test::tallyFiles(QStringLiteral("multipartmime")).isEmpty(); }, 30));
    const QStringList names = run.receivedNames();
    EXPECT_TRUE(names.contains(QStringLiteral("app_installed")));
    EXPECT_TRUE(names.contains(QStringLiteral("app_launched")));
    EXPECT_TRUE(names.contains(QStringLiteral("app_became_active")));
    for (const auto& upload : run.vendor.eventsUploads()) {
        EXPECT_TRUE(upload.problem.isEmpty()) << upload.problem.toStdString();
        EXPECT_EQ(upload.partName, upload.boundary + ".gz");
        ASSERT_FALSE(upload.lines.isEmpty());
        EXPECT_TRUE(upload.lines.front().contains("\tmetadata\t"));
    }
    const auto request = run.vendor.requests(Route::Events).front();
    EXPECT_EQ(request.header("X-BLACKBOX-API-KEY"), QByteArray("tally-test-key"));
    EXPECT_EQ(request.header("User-Agent"), QByteArray("Tally Mac SDK/1.3.5"));
    // Terminating does not rotate.
    run.post("NSApplicationWillTerminateNotification");
    EXPECT_EQ(test::tallyFiles(QStringLiteral("log")).size(), 1);
}

TEST(TLYTallyController, SixHoursOfOutageLoseNoPackageAndTheNextStartSendsThemAll)
{
    ControllerRun run;
    test::VendorServiceStandIn::Answer unavailable;
    unavailable.status = 503;
    run.vendor.setDefaultAnswer(Route::Events, unavailable);
    run.settings();
    run.start();
    run.post("NSApplicationDidBecomeActiveNotification");
    run.post("NSApplicationWillResignActiveNotification");
    bool sixHours = false;
    MainQueue::postAfter(6 * 3600.0, [&] { sixHours = true; });
    // The install's package waits for the next start (its upload was made before the settings
    // were taken); the two others are sent, and retried until the retries are spent.
    QHash<QByteArray, int> attempts;
    auto spent = [&] {
        attempts.clear();
        for (const auto& upload : run.vendor.eventsUploads())
            ++attempts[upload.boundary];
        if (!sixHours || attempts.size() != 2 || run.controller->eventQueue()->operationCount() != 0)
            return false;
        return std::all_of(attempts.cbegin(), attempts.cend(), [](int count) { return count >= 12; });
    };
    ASSERT_TRUE(test::runUntil(spent, 60));
    for (auto attempt = attempts.cbegin(); attempt != attempts.cend(); ++attempt)
        EXPECT_EQ(attempt.value(), 1 + 11) << attempt.key().toStdString(); // the first send and 11 retries
    EXPECT_EQ(run.vendor.mostConcurrentUploadsOfOneBoundary(), 1);
    EXPECT_EQ(test::tallyFiles(QStringLiteral("multipartmime")).size(), 3);

    run.stop();
    run.registry = std::make_unique<test::TallyRegistry>(); // the next run of the program
    run.settings();
    test::VendorServiceStandIn::Answer accepted = test::VendorServiceStandIn::jsonAnswer("{}");
    accepted.status = 202;
    run.vendor.setDefaultAnswer(Route::Events, accepted);
    const int before = int(run.vendor.eventsUploads().size());
    run.start();
    ASSERT_TRUE(test::runUntil([&] { return run.uploadsAnswered(202) >= 3; }, 30));
    EXPECT_TRUE(
        test::runUntil([] { return test::tallyFiles(QStringLiteral("multipartmime")).isEmpty(); }, 30))
        << test::tallyFiles().join(u' ').toStdString();
    QSet<QByteArray> resent;
    for (std::size_t index = std::size_t(before); index < run.vendor.eventsUploads().size(); ++index)
        resent.insert(run.vendor.eventsUploads()[index].boundary);
    for (auto attempt = attempts.cbegin(); attempt != attempts.cend(); ++attempt)
        EXPECT_TRUE(resent.contains(attempt.key()));
    EXPECT_EQ(resent.size(), 3);
}

TEST(TLYTallyController, AFailedCompressionKeepsTheLogForTheNextStart)
{
    ControllerRun run;
    run.settings();
    run.start();
    run.controller->waitUntilIdle();
    const QStringList logs = test::tallyFiles(QStringLiteral("log")); // the log holding "app_launched"
    ASSERT_EQ(logs.size(), 1);
    {
        // The new event's line is the first write; compressing its log is the second.
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Write, 2, ENOSPC);
        run.post("NSApplicationWillResignActiveNotification");
        run.controller->waitUntilIdle();
    }
    EXPECT_TRUE(test::tallyFiles().contains(logs.front()));
    EXPECT_TRUE(test::tallyFiles(QStringLiteral("gz")).isEmpty());
    EXPECT_FALSE(run.receivedNames().contains(QStringLiteral("app_became_inactive")));

    run.stop();
    run.registry = std::make_unique<test::TallyRegistry>();
    run.settings();
    run.start();
    ASSERT_TRUE(test::runUntil(
        [&] { return run.receivedNames().contains(QStringLiteral("app_became_inactive")); }, 30));
    EXPECT_TRUE(run.receivedNames().contains(QStringLiteral("app_launched")));
    EXPECT_FALSE(test::tallyFiles().contains(logs.front()));
}

TEST(TLYTallyController, DisabledSettingsEmptyTheDirectoryAndStopRecording)
{
    ControllerRun run;
    run.start();
    EXPECT_FALSE(test::tallyFiles().isEmpty());
    test::tallyDeliverSettings(run.registry->loom, R"({"features":{"collect_analytics":false}})");
    run.idle();
    run.controller->waitUntilIdle();
    EXPECT_TRUE(test::tallyFiles().isEmpty());
    run.post("NSApplicationDidBecomeActiveNotification");
    EXPECT_TRUE(test::tallyFiles().isEmpty());
    // A second settings notification changes nothing.
    run.settings();
    run.post("NSApplicationDidBecomeActiveNotification");
    EXPECT_TRUE(test::tallyFiles().isEmpty());
}

TEST(TLYTallyController, ACrashGetsALogOfItsOwnWithThePreviousRunsMetadata)
{
    ControllerRun run;
    run.start();
    run.stop();
    run.registry = std::make_unique<test::TallyRegistry>(); // the next run of the program
    run.start(); // the first run's metadata is the previous one now
    const QDateTime crashed = QDateTime::fromSecsSinceEpoch(1767000000, Qt::UTC);
    run.controller->logCrashEvent(std::make_shared<TLYCrashEvent>(crashed, 0));
    run.idle();
    run.settings();
    ASSERT_TRUE(
        test::runUntil([&] { return run.receivedNames().contains(QStringLiteral("app_crashed")); }, 30));
    for (const auto& upload : run.vendor.eventsUploads()) {
        if (!upload.lines.join('\n').contains("\tapp_crashed\t"))
            continue;
        ASSERT_EQ(upload.lines.size(), 2);
        EXPECT_TRUE(upload.lines[1].startsWith(QByteArray::number(crashed.toMSecsSinceEpoch()) + '\t'));
        const QByteArray metadata = upload.lines[0].split('\t').value(3);
        EXPECT_NE(JsonText::parse(metadata).value().value(QStringLiteral("session_id")).toString(),
                  run.registry->loom.executionIdentifier());
    }
}

TEST(TLYTallyController, RefusesNamesThatBreakTheFramingAndFlushesByTimer)
{
    ControllerRun run;
    run.settings(",\"flush_interval_secs\":60,\"max_byte_size_per_file\":100");
    run.start();
    {
        test::LogCapture capture;
        run.controller->logEvent(std::make_shared<TLYCustomEvent>(QStringLiteral("bad\tname"), Value()));
        run.controller->logEvent(std::make_shared<TLYCustomEvent>(std::nullopt, Value()));
        run.idle();
        EXPECT_EQ(capture.count(QStringLiteral("Refusing")), 2);
    }
    // Nothing but the timer rotates the log holding "app_launched" (larger than 100 bytes).
    bool minute = false;
    MainQueue::postAfter(61.0, [&] { minute = true; });
    ASSERT_TRUE(test::runUntil([&] { return minute; }, 30));
    EXPECT_TRUE(
        test::runUntil([&] { return run.receivedNames().contains(QStringLiteral("app_launched")); }, 30));
    EXPECT_FALSE(run.receivedNames().join(u' ').contains(QStringLiteral("bad")));
}
