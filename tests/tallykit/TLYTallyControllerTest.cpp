#include "tallykit/TLYTallyController.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMNetworkResponseHandler.h"
#include "platform/core/MainQueue.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/SysCalls.h"
#include "platform/net/UrlError.h"
#include "tallykit/TLYEvent.h"
#include "tallykit/TLYLogger.h"
#include "tallykit/TLYUploader.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>

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

// An upload operation looks at its package's size first, then the first one opens it to send
// it. A second upload operation of one package is held at its look until the first upload has been answered
// and its end is queued behind it: it then runs after the first upload ended and before the package is
// deleted, and the deletion waits for what it started. That is the interleaving in which leftovers went up
// twice at about one start in fifteen.
struct SecondUploadHold
{
    static inline const test::VendorServiceStandIn* vendor = nullptr;
    static inline std::mutex mutex;
    static inline QHash<QString, int> looks;
    static inline std::atomic<int> held{0};

    static bool onEventQueue(const QString& name)
    {
        OperationQueue* queue = OperationQueue::currentQueue();
        return vendor && queue && queue->name() == TLYTallyController::EventQueueName &&
               name.endsWith(QStringLiteral(".multipartmime"));
    }

    static int uploadsOf(const QString& name)
    {
        const QByteArray boundary = name.section(u'.', 0, 0).toLatin1();
        const auto uploads = vendor->eventsUploads();
        return int(std::count_if(uploads.cbegin(), uploads.cend(),
                                 [&](const auto& upload) { return upload.boundary == boundary; }));
    }

    static void waitFor(const std::function<bool()>& condition)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition() && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }

    // The first upload opens its package to start it.
    static int open(const char* path, int flags, mode_t mode)
    {
        const QString name = QFileInfo(QFile::decodeName(path)).fileName();
        if (onEventQueue(name)) {
            std::lock_guard lock(mutex);
            looks[name] = std::max(looks.value(name), 1);
        }
        return ::open(path, flags, mode);
    }

    static int stat(const char* path, struct stat* info)
    {
        const QString name = QFileInfo(QFile::decodeName(path)).fileName();
        if (onEventQueue(name)) {
            bool second = false;
            {
                std::lock_guard lock(mutex);
                second = looks.value(name) == 1;
                if (second)
                    looks[name] = 2;
            }
            if (second) {
                ++held;
                OperationQueue& queue = *OperationQueue::currentQueue();
                waitFor([&] { return uploadsOf(name) == 1; });
                // Nothing else is under way: the next operation queued is the first upload's end.
                const int queued = queue.operationCount();
                waitFor([&] { return queue.operationCount() > queued; });
            }
        }
        return ::stat(path, info);
    }

    static int unlink(const char* path)
    {
        const QString name = QFileInfo(QFile::decodeName(path)).fileName();
        if (onEventQueue(name)) {
            std::lock_guard lock(mutex);
            if (looks.value(name) >= 2)
                waitFor([&] { return uploadsOf(name) == 2; });
        }
        return ::unlink(path);
    }
};

