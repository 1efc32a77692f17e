#pragma once

#include "tests/support/net/DropboxEmulatorTree.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace corvex::test {

// Listing cursors of the Dropbox emulator. A cursor is a position in one folder's listing:
// first the entries of the snapshot taken when the listing began, then every change the
// folder's journal holds since, in the order they happened, so that a change landing
// between pages shows in a later page (a file again with its new revision, a removal as a
// "deleted" entry). Serving a page never changes the cursor it was asked with; it answers a
// new one. Cursors expire on demand or a set time after their listing began (the caller's
// clock). Not thread-safe: the emulator holds its lock around every call.
class DropboxEmulatorCursors
{
public:
    struct Page
    {
        QJsonArray entries;
        QString cursor;
        bool hasMore = false;
    };

    enum class Lookup
    {
        Known,
        Expired,
        Unknown, // never handed out: a malformed cursor
    };

    // The first page of a listing of `snapshot` (listing entries) taken now.
    Page start(const QString& folderLower, std::vector<QJsonObject> snapshot, const DropboxEmulatorTree& tree,
               int pageSize, double now);
    Lookup lookup(const QString& cursor, double now) const;
    // The page after a known cursor.
    Page next(const QString& cursor, const DropboxEmulatorTree& tree, int pageSize);

    // 0: cursors never expire with time.
    void setLifetime(double seconds) { mLifetime = seconds; }
    void expireAll();

private:
    struct Position
    {
        QString folder;
        std::shared_ptr<const std::vector<QJsonObject>> pending;
        std::size_t offset = 0;
        std::size_t journalAt = 0;
        double startedAt = 0;
        bool expired = false;
    };

    Page serve(Position position, const DropboxEmulatorTree& tree, int pageSize);
    static void refill(Position& position, const DropboxEmulatorTree& tree);

    std::map<QString, Position> mPositions;
    double mLifetime = 0;
    int mCounter = 0;
};

} // namespace corvex::test
