// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXMemory.h"

#include "crash/runtime/BBXAllocator.h"
#include "crash/runtime/BBXCrashTime.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace corvex {

namespace {

// The kernel is called directly: the sanitizers' wrappers of write and process_vm_readv
// would check the very bytes whose readability is in question.
constexpr std::size_t BBXSafeReadPipeChunk = 4096; // at most what a pipe holds unread

std::atomic<int> gBBXSafeReadMechanism{int(BBXSafeReadMechanism::ProcessVmReadv)};
std::atomic<int> gBBXSafeReadPipeRead{-1};
std::atomic<int> gBBXSafeReadPipeWrite{-1};
std::atomic<bool> gBBXSafeReadPipeBusy{false};

bool bbxReadThroughProcessVm(std::uint64_t source, void* destination, std::size_t length)
{
    struct iovec local = {destination, length};
    struct iovec remote = {reinterpret_cast<void*>(source), length};
    const long pid = ::syscall(SYS_getpid);
    const long read = ::syscall(SYS_process_vm_readv, pid, &local, 1UL, &remote, 1UL, 0UL);
    return read >= 0 && std::size_t(read) == length;
}

long bbxSafeReadSyscall(long number, int fd, const void* bytes, std::size_t length)
{
    long result;
    do {
        result = ::syscall(number, fd, bytes, length);
    } while (result < 0 && errno == EINTR);
    return result;
}

void bbxDrainPipe(int readEnd)
{
    char sink[256];
    while (bbxSafeReadSyscall(SYS_read, readEnd, sink, sizeof sink) > 0) {
    }
}

bool bbxReadThroughPipe(int readEnd, int writeEnd, std::uint64_t source, void* destination,
                        std::size_t length)
{
    auto* out = static_cast<char*>(destination);
    while (length > 0) {
        const std::size_t chunk = length < BBXSafeReadPipeChunk ? length : BBXSafeReadPipeChunk;
        const long written =
            bbxSafeReadSyscall(SYS_write, writeEnd, reinterpret_cast<const void*>(source), chunk);
        if (written <= 0) {
            bbxDrainPipe(readEnd);
            return false;
        }
        const long read = bbxSafeReadSyscall(SYS_read, readEnd, out, std::size_t(written));
        if (read != written || std::size_t(written) != chunk) {
            // A write cut short by an unreadable page, or a pipe that gave back less.
            bbxDrainPipe(readEnd);
            return false;
        }
        source += std::uint64_t(chunk);
        out += chunk;
        length -= chunk;
    }
    return true;
}

// The shared pipe serves one reader at a time; a second one meanwhile (another thread, or a
// handler that interrupted a read) makes a pipe of its own rather than wait.
bool bbxReadWithPipe(std::uint64_t source, void* destination, std::size_t length)
{
    const int sharedRead = gBBXSafeReadPipeRead.load(std::memory_order_acquire);
    const int sharedWrite = gBBXSafeReadPipeWrite.load(std::memory_order_acquire);
    if (sharedRead >= 0 && !gBBXSafeReadPipeBusy.exchange(true, std::memory_order_acquire)) {
        const bool ok = bbxReadThroughPipe(sharedRead, sharedWrite, source, destination, length);
        gBBXSafeReadPipeBusy.store(false, std::memory_order_release);
        return ok;
    }
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    const bool ok = bbxReadThroughPipe(fds[0], fds[1], source, destination, length);
    ::close(fds[0]);
    ::close(fds[1]);
    return ok;
}

bool bbxReadWith(BBXSafeReadMechanism mechanism, std::uint64_t source, void* destination, std::size_t length)
{
    if (mechanism == BBXSafeReadMechanism::Pipe)
        return bbxReadWithPipe(source, destination, length);
    return bbxReadThroughProcessVm(source, destination, length);
}

bool bbxSafeReadSelfTest(BBXSafeReadMechanism mechanism)
{
    const char pattern[16] = "corvex-selftest";
    char copy[16] = {};
    if (!bbxReadWith(mechanism, reinterpret_cast<std::uintptr_t>(pattern), copy, sizeof copy) ||
        std::memcmp(pattern, copy, sizeof copy) != 0)
        return false;
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        return false;
    const bool refused = !bbxReadWith(mechanism, reinterpret_cast<std::uintptr_t>(page), copy, sizeof copy);
    ::munmap(page, 4096);
    return refused;
}

} // namespace

