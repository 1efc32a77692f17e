#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Result.h"

#include <QString>

namespace corvex {

// What a user's file held at one moment, to tell later whether it changed meanwhile: its size,
// its modification time and the SHA-1 of its bytes. Two fingerprints name the same content when
// size and digest agree; the time says only when the file was last written (a file touched, or
// copied back with its bytes as they were, is still the same file).
struct FileFingerprint
{
    qint64 size = 0;
    qint64 modifiedMs = 0; // milliseconds since 1970
    QString sha1;          // 40 lower-case hex digits

    // The file at `path` now, opened through RegularFile (no bound: the digest is made piece by
    // piece) and read to its end. Errors of the POSIX domain; a missing file fails with ENOENT.
    // Any thread; a large file takes a while, so not the main one.
    static Result<FileFingerprint> of(const QString& path);
    using Completion = corvex::Completion<const Result<FileFingerprint>&>;
    // of() on a global queue; the completion runs on the main queue.
    static void take(const QString& path, Completion completion);

    bool sameContent(const FileFingerprint& other) const { return size == other.size && sha1 == other.sha1; }
    // One line for logs.
    QString toString() const;

    friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

} // namespace corvex
