#include "storage/Workspace.h"

#include "model/Globals.h"
#include "model/ObjectID.h"
#include "platform/core/SerialQueue.h"
#include "storage/ExecuteBlock.h"
#include "storage/PersistenceStateFactory.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/storage/ExpectCompletion.h"
#include "tests/storage/WorkspaceTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::CompletionRecorder;
using corvex::test::expectCompletion;
using corvex::test::identifiersOf;
using corvex::test::proxyFor;
using corvex::test::runUntil;
using corvex::test::ScopedVirtualTime;
using corvex::test::WorkspaceFixture;
using Operation = TestFolderPersistenceState::Operation;

namespace {

class VersionMark final : public DocumentVersion
{};

std::shared_ptr<IdeaDocument> newWorkspaceDocument(StorageLocation location, const QString& rootText)
{
    auto document = IdeaDocument::initWithFileName(QString(), location);
    document->setIdea(test::treeWithChildren(rootText, {QStringLiteral("one"), QStringLiteral("two")}));
    document->setDateCreated(QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC));
    document->setDateModified(QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC));
    return document;
}

// Creates the document through the workspace and answers its token.
qint64 create(WorkspaceFixture& f, const std::shared_ptr<IdeaDocument>& document, qint64 index)
{
    CompletionRecorder recorder;
    qint64 token = -1;
    f.workspace->createDocument(
        document, index,
        expectCompletion<qint64>(recorder, QStringLiteral("create"), [&](qint64 t) { token = t; }));
    EXPECT_TRUE(recorder.waitAll());
    return token;
}

void release(WorkspaceFixture& f, const std::shared_ptr<IdeaDocument>& document, qint64 token)
{
    CompletionRecorder recorder;
    f.workspace->closeDocument(document, token, recorder.expect<>(QStringLiteral("close")));
    EXPECT_TRUE(recorder.waitAll());
}

} // namespace

// ---- Status

// Code 2, no account or a refused token: iCloud without an account is unavailable, while
// Dropbox refusing the token the user signed in with is an error they must act on.
TEST(WorkspaceStatus, EachBackEndCodeBecomesItsWorkspaceStatusAndIsReported)
{
    for (const StorageLocation location : {IdeaDocument::ICloudLocation, IdeaDocument::DropboxLocation}) {
        WorkspaceFixture f(location);
        EXPECT_EQ(f.workspace->status(), WorkspaceStatus::Starting) << "a new workspace is starting";
        const unsigned refused = location == IdeaDocument::DropboxLocation ? 2 : 0;
        const struct
        {
            PersistenceStateStatus code;
            unsigned status; // the number the status is reported with
        } table[] = {{4, 3}, {5, 4}, {1, 2}, {3, 4}, {2, refused}, {0, 1}};
        for (const auto& row : table) {
            f.delegate.events.clear();
            f.workspace->statusChange(row.code, f.state.get());
            EXPECT_EQ(static_cast<unsigned>(f.workspace->status()), row.status)
                << "location " << location << ", code " << row.code;
            EXPECT_EQ(f.delegate.events, QStringList{QStringLiteral("status %1").arg(row.status)})
                << "location " << location << ", code " << row.code;
        }
    }
}

TEST(WorkspaceStatus, CodesAboveFiveChangeNothingAndTellNobody)
{
    WorkspaceFixture f;
    f.workspace->statusChange(PersistenceStateStatusSyncing, f.state.get());
    f.delegate.events.clear();
    for (PersistenceStateStatus code : {6u, 7u, 100u, 0xFFFFFFFFu})
        f.workspace->statusChange(code, f.state.get());
    EXPECT_EQ(f.workspace->status(), WorkspaceStatus::Synchronising);
    EXPECT_TRUE(f.delegate.events.isEmpty()) << f.delegate.events.join(QStringLiteral(", ")).toStdString();
}

TEST(WorkspaceStatus, CodesArriveFromTheBackEndOnTheMainQueue)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    f.state->reportStatus(PersistenceStateStatusSyncing, 1.0);
    f.state->reportStatus(PersistenceStateStatusAllFound, 2.0);
    time.advance(0.999);
    EXPECT_EQ(f.workspace->status(), WorkspaceStatus::Starting) << "nothing is delivered inside the call";
    time.advance(0.001);
    EXPECT_EQ(f.workspace->status(), WorkspaceStatus::Synchronising);
    time.advance(1.0);
    EXPECT_EQ(f.workspace->status(), WorkspaceStatus::InSync);
    EXPECT_EQ(f.delegate.events, (QStringList{QStringLiteral("status 3"), QStringLiteral("status 4")}));
}

// ---- Events from back ends that are not the current one