bool BBXSafeReadSetup(bool forcePipe)
{
    if (gBBXSafeReadPipeRead.load() < 0) {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            gBBXSafeReadPipeWrite.store(fds[1], std::memory_order_release);
            gBBXSafeReadPipeRead.store(fds[0], std::memory_order_release);
        }
    }
    if (!forcePipe && bbxSafeReadSelfTest(BBXSafeReadMechanism::ProcessVmReadv)) {
        gBBXSafeReadMechanism.store(int(BBXSafeReadMechanism::ProcessVmReadv), std::memory_order_release);
        return true;
    }
    gBBXSafeReadMechanism.store(int(BBXSafeReadMechanism::Pipe), std::memory_order_release);
    return bbxSafeReadSelfTest(BBXSafeReadMechanism::Pipe);
}

BBXSafeReadMechanism BBXSafeReadCurrentMechanism()
{
    return BBXSafeReadMechanism(gBBXSafeReadMechanism.load(std::memory_order_acquire));
}

bool BBXReadMemory(std::uint64_t source, void* destination, std::size_t length)
{
    if (!BBXIsValidAddress(source) || !BBXIsValidPointer(destination))
        return false;
    if (length == 0)
        return true;
    if (source + length < source)
        return false;
    return bbxReadWith(BBXSafeReadCurrentMechanism(), source, destination, length);
}

bool BBXReadStringSafely(std::uint64_t address, std::uint64_t* outAddress, std::size_t maximum)
{
    if (!BBXIsValidPointer(outAddress))
        return false;
    if (maximum == 0) {
        *outAddress = address;
        return true;
    }
    if (!BBXIsValidAddress(address))
        return false;
    // A range past the top of the address space is checked up to the top, never trusted.
    const std::uint64_t room = UINT64_MAX - address;
    const std::uint64_t count = std::uint64_t(maximum) - 1 > room ? room + 1 : std::uint64_t(maximum);
    for (std::uint64_t i = 0; i < count; ++i) {
        char byte = 1;
        if (!BBXReadMemory(address + i, &byte, 1))
            return false;
        if (byte == 0)
            break;
    }
    *outAddress = address;
    return true;
}

void BBXHexEncodeByte(std::uint8_t byte, char* out)
{
    static const char digits[] = "0123456789abcdef";
    out[0] = digits[byte >> 4];
    out[1] = digits[byte & 15];
}

std::uint8_t BBXHexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return std::uint8_t(c - '0');
    if (c >= 'a' && c <= 'f')
        return std::uint8_t(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return std::uint8_t(c - 'A' + 10);
    return 255;
}

void BBXHexEncodeBytes(const void* bytes, std::size_t length, char* out)
{
    if (!BBXIsValidPointer(out))
        return;
    std::memset(out, 0, 2 * length + 1);
    if (!BBXIsValidPointer(bytes))
        return;
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t i = 0; i < length; ++i)
        BBXHexEncodeByte(in[i], out + 2 * i);
}

bool BBXUnlinkIfExists(const char* path)
{
    if (!BBXIsValidPointer(path))
        return false;
    return ::unlink(path) == 0 || errno == ENOENT;
}

const char* BBXDuplicateString(BBXAllocator* allocator, const char* text)
{
    if (!BBXIsValidPointer(text))
        return nullptr;
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(BBXAllocatorSafeAllocate(allocator, length + 1, BBXAllocationReadOnly));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, length + 1);
    return copy;
}

} // namespace corvex