TEST(TLYTallyController, LeftoverPackagesGoUpOnceWhenSettingsAreStoredAtStart)
{
    ControllerRun run;
    run.start(); // without settings: the install's package waits
    run.stop();
    // Only the package is left: no other upload runs beside it.
    for (const QString& log : test::tallyFiles(QStringLiteral("log")))
        QFile::remove(test::tallyEventDir() + u'/' + log);
    ASSERT_EQ(test::tallyFiles().size(), 1) << test::tallyFiles().join(u' ').toStdString();
    run.registry = std::make_unique<test::TallyRegistry>(); // the next run, settings stored
    run.settings();
    SecondUploadHold::vendor = &run.vendor;
    SecondUploadHold::looks.clear();
    SecondUploadHold::held = 0;
    SysCalls::Hooks hooks;
    hooks.open = &SecondUploadHold::open;
    hooks.stat = &SecondUploadHold::stat;
    hooks.unlink = &SecondUploadHold::unlink;
    SysCalls::installHooks(hooks);
    run.start();
    const bool sent = test::runUntil(
        [] {
            return test::tallyFiles(QStringLiteral("multipartmime")).isEmpty() &&
                   test::tallyFiles(QStringLiteral("log")).size() == 1;
        },
        30);
    run.stop();
    SysCalls::removeHooks();
    SecondUploadHold::vendor = nullptr;
    ASSERT_TRUE(sent) << test::tallyFiles().join(u' ').toStdString();
    QHash<QByteArray, int> sends;
    for (const auto& upload : run.vendor.eventsUploads())
        ++sends[upload.boundary];
    EXPECT_EQ(sends.size(), 1);
    EXPECT_EQ(SecondUploadHold::held.load(), 0) << "a second upload of the package was queued";
    for (auto send = sends.cbegin(); send != sends.cend(); ++send)
        EXPECT_EQ(send.value(), 1) << send.key().toStdString() << ", held " << SecondUploadHold::held.load();
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

// Nothing is sent while no settings came (in this build, ever): packages pile up within a
// run, and the cap of 100 holds as each is made, not only at the next start.
TEST(TLYTallyController, PackagesWaitingToBeSentStayCappedAtOneHundredAsEachIsMade)
{
    ControllerRun run;
    QDir().mkpath(test::tallyEventDir());
    for (int index = 0; index < 100; ++index) {
        const QString path =
            test::tallyEventDir() + QStringLiteral("/K%1.multipartmime").arg(index, 3, 10, QLatin1Char('0'));
        test::tallyWrite(path, "x");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::fromSecsSinceEpoch(1600000000 + index, Qt::UTC),
                         QFileDevice::FileModificationTime);
    }
    run.start();
    run.post("NSApplicationDidBecomeActiveNotification");
    run.post("NSApplicationWillResignActiveNotification");
    const QStringList packages = test::tallyFiles(QStringLiteral("multipartmime"));
    EXPECT_EQ(packages.size(), 100);
    const qsizetype made = std::count_if(packages.begin(), packages.end(),
                                         [](const QString& name) { return !name.startsWith(u'K'); });
    EXPECT_GE(made, 2);
    // The oldest of those left from before went, one for each made.
    EXPECT_FALSE(packages.contains(QStringLiteral("K000.multipartmime")));
    EXPECT_TRUE(packages.contains(QStringLiteral("K%1.multipartmime").arg(made, 3, 10, QLatin1Char('0'))));
    EXPECT_TRUE(run.vendor.eventsUploads().empty());
}

namespace {

HttpRequest eventsRequest()
{
    return HttpRequest::get(QUrl(QStringLiteral("https://events.tally.invalid/spi/v2/events")));
}

HttpResponse answerWithStatus(int status)
{
    HttpResponse response;
    response.statusCode = status;
    return response;
}

} // namespace

