#pragma once

#include "platform/core/Completion.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

// One listing of the container's "Documents" folder, in the way of a metadata query: it
// gathers once, asynchronously, and tells its owner on the main queue ("finish
// gathering"); it never updates afterwards. Tests replace it with one they script.
class CloudMetadataQuery
{
public:
    struct Item
    {
        QString name; // the file name
        QString path; // the whole path
    };
    using Gathered = corvex::Completion<const std::vector<Item>&>;

    virtual ~CloudMetadataQuery();

    // Gathers the files of `folder` whose names are like `pattern` ("*" any run of
    // characters, "?" one character, everything else itself). False when the query cannot
    // start (the folder cannot be listed); `gathered` is then dropped, never called. Otherwise
    // it is called once, on the main queue, never inside this call, unless the query is
    // stopped first (then it is dropped).
    virtual bool start(const QString& folder, const QString& pattern, Gathered gathered) = 0;
    // No answer comes after this.
    virtual void stop() = 0;

    // The "like" rule above.
    static bool nameIsLike(const QString& name, const QString& pattern);
};

using CloudMetadataQueryPtr = std::unique_ptr<CloudMetadataQuery>;

// The query over a folder of a synced container: the top level only (identifiers name one
// file of the folder), on a global queue, sorted by name, leaving out hidden files, the
// temporary files of sync tools and conflict copies (SyncFileNames), and anything that is
// not a regular file. A listing that fails part way answers what it found and logs why.
class FolderMetadataQuery final : public CloudMetadataQuery
{
public:
    FolderMetadataQuery();
    ~FolderMetadataQuery() override;

    bool start(const QString& folder, const QString& pattern, Gathered gathered) override;
    void stop() override;

    // The listing itself, on the calling thread.
    static std::vector<Item> list(const QString& folder, const QString& pattern);

private:
    std::shared_ptr<std::atomic<bool>> mStopped;
};

} // namespace corvex
