#include "tallykit/TLYEvent.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

#include <QMap>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <limits>
#include <random>
#include <thread>

using namespace corvex;

namespace {

// The attributes every soak event carries: a string whose 100th code unit starts a
// surrogate pair, and two numbers no JSON can hold.
Value soakAttributes(int index)
{
    ValueDictionary attributes;
    attributes.insert(QStringLiteral("cut"), Value(QString(99, u'a') + QStringLiteral("\U0001F600tail")));
    attributes.insert(QStringLiteral("nan"), Value(std::nan("")));
    attributes.insert(QStringLiteral("inf"), Value(-std::numeric_limits<double>::infinity()));
    attributes.insert(QStringLiteral("n"), Value(index));
    return Value(std::move(attributes));
}

} // namespace

// Records args[1] events from 4 threads against the stand-in whose settings body is
// args[0], printing "logged <id>" for every line that reached a log, and runs until killed.
CORVEX_TEST_HELPER(tallyRecorder)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    test::TallyRegistry registry;
    test::tallyDeliverSettings(registry.loom, args.value(0).toUtf8());
    std::shared_ptr<TLYTallyController> controller =
        TLYTallyController::create(std::nullopt, registry.loom, test::tallyRoot());
    std::mutex printing;
    controller->setWriteObserver([&printing](const TLYEvent& event, bool written) {
        if (!written || event.name() != QLatin1String("custom"))
            return;
        std::lock_guard lock(printing);
        std::printf("logged %s\n", event.identifier().toLatin1().constData());
        std::fflush(stdout);
    });
    const int count = args.value(1).toInt();
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&controller, thread, count] {
            for (int index = thread; index < count; index += 4)
                controller->logEvent(
                    std::make_shared<TLYCustomEvent>(QStringLiteral("soak"), soakAttributes(index)));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    test::runUntil([] { return false; }, 120);
    return 0;
}

TEST(TLYTallySoak, AKilledRecorderLosesNoLoggedEventAndSendsNoneInTwoPackages)
{
    std::uint32_t seed = std::random_device{}();
    if (qEnvironmentVariableIsSet("CORVEX_CRASH_SEED"))
        seed = std::uint32_t(qEnvironmentVariable("CORVEX_CRASH_SEED").toULong());
    RecordProperty("seed", std::to_string(seed));
    std::cout << "kill schedule seed " << seed << " (set CORVEX_CRASH_SEED to repeat)" << std::endl;
    std::mt19937 random(seed);

    test::VendorServiceStandIn vendor("com.tallowfen.corvex");
    ASSERT_TRUE(vendor.start());
    // Small logs, so that rotations and uploads run all the time.
    const QString settings =
        QString::fromUtf8(vendor.analyticsSettingsBody(",\"max_byte_size_per_file\":4000"));
    const int kills = test::soakRuns(30, 6, 4);
    const int events = test::soakRuns(5000, 600, 300);
    const int perRun = events / kills;
    QSet<QString> logged;
    for (int run = 0; run <= kills; ++run) {
        const bool last = run == kills;
        SCOPED_TRACE(testing::Message() << "run " << run << ", seed " << seed);
        auto helper = test::HelperProcess::start(QStringLiteral("tallyRecorder"),
                                                 {settings, QString::number(last ? 0 : perRun)});
        ASSERT_TRUE(helper);
        if (last) {
            // The last run only starts: everything left on disk goes out.
            EXPECT_TRUE(test::runUntil(
                [&] {
                    const auto received = test::tallyReceivedIds(vendor);
                    return std::all_of(logged.cbegin(), logged.cend(),
                                       [&](const QString& id) { return received.contains(id); });
                },
                120));
        } else {
            const int killAfter = std::uniform_int_distribution<int>(0, perRun)(random);
            for (int line = 0; line < killAfter; ++line) {
                const std::optional<QByteArray> read = helper->readLine(30);
                if (!read)
                    break;
                if (read->startsWith("logged "))
                    logged.insert(QString::fromLatin1(read->mid(7).trimmed()));
            }
        }
        helper->kill(SIGKILL);
        helper->wait();
        for (const QByteArray& line : helper->readAll().split('\n')) {
            if (line.startsWith("logged "))
                logged.insert(QString::fromLatin1(line.mid(7).trimmed()));
        }
    }
    const QHash<QString, QSet<QByteArray>> received = test::tallyReceivedIds(vendor);
    int missing = 0;
    int twice = 0;
    for (const QString& id : std::as_const(logged)) {
        if (!received.contains(id))
            ++missing;
    }
    for (auto entry = received.cbegin(); entry != received.cend(); ++entry) {
        EXPECT_EQ(entry.value().size(), 1) << entry.key().toStdString() << " came in two packages";
    }
    for (const auto& upload : vendor.eventsUploads())
        EXPECT_TRUE(upload.problem.isEmpty()) << upload.problem.toStdString();
    EXPECT_EQ(missing, 0);
    QHash<QByteArray, int> copies;
    for (const auto& upload : vendor.eventsUploads())
        twice += copies[upload.boundary]++ > 0 ? 1 : 0;

    // Every package received and every log left, as the checker reads them.
    const QString folder = test::testDir() + QStringLiteral("/checked");
    QDir().mkpath(folder);
    int index = 0;
    for (const auto& request : vendor.requests(test::VendorServiceStandIn::Route::Events)) {
        const QByteArray type = request.header("Content-Type");
        const QByteArray boundary = type.mid(type.indexOf("boundary=") + 9).trimmed();
        test::tallyWrite(folder + u'/' + QString::fromLatin1(boundary) + u'.' + QString::number(index++) +
                             QStringLiteral(".multipartmime"),
                         request.body);
    }
    for (const QString& name : test::tallyFiles(QStringLiteral("log")))
        QFile::copy(test::tallyEventDir() + u'/' + name, folder + u'/' + name);
    const auto [code, output] = test::tallyCheckLogs(folder, {QStringLiteral("--soak")});
    EXPECT_EQ(code, 0) << output.toStdString();
    test::reportSoak(QStringLiteral("%1 kills, %2 events logged, %3 received, %4 packages sent again")
                         .arg(kills)
                         .arg(logged.size())
                         .arg(received.size())
                         .arg(twice));
}
