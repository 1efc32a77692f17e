// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXErrnoText.h"

#include "crash/runtime/BBXFile.h"

#include <cerrno>
#include <cstring>

namespace corvex {

namespace {

struct BBXErrnoEntry
{
    int value;
    const char* text;
};

// The values the crash-time calls (open, write, close, mmap, mprotect, sigaction,
// sigaltstack, unlink) can give, in the C library's own words.
constexpr BBXErrnoEntry BBXErrnoTable[] = {
    {EPERM, "Operation not permitted"},
    {ENOENT, "No such file or directory"},
    {ESRCH, "No such process"},
    {EINTR, "Interrupted system call"},
    {EIO, "Input/output error"},
    {ENXIO, "No such device or address"},
    {E2BIG, "Argument list too long"},
    {EBADF, "Bad file descriptor"},
    {ECHILD, "No child processes"},
    {EAGAIN, "Resource temporarily unavailable"},
    {ENOMEM, "Cannot allocate memory"},
    {EACCES, "Permission denied"},
    {EFAULT, "Bad address"},
    {EBUSY, "Device or resource busy"},
    {EEXIST, "File exists"},
    {EXDEV, "Invalid cross-device link"},
    {ENODEV, "No such device"},
    {ENOTDIR, "Not a directory"},
    {EISDIR, "Is a directory"},
    {EINVAL, "Invalid argument"},
    {ENFILE, "Too many open files in system"},
    {EMFILE, "Too many open files"},
    {ENOTTY, "Inappropriate ioctl for device"},
    {ETXTBSY, "Text file busy"},
    {EFBIG, "File too large"},
    {ENOSPC, "No space left on device"},
    {ESPIPE, "Illegal seek"},
    {EROFS, "Read-only file system"},
    {EMLINK, "Too many links"},
    {EPIPE, "Broken pipe"},
    {ERANGE, "Numerical result out of range"},
    {EDEADLK, "Resource deadlock avoided"},
    {ENAMETOOLONG, "File name too long"},
    {ENOLCK, "No locks available"},
    {ENOSYS, "Function not implemented"},
    {ENOTEMPTY, "Directory not empty"},
    {ELOOP, "Too many levels of symbolic links"},
    {EOVERFLOW, "Value too large for defined data type"},
    {EOPNOTSUPP, "Operation not supported"},
    {ETIMEDOUT, "Connection timed out"},
    {EDQUOT, "Disk quota exceeded"},
    {ECANCELED, "Operation canceled"},
};

constexpr char BBXErrnoUnknownPrefix[] = "Unknown error ";

} // namespace

BBXErrnoText::BBXErrnoText(int error)
{
    for (const BBXErrnoEntry& entry : BBXErrnoTable) {
        if (entry.value == error) {
            mFixed = entry.text;
            return;
        }
    }
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start = BBXFileFormatInt64(scratch, error);
    const std::size_t prefix = sizeof BBXErrnoUnknownPrefix - 1;
    const std::size_t digits = BBXFileNumberScratchSize - 1 - start;
    static_assert(sizeof BBXErrnoUnknownPrefix + 11 <= FallbackSize, "room for any int");
    std::memcpy(mFallback, BBXErrnoUnknownPrefix, prefix);
    std::memcpy(mFallback + prefix, scratch + start, digits);
    mFallback[prefix + digits] = '\0';
}

} // namespace corvex
