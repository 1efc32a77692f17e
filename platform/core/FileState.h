#pragma once

#include <QString>
#include <cstdint>

namespace corvex {

// What tells one version of a file on disk from another without reading it: an atomic save
// makes a new inode, an in-place write moves the size or the times. Compared for equality
// only. Two in-place writes of the same size within the file system's timestamp
// granularity look alike; atomic saves never do.
struct FileState
{
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // st_mtim, nanoseconds since 1970
    qint64 changedNs = 0;  // st_ctim

    // The state of the file at `path` now, symbolic links followed. A missing file, or one
    // that cannot be examined, reads as not existing.
    static FileState of(const QString& path);

    // One line for logs and test messages.
    QString toString() const;

    friend bool operator==(const FileState&, const FileState&) = default;
};

} // namespace corvex