TEST(WorkspaceBackEnd, EventsOfAnotherBackEndChangeNothing)
{
    WorkspaceFixture f;
    auto stranger =
        TestFolderPersistenceState::create(test::testDir() + QStringLiteral("/other"), f.location);
    const QString id = f.identifier(QStringLiteral("a.crvx"));
    f.workspace->statusChange(PersistenceStateStatusAllFound, stranger.get());
    f.workspace->foundIdeaDocument(id, stranger.get());
    f.workspace->observeIdeaProxy(proxyFor(id), stranger.get());
    f.workspace->observeProxyList({proxyFor(id)}, stranger.get());
    f.workspace->statusChange(PersistenceStateStatusAllFound, nullptr);
    EXPECT_EQ(f.workspace->status(), WorkspaceStatus::Starting);
    EXPECT_TRUE(f.workspace->ideaProxies().empty());
    EXPECT_TRUE(f.workspace->knownDocuments().isEmpty());
    EXPECT_FALSE(f.workspace->hasCompleteProxyList());
    EXPECT_TRUE(f.delegate.events.isEmpty()) << f.delegate.events.join(QStringLiteral(", ")).toStdString();
}

TEST(WorkspaceBackEnd, AfterCloseWorkspaceTheOldBackEndIsDeadAndItsEventsAreIgnored)
{
    WorkspaceFixture f;
    const QString id = f.identifier(QStringLiteral("a.crvx"));
    f.deliverListAndCache({});
    f.delegate.events.clear();
    std::shared_ptr<TestFolderPersistenceState> old = f.state;
    f.workspace->closeWorkspace();
    EXPECT_TRUE(old->isDead());
    EXPECT_EQ(f.workspace->currentState(), nullptr);

    // Called directly, as a back end that ignores its own death would.
    f.workspace->statusChange(PersistenceStateStatusError, old.get());
    f.workspace->observeIdeaProxy(proxyFor(id), old.get());
    f.workspace->ideaDocumentDeleted(id, old.get());
    EXPECT_EQ(f.workspace->status(), WorkspaceStatus::Starting);
    EXPECT_TRUE(f.workspace->ideaProxies().empty());
    EXPECT_TRUE(f.delegate.events.isEmpty()) << f.delegate.events.join(QStringLiteral(", ")).toStdString();

    // A dead back end sends nothing any more.
    old->reportStatus(PersistenceStateStatusError);
    test::processEvents();
    EXPECT_TRUE(f.delegate.events.isEmpty());
}

TEST(WorkspaceBackEnd, OperationsAfterCloseWorkspaceFailAtOnce)
{
    WorkspaceFixture f;
    f.workspace->closeWorkspace();
    CompletionRecorder recorder;
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("late"));
    f.workspace->createDocument(document, 0,
                                expectCompletion<qint64>(recorder, QStringLiteral("create"),
                                                         [](qint64 token) { EXPECT_EQ(token, 0); }));
    f.workspace->openDocument(document, expectCompletion<qint64>(recorder, QStringLiteral("open"),
                                                                 [](qint64 token) { EXPECT_EQ(token, 0); }));
    f.workspace->updateDocument(
        document, 1,
        expectCompletion<bool>(recorder, QStringLiteral("update"), [](bool ok) { EXPECT_FALSE(ok); }));
    f.workspace->deleteDocument(
        document->docIdentifier(),
        expectCompletion<bool>(recorder, QStringLiteral("delete"), [](bool ok) { EXPECT_FALSE(ok); }));
    f.workspace->fetchRootIdea(
        document->docIdentifier(),
        expectCompletion<const IdeaPtr&>(recorder, QStringLiteral("fetch"),
                                         [](const IdeaPtr& root) { EXPECT_EQ(root, nullptr); }));
    f.workspace->closeDocument(document, 1, recorder.expect<>(QStringLiteral("close")));
    EXPECT_TRUE(recorder.waitAll()) << "failures found before any work answer";
}

TEST(WorkspaceBackEnd, TheWorkspaceIsTheBackEndsDelegateAndDescribesItself)
{
    WorkspaceFixture f;
    EXPECT_EQ(f.state->delegate().get(), static_cast<PersistenceStateDelegate*>(f.workspace.get()));
    EXPECT_EQ(f.workspace->location(), IdeaDocument::DropboxLocation);
    EXPECT_EQ(f.workspace->queue().label(), QStringLiteral("corvex.workspace"));
    const QRegularExpression shape(QStringLiteral(
        "^\\{Workspace\\(0x[0-9a-f]+\\) location=3 storage=TestFolderPersistenceState\\(.*\\}$"));
    EXPECT_TRUE(shape.match(f.workspace->description()).hasMatch())
        << f.workspace->description().toStdString();
}

TEST(WorkspaceBackEnd, DestroyingTheWorkspaceStopsABackEndSomeoneElseStillHolds)
{
    WorkspaceFixture f;
    std::shared_ptr<TestFolderPersistenceState> held = f.state;
    f.workspace.reset();
    EXPECT_TRUE(held->isDead());
    EXPECT_EQ(held->delegate(), nullptr);
}

