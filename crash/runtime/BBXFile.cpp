// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXFile.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXErrnoText.h"
#include "crash/runtime/BBXSDKLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

constexpr int BBXFileMaximumWriteAttempts = 50;
const char BBXFileHexDigits[] = "0123456789abcdef";

ssize_t bbxFileWriteToDescriptor(void* context, const void* bytes, std::size_t length)
{
    const int fd = *static_cast<const int*>(context);
    errno = 0;
    const ssize_t result = ::write(fd, bytes, length);
    if (result < 0)
        BBX_LOG_ERROR("Failed to write: %s", BBXErrnoText(errno).text());
    return result;
}

ssize_t bbxFileWriteToDescriptorQuietly(void* context, const void* bytes, std::size_t length)
{
    const int fd = *static_cast<const int*>(context);
    return ::write(fd, bytes, length);
}

bool bbxFileIsWritable(const BBXFile* file)
{
    return BBXIsValidPointer(file) && file->fd >= 0;
}

void bbxFileWriteText(BBXFile* file, const char* text, std::size_t length)
{
    if (length > 0)
        BBXFileWriteBytes(file, text, length);
}

// Output of one string assembled in a stack buffer, so that an unbuffered file gets a few
// large writes rather than one per escape.
struct BBXFileStringSink
{
    BBXFile* file;
    char bytes[128];
    std::size_t fill = 0;

    void put(const char* text, std::size_t length)
    {
        while (length > 0) {
            if (fill == sizeof bytes)
                flush();
            std::size_t take = sizeof bytes - fill;
            if (take > length)
                take = length;
            std::memcpy(bytes + fill, text, take);
            fill += take;
            text += take;
            length -= take;
        }
    }
    void put(char c) { put(&c, 1); }
    void flush()
    {
        bbxFileWriteText(file, bytes, fill);
        fill = 0;
    }
};

// The length of the well-formed UTF-8 sequence at `s`, or 0 with `*invalid` set to the length
// of its maximal ill-formed prefix (at least 1): the unit one U+FFFD replaces, as decoders
// that follow the Unicode recommendation (Python's among them) count it.
std::size_t bbxFileUtf8SequenceLength(const unsigned char* s, std::size_t available, std::size_t* invalid)
{
    const unsigned char lead = s[0];
    std::size_t needed = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        *invalid = 1;
        return 0;
    }
    for (std::size_t i = 1; i <= needed; ++i) {
        const bool first = i == 1;
        if (i >= available || s[i] < (first ? low : 0x80) || s[i] > (first ? high : 0xBF)) {
            *invalid = i;
            return 0;
        }
    }
    return needed + 1;
}

// Quote, text, quote: quote and backslash escaped, control bytes as \u00XX, ill-formed UTF-8
// as U+FFFD. Text without such bytes comes out exactly as it is.
void bbxFileWriteQuoted(BBXFile* file, const char* text, std::size_t length, bool asKey)
{
    BBXFileStringSink sink{file, {}};
    sink.put('"');
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            if (c == '"') {
                sink.put("\\\"", 2);
            } else if (c == '\\') {
                sink.put("\\\\", 2);
            } else if (c < 0x20) {
                const char escape[6] = {
                    '\\', 'u', '0', '0', BBXFileHexDigits[c >> 4], BBXFileHexDigits[c & 15]};
                sink.put(escape, 6);
            } else {
                sink.put(char(c));
            }
            ++i;
            continue;
        }
        std::size_t invalid = 0;
        const std::size_t valid = bbxFileUtf8SequenceLength(bytes + i, length - i, &invalid);
        if (valid > 0) {
            sink.put(text + i, valid);
            i += valid;
        } else {
            sink.put("\xEF\xBF\xBD", 3);
            i += invalid;
        }
    }
    sink.put('"');
    if (asKey)
        sink.put(':');
    sink.flush();
}

void bbxFileWriteHex(BBXFile* file, const char* text)
{
    char digits[32];
    std::size_t fill = 0;
    BBXFileWriteBytes(file, "\"", 1);
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        digits[fill++] = BBXFileHexDigits[*p >> 4];
        digits[fill++] = BBXFileHexDigits[*p & 15];
        if (fill == sizeof digits) {
            BBXFileWriteBytes(file, digits, fill);
            fill = 0;
        }
    }
    bbxFileWriteText(file, digits, fill);
    BBXFileWriteBytes(file, "\"", 1);
}

void bbxFileWriteUInt64(BBXFile* file, std::uint64_t value)
{
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start = BBXFileFormatUInt64(scratch, value, false);
    BBXFileWriteBytes(file, scratch + start, BBXFileNumberScratchSize - 1 - start);
}

