// Two machines as two processes, each with its own container, kept in step by the test
// sync tool; and a process writing straight into another's container, as a sync tool does.

#include "tests/cloud/CloudTestSupport.h"
#include "tests/cloud/TestSyncTool.h"

#include "cloud/container/SyncFileNames.h"
#include "platform/core/SerialQueue.h"
#include "storage/IndexDocument.h"
#include "storage/StorageQueues.h"
#include "tests/support/HelperProcess.h"

#include <QRegularExpression>
#include <cstdio>
#include <map>

using namespace corvex;
using namespace corvex::test;

namespace {

void machineSay(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Waits (auto-advancing time) for the workspace to be in sync; false on a time-out.
bool machineUntil(const std::function<bool()>& predicate)
{
    return runUntil(predicate, 60.0);
}

// Runs one workspace operation to its end.
bool machineOpen(Workspace& workspace, const std::shared_ptr<IdeaDocument>& document, qint64& token)
{
    bool done = false;
    workspace.openDocument(document, [&](qint64 t) {
        token = t;
        done = true;
    });
    return machineUntil([&] { return done; }) && token > 0;
}

bool machineSave(Workspace& workspace, const std::shared_ptr<IdeaDocument>& document, qint64 token)
{
    bool done = false, saved = false;
    workspace.updateDocument(document, token, [&](bool ok) {
        saved = ok;
        done = true;
    });
    return machineUntil([&] { return done; }) && saved;
}

} // namespace

// One run of a machine's program on its container: starts the iCloud location, waits until
// it is in sync, then runs the commands one after another and prints a line per result.
// args: container, seconds added to the wall clock (each machine its own instance and
// names), then commands: create:<name>:<text>, edit:<name>:<text>, delete:<name>,
// resolve:<prefix> (every document whose file name starts so), list.
CORVEX_TEST_HELPER(cloudMachine)
{
    const double offset = args.value(1).toDouble();
    const double start = Globals::secondsSince1970();
    Globals::setWallClock([offset, start] { return start + offset; });
    ScopedVirtualTime time(1000.0, VirtualScheduler::Mode::AutoAdvance);
    RecordingWorkspaceDelegate delegate;
    auto mode = CloudMode::create(CloudServices::forFolder(args.value(0), false));
    auto workspace = Workspace::initForLocation(IdeaDocument::ICloudLocation, mode, &delegate);
    if (!machineUntil([&] { return workspace->status() == WorkspaceStatus::InSync; })) {
        machineSay(QStringLiteral("never in sync"));
        return 1;
    }
    int failures = 0;
    for (const QString& command : args.mid(2)) {
        const QStringList parts = command.split(QLatin1Char(':'));
        const QString verb = parts.value(0);
        const QString id = iCloudId(parts.value(1));
        bool ok = false;
        if (verb == QLatin1String("create")) {
            const auto document =
                IdeaDocument::initWithFileName(parts.value(1), IdeaDocument::ICloudLocation);
            document->setIdea(Idea::initWithText(parts.value(2)));
            document->setDateCreated(Globals::currentDate());
            document->setDateModified(Globals::currentDate());
            qint64 token = 0;
            bool done = false;
            workspace->createDocument(document, 0, [&](qint64 t) {
                token = t;
                done = true;
            });
            ok = machineUntil([&] { return done; }) && token > 0;
            workspace->closeDocument(document, token, {});
        } else if (verb == QLatin1String("edit")) {
            const auto document = workspace->findDocument(id);
            qint64 token = 0;
            if (document && machineOpen(*workspace, document, token)) {
                document->idea()->setText(parts.value(2));
                ok = machineSave(*workspace, document, token);
                workspace->closeDocument(document, token, {});
            }
        } else if (verb == QLatin1String("delete")) {
            bool done = false;
            workspace->deleteDocument(id, [&](bool deleted) {
                ok = deleted;
                done = true;
            });
            machineUntil([&] { return done; });
        } else if (verb == QLatin1String("resolve")) {
            int resolved = 0;
            ok = true;
            const std::vector<IdeaProxyPtr> proxies = workspace->ideaProxies();
            for (const IdeaProxyPtr& proxy : proxies) {
                const QString name = IdeaDocument::pathFromIdentifier(proxy->docIdentifier());
                if (!name.startsWith(parts.value(1)) || !workspace->findConflictingVersion(proxy))
                    continue;
                bool done = false, handled = false;
                workspace->handleConflictForProxy(proxy, [&](bool r) {
                    handled = r;
                    done = true;
                });
                ok = machineUntil([&] { return done; }) && handled && ok;
                ++resolved;
            }
            machineSay(QStringLiteral("resolved %1").arg(resolved));
        } else if (verb == QLatin1String("list")) {
            int conflicts = 0;
            for (const IdeaProxyPtr& proxy : workspace->ideaProxies())
                conflicts += workspace->findConflictingVersion(proxy) ? 1 : 0;
            machineSay(QStringLiteral("listed ") +
                       identifiersOf(workspace->ideaProxies()).join(QLatin1Char(' ')));
            machineSay(QStringLiteral("conflicts %1").arg(conflicts));
            ok = true;
        }
        if (!ok) {
            ++failures;
            machineSay(QStringLiteral("failed ") + command);
        }
    }
    // The workspace's own search reads every document in the background: it ends, and the
    // saves queued on the persistence queue are written, before the program does.
    machineUntil(
        [&] { return workspace->searchRequestID() == 0 && workspace->pendingRefreshSearchID() == 0; });
    bool flushed = false;
    StorageQueues::persistenceQueue().async([&] { flushed = true; });
    machineUntil([&] { return flushed; });
    workspace->setDelegate(nullptr);
    workspace->closeWorkspace();
    machineSay(QStringLiteral("done %1").arg(failures));
    return failures == 0 ? 0 : 1;
}

namespace {

std::unique_ptr<HelperProcess> startMachine(const QString& container, double offset,
                                            const QStringList& commands)
{
    auto process = HelperProcess::start(QStringLiteral("cloudMachine"),
                                        QStringList{container, QString::number(offset)} + commands);
    EXPECT_TRUE(process);
    return process;
}

QStringList finishMachine(std::unique_ptr<HelperProcess>& process)
{
    QStringList lines;
    if (!process)
        return lines;
    while (const auto line = process->readLine(120.0))
        lines.append(QString::fromUtf8(*line));
    EXPECT_EQ(process->wait(), 0) << lines.join(QLatin1Char('\n')).toStdString();
    return lines;
}

// Both machines run at once.
std::pair<QStringList, QStringList> runBoth(const QString& a, const QStringList& commandsA, const QString& b,
                                            const QStringList& commandsB)
{
    auto first = startMachine(a, 0, commandsA);
    auto second = startMachine(b, 500000, commandsB);
    QStringList linesA = finishMachine(first);
    QStringList linesB = finishMachine(second);
    return {linesA, linesB};
}

// The root texts of the documents (not conflict copies) of a Documents folder.
QStringList documentTexts(const QString& documents)
{
    QStringList texts;
    for (const QString& name : filesIn(documents)) {
        if (name.endsWith(QLatin1String(".crvx")) && SyncFileNames::isListable(name))
            texts.append(storedRootText(documents + QLatin1Char('/') + name));
    }
    texts.sort();
    return texts;
}

QString lineStarting(const QStringList& lines, const QString& prefix)
{
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QStringLiteral("(none)");
}

} // namespace

TEST(CloudTwoMachines, EveryLastSavedContentSurvivesConcurrentEditsAndResolution)
{
    const QString a = testDir() + QStringLiteral("/machineA");
    const QString b = testDir() + QStringLiteral("/machineB");
    QDir().mkpath(a);
    QDir().mkpath(b);
    TestSyncTool tool(a + QStringLiteral("/Documents"), QStringLiteral("AAAAAAA"),
                      b + QStringLiteral("/Documents"), QStringLiteral("BBBBBBB"));
    auto name = [](char machine, int i) {
        return QStringLiteral("%1%2.crvx").arg(machine).arg(i, 2, 10, QLatin1Char('0'));
    };

    // Each machine creates 20 documents.
    QStringList createA, createB;
    for (int i = 0; i < 20; ++i) {
        createA.append(QStringLiteral("create:%1:%2 v1").arg(name('a', i), name('a', i)));
        createB.append(QStringLiteral("create:%1:%2 v1").arg(name('b', i), name('b', i)));
    }
    runBoth(a, createA, b, createB);
    tool.sync();

    // 10 documents edited on both sides at once, 10 on one side, 10 deleted.
    QStringList editA, editB;
    QStringList expected;
    for (char machine : {'a', 'b'}) {
        for (int i = 0; i < 5; ++i) {
            editA.append(QStringLiteral("edit:%1:%1 by A").arg(name(machine, i)));
            editB.append(QStringLiteral("edit:%1:%1 by B").arg(name(machine, i)));
            expected << QStringLiteral("%1 by A").arg(name(machine, i))
                     << QStringLiteral("%1 by B").arg(name(machine, i));
        }
        for (int i = 10; i < 15; ++i)
            expected << QStringLiteral("%1 v1").arg(name(machine, i));
    }
    for (int i = 5; i < 10; ++i) {
        editA.append(QStringLiteral("edit:%1:%1 v2").arg(name('a', i)));
        editB.append(QStringLiteral("edit:%1:%1 v2").arg(name('b', i)));
        expected << QStringLiteral("%1 v2").arg(name('a', i)) << QStringLiteral("%1 v2").arg(name('b', i));
    }
    for (int i = 15; i < 20; ++i) {
        editA.append(QStringLiteral("delete:%1").arg(name('a', i)));
        editB.append(QStringLiteral("delete:%1").arg(name('b', i)));
    }
    runBoth(a, editA, b, editB);
    const QStringList conflicts = tool.sync();
    EXPECT_EQ(conflicts.filter(QStringLiteral(".crvx")).size(), 10)
        << conflicts.join(QLatin1Char(' ')).toStdString();

    // Each side resolves its share of the conflicts, at the same time.
    const auto [resolvedA, resolvedB] =
        runBoth(a, {QStringLiteral("resolve:a")}, b, {QStringLiteral("resolve:b")});
    EXPECT_EQ(lineStarting(resolvedA, QStringLiteral("resolved ")), QStringLiteral("5"));
    EXPECT_EQ(lineStarting(resolvedB, QStringLiteral("resolved ")), QStringLiteral("5"));
    tool.sync();

    expected.sort();
    for (const QString& machine : {a, b}) {
        const QStringList texts = documentTexts(machine + QStringLiteral("/Documents"));
        for (const QString& text : std::as_const(expected))
            EXPECT_TRUE(texts.contains(text)) << machine.toStdString() << " lacks " << text.toStdString();
        for (int i = 15; i < 20; ++i)
            EXPECT_FALSE(QFile::exists(machine + QStringLiteral("/Documents/") + name('a', i)));
        for (const QString& file : filesIn(machine + QStringLiteral("/Documents")))
            EXPECT_FALSE(file.endsWith(QLatin1String(".crvx")) && SyncFileNames::isConflictCopy(file))
                << "a conflict copy is left: " << file.toStdString();
    }

    const auto [listA, listB] = runBoth(a, {QStringLiteral("list")}, b, {QStringLiteral("list")});
    for (const QStringList& lines : {listA, listB}) {
        const QStringList listed = lineStarting(lines, QStringLiteral("listed ")).split(QLatin1Char(' '));
        EXPECT_EQ(lineStarting(lines, QStringLiteral("conflicts ")), QStringLiteral("0"));
        EXPECT_EQ(listed.size(), expected.size()) << listed.join(QLatin1Char(' ')).toStdString();
        for (const QString& identifier : listed)
            EXPECT_FALSE(SyncFileNames::isConflictCopy(IdeaDocument::pathFromIdentifier(identifier)))
                << identifier.toStdString();
    }
    EXPECT_EQ(listA.filter(QStringLiteral("listed ")).value(0).split(QLatin1Char(' ')).size(),
              listB.filter(QStringLiteral("listed ")).value(0).split(QLatin1Char(' ')).size());
}

// Writes a document and an index listing it straight into a container's Documents folder,
// as another machine's program synced there would. args: Documents folder, file name, text.
CORVEX_TEST_HELPER(cloudForeignWriter)
{
    Globals::setWallClock([] { return 1796638500.0; });
    const QString documents = args.value(0);
    const QString name = args.value(1);
    bool ok = SaveFile::writeAtomically(
                  documents + QLatin1Char('/') + name,
                  cloudDocumentBytes(Idea::initWithText(args.value(2)), Globals::appInstance()))
                  .ok();
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(iCloudId(name));
    proxy->setText(args.value(2));
    proxy->setItemCount(1);
    const QUrl url = QUrl::fromLocalFile(documents + QStringLiteral("/corvex.index"));
    auto index = IndexDocument::initWithFileURL(url);
    index->setIdeaProxyList({proxy});
    bool answered = false;
    index->saveBinaryToURL(url, [&](bool saved) {
        answered = true;
        ok = ok && saved;
    });
    ok = runUntil([&] { return answered; }) && ok;
    machineSay(ok ? QStringLiteral("written") : QStringLiteral("failed"));
    return ok ? 0 : 1;
}

TEST(CloudTwoMachines, AnIndexWrittenByAnotherProcessShowsAfterTheWatchersDebounce)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.start();
    ASSERT_TRUE(pumpCloud(time, [&] { return fixture.sawStatus(WorkspaceStatus::InSync); }));
    ASSERT_TRUE(fixture.listed().isEmpty());

    auto writer =
        HelperProcess::start(QStringLiteral("cloudForeignWriter"),
                             {fixture.documents(), QStringLiteral("foreign.crvx"), QStringLiteral("From B")});
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->readLine().value_or("nothing"), QByteArray("written"));
    EXPECT_EQ(writer->wait(), 0);

    // Seen by inotify, but nothing is read before the debounce has run on virtual time.
    ASSERT_TRUE(runUntil([] { return FileChangeWatcher::instance().hasPendingChecks(); }));
    for (int i = 0; i < 5; ++i)
        processEvents();
    EXPECT_TRUE(fixture.listed().isEmpty());
    time.advance(FileChangeWatcher::DebounceSeconds);
    ASSERT_TRUE(
        pumpCloud(time, [&] { return fixture.listed().contains(iCloudId(QStringLiteral("foreign.crvx"))); }));
    EXPECT_EQ(fixture.workspace->findProxy(iCloudId(QStringLiteral("foreign.crvx")))->text(),
              QStringLiteral("From B"));
}