TEST(WorkspaceBackEnd, TheFactoryMakesBackEndsFromTheRegisteredMakerOnly)
{
    const auto previous = PersistenceStateFactory::registerMaker(7, {});
    EXPECT_FALSE(PersistenceStateFactory::hasMaker(7));
    EXPECT_EQ(PersistenceStateFactory::create(7), nullptr);
    int made = 0;
    PersistenceStateFactory::registerMaker(7, [&] {
        ++made;
        // A maker may reach the factory again while it runs (no lock is held).
        EXPECT_TRUE(PersistenceStateFactory::hasMaker(7));
        return TestFolderPersistenceState::create(test::testDir() + QStringLiteral("/made"), 3);
    });
    const PersistenceStatePtr state = PersistenceStateFactory::create(7);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(PersistenceStateFactory::registerMaker(7, previous)) << "the previous maker is answered";
    EXPECT_FALSE(PersistenceStateFactory::hasMaker(7));
}

// ---- Found documents and complete lists

TEST(WorkspaceProxyList, AListKeepsOnlyDocumentsListedOrFoundAndTheFirstOfDuplicates)
{
    WorkspaceFixture f;
    const QString a = f.identifier(QStringLiteral("a.crvx"));
    const QString b = f.identifier(QStringLiteral("b.crvx"));
    const QString c = f.identifier(QStringLiteral("c.crvx"));
    const QString stray = f.identifier(QStringLiteral("stray.crvx"));
    f.state->reportFoundDocument(a);
    f.state->reportFoundDocument(b);
    f.state->reportFoundDocument(c);
    ASSERT_TRUE(runUntil([&] { return f.workspace->knownDocuments().size() == 3; }));
    EXPECT_EQ(f.workspace->proxyListOrNilIfNotReady(), std::nullopt)
        << "no list before the first complete one";

    const IdeaProxyPtr firstB = proxyFor(b, 10);
    const IdeaProxyPtr secondB = proxyFor(b, 20);
    f.state->reportProxyList({proxyFor(c), firstB, proxyFor(stray), secondB, proxyFor(a)});
    ASSERT_TRUE(runUntil([&] { return f.workspace->hasCompleteProxyList(); }));
    const auto list = f.workspace->proxyListOrNilIfNotReady();
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(identifiersOf(*list), (QStringList{c, b, a}))
        << "in the order given, the stray document dropped";
    EXPECT_EQ((*list)[1], firstB) << "the first entry of a duplicate wins, as the very object given";
    EXPECT_TRUE(f.workspace->knownDocuments().isEmpty()) << "found identifiers are forgotten";
    EXPECT_TRUE(f.delegate.events.contains(QStringLiteral("batch done")));

    // A later list may keep what the current list holds, but the found identifiers are gone.
    f.state->reportProxyList({proxyFor(stray), proxyFor(b), proxyFor(c), proxyFor(a)});
    ASSERT_TRUE(runUntil([&] { return f.delegate.events.count(QStringLiteral("batch done")) == 2; }));
    EXPECT_EQ(identifiersOf(f.workspace->ideaProxies()), (QStringList{b, c, a}));
}

TEST(WorkspaceProxyList, ACompleteListStartsARefreshSearchThatAnswersTheWholeList)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a =
        f.store(QStringLiteral("a.crvx"), test::treeWithChildren(QStringLiteral("alpha"), {}));
    const IdeaProxyPtr b =
        f.store(QStringLiteral("b.crvx"), test::treeWithChildren(QStringLiteral("beta"), {}));
    f.deliverList({a, b});
    EXPECT_GT(f.workspace->searchRequestID(), 0) << "the refresh search runs";
    ASSERT_TRUE(runUntil([&] { return !f.delegate.searches.empty(); }));
    EXPECT_EQ(f.delegate.events.indexOf(QStringLiteral("batch done")), 0);
    EXPECT_EQ(f.delegate.searches.front().proxies, (std::vector<IdeaProxyPtr>{a, b}))
        << "the proxies themselves";
    EXPECT_EQ(f.workspace->searchRequestID(), 0);
    EXPECT_TRUE(f.workspace->searchCache().contains(a->docIdentifier()));
    EXPECT_TRUE(f.workspace->searchCache().contains(b->docIdentifier()));
}

TEST(WorkspaceProxyList, BeforeTheFirstListSingleProxiesChangeItSilently)
{
    WorkspaceFixture f;
    const QString a = f.identifier(QStringLiteral("a.crvx"));
    const QString b = f.identifier(QStringLiteral("b.crvx"));
    f.state->reportProxy(proxyFor(a, 1));
    f.state->reportProxy(proxyFor(b, 1));
    const IdeaProxyPtr newer = proxyFor(a, 5);
    f.state->reportProxy(newer);
    f.state->reportDeleted(b);
    ASSERT_TRUE(runUntil([&] {
        return f.workspace->ideaProxies().size() == 1 && f.workspace->ideaProxies().front() == newer;
    })) << "replaced in place, the other one removed";
    EXPECT_TRUE(f.delegate.events.isEmpty()) << f.delegate.events.join(QStringLiteral(", ")).toStdString();
    EXPECT_FALSE(f.workspace->hasCompleteProxyList());
}

