// Saves killed half-way: a child process keeps saving a large document while it reports
// the phases of each save on its stdout, and the test kills it with SIGKILL on a seeded
// schedule. Whenever it dies, the file must read back as exactly the old or the new
// document, never as anything in between.

#include "model/Idea.h"
#include "platform/core/SysCalls.h"
#include "storage/IdeaDocument.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace corvex;
using corvex::test::runUntil;

namespace {

const QString kVersionA = QStringLiteral("version A");
const QString kVersionB = QStringLiteral("version B");
const QString kOnlyInB = QStringLiteral("idonlyinb_1");
// Each kill costs a decode in the child and another in the test; an unoptimised build takes
// a smaller document so that a hundred kills stay within minutes. The window between the
// first write and the rename is widened by the child either way.
#ifdef __OPTIMIZE__
constexpr int kDocumentIdeas = 20000;
#else
constexpr int kDocumentIdeas = 5000;
#endif

// Version B differs from A in the root's text and one more child.
void makeVersion(const IdeaPtr& root, bool b)
{
    root->setText(b ? kVersionB : kVersionA);
    const bool hasExtra = root->indexOfIdeaWithIdentifier(kOnlyInB) != Idea::NotFound;
    if (b && !hasExtra) {
        EXPECT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("only in B"), kOnlyInB)));
    }
    if (!b && hasExtra) {
        EXPECT_TRUE(root->removeIdea(kOnlyInB));
    }
}

// ---- The saving child's phase reports, made from SysCalls hooks

std::atomic<bool> gSaveWriting{false};
std::atomic<qint64> gWriteStartedNanoseconds{0};
std::atomic<bool> gRefuseUnnamedTemporaries{false};
std::atomic<int> gChunkPauseMicroseconds{0};
constexpr std::size_t kChunkBytes = 4096;

void say(const char* text)
{
    // Straight to the pipe, unbuffered: the line is out before the next system call.
    const std::size_t length = std::strlen(text);
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text, length);
}

int phaseOpen(const char* path, int flags, mode_t mode)
{
    // Named temporaries are what a file system without O_TMPFILE gets; killed saves leave
    // them behind for the next open to clean.
    if (gRefuseUnnamedTemporaries.load() && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::open(path, flags, mode);
}

ssize_t phaseWrite(int fd, const void* data, std::size_t size)
{
    if (!gSaveWriting.exchange(true)) {
        gWriteStartedNanoseconds.store(std::chrono::steady_clock::now().time_since_epoch().count());
        say("write started\n");
    }
    // Small, slowed chunks keep the window between the first write and the rename wide.
    const ssize_t written = ::write(fd, data, std::min(size, kChunkBytes));
    if (const int pause = gChunkPauseMicroseconds.load(); pause > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(pause));
    return written;
}

int phaseRename(const char* from, const char* to)
{
    const int rc = ::rename(from, to);
    if (rc == 0) {
        gSaveWriting.store(false);
        say("rename done\n");
        // How long the window was, for the killer's schedule.
        const qint64 window =
            std::chrono::steady_clock::now().time_since_epoch().count() - gWriteStartedNanoseconds.load();
        say(QByteArray("window " + QByteArray::number(window) + '\n').constData());
    }
    return rc;
}

} // namespace

// Opens the document and saves it again and again, switching between versions A and B,
// until killed (or `saves` times, then closes it and ends). args: path, saves,
// "named"|"unnamed" temporaries, chunk pause in microseconds.
CORVEX_TEST_HELPER(ideaDocumentCrashSaver)
{
    const QString path = args.value(0);
    const int saves = args.value(1).toInt();
    gRefuseUnnamedTemporaries.store(args.value(2) == QLatin1String("named"));
    gChunkPauseMicroseconds.store(args.value(3).toInt());
    SysCalls::Hooks hooks;
    hooks.open = &phaseOpen;
    hooks.write = &phaseWrite;
    hooks.rename = &phaseRename;
    SysCalls::installHooks(hooks);

    auto document = IdeaDocument::initWithFileName(QStringLiteral("crash.crvx"), 1);
    qint64 token = 0;
    bool opened = false;
    document->openFromURL(QUrl::fromLocalFile(path), [&](qint64 t) {
        token = t;
        opened = true;
    });
    if (!runUntil([&] { return opened; }, 300) || token <= 0) {
        say("open failed\n");
        return 1;
    }
    bool isB = document->idea()->text() == kVersionB;
    say(isB ? "opened B\n" : "opened A\n");
    for (int i = 0; i < saves; ++i) {
        isB = !isB;
        makeVersion(document->idea(), isB);
        bool answered = false;
        bool saved = false;
        document->updateWithToken(token, [&](bool ok) {
            saved = ok;
            answered = true;
        });
        if (!runUntil([&] { return answered; }, 300) || !saved) {
            say("save failed\n");
            return 1;
        }
        say("saved\n");
    }
    document->closeWithToken(token);
    return 0;
}

