#pragma once

// Crash-time file (except BBXMachExceptionInit, run at set-up). Rules: no Qt; no allocation
// after installation; no locks; no stdio; only async-signal-safe calls; a pointer below 4096
// is invalid.
//
// Exception-port capture as a kernel with exception ports offers it: the mask rule, the
// name tables, the request (92 bytes received) and reply (36 bytes) layouts and the server
// loop, all behind a port interface. This kernel has no exception ports: its port refuses
// allocation, so nothing is registered and crashes are caught through signals only. Tests
// drive the loop through a double of the port.

#include <cstddef>
#include <cstdint>

namespace corvex {

constexpr std::uint32_t BBXMachExceptionMaxPorts = 14;
constexpr std::size_t BBXMachExceptionRequestSize = 92;
constexpr std::size_t BBXMachExceptionReplySize = 36;
constexpr std::uint32_t BBXMachExceptionBehavior = 0x80000001u; // default behaviour, 64-bit codes
constexpr std::uint32_t BBXMachExceptionFlavor = 13;            // no thread state
constexpr std::int32_t BBXMachKernSuccess = 0;
constexpr std::int32_t BBXMachKernFailure = 5;
constexpr std::int32_t BBXMachKernNotSupported = 46;

struct BBXMachPreviousPorts
{
    std::uint32_t count = 0;
    std::uint32_t masks[BBXMachExceptionMaxPorts] = {};
    std::uint32_t ports[BBXMachExceptionMaxPorts] = {};
    std::uint32_t behaviors[BBXMachExceptionMaxPorts] = {};
    std::uint32_t flavors[BBXMachExceptionMaxPorts] = {};
};

// The kernel calls the capture needs; each answers a kernel return code (0: success).
struct BBXMachPort
{
    std::int32_t (*allocate)(void* self, std::uint32_t* outPort);
    std::int32_t (*insertSendRight)(void* self, std::uint32_t port);
    void (*release)(void* self, std::uint32_t port);
    std::int32_t (*swapExceptionPorts)(void* self, std::uint32_t mask, std::uint32_t port,
                                       std::uint32_t behavior, std::uint32_t flavor,
                                       BBXMachPreviousPorts* outPrevious);
    std::int32_t (*setExceptionPorts)(void* self, std::uint32_t mask, std::uint32_t port,
                                      std::uint32_t behavior, std::uint32_t flavor);
    // Fills `buffer` (zeroed by the caller) with one message.
    std::int32_t (*receive)(void* self, std::uint32_t port, std::uint8_t* buffer, std::size_t size);
    std::int32_t (*send)(void* self, const std::uint8_t* bytes, std::size_t size);
    std::int32_t (*startServer)(void* self, void (*body)(void* context), void* context);
    std::uint32_t (*taskSelf)(void* self);
    void* self;
};

// This kernel's port: allocation answers "not supported".
const BBXMachPort* BBXMachExceptionSystemPort();

struct BBXMachExceptionContext
{
    const char* path = nullptr; // "mach_exception.bbxrecord"
    const BBXMachPort* port = nullptr;
    std::uint32_t exceptionPort = 0;
    std::uint32_t registeredMask = 0;
    BBXMachPreviousPorts previous;
};

// The parsed request: header, thread and task port names, exception type and codes.
struct BBXMachExceptionRequest
{
    std::uint32_t bits = 0;
    std::uint32_t size = 0;
    std::uint32_t remotePort = 0;
    std::uint32_t localPort = 0;
    std::uint32_t voucherPort = 0;
    std::int32_t identifier = 0;
    std::uint32_t descriptorCount = 0;
    std::uint32_t thread = 0;
    std::uint32_t task = 0;
    std::int32_t exception = 0;
    std::uint32_t codeCount = 0; // at most 2 are kept
    std::int64_t codes[2] = {};
};

// The exception mask of a handled signal (keyed by the platform's symbols), 0 for others.
std::uint32_t BBXMachExceptionMaskForSignal(int signal);
// (OS code above 1069 ? 0x104E : 0x4E) without the bits of `leaveAlone`.
std::uint32_t BBXMachExceptionRegisteredMask(std::uint32_t osCode, std::uint32_t leaveAlone);
const char* BBXMachExceptionName(std::int32_t exception);
// The code's name for the exception (the first code; 0 when there is none), or nullptr.
const char* BBXMachExceptionCodeName(std::int32_t exception, std::int64_t code);

// False when fewer than 92 bytes are given; a code count above 2 is cut to 2.
bool BBXMachExceptionParseRequest(const std::uint8_t* bytes, std::size_t length,
                                  BBXMachExceptionRequest* out);
// The 36-byte reply to `request`: remote bits, size, the request's remote port, no local
// port, identifier + 100, the NDR record and the return code.
void BBXMachExceptionBuildReply(const BBXMachExceptionRequest* request, std::int32_t returnCode,
                                std::uint8_t (&out)[BBXMachExceptionReplySize]);

// Set-up: registers an exception port for the mask and starts the server; on this kernel the
// allocation is refused, which is logged, and nothing is registered.
void BBXMachExceptionInit(BBXMachExceptionContext* context, const BBXMachPort* port,
                          std::uint32_t leaveAlone);
bool BBXMachExceptionUnregister(BBXMachExceptionContext* context);
// The server loop: until a receive or a reply fails.
void BBXMachExceptionServer(BBXMachExceptionContext* context);
// One "mach_exception" line.
bool BBXMachExceptionRecord(BBXMachExceptionContext* context, const BBXMachExceptionRequest* request);

} // namespace corvex
