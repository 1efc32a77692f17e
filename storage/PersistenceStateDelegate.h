#pragma once

#include "storage/IdeaProxy.h"
#include "storage/PersistenceState.h"

#include <QString>
#include <vector>

namespace corvex {

// What a storage back end reports to its owner (the Workspace). Every call arrives on the
// main thread and names the back end that sends it, so that the owner can ignore a back end
// that is no longer its current one.
class PersistenceStateDelegate
{
public:
    virtual ~PersistenceStateDelegate();

    // A status code (PersistenceState.h).
    virtual void statusChange(PersistenceStateStatus status, PersistenceState* state) = 0;
    // A changed or new document.
    virtual void observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState* state) = 0;
    // The complete list read from the location's index file.
    virtual void observeProxyList(const std::vector<IdeaProxyPtr>& proxies, PersistenceState* state) = 0;
    // A document gone remotely.
    virtual void ideaDocumentDeleted(const QString& docIdentifier, PersistenceState* state) = 0;
    // A document the back end found while it discovers the location.
    virtual void foundIdeaDocument(const QString& docIdentifier, PersistenceState* state) = 0;
    // The back end kept a remote version of the document as a new document.
    virtual void detectedDocumentConflict(const QString& docIdentifier, PersistenceState* state) = 0;
};

} // namespace corvex
