#pragma once

// Shared pieces of the workspace, index-file and search tests: a delegate that records what
// a workspace reports, trees and documents of a cloud location, and a workspace over the
// in-process back end.

#include "model/IconImage.h"
#include "model/Idea.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/Workspace.h"
#include "storage/WorkspaceDelegate.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace corvex::test {

// Records every call of a workspace as one line ("status 4", "added <id> at 2", ...) and
// keeps the proxies it was handed.
class RecordingWorkspaceDelegate final : public WorkspaceDelegate
{
public:
    struct SearchAnswer
    {
        qint64 requestIdentifier = 0;
        std::vector<IdeaProxyPtr> proxies;
    };

    void statusChange(WorkspaceStatus status, Workspace&) override
    {
        events.append(QStringLiteral("status %1").arg(static_cast<unsigned>(status)));
    }
    void batchUpdateDoneInWorkspace(Workspace&) override { events.append(QStringLiteral("batch done")); }
    void documentAppended(const IdeaProxyPtr& proxy, Workspace&) override
    {
        events.append(QStringLiteral("appended ") + proxy->docIdentifier());
        proxies.push_back(proxy);
    }
    void documentAdded(const IdeaProxyPtr& proxy, qint64 index, Workspace&) override
    {
        events.append(QStringLiteral("added %1 at %2").arg(proxy->docIdentifier()).arg(index));
        proxies.push_back(proxy);
    }
    void documentMoved(const IdeaProxyPtr& proxy, qint64 index, Workspace&) override
    {
        events.append(QStringLiteral("moved %1 at %2").arg(proxy->docIdentifier()).arg(index));
    }
    void documentUpdated(const IdeaProxyPtr& proxy, Workspace&) override
    {
        events.append(QStringLiteral("updated ") + proxy->docIdentifier());
        proxies.push_back(proxy);
    }
    void documentDeleted(const QString& docIdentifier, Workspace&) override
    {
        events.append(QStringLiteral("deleted ") + docIdentifier);
    }
    void searchIsReady(const std::vector<IdeaProxyPtr>& result, qint64 requestIdentifier, Workspace&) override
    {
        events.append(QStringLiteral("search %1").arg(requestIdentifier));
        searches.push_back(SearchAnswer{requestIdentifier, result});
    }

    // The answer to the request, or null when it was not answered.
    const SearchAnswer* answerFor(qint64 requestIdentifier) const
    {
        for (const SearchAnswer& answer : searches) {
            if (answer.requestIdentifier == requestIdentifier)
                return &answer;
        }
        return nullptr;
    }

    QStringList events;
    std::vector<IdeaProxyPtr> proxies;
    std::vector<SearchAnswer> searches;
};

inline QStringList identifiersOf(const std::vector<IdeaProxyPtr>& proxies)
{
    QStringList identifiers;
    for (const IdeaProxyPtr& proxy : proxies)
        identifiers.append(proxy ? proxy->docIdentifier() : QStringLiteral("(null)"));
    return identifiers;
}

// "<identifier>:<itemCount>" for each proxy.
inline QStringList countsOf(const std::vector<IdeaProxyPtr>& proxies)
{
    QStringList lines;
    for (const IdeaProxyPtr& proxy : proxies)
        lines.append(QStringLiteral("%1:%2").arg(proxy->docIdentifier()).arg(proxy->itemCount()));
    return lines;
}

// A bare summary of a document of the location, as a back end reports one.
inline IdeaProxyPtr proxyFor(const QString& docIdentifier, qint64 itemCount = 1)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(docIdentifier);
    proxy->setText(QStringLiteral("title of ") + docIdentifier);
    proxy->setItemCount(itemCount);
    return proxy;
}

inline QString cloudIdentifier(StorageLocation location, const QString& fileName)
{
    return IdeaDocument::docIdentifierFromPath(fileName, location);
}

// A root with the given children texts (each a child of the root).
inline IdeaPtr treeWithChildren(const QString& rootText, const QStringList& children)
{
    IdeaPtr root = Idea::initWithText(rootText);
    for (const QString& text : children)
        EXPECT_TRUE(root->addIdea(Idea::initWithText(text)));
    return root;
}

// A workspace of the location over a TestFolderPersistenceState in the test's folder.
struct WorkspaceFixture
{
    explicit WorkspaceFixture(StorageLocation location = IdeaDocument::DropboxLocation,
                              const QString& folderName = QStringLiteral("cloud"))
        : location(location)
    {
        state = TestFolderPersistenceState::create(testDir() + QLatin1Char('/') + folderName, location);
        workspace = Workspace::initForLocation(location, state, &delegate);
    }
    ~WorkspaceFixture()
    {
        if (!workspace)
            return;
        workspace->setDelegate(nullptr);
        // Search reads answer through the main queue: they end before the test's time does.
        state->holdSearchReads(false);
        runUntil([this] { return workspace->searchReadsUnderWay() == 0; });
    }
    WorkspaceFixture(const WorkspaceFixture&) = delete;
    WorkspaceFixture& operator=(const WorkspaceFixture&) = delete;

    QString identifier(const QString& fileName) const { return cloudIdentifier(location, fileName); }

    // Writes a document file and answers its proxy (nothing reported).
    IdeaProxyPtr store(const QString& fileName, const IdeaPtr& root)
    {
        IdeaProxyPtr proxy = state->writeDocumentFile(identifier(fileName), root);
        EXPECT_TRUE(proxy != nullptr) << fileName.toStdString();
        return proxy;
    }

    // Reports the proxies found and then as the complete list, and runs the main queue
    // until the list is taken. The refresh search the list starts is left running.
    void deliverList(const std::vector<IdeaProxyPtr>& proxies)
    {
        for (const IdeaProxyPtr& proxy : proxies)
            state->reportFoundDocument(proxy->docIdentifier());
        state->reportProxyList(proxies);
        EXPECT_TRUE(runUntil([&] { return workspace->hasCompleteProxyList(); }));
    }

    // deliverList, then waits for the refresh search to answer.
    void deliverListAndCache(const std::vector<IdeaProxyPtr>& proxies)
    {
        const std::size_t answered = delegate.searches.size();
        deliverList(proxies);
        EXPECT_TRUE(runUntil([&] { return delegate.searches.size() > answered; }));
    }

    // Runs a search to its answer.
    const RecordingWorkspaceDelegate::SearchAnswer* search(const QString& text)
    {
        const qint64 request = Workspace::nextSearchRequestID();
        workspace->startSearch(text, request);
        EXPECT_TRUE(runUntil([&] { return delegate.answerFor(request) != nullptr; }));
        return delegate.answerFor(request);
    }

    StorageLocation location;
    RecordingWorkspaceDelegate delegate;
    std::shared_ptr<TestFolderPersistenceState> state;
    std::shared_ptr<Workspace> workspace;
};

} // namespace corvex::test
