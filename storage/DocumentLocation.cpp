#include "storage/DocumentLocation.h"

#include "platform/core/MainQueue.h"

namespace corvex {

DocumentLocation::~DocumentLocation() = default;

void DocumentLocation::createDocumentOpeningFirst(const std::shared_ptr<IdeaDocument>& document,
                                                  TokenCompletion opened, BoolCompletion stored)
{
    createDocument(document, 0,
                   [opened = std::move(opened), stored = std::move(stored)](qint64 token) mutable {
                       opened(token);
                       stored(token > 0);
                   });
}

void DocumentLocation::handleConflictForProxy(const IdeaProxyPtr&, BoolCompletion completion)
{
    completion(false);
}

} // namespace corvex
