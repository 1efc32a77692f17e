#pragma once

// Shared helpers of the persistence controller's tests: a fixture on virtual time whose cloud
// locations (2 and 3) are served by the in-process back end over folders of the test, a
// listener that writes down what it hears, and blocking wrappers around the controller's
// asynchronous operations. Every completion goes through a CompletionRecorder, so one that
// is never called, called twice or called off the main thread fails the test.

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/ObjectID.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceControllerListener.h"
#include "storage/PersistenceControllerListenerHolder.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/TempLocationManager.h"
#include "storage/Workspace.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/storage/ExpectCompletion.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/storage/WorkspaceTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QFile>
#include <QStringList>
#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

namespace corvex::test {

inline constexpr StorageLocation kTemp = 0;
inline constexpr StorageLocation kLocalFile = 1;
inline constexpr StorageLocation kICloud = 2;
inline constexpr StorageLocation kDropbox = 3;

inline QString dump(const IdeaPtr& root)
{
    return root ? root->debugDescription() : QStringLiteral("(null)");
}

// The texts of the root's children, in order.
inline QStringList childTexts(const IdeaPtr& root)
{
    QStringList texts;
    if (root) {
        for (const auto& child : root->ideas())
            texts.append(child->text());
    }
    return texts;
}

// Writes down every call, one line each, in the order heard.
class RecordingListener : public PersistenceControllerListener
{
public:
    struct SearchAnswer
    {
        StorageLocation location;
        qint64 requestIdentifier;
        std::vector<IdeaProxyPtr> proxies;
    };

    void pleaseStopUsingLocation(StorageLocation location) override
    {
        note(QStringLiteral("stop %1").arg(location));
    }
    void batchUpdateStartingInLocation(StorageLocation location) override
    {
        note(QStringLiteral("batch starting %1").arg(location));
    }
    void batchUpdateDoneInLocation(StorageLocation location) override
    {
        note(QStringLiteral("batch %1").arg(location));
    }
    void documentAppended(const IdeaProxyPtr& proxy) override
    {
        proxies.push_back(proxy);
        note(QStringLiteral("appended ") + proxy->docIdentifier());
    }
    void documentAdded(const IdeaProxyPtr& proxy, qint64 index) override
    {
        proxies.push_back(proxy);
        note(QStringLiteral("added %1 at %2").arg(proxy->docIdentifier()).arg(index));
    }
    void documentMoved(const IdeaProxyPtr& proxy, qint64 index) override
    {
        note(QStringLiteral("moved %1 to %2").arg(proxy->docIdentifier()).arg(index));
    }
    void documentUpdated(const IdeaProxyPtr& proxy) override
    {
        proxies.push_back(proxy);
        note(QStringLiteral("updated ") + proxy->docIdentifier());
    }
    void documentDeleted(const QString& docIdentifier) override
    {
        note(QStringLiteral("deleted ") + docIdentifier);
    }
    void searchIsReady(const std::vector<IdeaProxyPtr>& found, StorageLocation location,
                       qint64 requestIdentifier) override
    {
        searches.push_back({location, requestIdentifier, found});
        note(QStringLiteral("search %1 #%2 [%3]")
                 .arg(location)
                 .arg(requestIdentifier)
                 .arg(identifiersOf(found).join(QLatin1Char(' '))));
    }

    // The lines that begin with `prefix`.
    QStringList linesStartingWith(const QString& prefix) const
    {
        QStringList lines;
        for (const QString& line : events) {
            if (line.startsWith(prefix))
                lines.append(line);
        }
        return lines;
    }
    const SearchAnswer* searchAnswer(qint64 requestIdentifier) const
    {
        for (const auto& answer : searches) {
            if (answer.requestIdentifier == requestIdentifier)
                return &answer;
        }
        return nullptr;
    }

