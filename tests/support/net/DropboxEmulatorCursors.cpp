#include "tests/support/net/DropboxEmulatorCursors.h"

namespace corvex::test {

DropboxEmulatorCursors::Page DropboxEmulatorCursors::start(const QString& folderLower,
                                                           std::vector<QJsonObject> snapshot,
                                                           const DropboxEmulatorTree& tree, int pageSize,
                                                           double now)
{
    Position position;
    position.folder = folderLower;
    position.pending = std::make_shared<const std::vector<QJsonObject>>(std::move(snapshot));
    position.journalAt = tree.journalSize();
    position.startedAt = now;
    return serve(std::move(position), tree, pageSize);
}

DropboxEmulatorCursors::Lookup DropboxEmulatorCursors::lookup(const QString& cursor, double now) const
{
    const auto found = mPositions.find(cursor);
    if (found == mPositions.end())
        return Lookup::Unknown;
    const bool old = mLifetime > 0 && now >= found->second.startedAt + mLifetime;
    return found->second.expired || old ? Lookup::Expired : Lookup::Known;
}

DropboxEmulatorCursors::Page DropboxEmulatorCursors::next(const QString& cursor,
                                                          const DropboxEmulatorTree& tree, int pageSize)
{
    return serve(mPositions.at(cursor), tree, pageSize);
}

void DropboxEmulatorCursors::expireAll()
{
    for (auto& [cursor, position] : mPositions)
        position.expired = true;
}

DropboxEmulatorCursors::Page DropboxEmulatorCursors::serve(Position position, const DropboxEmulatorTree& tree,
                                                           int pageSize)
{
    Page page;
    refill(position, tree);
    const std::size_t end = std::min(position.pending->size(), position.offset + std::size_t(pageSize));
    for (; position.offset < end; ++position.offset)
        page.entries.append(position.pending->at(position.offset));
    refill(position, tree);
    page.hasMore = position.offset < position.pending->size();
    page.cursor = QStringLiteral("cursor-%1").arg(++mCounter);
    mPositions[page.cursor] = std::move(position);
    return page;
}

void DropboxEmulatorCursors::refill(Position& position, const DropboxEmulatorTree& tree)
{
    if (position.offset < position.pending->size())
        return;
    position.pending = std::make_shared<const std::vector<QJsonObject>>(
        tree.changesSince(position.journalAt, position.folder));
    position.offset = 0;
    position.journalAt = tree.journalSize();
}

} // namespace corvex::test