// The retry handler's own codes end the retries, whatever the last answer's error was: -6
// once they are spent, -7 for an empty identifier (no timer); the package stays for a later
// start either way.
TEST(TLYNetworkRetryHandler, SpentRetriesEndWithMinusSixAndAnEmptyIdentifierWithMinusSeven)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    TLYNetworkRetryHandler handler([] { return false; });
    const HttpRequest request = eventsRequest();
    const HttpResponse unavailable = answerWithStatus(503);
    std::vector<std::pair<bool, Error>> outcomes;
    const auto record = [&outcomes](bool retry, const Error& error) { outcomes.emplace_back(retry, error); };
    for (int attempt = 0; attempt < 3; ++attempt) {
        handler.handleCompletedRequest(request, unavailable, QStringLiteral("B0UNDARY"), Error(), 1, record);
        ASSERT_TRUE(test::runUntil([&] { return int(outcomes.size()) == attempt + 1; }));
    }
    EXPECT_TRUE(outcomes[0].first);
    EXPECT_TRUE(outcomes[1].first);
    ASSERT_FALSE(outcomes[2].first);
    const Error& spent = outcomes[2].second;
    EXPECT_EQ(spent.domain(), LOMNetworkResponseHandler::ErrorDomain);
    EXPECT_EQ(spent.code(), LOMNetworkResponseHandler::RetryLimitReached);
    EXPECT_EQ(spent.userInfo().value(TLYNetworkRetryHandler::IdentifierKey).toString(),
              QStringLiteral("B0UNDARY"));
    EXPECT_EQ(spent.userInfo().value(UrlError::FailingURLKey).toUrl(), request.url);
    EXPECT_EQ(spent.localizedDescription(),
              QStringLiteral("Gave up after 2 retries: the answer was HTTP 503"));
    EXPECT_TRUE(TLYTallyController::isTransientUploadError(spent));

    handler.handleCompletedRequest(request, unavailable, QString(), Error(), 10, record);
    // Every outcome is answered on a later turn.
    ASSERT_TRUE(test::runUntil([&] { return outcomes.size() == 4u; }));
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_FALSE(outcomes[3].first);
    EXPECT_EQ(outcomes[3].second.code(), TLYNetworkRetryHandler::NoTimer);
    EXPECT_EQ(outcomes[3].second.userInfo().value(TLYNetworkRetryHandler::IdentifierKey).toString(),
              QStringLiteral("(null)"));
    EXPECT_TRUE(TLYTallyController::isTransientUploadError(outcomes[3].second));

    // A refusal ends at once with the answer's own error.
    HttpResponse refused;
    refused.statusCode = 400;
    handler.handleCompletedRequest(request, refused, QStringLiteral("OTHER"), Error(), 10, record);
    ASSERT_TRUE(test::runUntil([&] { return outcomes.size() == 5u; }));
    ASSERT_EQ(outcomes.size(), 5u);
    EXPECT_EQ(outcomes[4].second.code(), LOMNetworkResponseHandler::ClientErrorResponse);
    EXPECT_FALSE(TLYTallyController::isTransientUploadError(outcomes[4].second));
}

// No road answers inside the call: a refusal, a request without identifier, spent retries and
// a retry are each heard on a later turn.
TEST(TLYNetworkRetryHandler, EveryOutcomeIsHeardOnALaterTurn)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    TLYNetworkRetryHandler handler([] { return false; });
    const HttpRequest request = eventsRequest();
    const HttpResponse unavailable = answerWithStatus(503);
    {
        // "SPENT" uses up its one retry first.
        test::CompletionRecorder first;
        handler.handleCompletedRequest(request, unavailable, QStringLiteral("SPENT"), Error(), 0,
                                       first.expect<bool, const Error&>(QStringLiteral("first retry")));
        ASSERT_TRUE(first.waitAll());
    }
    struct Road
    {
        const char* name;
        HttpResponse response;
        QString identifier;
        bool retry;
        int code;
    };
    const Road roads[] = {
        {"refused", answerWithStatus(400), QStringLiteral("OTHER"), false,
         LOMNetworkResponseHandler::ClientErrorResponse},
        {"no identifier", unavailable, QString(), false, TLYNetworkRetryHandler::NoTimer},
        {"spent", unavailable, QStringLiteral("SPENT"), false, LOMNetworkResponseHandler::RetryLimitReached},
        {"retry", unavailable, QStringLiteral("FRESH"), true, LOMNetworkResponseHandler::RetryableResponse},
    };
    for (const Road& road : roads) {
        test::CompletionRecorder recorder;
        std::optional<std::pair<bool, int>> heard;
        handler.handleCompletedRequest(
            request, road.response, road.identifier, Error(), 0,
            recorder.expect<bool, const Error&>(
                QString::fromLatin1(road.name),
                [&](bool retry, const Error& error) { heard.emplace(retry, error.code()); }));
        EXPECT_FALSE(heard.has_value()) << road.name;
        ASSERT_TRUE(recorder.waitAll()) << road.name;
        ASSERT_TRUE(heard.has_value()) << road.name;
        EXPECT_EQ(heard->first, road.retry) << road.name;
        EXPECT_EQ(heard->second, road.code) << road.name;
    }
}
