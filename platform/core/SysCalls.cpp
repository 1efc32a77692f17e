#include "platform/core/SysCalls.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h> // ::rename
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
}

void SysCalls::removeHooks()
{
    installHooks(Hooks{});
}

} // namespace corvex
