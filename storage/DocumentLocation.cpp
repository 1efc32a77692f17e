#include "storage/DocumentLocation.h"

#include "platform/core/MainQueue.h"

namespace corvex {

DocumentLocation::~DocumentLocation() = default;

void DocumentLocation::handleConflictForProxy(const IdeaProxyPtr&, BoolCompletion completion)
{
    MainQueue::post([completion = std::move(completion)] { completion(false); });
}

} // namespace corvex