// Once the list is complete, single proxies are reported with copies. A document the back end
// adds goes into the index too (else a document another machine's index lacked would stay out
// of it for good): one save for a whole run of additions, a second after the last. A summary
// replaced or a document deleted is the back end's own news and is not saved back.
TEST(WorkspaceProxyList, OnceCompleteSingleProxiesAreReportedWithCopiesAndAdditionsSavedOnce)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    const QString a = f.identifier(QStringLiteral("a.crvx"));
    const QString b = f.identifier(QStringLiteral("b.crvx"));
    const QString c = f.identifier(QStringLiteral("c.crvx"));
    f.deliverListAndCache({proxyFor(a)});
    f.delegate.events.clear();
    f.delegate.proxies.clear();
    const int saves = f.state->savedProxyListCount();

    const IdeaProxyPtr changed = proxyFor(a, 7);
    const IdeaProxyPtr added = proxyFor(b, 3);
    f.state->reportProxy(changed);
    f.state->reportProxy(added);
    f.state->reportDeleted(a);
    f.state->reportDeleted(f.identifier(QStringLiteral("unknown.crvx")));
    ASSERT_TRUE(runUntil([&] { return f.delegate.events.size() == 3; }));
    test::processEvents();
    EXPECT_EQ(f.delegate.events, (QStringList{QStringLiteral("updated ") + a, QStringLiteral("appended ") + b,
                                              QStringLiteral("deleted ") + a}));
    ASSERT_EQ(f.delegate.proxies.size(), 2u);
    EXPECT_NE(f.delegate.proxies[0], changed) << "the delegate gets a copy";
    EXPECT_EQ(f.delegate.proxies[0]->itemCount(), 7);
    EXPECT_NE(f.delegate.proxies[1], added);
    EXPECT_EQ(f.delegate.proxies[1]->docIdentifier(), b);
    EXPECT_EQ(identifiersOf(f.workspace->ideaProxies()), QStringList{b});
    EXPECT_EQ(f.workspace->ideaProxies().front(), added) << "the list holds the incoming proxy itself";
    EXPECT_EQ(f.state->savedProxyListCount(), saves) << "nothing is saved at once";

    time.advance(0.5);
    f.state->reportProxy(proxyFor(c, 1));
    ASSERT_TRUE(runUntil([&] { return f.workspace->ideaProxies().size() == 2; }));
    time.advance(Workspace::IndexSaveDelaySeconds - 0.1);
    EXPECT_EQ(f.state->savedProxyListCount(), saves) << "a second after the last addition, not the first";
    time.advance(0.1);
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1);
    EXPECT_EQ(f.state->lastSavedProxyList(), (QStringList{b, c}));
    EXPECT_FALSE(f.workspace->hasUnsavedAdditions());

    f.state->reportProxy(proxyFor(b, 9));
    f.state->reportDeleted(c);
    ASSERT_TRUE(runUntil([&] { return f.workspace->ideaProxies().size() == 1; }));
    time.advance(5.0);
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1) << "replacements and deletions are not saved back";
}

// Before the list is complete the index has not been read: an addition then is not saved (it
// would write an index without the documents the file lists). A save of the whole list after
// an addition holds it, and no second save follows.
TEST(WorkspaceProxyList, AdditionsAreSavedOnlyIntoACompleteListAndOnlyOnce)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    const QString early = f.identifier(QStringLiteral("early.crvx"));
    const QString late = f.identifier(QStringLiteral("late.crvx"));
    f.state->reportFoundDocument(early);
    f.state->reportProxy(proxyFor(early));
    ASSERT_TRUE(runUntil([&] { return f.workspace->ideaProxies().size() == 1; }));
    time.advance(5.0);
    EXPECT_EQ(f.state->savedProxyListCount(), 0);
    EXPECT_FALSE(f.workspace->hasUnsavedAdditions());

    f.deliverListAndCache({proxyFor(early)});
    const int saves = f.state->savedProxyListCount();
    f.state->reportProxy(proxyFor(late));
    ASSERT_TRUE(runUntil([&] { return f.workspace->hasUnsavedAdditions(); }));
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("created"));
    const qint64 token = create(f, document, 0);
    ASSERT_GT(token, 0);
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1);
    EXPECT_EQ(f.state->lastSavedProxyList(), (QStringList{document->docIdentifier(), early, late}));
    time.advance(5.0);
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1) << "the create's save held the addition";
}

