#pragma once

#include "platform/core/Result.h"
#include "storage/PersistenceState.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

namespace corvex {

// An unresolved conflicting version of a document file: here, a conflict copy that a sync
// tool left beside it (SyncFileNames).
class CloudFileVersion final : public DocumentVersion
{
public:
    CloudFileVersion(QString path, QDateTime modificationDate, QString savingComputer)
        : mPath(std::move(path)), mModificationDate(std::move(modificationDate)),
          mSavingComputer(std::move(savingComputer))
    {}

    // The copy's file.
    const QString& path() const { return mPath; }
    // The copy's modification time.
    QDateTime modificationDate() const override { return mModificationDate; }
    // The device named in the copy's name; "" when the tool names none.
    QString localizedNameOfSavingComputer() const override { return mSavingComputer; }

private:
    QString mPath;
    QDateTime mModificationDate;
    QString mSavingComputer;
};

using CloudFileVersionPtr = std::shared_ptr<CloudFileVersion>;

// The file versions of the container's documents. Tests replace it with one they script.
// Any thread (the mode calls it on the persistence queue and on the main thread).
class ConflictVersionStore
{
public:
    virtual ~ConflictVersionStore();

    // The unresolved conflicting versions of the document file, in listing order.
    virtual std::vector<CloudFileVersionPtr>
    unresolvedConflictVersionsOfItem(const QString& documentPath) = 0;
    // Puts the version's content in place of the document file (atomically: the old file
    // stays on any failure).
    virtual Status replaceItem(const QString& documentPath, const CloudFileVersion& version) = 0;
    // Removes every version of the document file but the current one.
    virtual Status removeOtherVersionsOfItem(const QString& documentPath) = 0;
    // The version is resolved: it is no longer listed.
    virtual Status setResolved(const CloudFileVersion& version) = 0;
};

// The conflict copies in the document's folder: every file whose name SyncFileNames reads
// as a conflict copy of the document's name, sorted by name; dated by their modification
// times. Replacing copies the version to a temporary file beside the document and renames
// it over the document, under a coordinated write of the document (its presenters hear of
// it); removing and resolving remove the copies.
class SyncConflictVersionStore final : public ConflictVersionStore
{
public:
    std::vector<CloudFileVersionPtr> unresolvedConflictVersionsOfItem(const QString& documentPath) override;
    Status replaceItem(const QString& documentPath, const CloudFileVersion& version) override;
    Status removeOtherVersionsOfItem(const QString& documentPath) override;
    Status setResolved(const CloudFileVersion& version) override;

    // The largest copy taken in place of a document.
    static constexpr qint64 MaxVersionSize = qint64(1) << 30;
};

} // namespace corvex
