#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvex {

// The content hash Dropbox gives every file ("content_hash"): the SHA-256 of the SHA-256s of
// the content's 4 MiB blocks, in lower-case hex. It tells whether a downloaded body is the
// whole file, and whether a local copy holds what a listed file holds. Any thread.
class DropboxContentHash
{
public:
    DropboxContentHash() = delete;

    static constexpr qint64 BlockSize = qint64(4) * 1024 * 1024;

    static QString ofBytes(const QByteArray& content);
    // Read block by block; nothing when the file cannot be read.
    static std::optional<QString> ofFile(const QString& path);
};

} // namespace corvex