// A document made here while the first list is still coming: shown at once, neither listed
// nor saved into an index not read yet; the first complete list keeps it at the front, even
// from an index read before it was made, and saves it once. What waited for that list runs
// right after the delegate heard of it, and finds it.
TEST(WorkspaceProxyList, ADocumentMadeBeforeTheFirstListStaysInItAndWhatWaitedFindsIt)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    const QString old = f.identifier(QStringLiteral("old.crvx"));
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("made early"));
    const qint64 token = create(f, document, 0);
    ASSERT_GT(token, 0);
    release(f, document, token);
    const QString made = document->docIdentifier();
    EXPECT_EQ(f.delegate.events, QStringList{QStringLiteral("added %1 at 0").arg(made)});
    EXPECT_EQ(f.state->savedProxyListCount(), 0);
    EXPECT_EQ(f.workspace->listedProxy(made), nullptr);

    QStringList heard;
    f.workspace->whenListComplete([&] {
        heard.append(f.delegate.events.last());
        const IdeaProxyPtr listed = f.workspace->listedProxy(made);
        heard.append(listed ? listed->text() : QStringLiteral("not listed"));
    });
    time.advance(5.0);
    EXPECT_TRUE(heard.isEmpty()) << "answered before the list";

    f.deliverList({proxyFor(old)});
    EXPECT_EQ(heard, (QStringList{QStringLiteral("batch done"), QStringLiteral("made early")}));
    EXPECT_EQ(identifiersOf(f.workspace->ideaProxies()), (QStringList{made, old}));
    time.advance(5.0);
    EXPECT_EQ(f.state->savedProxyListCount(), 1);
    EXPECT_EQ(f.state->lastSavedProxyList(), (QStringList{made, old}));

    // Once complete, and after the workspace closes, on a later turn too (the recorder fails
    // an answer inside the call).
    CompletionRecorder recorder;
    f.workspace->whenListComplete(recorder.expect<>(QStringLiteral("complete")));
    WorkspaceFixture closing(f.location, QStringLiteral("closing"));
    closing.workspace->whenListComplete(recorder.expect<>(QStringLiteral("closed")));
    closing.workspace->closeWorkspace();
    EXPECT_EQ(recorder.callCount(QStringLiteral("closed")), 0);
    EXPECT_TRUE(recorder.waitAll());
}

// The back end may tell of a document it stores (its folder shows the file) before it answers
// the create: before the first complete list and after it, the document is listed once and
// shown once; in a complete list where the creator asked for it (first, before an older one),
// in the first list where the index read puts it.
TEST(WorkspaceProxyList, ADocumentReportedBeforeItsCreateIsAnsweredIsListedOnce)
{
    for (const bool listFirst : {false, true}) {
        SCOPED_TRACE(listFirst ? "after the first list" : "before the first list");
        ScopedVirtualTime time;
        WorkspaceFixture f(IdeaDocument::DropboxLocation,
                           listFirst ? QStringLiteral("a") : QStringLiteral("b"));
        const QString old = f.identifier(QStringLiteral("old.crvx"));
        if (listFirst)
            f.deliverList({proxyFor(old)});
        f.state->setDelay(TestFolderPersistenceState::Operation::Create, 1.0);
        const auto document = newWorkspaceDocument(f.location, QStringLiteral("made"));
        CompletionRecorder recorder;
        f.workspace->createDocument(document, 0, recorder.expect<qint64>(QStringLiteral("create")));
        const QString made = document->docIdentifier();
        f.state->reportProxy(proxyFor(made));
        // The create's file is written off the main thread; its answer comes a second later.
        ASSERT_TRUE(runUntil([&] {
            time.advance(0.25);
            return recorder.callCount(QStringLiteral("create")) == 1;
        }));
        ASSERT_TRUE(recorder.waitAll());
        if (!listFirst)
            f.deliverList({proxyFor(old), proxyFor(made)});
        EXPECT_EQ(identifiersOf(f.workspace->ideaProxies()),
                  listFirst ? (QStringList{made, old}) : (QStringList{old, made}));
        EXPECT_EQ(f.delegate.events.filter(QRegularExpression(QStringLiteral("^(added|appended) "))).size(),
                  1)
            << f.delegate.events.join(QStringLiteral(", ")).toStdString();
    }
}

TEST(WorkspaceProxyList, LookupsFindTheFirstProxyAndItsDocumentHandle)
{
    WorkspaceFixture f;
    const QString a = f.identifier(QStringLiteral("a.crvx"));
    const IdeaProxyPtr proxy = proxyFor(a);
    f.deliverList({proxy});
    EXPECT_TRUE(f.workspace->documentKnown(a));
    EXPECT_FALSE(f.workspace->documentKnown(f.identifier(QStringLiteral("b.crvx"))));
    EXPECT_EQ(f.workspace->findProxy(a), proxy);
    EXPECT_EQ(f.workspace->findProxy(f.identifier(QStringLiteral("b.crvx"))), nullptr);
    const auto document = f.workspace->findDocument(a);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->docIdentifier(), a);
    EXPECT_EQ(f.workspace->documentForIdentifier(a), document) << "the proxy's one handle";
    EXPECT_EQ(f.workspace->findDocument(f.identifier(QStringLiteral("b.crvx"))), nullptr);
}

// ---- Documents through the workspace

