#pragma once

#include <cstddef>
#include <dirent.h>    // DIR
#include <sys/types.h> // mode_t, ssize_t, off_t

struct stat;

namespace corvex {

// The system calls through which file-saving code reaches the kernel. Each forwards to the
// real call and keeps its contract (-1 with errno on failure), except that EINTR is retried
// where retrying is correct. Going through here lets a test make any of them fail on
// demand, including as root where permissions cannot.
class SysCalls
{
public:
    static int open(const char* path, int flags, mode_t mode = 0);
    // One write(2); may write less than asked. Callers that need everything use writeAll.
    static ssize_t write(int fd, const void* data, std::size_t size);
    // Loops over short writes. False with errno set when a write fails; a write that makes
    // no progress counts as EIO.
    static bool writeAll(int fd, const void* data, std::size_t size);
    static int fsync(int fd);
    static int rename(const char* from, const char* to);
    // Never retried: on Linux the descriptor is gone even when close reports an error.
    static int close(int fd);
    static int unlink(const char* path);
    static int mkdir(const char* path, mode_t mode);
    static int linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags);
    static int stat(const char* path, struct stat* info);
    static int lstat(const char* path, struct stat* info);
    static int fstat(int fd, struct stat* info);
    // As realpath(3) with a null buffer: a malloc'ed path the caller frees, or null with errno.
    static char* realpath(const char* path);
    static int fchmod(int fd, mode_t mode);
    // Null with errno on failure; the caller closes the stream with closedir(3).
    static DIR* opendir(const char* path);
    // One read(2); may read less than asked, 0 at the end of the file.
    static ssize_t read(int fd, void* buffer, std::size_t size);
    static off_t lseek(int fd, off_t offset, int whence);
    static int flock(int fd, int operation);

    // Test seam. Each non-null entry replaces the corresponding call for the whole process
    // until removeHooks(); a null entry keeps the real call. Replacements see the raw
    // arguments and behave like the kernel (-1 with errno). Install and remove them while no
    // other thread is inside these calls; the entries themselves are atomic.
    struct Hooks
    {
        int (*open)(const char* path, int flags, mode_t mode) = nullptr;
        ssize_t (*write)(int fd, const void* data, std::size_t size) = nullptr;
        int (*fsync)(int fd) = nullptr;
        int (*rename)(const char* from, const char* to) = nullptr;
        int (*close)(int fd) = nullptr;
        int (*unlink)(const char* path) = nullptr;
        int (*mkdir)(const char* path, mode_t mode) = nullptr;
        int (*linkat)(int fromDirFd, const char* from, int toDirFd, const char* to, int flags) = nullptr;
        int (*stat)(const char* path, struct stat* info) = nullptr;
        int (*lstat)(const char* path, struct stat* info) = nullptr;
        int (*fstat)(int fd, struct stat* info) = nullptr;
        char* (*realpath)(const char* path) = nullptr;
        int (*fchmod)(int fd, mode_t mode) = nullptr;
        DIR* (*opendir)(const char* path) = nullptr;
        ssize_t (*read)(int fd, void* buffer, std::size_t size) = nullptr;
        off_t (*lseek)(int fd, off_t offset, int whence) = nullptr;
        int (*flock)(int fd, int operation) = nullptr;
    };
    static void installHooks(const Hooks& hooks);
    static void removeHooks();
};

} // namespace corvex
