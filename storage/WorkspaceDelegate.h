#pragma once

#include "storage/IdeaProxy.h"

#include <QString>
#include <QtGlobal>
#include <vector>

namespace corvex {

class Workspace;

// The state of a cloud location as the screens show it (PersistenceController::statusForLocation).
enum class WorkspaceStatus : unsigned
{
    Unavailable = 0, // also: the location has no workspace
    Starting = 1,
    Error = 2,
    Synchronising = 3,
    InSync = 4,
};

// What a Workspace reports to its owner (the persistence controller), each call with the
// workspace as last argument, on the main thread.
class WorkspaceDelegate
{
public:
    virtual ~WorkspaceDelegate();

    // The workspace's status changed (Workspace::status()).
    virtual void statusChange(WorkspaceStatus status, Workspace& workspace) = 0;
    // The workspace took a complete new document list from its back end.
    virtual void batchUpdateDoneInWorkspace(Workspace& workspace) = 0;
    // The back end reported a document the list did not have; it went to the end (a copy).
    virtual void documentAppended(const IdeaProxyPtr& proxy, Workspace& workspace) = 0;
    // A document created through the workspace went in at the index.
    virtual void documentAdded(const IdeaProxyPtr& proxy, qint64 index, Workspace& workspace) = 0;
    // Part of the protocol; a workspace never sends it.
    virtual void documentMoved(const IdeaProxyPtr& proxy, qint64 index, Workspace& workspace) = 0;
    // A document was saved through the workspace (the stored proxy) or its proxy was replaced
    // from the back end (a copy).
    virtual void documentUpdated(const IdeaProxyPtr& proxy, Workspace& workspace) = 0;
    // A document was deleted through the workspace or the back end reported it gone.
    virtual void documentDeleted(const QString& docIdentifier, Workspace& workspace) = 0;
    // A search of the workspace finished with these proxies (Workspace::findMatchingProxies).
    virtual void searchIsReady(const std::vector<IdeaProxyPtr>& proxies, qint64 requestIdentifier,
                               Workspace& workspace) = 0;
};

} // namespace corvex