void bbxFileWriteInt64(BBXFile* file, std::int64_t value)
{
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start = BBXFileFormatInt64(scratch, value);
    BBXFileWriteBytes(file, scratch + start, BBXFileNumberScratchSize - 1 - start);
}

void bbxFileWriteCollectionStart(BBXFile* file, char bracket)
{
    if (!bbxFileIsWritable(file))
        return;
    if (file->needsComma)
        BBXFileWriteBytes(file, ",", 1);
    BBXFileWriteBytes(file, &bracket, 1);
    ++file->depth;
    file->needsComma = false;
}

// A closed inner collection is followed by a comma; after the outermost a line starts clean.
void bbxFileWriteCollectionEnd(BBXFile* file, char bracket)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteBytes(file, &bracket, 1);
    if (file->depth > 0) {
        file->needsComma = file->depth > 1;
        --file->depth;
    }
}

void bbxFileWriteArrayElementStart(BBXFile* file)
{
    if (file->needsComma)
        BBXFileWriteBytes(file, ",", 1);
}

bool bbxFileOpen(BBXFile* file, const char* path, bool append, bool buffered, char* buffer)
{
    if (!BBXIsValidPointer(file)) {
        BBX_LOG_WARN("Error: file is null");
        return false;
    }
    *file = BBXFile();
    int fd = -1;
    if (BBXIsValidPointer(path)) {
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
        fd = BBXFileOpenPrivate(path, flags);
        if (fd < 0)
            BBX_LOG_WARN("Error: Unable to open file %s", BBXErrnoText(errno).text());
    }
    if (fd < 0) {
        BBX_LOG_WARN("Error: file descriptor invalid");
        return false;
    }
    if (buffered) {
        file->ownsBuffer = buffer == nullptr;
        if (buffer == nullptr)
            buffer = static_cast<char*>(std::malloc(BBXFileBufferSize));
        if (buffer == nullptr) {
            ::close(fd);
            return false;
        }
        buffer[0] = 0;
        file->buffer = buffer;
        file->buffered = true;
    }
    file->fd = fd;
    if (append) {
        struct stat status;
        if (::fstat(fd, &status) == 0 && status.st_size >= 1)
            file->bytesWritten = std::uint64_t(status.st_size);
    }
    return true;
}

} // namespace

std::size_t BBXFileFormatUInt64(char (&scratch)[BBXFileNumberScratchSize], std::uint64_t value, bool hex)
{
    std::memset(scratch, 0, sizeof scratch);
    const unsigned base = hex ? 16 : 10;
    std::size_t start = BBXFileNumberScratchSize - 1;
    do {
        scratch[--start] = BBXFileHexDigits[value % base];
        value /= base;
    } while (value != 0 && start > 0);
    return start;
}

std::size_t BBXFileFormatInt64(char (&scratch)[BBXFileNumberScratchSize], std::int64_t value)
{
    // The magnitude in unsigned arithmetic: negating INT64_MIN as a signed value overflows.
    const std::uint64_t magnitude = value < 0 ? 0 - std::uint64_t(value) : std::uint64_t(value);
    std::size_t start = BBXFileFormatUInt64(scratch, magnitude, false);
    if (value < 0)
        scratch[--start] = '-';
    return start;
}

bool BBXFileLoopWithWriteBlock(const void* bytes, std::size_t length, BBXFileWriteBlock block, void* context)
{
    const char* next = static_cast<const char*>(bytes);
    std::size_t remaining = length;
    for (int attempt = 0; remaining > 0 && attempt < BBXFileMaximumWriteAttempts; ++attempt) {
        const ssize_t written = block(context, next, remaining);
        if (written > 0 && std::size_t(written) == remaining)
            return true;
        if (written > 0 && std::size_t(written) > remaining) {
            BBX_LOG_ERROR("Error: length doesn't make sense (%zd, %zu)", written, remaining);
            return false;
        }
        if (written <= 0)
            break;
        next += written;
        remaining -= std::size_t(written);
    }
    BBX_LOG_ERROR("Error: exited write loop without success");
    return false;
}

bool BBXFileWriteWithRetries(int fd, const void* bytes, std::size_t length)
{
    return BBXFileLoopWithWriteBlock(bytes, length, bbxFileWriteToDescriptor, &fd);
}

