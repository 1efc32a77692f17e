#include "platform/core/SysCalls.h"

#include <atomic>
#include <cerrno>
#include <cstdlib> // ::realpath
#include <fcntl.h>
#include <stdio.h>    // ::rename
#include <sys/file.h> // ::flock
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

std::atomic<decltype(SysCalls::Hooks::open)> gOpen{nullptr};
std::atomic<decltype(SysCalls::Hooks::write)> gWrite{nullptr};
std::atomic<decltype(SysCalls::Hooks::fsync)> gFsync{nullptr};
std::atomic<decltype(SysCalls::Hooks::rename)> gRename{nullptr};
std::atomic<decltype(SysCalls::Hooks::close)> gClose{nullptr};
std::atomic<decltype(SysCalls::Hooks::unlink)> gUnlink{nullptr};
std::atomic<decltype(SysCalls::Hooks::mkdir)> gMkdir{nullptr};
std::atomic<decltype(SysCalls::Hooks::linkat)> gLinkat{nullptr};
std::atomic<decltype(SysCalls::Hooks::stat)> gStat{nullptr};
std::atomic<decltype(SysCalls::Hooks::lstat)> gLstat{nullptr};
std::atomic<decltype(SysCalls::Hooks::fstat)> gFstat{nullptr};
std::atomic<decltype(SysCalls::Hooks::realpath)> gRealpath{nullptr};
std::atomic<decltype(SysCalls::Hooks::fchmod)> gFchmod{nullptr};
std::atomic<decltype(SysCalls::Hooks::opendir)> gOpendir{nullptr};
std::atomic<decltype(SysCalls::Hooks::read)> gRead{nullptr};
std::atomic<decltype(SysCalls::Hooks::lseek)> gLseek{nullptr};
std::atomic<decltype(SysCalls::Hooks::flock)> gFlock{nullptr};

template <class Call> auto retryOnInterrupt(Call call)
{
    decltype(call()) rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace

int SysCalls::open(const char* path, int flags, mode_t mode)
{
    auto hook = gOpen.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(path, flags, mode) : ::open(path, flags, mode); });
}

ssize_t SysCalls::write(int fd, const void* data, std::size_t size)
{
    auto hook = gWrite.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(fd, data, size) : ::write(fd, data, size); });
}

bool SysCalls::writeAll(int fd, const void* data, std::size_t size)
{
    const char* cursor = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, cursor, size);
        if (written < 0)
            return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        cursor += written;
        size -= std::size_t(written);
    }
    return true;
}

int SysCalls::fsync(int fd)
{
    auto hook = gFsync.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(fd) : ::fsync(fd); });
}

int SysCalls::rename(const char* from, const char* to)
{
    auto hook = gRename.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(from, to) : ::rename(from, to); });
}

int SysCalls::close(int fd)
{
    auto hook = gClose.load(std::memory_order_acquire);
    return hook ? hook(fd) : ::close(fd);
}

int SysCalls::unlink(const char* path)
{
    auto hook = gUnlink.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(path) : ::unlink(path); });
}

int SysCalls::mkdir(const char* path, mode_t mode)
{
    auto hook = gMkdir.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(path, mode) : ::mkdir(path, mode); });
}

int SysCalls::linkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags)
{
    auto hook = gLinkat.load(std::memory_order_acquire);
    return retryOnInterrupt([&] {
        return hook ? hook(fromDirFd, from, toDirFd, to, flags)
                    : ::linkat(fromDirFd, from, toDirFd, to, flags);
    });
}

int SysCalls::stat(const char* path, struct stat* info)
{
    auto hook = gStat.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(path, info) : ::stat(path, info); });
}

int SysCalls::lstat(const char* path, struct stat* info)
{
    auto hook = gLstat.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(path, info) : ::lstat(path, info); });
}

int SysCalls::fstat(int fd, struct stat* info)
{
    auto hook = gFstat.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(fd, info) : ::fstat(fd, info); });
}

char* SysCalls::realpath(const char* path)
{
    auto hook = gRealpath.load(std::memory_order_acquire);
    return hook ? hook(path) : ::realpath(path, nullptr);
}

int SysCalls::fchmod(int fd, mode_t mode)
{
    auto hook = gFchmod.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(fd, mode) : ::fchmod(fd, mode); });
}

DIR* SysCalls::opendir(const char* path)
{
    auto hook = gOpendir.load(std::memory_order_acquire);
    DIR* dir = nullptr;
    do {
        dir = hook ? hook(path) : ::opendir(path);
    } while (dir == nullptr && errno == EINTR);
    return dir;
}

ssize_t SysCalls::read(int fd, void* buffer, std::size_t size)
{
    auto hook = gRead.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(fd, buffer, size) : ::read(fd, buffer, size); });
}

off_t SysCalls::lseek(int fd, off_t offset, int whence)
{
    // Never retried: lseek does not block, so it cannot be interrupted.
    auto hook = gLseek.load(std::memory_order_acquire);
    return hook ? hook(fd, offset, whence) : ::lseek(fd, offset, whence);
}

int SysCalls::flock(int fd, int operation)
{
    auto hook = gFlock.load(std::memory_order_acquire);
    return retryOnInterrupt([&] { return hook ? hook(fd, operation) : ::flock(fd, operation); });
}

void SysCalls::installHooks(const Hooks& hooks)
{
    gOpen.store(hooks.open, std::memory_order_release);
    gWrite.store(hooks.write, std::memory_order_release);
    gFsync.store(hooks.fsync, std::memory_order_release);
    gRename.store(hooks.rename, std::memory_order_release);
    gClose.store(hooks.close, std::memory_order_release);
    gUnlink.store(hooks.unlink, std::memory_order_release);
    gMkdir.store(hooks.mkdir, std::memory_order_release);
    gLinkat.store(hooks.linkat, std::memory_order_release);
    gStat.store(hooks.stat, std::memory_order_release);
    gLstat.store(hooks.lstat, std::memory_order_release);
    gFstat.store(hooks.fstat, std::memory_order_release);
    gRealpath.store(hooks.realpath, std::memory_order_release);
    gFchmod.store(hooks.fchmod, std::memory_order_release);
    gOpendir.store(hooks.opendir, std::memory_order_release);
    gRead.store(hooks.read, std::memory_order_release);
    gLseek.store(hooks.lseek, std::memory_order_release);
    gFlock.store(hooks.flock, std::memory_order_release);
}

void SysCalls::removeHooks()
{
    installHooks(Hooks{});
}

} // namespace corvex
