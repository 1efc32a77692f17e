#include "tests/support/FaultShim.h"

#include "platform/core/SysCalls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdio.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::test {
namespace {

std::atomic<FaultShim*> gActive{nullptr};

static_assert(static_cast<std::size_t>(FaultShim::Op::Flock) + 1 == FaultShim::OpCount);

std::size_t index(FaultShim::Op op)
{
    return static_cast<std::size_t>(op);
}

bool isUnder(std::string_view path, const std::string& folder)
{
    return !folder.empty() && path.substr(0, folder.size()) == folder &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string withoutTrailingSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool holds(const std::vector<int>& descriptors, int fd)
{
    return std::find(descriptors.begin(), descriptors.end(), fd) != descriptors.end();
}

} // namespace

FaultShim::FaultShim()
{
    FaultShim* expected = nullptr;
    if (!gActive.compare_exchange_strong(expected, this)) {
        std::fprintf(stderr, "FaultShim: only one shim may be installed at a time\n");
        std::abort();
    }
    SysCalls::Hooks hooks;
    hooks.open = &FaultShim::hookOpen;
    hooks.write = &FaultShim::hookWrite;
    hooks.fsync = &FaultShim::hookFsync;
    hooks.rename = &FaultShim::hookRename;
    hooks.close = &FaultShim::hookClose;
    hooks.unlink = &FaultShim::hookUnlink;
    hooks.mkdir = &FaultShim::hookMkdir;
    hooks.linkat = &FaultShim::hookLinkat;
    hooks.stat = &FaultShim::hookStat;
    hooks.lstat = &FaultShim::hookLstat;
    hooks.fstat = &FaultShim::hookFstat;
    hooks.realpath = &FaultShim::hookRealpath;
    hooks.fchmod = &FaultShim::hookFchmod;
    hooks.opendir = &FaultShim::hookOpendir;
    hooks.read = &FaultShim::hookRead;
    hooks.lseek = &FaultShim::hookLseek;
    hooks.flock = &FaultShim::hookFlock;
    SysCalls::installHooks(hooks);
}

FaultShim::~FaultShim()
{
    releaseWrites();
    releaseReads();
    {
        // A held call still on its way out of the hook would find the shim gone.
        std::unique_lock lock(mMutex);
        mHoldChanged.wait(lock, [this] { return mWriteHold.waiting == 0 && mReadHold.waiting == 0; });
    }
    SysCalls::removeHooks();
    gActive.store(nullptr);
}

void FaultShim::failAt(Op op, int k, int errnoValue)
{
    std::lock_guard lock(mMutex);
    mRules[index(op)].push_back({k, k, errnoValue});
}

void FaultShim::failFrom(Op op, int k, int errnoValue)
{
    std::lock_guard lock(mMutex);
    mRules[index(op)].push_back({k, INT_MAX, errnoValue});
}

void FaultShim::failOpensWith(int flags, int errnoValue)
{
    std::lock_guard lock(mMutex);
    mOpenFlagFaults.emplace_back(flags, errnoValue);
}

void FaultShim::failWritesUnder(std::string folder, int errnoValue)
{
    std::lock_guard lock(mMutex);
    mFullFolder = withoutTrailingSlash(std::move(folder));
    mFullErrno = errnoValue;
}

void FaultShim::holdWritesUnder(std::string folder)
{
    std::lock_guard lock(mMutex);
    mWriteHold.where = withoutTrailingSlash(std::move(folder));
    mWriteHold.holding = true;
}

bool FaultShim::waitForHeldWrite(double seconds)
{
    return waitForHeld(mWriteHold, seconds);
}

bool FaultShim::waitForHeld(const Hold& hold, double seconds)
{
    std::unique_lock lock(mMutex);
    return mHoldChanged.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&hold] { return hold.waiting > 0; });
}

void FaultShim::releaseWrites()
{
    release(mWriteHold);
}

void FaultShim::release(Hold& hold)
{
    std::lock_guard lock(mMutex);
    hold.holding = false;
    mHoldChanged.notify_all();
}

void FaultShim::failRenamesOnto(std::string path, int errnoValue)
{
    std::lock_guard lock(mMutex);
    mRenameTargetFaults.emplace_back(std::move(path), errnoValue);
}

void FaultShim::limitWriteSize(std::size_t bytes)
{
    mWriteLimit = bytes;
}

int FaultShim::callCount(Op op) const
{
    return mCounts[index(op)].load();
}

int FaultShim::faultFor(Op op, int n) const
{
    std::lock_guard lock(mMutex);
    for (const Rule& rule : mRules[index(op)]) {
        if (n >= rule.first && n <= rule.last)
            return rule.errnoValue;
    }
    return 0;
}

int FaultShim::nextCall(Op op)
{
    const int n = ++mCounts[index(op)];
    return faultFor(op, n);
}

FaultShim& FaultShim::active()
{
    return *gActive.load();
}

int FaultShim::hookOpen(const char* path, int flags, mode_t mode)
{
    FaultShim& shim = active();
    if (const int error = shim.nextCall(Op::Open)) {
        errno = error;
        return -1;
    }
    {
        std::lock_guard lock(shim.mMutex);
        for (const auto& [required, error] : shim.mOpenFlagFaults) {
            if ((flags & required) == required) {
                errno = error;
                return -1;
            }
        }
    }
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 && (flags & (O_WRONLY | O_RDWR)) != 0) {
        std::lock_guard lock(shim.mMutex);
        if (isUnder(path, shim.mFullFolder))
            shim.mFullDescriptors.push_back(fd);
        if (isUnder(path, shim.mWriteHold.where))
            shim.mWriteHold.descriptors.push_back(fd);
    } else if (fd >= 0) {
        std::lock_guard lock(shim.mMutex);
        if (!shim.mReadHold.where.empty() && shim.mReadHold.where == path)
            shim.mReadHold.descriptors.push_back(fd);
    }
    return fd;
}

