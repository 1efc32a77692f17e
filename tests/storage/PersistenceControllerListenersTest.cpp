// The persistence controller's listeners (held weakly, in the order added, walked over a
// snapshot) and its search entry points, with the one request counter that the workspaces'
// own refresh searches share.

#include "tests/storage/PersistenceControllerTestSupport.h"

#include "tests/support/LogCapture.h"

using namespace corvex;
using namespace corvex::test;
using Operation = TestFolderPersistenceState::Operation;

namespace {

// A listener that writes "<name>: <line>" into a shared log and counts its calls in a
// counter that outlives it.
class NamedListener : public RecordingListener
{
public:
    NamedListener(QString name, QStringList& log, std::shared_ptr<int> calls) : mCalls(std::move(calls))
    {
        onEvent = [this, name = std::move(name), &log](const QString& line) {
            ++*mCalls;
            log.append(name + QStringLiteral(": ") + line);
        };
    }

private:
    std::shared_ptr<int> mCalls;
};

} // namespace

// Outside the anonymous namespace, like the test classes TEST_F derives from it: g++ warns
// about a base with internal linkage when this file shares a unity batch.
class PersistenceControllerListeners : public ControllerTest
{
protected:
    std::shared_ptr<NamedListener> makeListener(const QString& name)
    {
        return std::make_shared<NamedListener>(name, log, std::make_shared<int>(0));
    }

    // Search answers of the fixture's listener for the request, once there is one.
    const RecordingListener::SearchAnswer* waitForAnswer(qint64 requestIdentifier)
    {
        settle([&] { return listener().searchAnswer(requestIdentifier) != nullptr; });
        return listener().searchAnswer(requestIdentifier);
    }

    QStringList log;
};

