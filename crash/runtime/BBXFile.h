#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The record file writer. A record file is lines of one-member JSON objects,
// {"<section>":<value>}\n, without white space. Plain strings and keys are escaped as JSON
// needs (quote, backslash, control bytes) and bytes that are not UTF-8 are written as U+FFFD,
// so that every line is JSON whatever a path or a thread name holds; free texts go
// hex-encoded. Writing uses only open, fchmod, write, close and fstat.

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace corvex {

constexpr std::size_t BBXFileBufferSize = 1000;

// One open writer, usually on the caller's stack; belongs to one writer at a time.
struct BBXFile
{
    std::int32_t fd = -1;
    std::int32_t depth = 0; // open hashes and arrays
    bool needsComma = false;
    bool buffered = false;
    bool ownsBuffer = false; // the buffer came from malloc at open
    char* buffer = nullptr;  // BBXFileBufferSize bytes
    std::size_t bufferFill = 0;
    std::uint64_t bytesWritten = 0; // bytes known to be in the file
};

// The write loop's block: writes what it can of the bytes, answers the count or a negative
// value (as write(2)).
using BBXFileWriteBlock = ssize_t (*)(void* context, const void* bytes, std::size_t length);

// Opens through BBXFileOpenPrivate: append mode keeps what is there (bytes written starts at
// the file's size), else the file is truncated. A buffered file gets a 1000-byte buffer from malloc: open
// those before installation, or hand in a buffer.
bool BBXFileInitWithPathMode(BBXFile* file, const char* path, bool append, bool buffered);
// Opens `path` with `flags` and O_CREAT as a record of the user's alone: they hold stack
// memory, paths and the installation identifier. A new file is 0600 whatever the umask, and a
// regular file found with another mode is set to 0600. Answers the descriptor or -1 (errno).
int BBXFileOpenPrivate(const char* path, int flags);
bool BBXFileInitWithPath(BBXFile* file, const char* path, bool buffered);
// Buffered through the caller's BBXFileBufferSize bytes: allocates nothing, for files opened
// at crash time.
bool BBXFileInitWithPathModeAndBuffer(BBXFile* file, const char* path, bool append, char* buffer);

// Flushes and lets go of the buffer (whatever close answers afterwards), stores the bytes
// written through `outBytesWritten` when valid, closes. A failed close leaves the record
// open otherwise, without its buffer.
bool BBXFileCloseWithOffset(BBXFile* file, std::uint64_t* outBytesWritten);
bool BBXFileClose(BBXFile* file);
bool BBXFileIsOpen(const BBXFile* file);

// Raw bytes through the buffer (or straight through the write loop when unbuffered).
bool BBXFileWriteBytes(BBXFile* file, const void* bytes, std::size_t length);
bool BBXFileFlush(BBXFile* file);

void BBXFileWriteSectionStart(BBXFile* file, const char* name);
void BBXFileWriteSectionEnd(BBXFile* file);
void BBXFileWriteHashStart(BBXFile* file);
void BBXFileWriteHashEnd(BBXFile* file);
void BBXFileWriteArrayStart(BBXFile* file);
void BBXFileWriteArrayEnd(BBXFile* file);
void BBXFileWriteHashKey(BBXFile* file, const char* key);

void BBXFileWriteHashEntryUint64(BBXFile* file, const char* key, std::uint64_t value);
void BBXFileWriteHashEntryInt64(BBXFile* file, const char* key, std::int64_t value);
// A NUL-terminated string, null for none.
void BBXFileWriteHashEntryString(BBXFile* file, const char* key, const char* value);
// A text's UTF-8 bytes (`length` of them, no terminator needed), null for none.
void BBXFileWriteHashEntryNSString(BBXFile* file, const char* key, const char* utf8, std::size_t length);
// As above, but nothing at all (not even the key) for a text that is absent or empty.
void BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(BBXFile* file, const char* key, const char* utf8,
                                                   std::size_t length);
void BBXFileWriteHashEntryHexEncodedString(BBXFile* file, const char* key, const char* value);
void BBXFileWriteHashEntryBoolean(BBXFile* file, const char* key, bool value);

void BBXFileWriteArrayEntryUint64(BBXFile* file, std::uint64_t value);
void BBXFileWriteArrayEntryString(BBXFile* file, const char* value);
void BBXFileWriteArrayEntryHexEncodedString(BBXFile* file, const char* value);

// The number forms written straight to a descriptor through the write loop (hex: lower-case
// digits without a prefix).
bool BBXFileWriteUInt64ToDescriptor(int fd, std::uint64_t value, bool hex);
bool BBXFileWriteInt64ToDescriptor(int fd, std::int64_t value);

// Up to 50 calls of the block until every byte is out; a length of 0 fails.
bool BBXFileLoopWithWriteBlock(const void* bytes, std::size_t length, BBXFileWriteBlock block, void* context);
bool BBXFileWriteWithRetries(int fd, const void* bytes, std::size_t length);

// The pieces the kit log shares. Formats a number into `scratch` from its end and answers
// where its digits start; a negative signed value gets its "-" (INT64_MIN included).
constexpr std::size_t BBXFileNumberScratchSize = 21;
std::size_t BBXFileFormatUInt64(char (&scratch)[BBXFileNumberScratchSize], std::uint64_t value, bool hex);
std::size_t BBXFileFormatInt64(char (&scratch)[BBXFileNumberScratchSize], std::int64_t value);
// The write loop without its failure lines: for the kit log, whose failures would only come
// back to the descriptor that just failed.
bool BBXFileWriteWithRetriesQuietly(int fd, const void* bytes, std::size_t length);

} // namespace corvex