namespace {

quint32 crashTestSeed()
{
    bool ok = false;
    const quint32 fromEnvironment = qEnvironmentVariable("CORVEX_CRASH_TEST_SEED").toUInt(&ok);
    return ok ? fromEnvironment : std::random_device{}();
}

// The window a "window <nanoseconds>" line reports, in seconds; 0 for other lines.
double reportedWindow(const QByteArray& line)
{
    return line.startsWith("window ") ? line.mid(7).toDouble() / 1e9 : 0;
}

// Reads lines until one equals `wanted`; false when the stream ends or times out first.
bool waitForLine(test::HelperProcess& helper, const QByteArray& wanted, double timeoutSeconds,
                 QByteArrayList* seen = nullptr)
{
    for (;;) {
        const auto line = helper.readLine(timeoutSeconds);
        if (!line)
            return false;
        if (seen)
            seen->append(*line);
        if (*line == wanted)
            return true;
    }
}

// What a killed save left: the old document, the new one, or neither.
struct Verdict
{
    enum Outcome
    {
        Old,
        New,
        Neither
    } outcome = Neither;
    QString begins; // the start of what was found, for Neither
};

Verdict judge(const QByteArray& bytes, const QString& oldDescription, const QString& newDescription)
{
    auto payload = IdeaDocumentDataObject::readFromSomeData(bytes);
    const QString found =
        payload && payload->idea() ? payload->idea()->debugDescription() : QStringLiteral("(unreadable)");
    if (found == oldDescription)
        return {Verdict::Old, QString()};
    if (found == newDescription)
        return {Verdict::New, QString()};
    return {Verdict::Neither, found.left(200)};
}

struct Kill
{
    int run = 0;
    bool renamed = false;
    std::future<Verdict> verdict;
};

} // namespace