TEST_F(PersistenceControllerListeners, ListenersHearTheWorkspaceEventsInTheOrderTheyWereAdded)
{
    PersistenceController& controller = start(true, false);
    auto first = makeListener(QStringLiteral("first"));
    auto second = makeListener(QStringLiteral("second"));
    controller.addListener(first);
    controller.addListener(second);
    controller.addListener(first); // twice: it hears everything twice

    const QStringList documents = publishDocuments(kICloud, {QStringLiteral("listed")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    log.clear();

    // A document the list does not have, one it has, and one gone: each heard as a copy.
    const QString newcomer = iCloud.docIdentifierForFileName(QStringLiteral("newcomer.crvx"));
    const IdeaProxyPtr appended =
        iCloud.replaceDocumentRemotely(newcomer, smallTree(QStringLiteral("newcomer")));
    const IdeaProxyPtr replaced =
        iCloud.replaceDocumentRemotely(documents[0], smallTree(QStringLiteral("changed")));
    iCloud.deleteDocumentRemotely(newcomer);
    time().runDue();
    const QStringList expected = {
        "first: appended " + newcomer,    "second: appended " + newcomer,    "first: appended " + newcomer,
        "first: updated " + documents[0], "second: updated " + documents[0], "first: updated " + documents[0],
        "first: deleted " + newcomer,     "second: deleted " + newcomer,     "first: deleted " + newcomer,
    };
    EXPECT_EQ(log, expected);
    ASSERT_EQ(first->proxies.size(), 4u);
    EXPECT_NE(first->proxies[0], appended) << "the listener got the back end's own proxy";
    EXPECT_EQ(first->proxies[0]->docIdentifier(), newcomer);
    EXPECT_NE(first->proxies[2], replaced);
    EXPECT_EQ(first->proxies[2]->text(), QStringLiteral("changed"));

    // Batch updates carry the workspace's location; a move (which no workspace reports) is
    // forwarded all the same.
    log.clear();
    iCloud.reportProxyList({replaced});
    time().runDue();
    EXPECT_EQ(log.mid(0, 3), (QStringList{"first: batch 2", "second: batch 2", "first: batch 2"}));
    controller.documentMoved(replaced, 4, *controller.workspaceForLocation(kICloud));
    EXPECT_EQ(first->linesStartingWith(QStringLiteral("moved")),
              (QStringList{"moved " + documents[0] + " to 4", "moved " + documents[0] + " to 4"}));
    EXPECT_TRUE(first->linesStartingWith(QStringLiteral("stop")).isEmpty());
    EXPECT_TRUE(first->linesStartingWith(QStringLiteral("batch starting")).isEmpty());
}

TEST_F(PersistenceControllerListeners, RemovingAListenerRemovesEveryHolderOfItAndNothingElse)
{
    PersistenceController& controller = start(false, false);
    const std::size_t fixtureHolders = controller.listenerHolders().size();
    auto twice = makeListener(QStringLiteral("twice"));
    auto stranger = makeListener(QStringLiteral("stranger"));
    controller.addListener(twice);
    controller.addListener(twice);
    EXPECT_EQ(controller.listenerHolders().size(), fixtureHolders + 2);

    controller.removeListener(stranger);
    controller.removeListener(nullptr);
    EXPECT_EQ(controller.listenerHolders().size(), fixtureHolders + 2);

    controller.removeListener(twice);
    EXPECT_EQ(controller.listenerHolders().size(), fixtureHolders);

    // Removed and added again, as a screen does when it loads: exactly one holder.
    controller.removeListener(twice);
    controller.addListener(twice);
    EXPECT_EQ(controller.listenerHolders().size(), fixtureHolders + 1);
    controller.addListener(nullptr);
    EXPECT_EQ(controller.listenerHolders().size(), fixtureHolders + 1);
}

TEST_F(PersistenceControllerListeners, AListenerThatWentAwayHearsNothingAndItsHolderStays)
{
    PersistenceController& controller = start(true, false);
    auto calls = std::make_shared<int>(0);
    auto gone = std::make_shared<NamedListener>(QStringLiteral("gone"), log, calls);
    controller.addListener(gone);
    const std::size_t holders = controller.listenerHolders().size();
    const std::weak_ptr<NamedListener> watch = gone;
    gone.reset();
    ASSERT_TRUE(watch.expired()) << "the controller keeps its listeners alive";

    publishDocuments(kICloud, {QStringLiteral("after it went")});
    EXPECT_EQ(*calls, 0);
    EXPECT_TRUE(log.isEmpty()) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(controller.listenerHolders().size(), holders);
    EXPECT_EQ(controller.listenerHolders().back()->value(), nullptr);
    // The other listeners still hear everything.
    EXPECT_EQ(listener().linesStartingWith(QStringLiteral("batch")), QStringList{QStringLiteral("batch 2")});
}

TEST_F(PersistenceControllerListeners, ListenersChangedDuringACallbackDoNotDisturbThatCall)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {QStringLiteral("x")});
    auto changer = makeListener(QStringLiteral("changer"));
    auto removed = makeListener(QStringLiteral("removed"));
    auto added = makeListener(QStringLiteral("added"));
    controller.addListener(changer);
    controller.addListener(removed);
    bool changed = false;
    changer->onEvent = [&](const QString& line) {
        log.append(QStringLiteral("changer: ") + line);
        if (!changed) {
            changed = true;
            controller.removeListener(removed);
            controller.addListener(added);
        }
    };

    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    iCloud.reportStatus(PersistenceStateStatusAllFound);
    iCloud.reportProxyList({});
    iCloud.reportProxyList({});
    time().runDue();
    // The status change is no listener call; the first batch reaches the listeners of the
    // moment it started, the second those of the moment after.
    QStringList batches;
    for (const QString& line : log) {
        if (line.contains(QStringLiteral("batch")))
            batches.append(line);
    }
    EXPECT_EQ(batches,
              (QStringList{"changer: batch 2", "removed: batch 2", "changer: batch 2", "added: batch 2"}))
        << log.join(QLatin1Char('\n')).toStdString();
}

// ---- Search

