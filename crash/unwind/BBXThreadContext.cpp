// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/unwind/BBXThreadContext.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"

#include <cstring>

namespace corvex {

std::uint64_t BBXThreadContextGetPC(const BBXThreadContext* context)
{
    return context == nullptr ? 0 : context->rip;
}

bool BBXThreadContextSetPC(BBXThreadContext* context, std::uint64_t value)
{
    if (context == nullptr)
        return false;
    context->rip = value;
    return true;
}

std::uint64_t BBXThreadContextGetSP(const BBXThreadContext* context)
{
    return context == nullptr ? 0 : context->rsp;
}

bool BBXThreadContextSetSP(BBXThreadContext* context, std::uint64_t value)
{
    if (!BBXIsValidPointer(context))
        return false;
    context->rsp = value;
    return true;
}

std::uint64_t BBXThreadContextGetFP(const BBXThreadContext* context)
{
    return BBXIsValidPointer(context) ? context->rbp : 0;
}

bool BBXThreadContextSetFP(BBXThreadContext* context, std::uint64_t value)
{
    if (!BBXIsValidPointer(context))
        return false;
    context->rbp = value;
    return true;
}

std::uint64_t BBXUnwindStackPointerForFramePointer(std::uint64_t framePointer)
{
    return framePointer + 16;
}

bool BBXThreadContextFromUcontext(const ucontext_t* ucontext, BBXThreadContext* out)
{
    if (!BBXIsValidPointer(ucontext) || !BBXIsValidPointer(out))
        return false;
    const greg_t* g = ucontext->uc_mcontext.gregs;
    const auto r = [g](int index) { return static_cast<std::uint64_t>(g[index]); };
    *out =
        BBXThreadContext{r(REG_RAX), r(REG_RBX), r(REG_RCX), r(REG_RDX), r(REG_RDI), r(REG_RSI), r(REG_RBP),
                         r(REG_RSP), r(REG_R8),  r(REG_R9),  r(REG_R10), r(REG_R11), r(REG_R12), r(REG_R13),
                         r(REG_R14), r(REG_R15), r(REG_RIP), r(REG_EFL), 0,          0,          0};
    const std::uint64_t segments = r(REG_CSGSFS);
    out->cs = segments & 0xFFFF;
    out->gs = (segments >> 16) & 0xFFFF;
    out->fs = (segments >> 32) & 0xFFFF;
    return true;
}

namespace {

// DWARF number -> the field of the thread state.
std::uint64_t BBXThreadContext::*const kBBXDwarfRegisterFields[BBXDwarfRegisterCount] = {
    &BBXThreadContext::rax, &BBXThreadContext::rdx, &BBXThreadContext::rcx, &BBXThreadContext::rbx,
    &BBXThreadContext::rsi, &BBXThreadContext::rdi, &BBXThreadContext::rbp, &BBXThreadContext::rsp,
    &BBXThreadContext::r8,  &BBXThreadContext::r9,  &BBXThreadContext::r10, &BBXThreadContext::r11,
    &BBXThreadContext::r12, &BBXThreadContext::r13, &BBXThreadContext::r14, &BBXThreadContext::r15,
    &BBXThreadContext::rip,
};

bool bbxLiveReadImage(const BBXUnwindMemory*, std::uint64_t address, void* out, std::size_t length)
{
    if (!BBXIsValidAddress(address) || address + length < address)
        return false;
    std::memcpy(out, reinterpret_cast<const void*>(address), length);
    return true;
}

bool bbxLiveReadTarget(const BBXUnwindMemory*, std::uint64_t address, void* out, std::size_t length)
{
    return BBXReadMemory(address, out, length);
}

const BBXUnwindMemory kBBXLiveMemory = {bbxLiveReadImage, bbxLiveReadTarget, nullptr};

} // namespace

std::uint64_t BBXDwarfUnwindGetRegisterValue(const BBXThreadContext* context, std::uint64_t number)
{
    if (number >= BBXDwarfRegisterCount) {
        BBX_LOG_WARN("Error: Unrecognized get register number %p", number);
        return 0;
    }
    return context == nullptr ? 0 : context->*kBBXDwarfRegisterFields[number];
}

bool BBXDwarfUnwindSetRegisterValue(BBXThreadContext* context, std::uint64_t number, std::uint64_t value)
{
    if (number >= BBXDwarfRegisterCount) {
        BBX_LOG_WARN("Unrecognized set register number %p", number);
        return false;
    }
    if (context == nullptr)
        return false;
    context->*kBBXDwarfRegisterFields[number] = value;
    return true;
}

const BBXUnwindMemory* BBXUnwindLiveMemory()
{
    return &kBBXLiveMemory;
}

} // namespace corvex