ssize_t FaultShim::hookWrite(int fd, const void* data, std::size_t size)
{
    FaultShim& shim = active();
    if (const int error = shim.nextCall(Op::Write)) {
        errno = error;
        return -1;
    }
    int fullErrno = 0;
    std::size_t limit = 0;
    {
        std::unique_lock lock(shim.mMutex);
        if (holds(shim.mFullDescriptors, fd))
            fullErrno = shim.mFullErrno;
        limit = shim.mWriteLimit.load();
        // The shim is not touched after this: its destructor may be waiting for it.
        shim.waitIfHeld(shim.mWriteHold, fd, lock);
    }
    if (fullErrno != 0) {
        errno = fullErrno;
        return -1;
    }
    return ::write(fd, data, limit > 0 ? std::min(size, limit) : size);
}

int FaultShim::hookFsync(int fd)
{
    if (const int error = active().nextCall(Op::Fsync)) {
        errno = error;
        return -1;
    }
    return ::fsync(fd);
}

int FaultShim::hookRename(const char* from, const char* to)
{
    FaultShim& shim = active();
    int error = shim.nextCall(Op::Rename);
    if (error == 0) {
        std::lock_guard lock(shim.mMutex);
        for (const auto& [path, errnoValue] : shim.mRenameTargetFaults) {
            if (path == to)
                error = errnoValue;
        }
    }
    if (error != 0) {
        errno = error;
        return -1;
    }
    return ::rename(from, to);
}

int FaultShim::hookClose(int fd)
{
    {
        FaultShim& shim = active();
        std::lock_guard lock(shim.mMutex);
        std::erase(shim.mFullDescriptors, fd);
        std::erase(shim.mWriteHold.descriptors, fd);
        std::erase(shim.mReadHold.descriptors, fd);
    }
    if (const int error = active().nextCall(Op::Close)) {
        // Linux releases the descriptor even when close reports an error.
        ::close(fd);
        errno = error;
        return -1;
    }
    return ::close(fd);
}

int FaultShim::hookUnlink(const char* path)
{
    if (const int error = active().nextCall(Op::Unlink)) {
        errno = error;
        return -1;
    }
    return ::unlink(path);
}

int FaultShim::hookMkdir(const char* path, mode_t mode)
{
    if (const int error = active().nextCall(Op::Mkdir)) {
        errno = error;
        return -1;
    }
    return ::mkdir(path, mode);
}

int FaultShim::hookLinkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags)
{
    if (const int error = active().nextCall(Op::Link)) {
        errno = error;
        return -1;
    }
    return ::linkat(fromDirFd, from, toDirFd, to, flags);
}

int FaultShim::hookStat(const char* path, struct stat* info)
{
    if (const int error = active().nextCall(Op::Stat)) {
        errno = error;
        return -1;
    }
    return ::stat(path, info);
}

int FaultShim::hookLstat(const char* path, struct stat* info)
{
    if (const int error = active().nextCall(Op::Lstat)) {
        errno = error;
        return -1;
    }
    return ::lstat(path, info);
}

int FaultShim::hookFstat(int fd, struct stat* info)
{
    if (const int error = active().nextCall(Op::Fstat)) {
        errno = error;
        return -1;
    }
    return ::fstat(fd, info);
}

char* FaultShim::hookRealpath(const char* path)
{
    if (const int error = active().nextCall(Op::Realpath)) {
        errno = error;
        return nullptr;
    }
    return ::realpath(path, nullptr);
}

int FaultShim::hookFchmod(int fd, mode_t mode)
{
    if (const int error = active().nextCall(Op::Fchmod)) {
        errno = error;
        return -1;
    }
    return ::fchmod(fd, mode);
}

DIR* FaultShim::hookOpendir(const char* path)
{
    if (const int error = active().nextCall(Op::Opendir)) {
        errno = error;
        return nullptr;
    }
    return ::opendir(path);
}

ssize_t FaultShim::hookRead(int fd, void* buffer, std::size_t size)
{
    FaultShim& shim = active();
    if (const int error = shim.nextCall(Op::Read)) {
        errno = error;
        return -1;
    }
    {
        std::unique_lock lock(shim.mMutex);
        shim.waitIfHeld(shim.mReadHold, fd, lock);
    }
    return ::read(fd, buffer, size);
}

void FaultShim::waitIfHeld(Hold& hold, int fd, std::unique_lock<std::mutex>& lock)
{
    if (!hold.holding || !holds(hold.descriptors, fd))
        return;
    ++hold.waiting;
    mHoldChanged.notify_all();
    mHoldChanged.wait(lock, [&hold] { return !hold.holding; });
    --hold.waiting;
    mHoldChanged.notify_all();
}

void FaultShim::holdReadsOf(std::string path)
{
    std::lock_guard lock(mMutex);
    mReadHold.where = std::move(path);
    mReadHold.holding = true;
}

bool FaultShim::waitForHeldRead(double seconds)
{
    return waitForHeld(mReadHold, seconds);
}

void FaultShim::releaseReads()
{
    release(mReadHold);
}

off_t FaultShim::hookLseek(int fd, off_t offset, int whence)
{
    if (const int error = active().nextCall(Op::Lseek)) {
        errno = error;
        return -1;
    }
    return ::lseek(fd, offset, whence);
}

int FaultShim::hookFlock(int fd, int operation)
{
    if (const int error = active().nextCall(Op::Flock)) {
        errno = error;
        return -1;
    }
    return ::flock(fd, operation);
}

} // namespace corvex::test
