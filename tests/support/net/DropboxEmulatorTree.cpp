#include "tests/support/net/DropboxEmulatorTree.h"

#include <QCryptographicHash>

namespace corvex::test {

QString DropboxEmulatorTree::contentHash(const QByteArray& content)
{
    constexpr qsizetype Block = 4 * 1024 * 1024;
    QCryptographicHash whole(QCryptographicHash::Sha256);
    for (qsizetype at = 0; at < content.size(); at += Block)
        whole.addData(QCryptographicHash::hash(content.mid(at, Block), QCryptographicHash::Sha256));
    return QString::fromLatin1(whole.result().toHex());
}

QString DropboxEmulatorTree::parentOf(const QString& lower)
{
    const qsizetype slash = lower.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : lower.left(slash);
}

QString DropboxEmulatorTree::nameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

const DropboxEmulatorTree::Entry* DropboxEmulatorTree::find(const QString& lower) const
{
    const auto found = mEntries.find(lower);
    return found == mEntries.end() ? nullptr : &found->second;
}

QString DropboxEmulatorTree::pathOfId(const QString& id) const
{
    for (const auto& [lower, entry] : mEntries)
        if (entry.id == id)
            return lower;
    return QString();
}

QString DropboxEmulatorTree::writeFile(const QString& pathDisplay, const QByteArray& content,
                                       const QString& clientModified)
{
    makeFolders(parentOf(pathDisplay));
    const QString lower = lowerPath(pathDisplay);
    Entry& entry = mEntries[lower];
    if (entry.id.isEmpty())
        entry.id = QStringLiteral("id:%1").arg(mIdCounter++);
    entry.folder = false;
    entry.pathDisplay = pathDisplay;
    entry.content = content;
    entry.rev = QString::number(++mRevCounter, 16).rightJustified(12, QLatin1Char('0'));
    entry.clientModified = clientModified;
    record(lower, metadata(lower, true));
    return entry.rev;
}

void DropboxEmulatorTree::makeFolders(const QString& pathDisplay)
{
    if (pathDisplay.isEmpty())
        return;
    makeFolders(parentOf(pathDisplay));
    const QString lower = lowerPath(pathDisplay);
    if (mEntries.count(lower))
        return;
    Entry& entry = mEntries[lower];
    entry.folder = true;
    entry.pathDisplay = pathDisplay;
    entry.id = QStringLiteral("id:%1").arg(mIdCounter++);
    record(lower, metadata(lower, true));
}

void DropboxEmulatorTree::remove(const QString& lower)
{
    for (auto it = mEntries.begin(); it != mEntries.end();) {
        if (it->first == lower || it->first.startsWith(lower + QLatin1Char('/'))) {
            record(it->first, QJsonObject{{QStringLiteral(".tag"), QStringLiteral("deleted")},
                                          {QStringLiteral("name"), nameOf(it->second.pathDisplay)},
                                          {QStringLiteral("path_lower"), it->first},
                                          {QStringLiteral("path_display"), it->second.pathDisplay}});
            it = mEntries.erase(it);
        } else {
            ++it;
        }
    }
}

QJsonObject DropboxEmulatorTree::metadata(const QString& lower, bool tagged) const
{
    const Entry& entry = mEntries.at(lower);
    QJsonObject object{{QStringLiteral("name"), nameOf(entry.pathDisplay)},
                       {QStringLiteral("path_lower"), lower},
                       {QStringLiteral("path_display"), entry.pathDisplay},
                       {QStringLiteral("id"), entry.id}};
    if (tagged)
        object.insert(QStringLiteral(".tag"),
                      entry.folder ? QStringLiteral("folder") : QStringLiteral("file"));
    if (!entry.folder) {
        object.insert(QStringLiteral("rev"), entry.rev);
        object.insert(QStringLiteral("size"), double(entry.content.size()));
        object.insert(QStringLiteral("content_hash"), contentHash(entry.content));
        object.insert(QStringLiteral("client_modified"), entry.clientModified);
        object.insert(QStringLiteral("server_modified"), QStringLiteral("2026-01-01T12:00:00Z"));
        object.insert(QStringLiteral("is_downloadable"), true);
    }
    return object;
}

std::vector<QString> DropboxEmulatorTree::children(const QString& folderLower) const
{
    std::vector<QString> found;
    for (const auto& [lower, entry] : mEntries)
        if (parentOf(lower) == folderLower)
            found.push_back(lower);
    return found;
}

std::vector<QJsonObject> DropboxEmulatorTree::changesSince(std::size_t position,
                                                           const QString& folderLower) const
{
    std::vector<QJsonObject> changes;
    for (std::size_t i = position; i < mJournal.size(); ++i)
        if (mJournal[i].parent == folderLower)
            changes.push_back(mJournal[i].listed);
    return changes;
}

qint64 DropboxEmulatorTree::usedBytes() const
{
    qint64 used = 0;
    for (const auto& [lower, entry] : mEntries)
        used += entry.content.size();
    return used;
}

void DropboxEmulatorTree::record(const QString& lower, QJsonObject listed)
{
    mJournal.push_back(Change{parentOf(lower), std::move(listed)});
}

} // namespace corvex::test