    QStringList events;
    std::vector<IdeaProxyPtr> proxies;
    std::vector<SearchAnswer> searches;
    // Called with each line as it is heard, for tests that look at the world at that moment.
    std::function<void(const QString& line)> onEvent;

private:
    void note(const QString& line)
    {
        events.append(line);
        if (onEvent)
            onEvent(line);
    }
};

// Counts "PersistenceStateChangeNotification" while it lives.
class StateChangeCounter
{
public:
    StateChangeCounter()
    {
        mToken = NotificationCenter::defaultCenter().addObserver(
            PersistenceController::StateChangeNotification, nullptr,
            [this](const NotificationCenter::Notification& notification) {
                ++count;
                if (notification.sender != nullptr)
                    ++withSender;
            });
    }
    ~StateChangeCounter() { NotificationCenter::defaultCenter().removeObserver(mToken); }
    StateChangeCounter(const StateChangeCounter&) = delete;
    StateChangeCounter& operator=(const StateChangeCounter&) = delete;

    int count = 0;
    int withSender = 0;

private:
    NotificationCenter::ObserverToken mToken;
};

// The controller of the test process on virtual time, with the in-process back end serving
// locations 2 and 3 over "<test folder>/icloud" and "<test folder>/dropbox". Each test runs in
// a process of its own, so each has a fresh controller: start() makes it.
class ControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (StorageLocation location : {kICloud, kDropbox}) {
            PersistenceStateFactory::registerMaker(location, [this, location]() -> PersistenceStatePtr {
                ++mMade[location];
                auto state = TestFolderPersistenceState::create(folderFor(location), location);
                mStates[location] = state;
                return state;
            });
        }
    }

    void TearDown() override
    {
        PersistenceStateFactory::registerMaker(kICloud, {});
        PersistenceStateFactory::registerMaker(kDropbox, {});
        if (!mListener)
            return;
        controller().removeListener(mListener);
        // Search reads answer through the main queue: they end before the test's time does.
        for (StorageLocation location : {kICloud, kDropbox}) {
            if (mStates[location])
                mStates[location]->holdSearchReads(false);
            if (const auto workspace = controller().workspaceForLocation(location))
                runUntil([&workspace] { return workspace->searchReadsUnderWay() == 0; });
        }
    }

    static QString folderFor(StorageLocation location)
    {
        return testDir() + (location == kICloud ? QStringLiteral("/icloud") : QStringLiteral("/dropbox"));
    }

    // Opts in or out of the cloud locations, then makes the controller (and its workspaces)
    // and registers the recording listener.
    PersistenceController& start(bool iCloud = true, bool dropbox = true)
    {
        Globals::optForICloud(iCloud);
        Globals::optForDropbox(dropbox);
        PersistenceController& made = PersistenceController::singleton();
        mListener = std::make_shared<RecordingListener>();
        made.addListener(mListener);
        return made;
    }

    static PersistenceController& controller() { return PersistenceController::singleton(); }
    ScopedVirtualTime& time() { return mTime; }
    RecordingListener& listener() { return *mListener; }
    // The latest back end made for the location.
    TestFolderPersistenceState& backEnd(StorageLocation location)
    {
        EXPECT_TRUE(mStates[location] != nullptr) << "no back end made for location " << location;
        return *mStates[location];
    }
    int backEndsMade(StorageLocation location) const { return mMade[location]; }

    // Runs what is due now, and what other threads hand to the main queue meanwhile, until
    // `predicate` holds.
    static bool settle(const std::function<bool()>& predicate) { return runUntil(predicate, 10.0); }
    // Moves virtual time on in steps, letting the other threads' answers in between, until
    // `predicate` holds (for back ends scripted with delays).
    bool advanceUntil(const std::function<bool()>& predicate, double step = 0.5, int maxSteps = 60)
    {
        for (int i = 0; i < maxSteps; ++i) {
            if (runUntil(predicate, 0.05))
                return true;
            mTime.advance(step);
        }
        return runUntil(predicate, 0.5);
    }

    // Stores documents with these root texts in the cloud location (files written as another
    // device would), reports them found and then as the complete list, and waits for the
    // workspace's refresh search to answer. Gives the identifiers in list order.
    QStringList publishDocuments(StorageLocation location, const QStringList& rootTexts)
    {
        TestFolderPersistenceState& state = backEnd(location);
        std::vector<IdeaProxyPtr> proxies;
        QStringList identifiers;
        for (int i = 0; i < rootTexts.size(); ++i) {
            const QString identifier =
                state.docIdentifierForFileName(QStringLiteral("doc%1_%2.crvx").arg(location).arg(i + 1));
            auto proxy = state.writeDocumentFile(identifier, smallTree(rootTexts[i]));
            EXPECT_TRUE(proxy != nullptr) << identifier.toStdString();
            if (!proxy)
                continue;
            proxies.push_back(proxy);
            identifiers.append(identifier);
            state.reportFoundDocument(identifier);
        }
        const int searchesBefore = int(listener().searches.size());
        state.reportProxyList(proxies);
        const bool answered = settle([&] { return int(listener().searches.size()) > searchesBefore; });
        EXPECT_TRUE(answered) << "the refresh search of location " << location << " never answered";
        return identifiers;
    }

    // ---- Blocking wrappers

    qint64 create(const std::shared_ptr<IdeaDocument>& document, qint64 index = 0)
    {
        CompletionRecorder recorder;
        qint64 token = -1;
        controller().createDocument(
            document, index,
            expectCompletion<qint64>(recorder, QStringLiteral("create"), [&](qint64 t) { token = t; }));
        EXPECT_TRUE(recorder.waitAll());
        return token;
    }

    qint64 open(const std::shared_ptr<IdeaDocument>& document)
    {
        CompletionRecorder recorder;
        qint64 token = -1;
        controller().openDocument(document, expectCompletion<qint64>(recorder, QStringLiteral("open"),
                                                                     [&](qint64 t) { token = t; }));
        EXPECT_TRUE(recorder.waitAll());
        return token;
    }

    bool save(const std::shared_ptr<IdeaDocument>& document, qint64 token)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().saveDocument(
            document, token,
            expectCompletion<bool>(recorder, QStringLiteral("save"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    void release(const std::shared_ptr<IdeaDocument>& document, qint64 token)
    {
        CompletionRecorder recorder;
        controller().releaseDocument(document, token, recorder.expect<>(QStringLiteral("release")));
        EXPECT_TRUE(recorder.waitAll());
    }

    bool deleteDocument(const QString& identifier)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().deleteDocument(identifier, expectCompletion<bool>(recorder, QStringLiteral("delete"),
                                                                       [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    IdeaPtr fetchRoot(const QString& identifier)
    {
        CompletionRecorder recorder;
        IdeaPtr root;
        controller().fetchRootIdea(identifier,
                                   expectCompletion<const IdeaPtr&>(recorder, QStringLiteral("fetch root"),
                                                                    [&](const IdeaPtr& r) { root = r; }));
        EXPECT_TRUE(recorder.waitAll());
        return root;
    }

    IdeaPtr fetchIdea(const QString& ideaIdentifier, const QString& docIdentifier)
    {
        CompletionRecorder recorder;
        IdeaPtr idea;
        controller().fetchIdea(ideaIdentifier, docIdentifier,
                               expectCompletion<const IdeaPtr&>(recorder, QStringLiteral("fetch idea"),
                                                                [&](const IdeaPtr& i) { idea = i; }));
        EXPECT_TRUE(recorder.waitAll());
        return idea;
    }

    bool deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier)
    {
        CompletionRecorder recorder;
        bool answer = false;
        controller().deleteIdea(
            ideaIdentifier, docIdentifier,
            expectCompletion<bool>(recorder, QStringLiteral("delete idea"), [&](bool ok) { answer = ok; }));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    }

    // A temporary-location document with smallTree(rootText), created, closed again and
    // registered; answers its handle.
    std::shared_ptr<IdeaDocument> storedTemporaryDocument(const QString& rootText)
    {
        auto document = IdeaDocument::initWithFileName(QString(), kTemp);
        document->setIdea(smallTree(rootText));
        const qint64 token = create(document);
        EXPECT_GT(token, 0);
        release(document, token);
        return document;
    }

private:
    // Installed before anything of the test schedules work: delays of the back end and of
    // searches run only when the test advances the clock.
    ScopedVirtualTime mTime;
    std::array<int, 4> mMade{};
    std::array<std::shared_ptr<TestFolderPersistenceState>, 4> mStates;
    std::shared_ptr<RecordingListener> mListener;
};

} // namespace corvex::test