TEST_F(PersistenceControllerListeners, SearchesAnswerTheListenersWithTheirLocationAndRequest)
{
    PersistenceController& controller = start(true, true);
    const QStringList documents = publishDocuments(
        kICloud, {QStringLiteral("Alpha root"), QStringLiteral("beta root"), QStringLiteral("gamma alpha")});
    publishDocuments(kDropbox, {QStringLiteral("alpha in Dropbox")});

    const qint64 request = controller.nextSearchRequestID();
    controller.startSearch(QStringLiteral("ALPHA"), kICloud, request);
    const auto* answer = waitForAnswer(request);
    ASSERT_TRUE(answer != nullptr);
    EXPECT_EQ(answer->location, kICloud);
    // One occurrence each at the root: the greater identifier first.
    EXPECT_EQ(identifiersOf(answer->proxies), (QStringList{documents[2], documents[0]}));
    for (const auto& proxy : answer->proxies)
        EXPECT_EQ(proxy->itemCount(), 1) << proxy->docIdentifier().toStdString();

    // A null text answers the whole list with the proxies' own counts; an empty one nothing.
    const qint64 whole = controller.nextSearchRequestID();
    controller.startSearch(QString(), kICloud, whole, /*inLazyMode*/ false);
    const auto* all = waitForAnswer(whole);
    ASSERT_TRUE(all != nullptr);
    EXPECT_EQ(identifiersOf(all->proxies), documents);
    EXPECT_EQ(all->proxies.front()->itemCount(), 5);
    const qint64 empty = controller.nextSearchRequestID();
    controller.startSearch(QStringLiteral(""), kICloud, empty);
    const auto* none = waitForAnswer(empty);
    ASSERT_TRUE(none != nullptr);
    EXPECT_TRUE(none->proxies.empty()) << identifiersOf(none->proxies).join(' ').toStdString();

    // The other location answers for itself.
    const qint64 dropbox = controller.nextSearchRequestID();
    controller.startSearch(QStringLiteral("alpha"), kDropbox, dropbox);
    const auto* fromDropbox = waitForAnswer(dropbox);
    ASSERT_TRUE(fromDropbox != nullptr);
    EXPECT_EQ(fromDropbox->location, kDropbox);
    EXPECT_EQ(fromDropbox->proxies.size(), 1u);
}

TEST_F(PersistenceControllerListeners, ASearchOfALocationWithoutAWorkspaceLogsAndIsNeverAnswered)
{
    PersistenceController& controller = start(false, false);
    LogCapture log;
    const qint64 request = controller.nextSearchRequestID();
    controller.startSearch(QStringLiteral("anything"), kDropbox, request);
    controller.startSearch(QStringLiteral("anything"), kTemp, controller.nextSearchRequestID());
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 730 -[PersistenceController "
                                       "startSearch:inLocation:requestIdentifier:inLazyMode:]")),
              2)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    controller.killSearch(request, kDropbox);
    time().advance(10.0);
    processEvents();
    EXPECT_TRUE(listener().searches.empty());
}

