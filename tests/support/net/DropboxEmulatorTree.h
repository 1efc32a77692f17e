#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <map>
#include <vector>

namespace corvex::test {

// The application folder the Dropbox emulator serves: files and folders by lower-case path
// (the root "" is implied), a fresh revision for every write, and a journal of every change
// in the form a listing reports it, so that listing cursors can tell what changed since.
// Not thread-safe: the emulator holds its lock around every call.
class DropboxEmulatorTree
{
public:
    struct Entry
    {
        bool folder = false;
        QString pathDisplay;
        QByteArray content;
        QString rev;
        QString clientModified;
        QString id;
    };

    static QString lowerPath(const QString& path) { return path.toLower(); }
    // "" for a child of the root.
    static QString parentOf(const QString& lower);
    static QString nameOf(const QString& path);
    // The service's content hash: SHA-256 of the 4 MiB blocks' SHA-256 hashes.
    static QString contentHash(const QByteArray& content);

    // Null for a path that names nothing (and for the root).
    const Entry* find(const QString& lower) const;
    // The lower-case path of the entry with that "id:..." identifier; empty when none.
    QString pathOfId(const QString& id) const;
    bool isFolder(const QString& lower) const
    {
        return lower.isEmpty() || (find(lower) && find(lower)->folder);
    }

    // Writes a file (making its missing parent folders) and answers its new revision.
    QString writeFile(const QString& pathDisplay, const QByteArray& content, const QString& clientModified);
    // Makes the folder and its missing parents.
    void makeFolders(const QString& pathDisplay);
    // Removes the entry and everything below it.
    void remove(const QString& lower);

    // The metadata the routes answer: with `tagged` the ".tag" of the Metadata union (listings,
    // get_metadata, delete_v2), without it the bare struct (upload, download, create_folder_v2).
    QJsonObject metadata(const QString& lower, bool tagged) const;
    // The direct children of a folder, by lower-case path.
    std::vector<QString> children(const QString& folderLower) const;

    // The journal: its length, and the listing entries of the changes since `position` below a
    // folder (file and folder metadata as they were written, "deleted" entries for removals).
    std::size_t journalSize() const { return mJournal.size(); }
    std::vector<QJsonObject> changesSince(std::size_t position, const QString& folderLower) const;

    // The bytes all files take.
    qint64 usedBytes() const;

private:
    void record(const QString& lower, QJsonObject listed);

    struct Change
    {
        QString parent;
        QJsonObject listed;
    };

    std::map<QString, Entry> mEntries;
    std::vector<Change> mJournal;
    std::uint64_t mRevCounter = 0x1a2b3c000;
    std::uint64_t mIdCounter = 1;
};

} // namespace corvex::test