bool BBXFileWriteWithRetriesQuietly(int fd, const void* bytes, std::size_t length)
{
    const char* next = static_cast<const char*>(bytes);
    for (int attempt = 0; length > 0 && attempt < BBXFileMaximumWriteAttempts; ++attempt) {
        const ssize_t written = bbxFileWriteToDescriptorQuietly(&fd, next, length);
        if (written <= 0 || std::size_t(written) > length)
            return false;
        next += written;
        length -= std::size_t(written);
    }
    return length == 0;
}

bool BBXFileWriteUInt64ToDescriptor(int fd, std::uint64_t value, bool hex)
{
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start = BBXFileFormatUInt64(scratch, value, hex);
    return BBXFileWriteWithRetries(fd, scratch + start, BBXFileNumberScratchSize - 1 - start);
}

bool BBXFileWriteInt64ToDescriptor(int fd, std::int64_t value)
{
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start = BBXFileFormatInt64(scratch, value);
    return BBXFileWriteWithRetries(fd, scratch + start, BBXFileNumberScratchSize - 1 - start);
}

int BBXFileOpenPrivate(const char* path, int flags)
{
    const int fd = ::open(path, flags | O_CREAT, 0600);
    if (fd < 0)
        return -1;
    // The umask may only take bits away, and a file an earlier run left may be wider: either
    // way the mode ends as 0600. A failure here leaves the record written all the same.
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 07777) != 0600) {
        const int saved = errno;
        ::fchmod(fd, 0600);
        errno = saved;
    }
    return fd;
}

bool BBXFileInitWithPathMode(BBXFile* file, const char* path, bool append, bool buffered)
{
    return bbxFileOpen(file, path, append, buffered, nullptr);
}

bool BBXFileInitWithPath(BBXFile* file, const char* path, bool buffered)
{
    return bbxFileOpen(file, path, true, buffered, nullptr);
}

bool BBXFileInitWithPathModeAndBuffer(BBXFile* file, const char* path, bool append, char* buffer)
{
    if (!BBXIsValidPointer(buffer)) {
        BBX_LOG_WARN("Error: buffer is null");
        return false;
    }
    return bbxFileOpen(file, path, append, true, buffer);
}

bool BBXFileIsOpen(const BBXFile* file)
{
    return bbxFileIsWritable(file);
}

bool BBXFileFlush(BBXFile* file)
{
    if (!bbxFileIsWritable(file) || !file->buffered || file->buffer == nullptr)
        return false;
    const std::size_t fill = file->bufferFill;
    if (fill == 0)
        return true;
    const bool written = BBXFileWriteWithRetries(file->fd, file->buffer, fill);
    // Emptied either way: a failed flush loses its bytes rather than repeating them.
    file->bufferFill = 0;
    file->buffer[0] = 0;
    if (written)
        file->bytesWritten += fill;
    return written;
}

bool BBXFileWriteBytes(BBXFile* file, const void* bytes, std::size_t length)
{
    if (!bbxFileIsWritable(file) || !BBXIsValidPointer(bytes))
        return false;
    if (!file->buffered) {
        if (!BBXFileWriteWithRetries(file->fd, bytes, length))
            return false;
        file->bytesWritten += length;
        return true;
    }
    const char* next = static_cast<const char*>(bytes);
    bool ok = true;
    // The buffer holds at most BBXFileBufferSize - 1 bytes and a 0 after them.
    while (file->bufferFill + length >= BBXFileBufferSize) {
        const std::size_t take = BBXFileBufferSize - 1 - file->bufferFill;
        std::memcpy(file->buffer + file->bufferFill, next, take);
        file->bufferFill += take;
        file->buffer[file->bufferFill] = 0;
        ok = BBXFileFlush(file) && ok;
        next += take;
        length -= take;
    }
    std::memcpy(file->buffer + file->bufferFill, next, length);
    file->bufferFill += length;
    file->buffer[file->bufferFill] = 0;
    return ok;
}

bool BBXFileCloseWithOffset(BBXFile* file, std::uint64_t* outBytesWritten)
{
    if (!BBXIsValidPointer(file))
        return false;
    if (file->buffered) {
        if (file->bufferFill > 0)
            BBXFileFlush(file);
        // Forgotten before close answers: a failed close must not leave a freed buffer behind.
        if (file->ownsBuffer)
            std::free(file->buffer);
        file->buffer = nullptr;
        file->buffered = false;
        file->ownsBuffer = false;
        file->bufferFill = 0;
    }
    if (BBXIsValidPointer(outBytesWritten))
        *outBytesWritten = file->bytesWritten;
    if (file->fd < 0 || ::close(file->fd) != 0) {
        BBX_LOG_WARN("Error: Unable to close file %s", BBXErrnoText(file->fd < 0 ? EBADF : errno).text());
        return false;
    }
    *file = BBXFile();
    return true;
}

