#pragma once

#include <QString>
#include <memory>

namespace corvex {

// Where a download task left its file, as its completion hears it: the file stays while a
// copy is held (the completion's posted call holds one until it has run) and is deleted when
// the last copy goes. Reads as the file's path.
class BBXDownloadLocation
{
public:
    BBXDownloadLocation() = default;
    // Takes charge of the file at `path`; an empty path names no file.
    static BBXDownloadLocation takingFile(const QString& path);

    const QString& path() const;
    operator const QString&() const { return path(); }

private:
    struct Owned;
    std::shared_ptr<const Owned> mFile;
};

} // namespace corvex
