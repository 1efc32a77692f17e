// The Dropbox location's first synchronisation against the emulator on 127.0.0.1.
//
// - DropboxSync/first_sync/N: a new mode on empty folders takes N documents of about 20 KB
//   each until every one is local and its summary reported (wall time; requests counted).
// - DropboxSync/bare_download/N: the yardstick: the same N files downloaded one after another
//   with the same client, nothing else done.
// - DropboxSync/read_only/N: the other part of the work: the same N documents read one after
//   another as the mode reads each downloaded copy to report its summary.
// - DropboxSync/idle_hour: after a first sync of 20 documents, one virtual hour without
//   changes: the requests the mode makes (listings every 30 s).
// Goal: first_sync within 1.5x of bare_download in the release tree on 2 cores
// (taskset -c 4,5).

#include "bench/BenchSupport.h"
#include "cloud/dropbox/DropboxFolderManager.h"
#include "model/Idea.h"
#include "platform/core/DeadlineQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/net/DropboxUserClient.h"
#include "storage/PersistenceStateDelegate.h"
#include "tests/support/net/DropboxEmulator.h"

#include "model/Globals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>

namespace {

using namespace corvex;

class AlwaysReachable final : public DropboxReachability
{
public:
    void probe(Answer answer) override { answer(true); }
};

class CountingDelegate final : public PersistenceStateDelegate
{
public:
    void statusChange(PersistenceStateStatus, PersistenceState*) override {}
    void observeIdeaProxy(const IdeaProxyPtr&, PersistenceState*) override { ++proxies; }
    void observeProxyList(const std::vector<IdeaProxyPtr>&, PersistenceState*) override {}
    void ideaDocumentDeleted(const QString&, PersistenceState*) override {}
    void foundIdeaDocument(const QString&, PersistenceState*) override {}
    void detectedDocumentConflict(const QString&, PersistenceState*) override {}
    int proxies = 0;
};

// A document of about 20 KB as stored: a root with children of random words.
QByteArray documentBytes()
{
    auto document =
        IdeaDocument::initWithFileName(QStringLiteral("sample.crvx"), IdeaDocument::DropboxLocation);
    auto root = Idea::initWithText(QStringLiteral("Sample"));
    QRandomGenerator random(7);
    for (int child = 0; child < 200; ++child) {
        QString text;
        for (int letter = 0; letter < 60; ++letter)
            text.append(QChar(u'a' + int(random.bounded(26))));
        [[maybe_unused]] const bool added = root->addIdea(Idea::initWithText(text));
    }
    document->setIdea(root);
    return document->exportAsCorvexData().valueOr(QByteArray());
}

struct Service
{
    explicit Service(std::int64_t documents)
    {
        emulator.start();
        emulator.addAccessToken(QStringLiteral("good"));
        const QByteArray bytes = documentBytes();
        for (std::int64_t n = 0; n < documents; ++n)
            emulator.putFile(QStringLiteral("/doc%1.crvx").arg(n), bytes);
    }
    std::shared_ptr<DropboxUserClient> user()
    {
        DropboxUserClient::Options options;
        options.appKey = QStringLiteral("benchkey");
        options.endpoints = DropboxEndpoints::atServer(emulator.baseUrl());
        options.tokenStore = DropboxTokenStore(bench::folder().path() + QStringLiteral("/credentials.json"));
        options.session = HttpSession::create(HttpSessionConfiguration());
        return DropboxUserClient::create(DropboxCredentials{QStringLiteral("good"), QString()},
                                         std::move(options));
    }
    test::DropboxEmulator emulator;
};

struct Machine
{
    Machine(Service& service, const QString& root)
    {
        QDir(root).removeRecursively();
        DropboxModeServices services{root + QStringLiteral("/support"), root + QStringLiteral("/Documents"),
                                     std::make_shared<QVDropboxClient>(service.user()),
                                     std::make_shared<AlwaysReachable>()};
        mode = DropboxFolderManager::create(std::move(services));
        mode->setDelegate(delegate);
    }
    ~Machine() { mode->leaveState(); }
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
    std::shared_ptr<DropboxFolderManager> mode;
};

void firstSync(benchmark::State& state)
{
    Service service(state.range(0));
    const QString root = bench::folder().path() + QStringLiteral("/first");
    for (auto _ : state) {
        const int before = int(service.emulator.requests().size());
        Machine machine(service, root);
        bench::waitFor([&] {
            return machine.mode->state().doWeHaveInitialDropboxFileStatus &&
                   machine.delegate->proxies >= state.range(0);
        });
        state.counters["requests"] = double(int(service.emulator.requests().size()) - before);
    }
}

void bareDownload(benchmark::State& state)
{
    Service service(state.range(0));
    QVDropboxClient client(service.user());
    const QString folder = bench::folder().path() + QStringLiteral("/bare");
    QDir().mkpath(folder);
    for (auto _ : state) {
        std::int64_t done = 0;
        std::function<void()> next = [&] {
            client.downloadFile(QStringLiteral("/doc%1.crvx").arg(done),
                                folder + QStringLiteral("/doc%1.crvx").arg(done),
                                [&](const DownloadResponse&) {
                                    if (++done < state.range(0))
                                        next();
                                });
        };
        next();
        bench::waitFor([&] { return done >= state.range(0); });
    }
}

// Virtual time for the idle hour (the release tree has no test support): tasks run when
// the clock reaches them, and the clock jumps to the next deadline when nothing is due.
class VirtualClock final : public Scheduler
{
public:
    VirtualClock() : mPrevious(Scheduler::install(this)) {}
    ~VirtualClock() override { Scheduler::install(mPrevious); }
    double now() const override { return mNow; }
    TaskId schedule(double delaySeconds, Task task) override
    {
        return mQueue.push(mNow + std::max(0.0, delaySeconds), std::move(task)).first;
    }
    void cancel(TaskId id) override { mQueue.cancel(id); }
    int runDue()
    {
        int ran = 0;
        while (auto entry = mQueue.popDue(mNow)) {
            entry->task();
            ++ran;
        }
        return ran;
    }
    void jump()
    {
        if (const std::optional<double> next = mQueue.earliestDeadline())
            mNow = std::max(mNow.load(), *next);
    }

private:
    std::atomic<double> mNow{1000.0};
    Scheduler* mPrevious;
    DeadlineQueue mQueue;
};

// Runs virtual time: what is due at once, otherwise a moment for the transfer thread, then
// the next deadline.
void runVirtual(VirtualClock& time, const std::function<bool()>& done)
{
    int idle = 0;
    while (!done()) {
        QCoreApplication::processEvents();
        if (time.runDue() > 0) {
            idle = 0;
            continue;
        }
        if (++idle < 4) {
            std::this_thread::sleep_for(std::chrono::microseconds(250));
            continue;
        }
        idle = 0;
        time.jump();
    }
}

void idleHour(benchmark::State& state)
{
    Service service(20);
    const QString root = bench::folder().path() + QStringLiteral("/idle");
    for (auto _ : state) {
        VirtualClock time;
        const auto oldClock = Globals::setWallClock([] { return 1796638500.0 + Scheduler::current().now(); });
        {
            Machine machine(service, root);
            runVirtual(time, [&] { return machine.mode->isQuiet(); });
            const int before = int(service.emulator.requests().size());
            const double until = time.now() + (bench::tiny() ? 60.0 : 3600.0);
            runVirtual(time, [&] { return time.now() >= until; });
            state.counters["requests"] = double(int(service.emulator.requests().size()) - before);
        }
        Globals::setWallClock(oldClock);
    }
}

const bench::Registration registration([] {
    for (const std::int64_t documents : bench::sizes({1000}, 5)) {
        benchmark::RegisterBenchmark("DropboxSync/first_sync", firstSync)
            ->Arg(documents)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark("DropboxSync/bare_download", bareDownload)
            ->Arg(documents)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    benchmark::RegisterBenchmark("DropboxSync/idle_hour", idleHour)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
});

} // namespace
namespace {

void readOnly(benchmark::State& state)
{
    const QString folder = corvex::bench::folder().path() + QStringLiteral("/reads");
    QDir().mkpath(folder);
    const QByteArray bytes = documentBytes();
    for (int n = 0; n < state.range(0); ++n) {
        QFile file(folder + QStringLiteral("/d%1.crvx").arg(n));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            state.SkipWithError("cannot write the documents");
    }
    for (auto _ : state) {
        int done = 0;
        std::function<void()> next = [&] {
            auto doc = IdeaDocument::initWithFileName(QStringLiteral("d%1.crvx").arg(done),
                                                      IdeaDocument::DropboxLocation);
            doc->readFromURL(QUrl::fromLocalFile(folder + QStringLiteral("/d%1.crvx").arg(done)),
                             [&, doc](bool) {
                                 if (++done < state.range(0))
                                     next();
                             });
        };
        next();
        bench::waitFor([&] { return done >= state.range(0); });
    }
}
const bench::Registration readRegistration([] {
    for (const std::int64_t documents : bench::sizes({1000}, 5))
        benchmark::RegisterBenchmark("DropboxSync/read_only", readOnly)
            ->Arg(documents)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
});
} // namespace