bool BBXFileClose(BBXFile* file)
{
    return BBXFileCloseWithOffset(file, nullptr);
}

void BBXFileWriteSectionStart(BBXFile* file, const char* name)
{
    BBXFileWriteHashStart(file);
    BBXFileWriteHashKey(file, name);
}

void BBXFileWriteSectionEnd(BBXFile* file)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashEnd(file);
    BBXFileWriteBytes(file, "\n", 1);
}

void BBXFileWriteHashStart(BBXFile* file)
{
    bbxFileWriteCollectionStart(file, '{');
}

void BBXFileWriteHashEnd(BBXFile* file)
{
    bbxFileWriteCollectionEnd(file, '}');
}

void BBXFileWriteArrayStart(BBXFile* file)
{
    bbxFileWriteCollectionStart(file, '[');
}

void BBXFileWriteArrayEnd(BBXFile* file)
{
    bbxFileWriteCollectionEnd(file, ']');
}

void BBXFileWriteHashKey(BBXFile* file, const char* key)
{
    if (!bbxFileIsWritable(file))
        return;
    if (file->needsComma)
        BBXFileWriteBytes(file, ",", 1);
    const char* text = BBXIsValidPointer(key) ? key : "";
    bbxFileWriteQuoted(file, text, std::strlen(text), true);
    file->needsComma = false;
}

void BBXFileWriteHashEntryUint64(BBXFile* file, const char* key, std::uint64_t value)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashKey(file, key);
    bbxFileWriteUInt64(file, value);
    file->needsComma = true;
}

void BBXFileWriteHashEntryInt64(BBXFile* file, const char* key, std::int64_t value)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashKey(file, key);
    bbxFileWriteInt64(file, value);
    file->needsComma = true;
}

void BBXFileWriteHashEntryString(BBXFile* file, const char* key, const char* value)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashKey(file, key);
    if (BBXIsValidPointer(value))
        bbxFileWriteQuoted(file, value, std::strlen(value), false);
    else
        BBXFileWriteBytes(file, "null", 4);
    file->needsComma = true;
}

void BBXFileWriteHashEntryNSString(BBXFile* file, const char* key, const char* utf8, std::size_t length)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashKey(file, key);
    if (BBXIsValidPointer(utf8))
        bbxFileWriteQuoted(file, utf8, length, false);
    else
        BBXFileWriteBytes(file, "null", 4);
    file->needsComma = true;
}

void BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(BBXFile* file, const char* key, const char* utf8,
                                                   std::size_t length)
{
    if (BBXIsValidPointer(utf8) && length > 0)
        BBXFileWriteHashEntryNSString(file, key, utf8, length);
}

void BBXFileWriteHashEntryHexEncodedString(BBXFile* file, const char* key, const char* value)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashKey(file, key);
    if (BBXIsValidPointer(value))
        bbxFileWriteHex(file, value);
    else
        BBXFileWriteBytes(file, "null", 4);
    file->needsComma = true;
}

void BBXFileWriteHashEntryBoolean(BBXFile* file, const char* key, bool value)
{
    if (!bbxFileIsWritable(file))
        return;
    BBXFileWriteHashKey(file, key);
    if (value)
        BBXFileWriteBytes(file, "true", 4);
    else
        BBXFileWriteBytes(file, "false", 5);
    file->needsComma = true;
}

void BBXFileWriteArrayEntryUint64(BBXFile* file, std::uint64_t value)
{
    if (!bbxFileIsWritable(file))
        return;
    bbxFileWriteArrayElementStart(file);
    bbxFileWriteUInt64(file, value);
    file->needsComma = true;
}

void BBXFileWriteArrayEntryString(BBXFile* file, const char* value)
{
    if (!bbxFileIsWritable(file))
        return;
    bbxFileWriteArrayElementStart(file);
    if (BBXIsValidPointer(value))
        bbxFileWriteQuoted(file, value, std::strlen(value), false);
    else
        BBXFileWriteBytes(file, "null", 4);
    file->needsComma = true;
}

void BBXFileWriteArrayEntryHexEncodedString(BBXFile* file, const char* value)
{
    if (!bbxFileIsWritable(file))
        return;
    bbxFileWriteArrayElementStart(file);
    if (BBXIsValidPointer(value))
        bbxFileWriteHex(file, value);
    else
        BBXFileWriteBytes(file, "null", 4);
    file->needsComma = true;
}

} // namespace corvex