TEST_F(PersistenceControllerListeners, AKilledSearchIsNeverAnsweredAndTheNextOneIs)
{
    PersistenceController& controller = start(true, false);
    const QStringList documents = publishDocuments(kICloud, {QStringLiteral("one"), QStringLiteral("two")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    // A document changed elsewhere must be read again, slowly.
    iCloud.replaceDocumentRemotely(documents[1], smallTree(QStringLiteral("two, changed")));
    time().runDue();
    iCloud.holdSearchReads(true);

    const std::shared_ptr<Workspace> workspace = controller.workspaceForLocation(kICloud);
    const int reads = iCloud.callCount(Operation::SearchRead);
    const qint64 killed = controller.nextSearchRequestID();
    controller.startSearch(QStringLiteral("changed"), kICloud, killed);
    ASSERT_TRUE(settle([&] { return iCloud.heldSearchReads() == 1; }));
    controller.killSearch(killed + 1000, kICloud); // another request: nothing happens
    controller.killSearch(killed, kICloud);
    // The read under way is answered, once let go, into a run that is no longer current.
    iCloud.holdSearchReads(false);
    ASSERT_TRUE(settle([&] { return workspace->searchReadsUnderWay() == 0; }));
    processEvents();
    EXPECT_EQ(iCloud.callCount(Operation::SearchRead), reads + 1);
    EXPECT_EQ(listener().searchAnswer(killed), nullptr);

    const qint64 next = controller.nextSearchRequestID();
    controller.startSearch(QStringLiteral("changed"), kICloud, next);
    advanceUntil([&] { return listener().searchAnswer(next) != nullptr; });
    const auto* answer = listener().searchAnswer(next);
    ASSERT_TRUE(answer != nullptr);
    EXPECT_EQ(identifiersOf(answer->proxies), QStringList{documents[1]});
}

// F3: the screens' requests and the workspaces' refresh searches draw from one counter, so a
// screen's search that starts while a refresh runs is newer than it, takes over, and is
// answered; the refreshes before and after it are answered too.
TEST_F(PersistenceControllerListeners, AScreensSearchDuringAWorkspaceRefreshIsAnswered)
{
    PersistenceController& controller = start(true, false);
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    const QStringList documents =
        publishDocuments(kICloud, {QStringLiteral("red"), QStringLiteral("green"), QStringLiteral("blue")});
    ASSERT_EQ(listener().searches.size(), 1u);
    const qint64 firstRefresh = listener().searches.front().requestIdentifier;
    EXPECT_EQ(identifiersOf(listener().searches.front().proxies), documents);

    // Every document changed elsewhere; the next complete list starts a refresh that has to
    // read all three, and their reads are held.
    std::vector<IdeaProxyPtr> proxies;
    for (int i = 0; i < documents.size(); ++i)
        proxies.push_back(
            iCloud.writeDocumentFile(documents[i], smallTree(QStringLiteral("changed %1").arg(i))));
    for (const auto& proxy : proxies)
        proxy->setItemCount(proxy->itemCount() + 1); // a changed summary: the cache entries go
    iCloud.holdSearchReads(true);
    iCloud.reportProxyList(proxies);
    time().runDue();
    const std::shared_ptr<Workspace> workspace = controller.workspaceForLocation(kICloud);
    const qint64 secondRefresh = workspace->searchRequestID();
    ASSERT_GT(secondRefresh, firstRefresh) << "no refresh search is running";

    // The screen asks while the refresh reads: its request is newer whatever the workspace
    // drew before.
    time().advance(1.0);
    const qint64 screen = controller.nextSearchRequestID();
    EXPECT_GT(screen, secondRefresh);
    controller.startSearch(QStringLiteral("changed 1"), kICloud, screen);
    iCloud.holdSearchReads(false);
    advanceUntil([&] { return listener().searchAnswer(screen) != nullptr; });
    const auto* answer = listener().searchAnswer(screen);
    ASSERT_TRUE(answer != nullptr) << "the screen's search was dropped";
    EXPECT_EQ(identifiersOf(answer->proxies), QStringList{documents[1]});
    EXPECT_EQ(workspace->searchRequestID(), 0);

    // The next refresh draws a still newer number and is answered with the whole list.
    const std::size_t answers = listener().searches.size();
    iCloud.reportProxyList(proxies);
    ASSERT_TRUE(settle([&] { return listener().searches.size() > answers; }));
    EXPECT_GT(listener().searches.back().requestIdentifier, screen);
    EXPECT_EQ(identifiersOf(listener().searches.back().proxies), documents);
    EXPECT_GT(controller.nextSearchRequestID(), listener().searches.back().requestIdentifier);
}

TEST_F(PersistenceControllerListeners, FindProxyLooksInTheCompleteListOfTheIdentifiersLocation)
{
    PersistenceController& controller = start(true, false);
    EXPECT_EQ(controller.findProxy(QStringLiteral("iCloud:/doc2_1.crvx")), nullptr);
    const QStringList documents = publishDocuments(kICloud, {QStringLiteral("found")});
    const IdeaProxyPtr proxy = controller.findProxy(documents[0]);
    ASSERT_TRUE(proxy != nullptr);
    EXPECT_EQ(proxy->docIdentifier(), documents[0]);
    EXPECT_EQ(controller.findProxy(QStringLiteral("iCloud:/other.crvx")), nullptr);
    EXPECT_EQ(controller.findProxy(QStringLiteral("dropbox:/doc2_1.crvx")), nullptr);
    EXPECT_EQ(controller.findProxy(storedTemporaryDocument(QStringLiteral("temp"))->docIdentifier()),
              nullptr);
}