TEST(WorkspaceDocuments, ACreatedDocumentIsListedAtItsIndexSavedAndReported)
{
    WorkspaceFixture f;
    f.deliverListAndCache(
        {proxyFor(f.identifier(QStringLiteral("x.crvx"))), proxyFor(f.identifier(QStringLiteral("y.crvx")))});
    f.delegate.events.clear();
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("new map"));
    const qint64 token = create(f, document, 1);
    EXPECT_GT(token, 0);
    EXPECT_TRUE(QFile::exists(f.state->documentPath(document->docIdentifier())));
    EXPECT_EQ(f.workspace->ideaProxies()[1]->docIdentifier(), document->docIdentifier());
    EXPECT_EQ(f.workspace->ideaProxies()[1]->text(), QStringLiteral("new map"));
    EXPECT_EQ(f.delegate.events, QStringList{QStringLiteral("added %1 at 1").arg(document->docIdentifier())});
    EXPECT_EQ(f.state->lastSavedProxyList(), identifiersOf(f.workspace->ideaProxies()));
    release(f, document, token);
}

TEST(WorkspaceDocuments, IndexesOutsideTheListAreClampedIntoIt)
{
    WorkspaceFixture f;
    f.deliverListAndCache({proxyFor(f.identifier(QStringLiteral("x.crvx")))});
    f.delegate.events.clear();
    const auto late = newWorkspaceDocument(f.location, QStringLiteral("late"));
    const auto early = newWorkspaceDocument(f.location, QStringLiteral("early"));
    const qint64 lateToken = create(f, late, 99);
    const qint64 earlyToken = create(f, early, -5);
    EXPECT_GT(lateToken, 0);
    EXPECT_GT(earlyToken, 0);
    EXPECT_EQ(
        identifiersOf(f.workspace->ideaProxies()),
        (QStringList{early->docIdentifier(), f.identifier(QStringLiteral("x.crvx")), late->docIdentifier()}));
    EXPECT_EQ(f.delegate.events, (QStringList{QStringLiteral("added %1 at 1").arg(late->docIdentifier()),
                                              QStringLiteral("added %1 at 0").arg(early->docIdentifier())}))
        << "the delegate hears the index used";
    release(f, late, lateToken);
    release(f, early, earlyToken);
}

TEST(WorkspaceDocuments, CreatingAListedDocumentAnswersZeroAtOnceWithoutTheBackEnd)
{
    WorkspaceFixture f;
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("twice"));
    // The list starts a refresh search, which reads the listed document (it has no file) on a
    // worker thread. Waiting for its answer means no read is still under way when the test,
    // and with it the process, ends: on a loaded machine that read could outlive the test and
    // race the process's exit.
    f.deliverListAndCache({proxyFor(document->docIdentifier())});
    CompletionRecorder recorder;
    f.workspace->createDocument(document, 0,
                                expectCompletion<qint64>(recorder, QStringLiteral("create"),
                                                         [](qint64 token) { EXPECT_EQ(token, 0); }));
    EXPECT_TRUE(recorder.waitAll()) << "answered";
    EXPECT_EQ(f.state->callCount(Operation::Create), 0);
    EXPECT_EQ(f.workspace->ideaProxies().size(), 1u);
}

TEST(WorkspaceDocuments, AFailedCreateChangesNothing)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    f.deliverListAndCache({});
    f.delegate.events.clear();
    const int saves = f.state->savedProxyListCount();
    f.state->failNext(Operation::Create);
    f.state->setDelay(Operation::Create, 2.0);
    CompletionRecorder recorder;
    qint64 token = -1;
    f.workspace->createDocument(
        newWorkspaceDocument(f.location, QStringLiteral("refused")), 0,
        expectCompletion<qint64>(recorder, QStringLiteral("create"), [&](qint64 t) { token = t; }));
    time.advance(1.9);
    EXPECT_EQ(token, -1) << "the back end's delay holds the answer";
    time.advance(0.1);
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(token, 0);
    EXPECT_TRUE(f.workspace->ideaProxies().empty());
    EXPECT_EQ(f.state->savedProxyListCount(), saves);
    EXPECT_TRUE(f.delegate.events.isEmpty());
}

TEST(WorkspaceDocuments, ASaveStampsTheDateRefreshesTheProxyAndSavesTheList)
{
    WorkspaceFixture f;
    f.deliverListAndCache({});
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("before"));
    const qint64 token = create(f, document, 0);
    ASSERT_GT(token, 0);
    f.delegate.events.clear();
    const int saves = f.state->savedProxyListCount();
    const IdeaProxyPtr listed = f.workspace->ideaProxies().front();

    document->idea()->setText(QStringLiteral("after"));
    const QDateTime old = document->dateModified();
    CompletionRecorder recorder;
    bool saved = false;
    f.workspace->updateDocument(
        document, token,
        expectCompletion<bool>(recorder, QStringLiteral("update"), [&](bool ok) { saved = ok; }));
    EXPECT_GT(document->dateModified(), old) << "stamped before the back end writes";
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_TRUE(saved);
    EXPECT_EQ(listed->text(), QStringLiteral("after")) << "the stored proxy is refreshed";
    EXPECT_EQ(f.delegate.events, QStringList{QStringLiteral("updated ") + document->docIdentifier()});
    EXPECT_EQ(f.delegate.proxies.back(), listed) << "a save reports the stored proxy";
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1);
    EXPECT_EQ(f.state->storedTree(document->docIdentifier())->text(), QStringLiteral("after"));
    const IdeaTextMap* map = f.workspace->searchCache().mapFor(document->docIdentifier());
    ASSERT_NE(map, nullptr) << "the saved tree enters the search cache";
    EXPECT_EQ(map->keyAt(0), QStringLiteral("after"));
    release(f, document, token);
}