TEST(IdeaDocumentCrashSoak, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewDocument)
{
    const quint32 seed = crashTestSeed();
    RecordProperty("seed", int(seed));
    std::printf("crash test seed %u (set CORVEX_CRASH_TEST_SEED to repeat)\n", seed);
    std::mt19937 rng(seed);
    const int runs = test::soakRuns(100, 25, 10);
    const auto started = std::chrono::steady_clock::now();
    const double startTimeout = test::isSanitized() ? 300 : 120;
    const QString chunkPause = QString::number(test::isSanitized() ? 100 : 300);

    // The document, stored as version A by this process.
    const QString path = test::documentPath(QStringLiteral("crash.crvx"));
    IdeaPtr tree = test::factoryTree(kDocumentIdeas);
    ASSERT_NE(tree, nullptr);
    makeVersion(tree, false);
    const QString descriptionA = tree->debugDescription();
    {
        auto document = IdeaDocument::initWithFileName(QStringLiteral("crash.crvx"), 1);
        document->setIdea(tree);
        const qint64 token = test::createDocument(*document, test::fileUrl(path));
        ASSERT_GT(token, 0);
        test::closeDocument(*document, token);
    }
    makeVersion(tree, true);
    const QString descriptionB = tree->debugDescription();
    tree.reset();
    ASSERT_EQ(test::storedTree(path), descriptionA);

    // Three kills in four aim inside the window between the first write and the rename,
    // the others after the rename; which are which, and where exactly, comes from the seed.
    std::vector<bool> aimInside(std::size_t(runs), false);
    std::fill(aimInside.begin(), aimInside.begin() + (runs * 3 + 3) / 4, true);
    std::shuffle(aimInside.begin(), aimInside.end(), rng);
    std::uniform_real_distribution<double> inside(0.05, 0.8);
    std::uniform_real_distribution<double> after(0.0, 0.3);
    std::bernoulli_distribution namedTemporaries(0.5);

    double window = 0; // seconds from "write started" to "rename done", last seen
    double shortestWindow = 0;
    int inWindow = 0;
    int oldOutcomes = 0;
    int newOutcomes = 0;
    // Each file is read back on a worker thread while the next child starts; a few at once.
    std::deque<Kill> pending;
    const auto collect = [&](std::size_t keep) {
        while (pending.size() > keep) {
            Kill kill = std::move(pending.front());
            pending.pop_front();
            const Verdict verdict = kill.verdict.get();
            EXPECT_NE(verdict.outcome, Verdict::Neither)
                << "run " << kill.run << ": the file is neither the old nor the new document after a kill "
                << (kill.renamed ? "after the rename" : "inside the window")
                << "; it begins: " << verdict.begins.toStdString();
            oldOutcomes += verdict.outcome == Verdict::Old;
            newOutcomes += verdict.outcome == Verdict::New;
        }
    };
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(QStringLiteral("run %1 (seed %2)").arg(run).arg(seed).toStdString());
        const bool named = namedTemporaries(rng);
        // The first run saves once unkilled to measure the window.
        const int calibrationSaves = window > 0 ? 0 : 1;
        auto helper = test::HelperProcess::start(QStringLiteral("ideaDocumentCrashSaver"),
                                                 {path, QStringLiteral("1000"),
                                                  named ? QStringLiteral("named") : QStringLiteral("unnamed"),
                                                  chunkPause});
        ASSERT_TRUE(helper);
        const auto openedLine = helper->readLine(startTimeout);
        ASSERT_TRUE(openedLine == QByteArray("opened A") || openedLine == QByteArray("opened B"))
            << openedLine.value_or("nothing").toStdString();
        bool onDiskIsB = *openedLine == "opened B";

        for (int i = 0; i < calibrationSaves; ++i) {
            QByteArrayList lines;
            ASSERT_TRUE(waitForLine(*helper, "saved", startTimeout, &lines));
            for (const QByteArray& line : lines)
                window = std::max(window, reportedWindow(line));
            ASSERT_GT(window, 0) << lines.join(' ').toStdString();
            shortestWindow = window;
            onDiskIsB = !onDiskIsB;
        }

        ASSERT_TRUE(waitForLine(*helper, "write started", startTimeout));
        bool renamedBeforeKill = false;
        QByteArrayList rest;
        if (aimInside[std::size_t(run)]) {
            // Aimed by the shortest save seen: saves on a loaded machine run long more often than short,
            // and a kill timed by a long one lands after the rename of a short one.
            std::this_thread::sleep_for(std::chrono::nanoseconds(qint64(shortestWindow * inside(rng) * 1e9)));
        } else {
            // A kill aimed after the rename waits for it: on a loaded machine the save may take
            // many times the window measured, and a kill timed by the clock alone lands inside.
            QByteArrayList lines;
            ASSERT_TRUE(waitForLine(*helper, "rename done", startTimeout, &lines));
            renamedBeforeKill = true;
            if (const auto windowLine = helper->readLine(startTimeout); windowLine)
                rest.append(*windowLine);
            std::this_thread::sleep_for(std::chrono::nanoseconds(qint64(window * after(rng) * 1e9)));
        }
        ASSERT_TRUE(helper->kill(SIGKILL));
        EXPECT_EQ(helper->wait(), -SIGKILL);
        rest += helper->readAll().split('\n');
        const bool renamed = renamedBeforeKill || rest.contains("rename done");
        if (!renamed)
            ++inWindow;
        // The schedule follows the machine's pace.
        for (const QByteArray& line : rest) {
            if (const double seen = reportedWindow(line); seen > 0) {
                window = (window + seen) / 2;
                shortestWindow = std::min(shortestWindow, seen);
            }
        }

        Kill kill;
        kill.run = run;
        kill.renamed = renamed;
        kill.verdict =
            std::async(std::launch::async, judge, test::fileBytes(path),
                       onDiskIsB ? descriptionB : descriptionA, onDiskIsB ? descriptionA : descriptionB);
        pending.push_back(std::move(kill));
        collect(3);
        if (HasFailure())
            break;
    }
    collect(0);
    RecordProperty("kills", runs);
    RecordProperty("killsInsideTheWindow", inWindow);
    RecordProperty("oldOutcomes", oldOutcomes);
    RecordProperty("newOutcomes", newOutcomes);
    test::reportSoak(
        QStringLiteral("%1 kills in %2 s, %3 inside the window, old %4, new %5, last window %6 s")
            .arg(runs)
            .arg(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 0, 'f', 1)
            .arg(inWindow)
            .arg(oldOutcomes)
            .arg(newOutcomes)
            .arg(window, 0, 'f', 3));
    EXPECT_GE(inWindow * 2, runs) << "at least half of the kills land between the first write and the rename";
    EXPECT_GT(oldOutcomes, 0);
    EXPECT_GT(newOutcomes, 0);

    // A last save that is not killed leaves the document and nothing else.
    auto helper =
        test::HelperProcess::start(QStringLiteral("ideaDocumentCrashSaver"),
                                   {path, QStringLiteral("1"), QStringLiteral("named"), QStringLiteral("0")});
    ASSERT_TRUE(helper);
    QByteArrayList lines;
    EXPECT_TRUE(waitForLine(*helper, "saved", startTimeout, &lines)) << lines.join(' ').toStdString();
    EXPECT_EQ(helper->wait(), 0);
    const QString stored = test::storedTree(path);
    EXPECT_TRUE(stored == descriptionA || stored == descriptionB);
    EXPECT_EQ(test::otherFiles(test::documentsFolder(), QStringLiteral("crash.crvx")), QStringList());
}
