#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace corvex {

// The crash reporter's report tree under <caches>/com.blackbox.data/<escaped bundle id>:
// v3/active/<run> (one per run), v3/processing/<run> (taken for symbolication),
// v3/prepared/<boundary>.multipartmime (packaged for upload), v3/pending (only emptied) and
// v3/launchmarker. A report's place in the tree is its state; the manager keeps none. Every
// operation answers its failure and logs one line; names beginning with "." are never
// listed, moved or removed by the listing operations (a run's lock file is one of them).
class BBXFileManager
{
public:
    // The root: caches/"com.blackbox.data"/namespace (the escaped bundle identifier).
    explicit BBXFileManager(QString rootPath);
    // The root for the main bundle under the user's caches folder.
    static QString defaultRootPath();

    const QString& rootPath() const { return mRootPath; }
    QString structurePath() const;
    QString activePath() const;
    QString pendingPath() const;
    QString processingPath() const;
    QString preparedPath() const;
    QString launchMarkerPath() const;
    QString legacyMarkerPath() const;

    bool createDirectoryAtPath(const QString& path) const;
    bool removeItemAtPath(const QString& path) const;
    bool removeContentsOfDirectoryAtPath(const QString& path) const;
    bool moveItemAtPath(const QString& path, const QString& directory) const;
    bool moveItemsFromDirectory(const QString& from, const QString& to) const;
    // Each entry not beginning with ".", in listing order (sorted by name), with its full
    // path and its extension ("" when none).
    void enumerateFilesInDirectory(
        const QString& directory,
        const std::function<void(const QString& path, const QString& extension)>& block) const;
    QStringList contentsOfDirectory(const QString& directory) const;
    // Nothing (logged) when the size cannot be read.
    std::optional<qint64> fileSizeAtPath(const QString& path) const;

    QStringList activePathContents() const { return contentsOfDirectory(activePath()); }
    QStringList processingPathContents() const { return contentsOfDirectory(processingPath()); }
    QStringList preparedPathContents() const { return contentsOfDirectory(preparedPath()); }
    // The packaged reports waiting to be sent (prepared), the oldest first (see oldestFirst).
    QStringList waitingReportsOldestFirst() const;
    // `paths` by age, the oldest first: by modification time, then by name. A package carries
    // its report's time (see setModificationTime), so that age is the report's.
    static QStringList oldestFirst(QStringList paths);
    // Nanoseconds since the epoch; nothing when the entry cannot be read.
    static std::optional<qint64> modificationTime(const QString& path);
    static bool setModificationTime(const QString& path, qint64 nanoseconds);

    // Creates active, processing and prepared in this order, stopping at the first failure.
    bool prepareForNewLaunch() const;
    // active/<identifier>, or nothing when it cannot be made.
    std::optional<QString> setupNewPathForExecutionIdentifier(const QString& identifier) const;
    // When root/"sendable" exists, removes the whole root (logged either way).
    void removeLegacyDirectories() const;
    bool removeContentsOfProcessingPath() const { return removeContentsOfDirectoryAtPath(processingPath()); }
    bool removeContentsOfPendingPath() const { return removeContentsOfDirectoryAtPath(pendingPath()); }
    // Empties processing, pending, prepared and active, trying all four.
    bool removeContentsOfAllPaths() const;

private:
    QString mRootPath;
};

} // namespace corvex