TEST(WorkspaceDocuments, ADocumentHandedBackWhileItsSaveRunsIsSummedUpFromTheSavedTree)
{
    // A window closing with its editor open: the edit's save starts, the token goes back at
    // once (the document lets its tree go), and only then does the save answer.
    WorkspaceFixture f;
    f.deliverListAndCache({});
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("before"));
    const qint64 token = create(f, document, 0);
    ASSERT_GT(token, 0);
    (void)document->idea()->addIdea(Idea::initWithText(QStringLiteral("child")));
    document->idea()->setText(QStringLiteral("after"));
    const qint64 size = document->idea()->calculateWholeTreeSize();
    CompletionRecorder recorder;
    f.workspace->updateDocument(
        document, token,
        expectCompletion<bool>(recorder, QStringLiteral("update"), [](bool ok) { EXPECT_TRUE(ok); }));
    f.workspace->closeDocument(document, token, recorder.expect<>(QStringLiteral("close")));
    ASSERT_EQ(document->idea(), nullptr) << "the last token gone, the tree goes";
    ASSERT_TRUE(recorder.waitAll());
    const IdeaProxyPtr listed = f.workspace->ideaProxies().front();
    EXPECT_EQ(listed->text(), QStringLiteral("after"));
    EXPECT_EQ(listed->itemCount(), size);
    const IdeaTextMap* map = f.workspace->searchCache().mapFor(document->docIdentifier());
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(map->containsString(QStringLiteral("child"), nullptr, nullptr));
}

