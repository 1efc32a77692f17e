// Soak loops of the Dropbox location: random operations on two machines with a failing
// connection, and a helper process killed at seeded points of its work. Full counts under
// tools/soak, scaled down in the test command.

#include "tests/cloud/DropboxMachineSupport.h"

#include "platform/core/SerialQueue.h"
#include "platform/core/SysCalls.h"
#include "storage/StorageQueues.h"
#include "tests/support/HelperProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <csignal>
#include <cstdio>
#include <set>
#include <unistd.h>

namespace corvex::test {

namespace {

quint32 soakSeed()
{
    const QByteArray given = qgetenv("CORVEX_DROPBOX_SEED");
    return given.isEmpty() ? QRandomGenerator::global()->generate() : given.toUInt();
}

} // namespace

using DropboxLocationSoak = DropboxMachinesFixture;

// Random creates, edits and deletions on two machines, the connection dropped at random:
// once both are quiet, each machine shows what Dropbox holds, and the last save of every
// document that was not deleted last is found in some document.
TEST_F(DropboxLocationSoak, RandomOperationsOnTwoMachinesConverge)
{
    const quint32 seed = soakSeed();
    const int operations = soakRuns(300, 60, 30);
    std::printf("DropboxLocationSoak seed %u (CORVEX_DROPBOX_SEED), %d operations\n", seed, operations);
    QRandomGenerator random(seed);
    a->start();
    b->start();
    DropboxMachine* machines[] = {a.get(), b.get()};
    QStringList ids;
    std::map<QString, QString> lastSave; // identifier -> the last content saved on either machine
    std::set<QString> deletedLast;
    int drops = 0;
    for (int step = 0; step < operations; ++step) {
        DropboxMachine& machine = *machines[random.bounded(2)];
        const int kind = random.bounded(10);
        const QString text = QStringLiteral("save %1").arg(step);
        if (kind < 3 || ids.isEmpty()) {
            const QString id = machine.create(text);
            ASSERT_FALSE(id.isEmpty()) << "seed " << seed;
            ids.append(id);
            lastSave[id] = text;
        } else if (kind < 8) {
            const QString id = ids.at(random.bounded(int(ids.size())));
            // A document this machine does not have yet (or no more) cannot be opened.
            if (machine.edit(id, text)) {
                lastSave[id] = text;
                deletedLast.erase(id);
            }
        } else if (kind < 9) {
            const QString id = ids.at(random.bounded(int(ids.size())));
            if (machine.workspace->findProxy(id) && machine.remove(id))
                deletedLast.insert(id);
        } else {
            ++drops;
            machine.reachability->reachable = false;
            emulator.injectFault("files/upload", DropboxEmulator::Fault::Drop, 1);
            emulator.injectFault("files/list_folder", DropboxEmulator::Fault::Status503, 1);
        }
        pass(random.bounded(3.0));
        for (DropboxMachine* each : machines)
            if (!each->reachability->reachable && random.bounded(3) == 0)
                each->reachability->reachable = true;
    }
    for (DropboxMachine* each : machines)
        each->reachability->reachable = true;
    ASSERT_TRUE(converge(20)) << "seed " << seed;
    const DocumentDump remote = remoteDump();
    EXPECT_EQ(a->dump(), remote) << "seed " << seed;
    EXPECT_EQ(b->dump(), remote) << "seed " << seed;
    QSet<QString> contents;
    for (const auto& entry : remote)
        contents.insert(entry.second);
    int checked = 0;
    for (const auto& [id, text] : lastSave) {
        if (deletedLast.count(id))
            continue;
        ++checked;
        EXPECT_TRUE(contents.contains(text)) << "seed " << seed << " lost " << text.toStdString();
    }
    reportSoak(
        QStringLiteral("seed %1, %2 operations, %3 drops, %4 documents on Dropbox, %5 last saves found")
            .arg(seed)
            .arg(operations)
            .arg(drops)
            .arg(remote.size())
            .arg(checked));
}

namespace {

// Lines the killed machine writes on its stdout, from any thread.
void killedSay(const QByteArray& line)
{
    const QByteArray whole = line + '\n';
    [[maybe_unused]] const ssize_t written = ::write(1, whole.constData(), std::size_t(whole.size()));
}

ssize_t pointWrite(int fd, const void* data, std::size_t size)
{
    if (fd > 2)
        killedSay("point write");
    return ::write(fd, data, size);
}

int pointRename(const char* from, const char* to)
{
    killedSay(QByteArray(to).endsWith("corvex.local.status") ? "point status" : "point rename");
    return ::rename(from, to);
}

int pointUnlink(const char* path)
{
    killedSay("point cleanup");
    return ::unlink(path);
}

} // namespace

// One run of a machine against the emulator, reporting the points where it may be killed.
// args: emulator URL, machine folder, run number, then "work" (create and edit documents,
// printing "saved <id> <text>" once each save is answered) or "check" (print "stray <name>"
// for every file the start-up clean-up should have removed, then "doc <id> <text>" for every
// document once quiet). Prints "done" at the end.
CORVEX_TEST_HELPER(dropboxKilledMachine)
{
    const int run = args.value(2).toInt();
    ScopedVirtualTime time(1000.0, VirtualScheduler::Mode::AutoAdvance);
    // Every run its own hour of calendar time, so its names are its own.
    const double start = 1796638500.0 + run * 3600.0;
    Globals::setWallClock([start] { return start + Scheduler::current().now(); });
    DropboxMachine machine(QString(), emulatorUser(args.value(0), QStringLiteral("good")));
    machine.root = args.value(1);
    const bool checking = args.value(3) == QLatin1String("check");
    if (!checking) {
        SysCalls::Hooks hooks;
        hooks.write = &pointWrite;
        hooks.rename = &pointRename;
        hooks.unlink = &pointUnlink;
        SysCalls::installHooks(hooks);
    }
    machine.start();
    const auto& state = machine.mode->state();
    if (!pumpDropbox([&] { return machine.workspace->hasCompleteProxyList(); }, 30.0))
        return 1;
    if (checking) {
        StorageQueues::persistenceQueue().sync([] {});
        const QString folder = machine.managedFolder() + QLatin1Char('/');
        QStringList suspects;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            if (!DropboxFolderManager::shouldFileBeKept(name, state) &&
                !state.filesToReallyDelete.contains(folder + name))
                suspects.append(name);
        pumpDropbox([&] { return machine.mode->isQuiet(); }, 30.0);
        // A transfer of this run may have had its hidden partial file there; it is gone now.
        for (const QString& name : suspects)
            if (QFileInfo::exists(folder + name) && !DropboxFolderManager::shouldFileBeKept(name, state))
                killedSay("stray " + name.toUtf8());
        for (const auto& [id, text] : machine.dump())
            killedSay("doc " + id.toUtf8() + ' ' + text.toUtf8());
        killedSay("done");
        return 0;
    }
    QRandomGenerator random(quint32(run) * 7919u + 1u);
    for (int step = 0; step < 6; ++step) {
        const QString text = QStringLiteral("run %1 step %2").arg(run).arg(step);
        const auto proxies = machine.workspace->ideaProxies();
        QString id;
        bool saved = false;
        if (proxies.empty() || random.bounded(3) == 0) {
            id = machine.create(text);
            saved = !id.isEmpty();
        } else {
            id = proxies.at(random.bounded(int(proxies.size())))->docIdentifier();
            saved = machine.edit(id, text);
        }
        if (saved)
            killedSay("saved " + id.toUtf8() + ' ' + text.toUtf8());
        passVirtual(random.bounded(4.0));
    }
    pumpDropbox([&] { return machine.mode->isQuiet(); }, 30.0);
    killedSay("done");
    return 0;
}

// A machine killed with SIGKILL at seeded points of its work (writing a copy, saving the
// status file, awaiting an upload answer, cleaning up): after every restart it converges,
// no answered save is lost, and the start-up clean-up leaves only what a record names.
TEST_F(DropboxLocationSoak, KilledAtSeededPointsConverges)
{
    const quint32 seed = soakSeed();
    const int kills = soakRuns(40, 6, 3);
    std::printf("DropboxLocationSoak kill seed %u (CORVEX_DROPBOX_SEED), %d kills\n", seed, kills);
    QRandomGenerator random(seed);
    const QString folder = testDir() + QStringLiteral("/killed");
    std::map<QString, QString> saved;
    std::map<QByteArray, int> killedAt;
    int killed = 0;
    for (int run = 0; run < kills; ++run) {
        const int target = 1 + random.bounded(40);
        auto helper =
            HelperProcess::start(QStringLiteral("dropboxKilledMachine"),
                                 {emulator.baseUrl(), folder, QString::number(run), QStringLiteral("work")});
        ASSERT_TRUE(helper);
        int points = 0;
        int uploads = emulator.count("files/upload");
        while (true) {
            const std::optional<QByteArray> line = helper->readLine(30.0);
            if (!line || *line == "done")
                break;
            if (line->startsWith("saved ")) {
                const QList<QByteArray> parts = line->mid(6).split(' ');
                saved[QString::fromUtf8(parts.value(0))] =
                    QString::fromUtf8(line->mid(7 + parts.value(0).size()));
                continue;
            }
            QByteArray point = line->startsWith("point ") ? line->mid(6) : QByteArray();
            if (emulator.count("files/upload") > uploads) {
                uploads = emulator.count("files/upload");
                point = "upload";
            }
            if (!point.isEmpty() && ++points == target) {
                helper->kill(SIGKILL);
                ++killed;
                ++killedAt[point];
                break;
            }
        }
        helper->wait();
    }
    auto check =
        HelperProcess::start(QStringLiteral("dropboxKilledMachine"),
                             {emulator.baseUrl(), folder, QString::number(kills), QStringLiteral("check")});
    ASSERT_TRUE(check);
    QStringList strays;
    std::map<QString, QString> documents;
    while (const std::optional<QByteArray> line = check->readLine(60.0)) {
        if (*line == "done")
            break;
        if (line->startsWith("stray "))
            strays.append(QString::fromUtf8(line->mid(6)));
        if (line->startsWith("doc ")) {
            const QByteArray rest = line->mid(4);
            const qsizetype space = rest.indexOf(' ');
            documents[QString::fromUtf8(rest.left(space))] = QString::fromUtf8(rest.mid(space + 1));
        }
    }
    EXPECT_EQ(check->wait(), 0);
    EXPECT_TRUE(strays.isEmpty()) << "seed " << seed << ": " << strays.join(QLatin1Char(' ')).toStdString();
    // "run R step S": a kill may land after a save was answered but before its line was
    // read, so a document may hold a newer save than the last one heard of, never an older.
    const auto order = [](const QString& text) {
        const QStringList words = text.split(QLatin1Char(' '));
        return std::make_pair(words.value(1).toInt(), words.value(3).toInt());
    };
    for (const auto& [id, text] : saved) {
        const QString local = documents[id];
        const QString remote = rootTextOf(emulator.file(id.mid(8)).value_or(DropboxEmulator::File{}).content);
        EXPECT_TRUE(local.startsWith(QStringLiteral("run ")) && order(local) >= order(text))
            << "seed " << seed << " " << id.toStdString() << " holds " << local.toStdString();
        EXPECT_EQ(remote, local) << "seed " << seed << " " << id.toStdString();
    }
    QStringList where;
    for (const auto& [point, count] : killedAt)
        where.append(QStringLiteral("%1 %2").arg(QString::fromUtf8(point)).arg(count));
    reportSoak(QStringLiteral("seed %1, %2 runs, %3 kills (%4), %5 saves checked")
                   .arg(seed)
                   .arg(kills)
                   .arg(killed)
                   .arg(where.join(QStringLiteral(", ")))
                   .arg(saved.size()));
}

} // namespace corvex::test
