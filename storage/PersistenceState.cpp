#include "storage/PersistenceState.h"

namespace corvex {

DocumentVersion::~DocumentVersion() = default;

PersistenceState::~PersistenceState()
{
    PersistenceState::leaveState();
}

void PersistenceState::leaveState()
{
    mDead = true;
}

DocumentVersionPtr PersistenceState::findConflictingVersion(const IdeaProxyPtr&)
{
    return nullptr;
}

void PersistenceState::handleConflictForProxy(const IdeaProxyPtr&, BoolCompletion completion)
{
    if (completion)
        completion(false);
}

bool PersistenceState::documentInConflict(const QString&) const
{
    return false;
}

QString PersistenceState::description() const
{
    return QStringLiteral("PersistenceState(0x%1)").arg(quintptr(this), 0, 16);
}

} // namespace corvex
