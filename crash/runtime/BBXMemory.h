#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// Memory reads that survive a bad pointer, hex digits, and the small helpers the runtime
// shares. A safe read is a copy made by the kernel, which answers failure for memory that
// is unmapped or unreadable instead of raising a signal: process_vm_readv on our own
// process, or, where a sandbox refuses that call, a write of the source into a pipe (the
// kernel fails the write with EFAULT) read back at once.

#include <cstddef>
#include <cstdint>

namespace corvex {

struct BBXAllocator;

enum class BBXSafeReadMechanism
{
    ProcessVmReadv,
    Pipe,
};

// Set-up (before installation): tests process_vm_readv on a readable buffer and on a page
// that cannot be read, and takes the pipe when it misbehaves or `forcePipe` is set. Returns
// false only when neither mechanism works. May be called again to switch.
bool BBXSafeReadSetup(bool forcePipe);
BBXSafeReadMechanism BBXSafeReadCurrentMechanism();

// Copies `length` bytes from `source`; false for a source below 4096 (nothing is touched)
// and for any byte that cannot be read.
bool BBXReadMemory(std::uint64_t source, void* destination, std::size_t length);
// Checks that the NUL-terminated string at `address` is readable byte by byte up to its
// terminator or `maximum` bytes; a range that would wrap is checked up to the top of the
// address space. Maximum 0 answers true at once. Stores the address on success.
bool BBXReadStringSafely(std::uint64_t address, std::uint64_t* outAddress, std::size_t maximum);

// Digits "0123456789abcdef", high nibble first.
void BBXHexEncodeByte(std::uint8_t byte, char* out);
// 0 to 15 for hexadecimal digits of either case, 255 for anything else.
std::uint8_t BBXHexDigitValue(char c);
// Clears 2 * length + 1 bytes of `out`, then writes two digits per byte.
void BBXHexEncodeBytes(const void* bytes, std::size_t length, char* out);

// Removes the file; true also when there was none.
bool BBXUnlinkIfExists(const char* path);
// A copy in the allocator's read-only region; nullptr for nullptr.
const char* BBXDuplicateString(BBXAllocator* allocator, const char* text);

} // namespace corvex