TEST(WorkspaceDocuments, AFailedSaveLeavesTheListAndTheCacheAlone)
{
    WorkspaceFixture f;
    f.deliverListAndCache({});
    const auto document = newWorkspaceDocument(f.location, QStringLiteral("kept"));
    const qint64 token = create(f, document, 0);
    f.delegate.events.clear();
    const int saves = f.state->savedProxyListCount();
    f.state->failNext(Operation::Update);
    document->idea()->setText(QStringLiteral("lost"));
    CompletionRecorder recorder;
    f.workspace->updateDocument(
        document, token,
        expectCompletion<bool>(recorder, QStringLiteral("update"), [](bool ok) { EXPECT_FALSE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(f.workspace->ideaProxies().front()->text(), QStringLiteral("kept"));
    EXPECT_EQ(f.state->savedProxyListCount(), saves);
    EXPECT_TRUE(f.delegate.events.isEmpty());
    EXPECT_FALSE(f.workspace->searchCache().contains(document->docIdentifier()));
    release(f, document, token);
}

TEST(WorkspaceDocuments, ADeleteRemovesTheProxySavesReportsAndDropsTheCacheEntry)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a =
        f.store(QStringLiteral("a.crvx"), test::treeWithChildren(QStringLiteral("alpha"), {}));
    const IdeaProxyPtr b =
        f.store(QStringLiteral("b.crvx"), test::treeWithChildren(QStringLiteral("beta"), {}));
    f.deliverListAndCache({a, b});
    f.delegate.events.clear();
    const int saves = f.state->savedProxyListCount();
    CompletionRecorder recorder;
    f.workspace->deleteDocument(a->docIdentifier(), expectCompletion<bool>(recorder, QStringLiteral("delete"),
                                                                           [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_FALSE(QFile::exists(f.state->documentPath(a->docIdentifier())));
    EXPECT_EQ(identifiersOf(f.workspace->ideaProxies()), QStringList{b->docIdentifier()});
    EXPECT_EQ(f.delegate.events, QStringList{QStringLiteral("deleted ") + a->docIdentifier()});
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1);
    EXPECT_EQ(f.state->lastSavedProxyList(), QStringList{b->docIdentifier()});
    EXPECT_FALSE(f.workspace->searchCache().contains(a->docIdentifier()));
    EXPECT_TRUE(f.workspace->searchCache().contains(b->docIdentifier()));

    // The back end fails the second delete: nothing changes.
    CompletionRecorder again;
    f.workspace->deleteDocument(
        a->docIdentifier(),
        expectCompletion<bool>(again, QStringLiteral("delete again"), [](bool ok) { EXPECT_FALSE(ok); }));
    ASSERT_TRUE(again.waitAll());
    EXPECT_EQ(f.state->savedProxyListCount(), saves + 1);
}

TEST(WorkspaceDocuments, FetchRootIdeaReadsTheTreeAndClosesTheDocumentAgain)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(
        QStringLiteral("a.crvx"), test::treeWithChildren(QStringLiteral("alpha"), {QStringLiteral("child")}));
    CompletionRecorder recorder;
    IdeaPtr root;
    f.workspace->fetchRootIdea(a->docIdentifier(),
                               expectCompletion<const IdeaPtr&>(recorder, QStringLiteral("fetch"),
                                                                [&](const IdeaPtr& r) { root = r; }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(), QStringLiteral("alpha"));
    EXPECT_EQ(root->ideas().size(), 1u);
    EXPECT_EQ(f.state->callCount(Operation::Open), 1);
    EXPECT_EQ(f.state->callCount(Operation::Close), 1);

    CompletionRecorder missing;
    f.workspace->fetchRootIdea(
        f.identifier(QStringLiteral("missing.crvx")),
        expectCompletion<const IdeaPtr&>(missing, QStringLiteral("fetch missing"),
                                         [](const IdeaPtr& r) { EXPECT_EQ(r, nullptr); }));
    ASSERT_TRUE(missing.waitAll());
    EXPECT_EQ(f.state->callCount(Operation::Close), 1) << "nothing to close after a failed open";
}

TEST(WorkspaceDocuments, OpenAndCloseGoToTheBackEndWithItsTokens)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a =
        f.store(QStringLiteral("a.crvx"), test::treeWithChildren(QStringLiteral("alpha"), {}));
    const auto document = IdeaDocument::initWithIdentifier(a->docIdentifier());
    CompletionRecorder recorder;
    qint64 first = 0;
    qint64 second = 0;
    f.workspace->openDocument(
        document, expectCompletion<qint64>(recorder, QStringLiteral("open 1"), [&](qint64 t) { first = t; }));
    ASSERT_TRUE(recorder.waitAll());
    f.workspace->openDocument(document, expectCompletion<qint64>(recorder, QStringLiteral("open 2"),
                                                                 [&](qint64 t) { second = t; }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_GT(first, 0);
    EXPECT_GT(second, first);
    EXPECT_EQ(document->idea()->text(), QStringLiteral("alpha"));
    release(f, document, first);
    EXPECT_NE(document->idea(), nullptr) << "one token is still out";
    release(f, document, second);
    EXPECT_EQ(document->idea(), nullptr);
}

// ---- Attachments and conflicts

TEST(WorkspaceAttachments, AttachmentsGoToTheBackEndAndComeBack)
{
    WorkspaceFixture f;
    const QByteArray bytes("picture bytes");
    const ObjectID attachment = ObjectID::createFromData(bytes, QStringLiteral("png"));
    CompletionRecorder recorder;
    f.workspace->storeAttachment(
        attachment, bytes,
        expectCompletion<bool>(recorder, QStringLiteral("store"), [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    QByteArray read;
    f.workspace->provideAttachment(
        attachment, expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide"),
                                                        [&](const QByteArray& data) { read = data; }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(f.state->callCount(Operation::StoreAttachment), 1);
    EXPECT_EQ(f.state->callCount(Operation::ProvideAttachment), 1);

    f.state->failNext(Operation::ProvideAttachment);
    f.workspace->provideAttachment(
        attachment,
        expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide failing"),
                                            [](const QByteArray& data) { EXPECT_TRUE(data.isNull()); }));
    ASSERT_TRUE(recorder.waitAll());
}

TEST(WorkspaceConflicts, ABackEndWithoutVersionsAnswersNothingAndNoAtOnce)
{
    WorkspaceFixture f;
    const IdeaProxyPtr proxy = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    EXPECT_EQ(f.workspace->findConflictingVersion(proxy), nullptr);
    CompletionRecorder recorder;
    f.workspace->handleConflictForProxy(proxy, expectCompletion<bool>(recorder, QStringLiteral("conflict"),
                                                                      [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll()) << "answered";
    EXPECT_EQ(f.state->callCount(Operation::HandleConflict), 0) << "the back end is not asked";
}

TEST(WorkspaceConflicts, ABackEndThatKeepsVersionsIsAsked)
{
    WorkspaceFixture f(IdeaDocument::ICloudLocation);
    const auto version = std::make_shared<VersionMark>();
    f.state->setKeepsConflictingVersions(true, version);
    const IdeaProxyPtr proxy = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    EXPECT_EQ(f.workspace->findConflictingVersion(proxy), version);
    CompletionRecorder recorder;
    f.workspace->handleConflictForProxy(proxy, expectCompletion<bool>(recorder, QStringLiteral("conflict"),
                                                                      [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(f.state->callCount(Operation::HandleConflict), 1);
}

TEST(WorkspaceConflicts, ADetectedConflictChangesNothing)
{
    WorkspaceFixture f;
    const QString a = f.identifier(QStringLiteral("a.crvx"));
    f.deliverListAndCache({proxyFor(a)});
    f.delegate.events.clear();
    f.state->reportConflict(a);
    test::processEvents();
    test::processEvents();
    EXPECT_EQ(identifiersOf(f.workspace->ideaProxies()), QStringList{a});
    EXPECT_TRUE(f.delegate.events.isEmpty()) << f.delegate.events.join(QStringLiteral(", ")).toStdString();
}
