#include "storage/PersistenceState.h"

#include "platform/core/MainQueue.h"
#include "platform/core/WholeFileReader.h"
#include "platform/core/Zlib.h"

namespace corvex {

DocumentVersion::~DocumentVersion() = default;

QDateTime DocumentVersion::modificationDate() const
{
    return {};
}

QString DocumentVersion::localizedNameOfSavingComputer() const
{
    return {};
}

PersistenceState::~PersistenceState()
{
    PersistenceState::leaveState();
}

void PersistenceState::leaveState()
{
    mDead = true;
}

PersistenceState::SearchRead PersistenceState::searchRead(const QString&)
{
    return {};
}

PersistenceState::SearchRead PersistenceState::fileSearchRead(const QString& path)
{
    if (path.isEmpty())
        return {};
    return [path] {
        return WholeFileReader::read(path, Zlib::DefaultInflateLimit,
                                     QStringLiteral("Cannot read the document"));
    };
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
