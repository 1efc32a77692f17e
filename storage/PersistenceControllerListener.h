#pragma once

#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"

#include <QString>
#include <QtGlobal>
#include <vector>

namespace corvex {

// What screens and windows hear of the stored documents through the persistence controller
// (addListener). The controller holds listeners weakly, so a listener that goes away simply
// hears nothing more. Every call arrives on the main thread, in the order the listeners were
// added; a listener added twice hears each event twice. Every call does nothing unless
// overridden: a listener overrides what it needs to hear.
class PersistenceControllerListener
{
public:
    virtual ~PersistenceControllerListener();

    // The user left the location (opted out): its workspace is closed already.
    virtual void pleaseStopUsingLocation(StorageLocation /*location*/) {}
    // Never sent by this storage layer; kept for the screens that implement it.
    virtual void batchUpdateStartingInLocation(StorageLocation /*location*/) {}

    // The location's workspace took a complete new document list from its back end.
    virtual void batchUpdateDoneInLocation(StorageLocation /*location*/) {}
    // The back end reported a document the list did not have; it went to the end (a copy).
    virtual void documentAppended(const IdeaProxyPtr& /*proxy*/) {}
    // A document created through the workspace was inserted at that index.
    virtual void documentAdded(const IdeaProxyPtr& /*proxy*/, qint64 /*index*/) {}
    // Forwarded when a workspace reports a move; no workspace reports one.
    virtual void documentMoved(const IdeaProxyPtr& /*proxy*/, qint64 /*index*/) {}
    // A document was saved through the workspace, or its summary replaced from the back end.
    virtual void documentUpdated(const IdeaProxyPtr& /*proxy*/) {}
    // A document was deleted through the workspace, or the back end reported it gone.
    virtual void documentDeleted(const QString& /*docIdentifier*/) {}
    // A search of the location finished: copies of the matching documents' summaries, ranked,
    // each with itemCount the number of occurrences (a null search text: the whole list).
    virtual void searchIsReady(const std::vector<IdeaProxyPtr>& /*proxies*/, StorageLocation /*location*/,
                               qint64 /*requestIdentifier*/)
    {}
};

} // namespace corvex
