// dlopen and dlclose of the executable that links this object: each forwards to the next
// definition (the C library's, or the sanitizer runtime's wrapper where one is linked in)
// and then lets the image tracking rescan, since ELF has no load and unload callbacks. Qt's
// plugin loader calls dlopen through the PLT, so its loads are seen too.
//
// The forwarding call comes from this executable, so the C library takes it as the caller
// for $ORIGIN and namespaces: callers that rely on those load by absolute path (Qt does).

#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/hooks/BBXNextDefinition.h"

#include <atomic>
#include <dlfcn.h>

extern "C" {
// Defined only in sanitizer builds (clang's runtime names its wrappers so).
void* __interceptor_dlopen(const char* file, int mode) __attribute__((weak));
int __interceptor_dlclose(void* handle) __attribute__((weak));
}

namespace {

using BBXDlopenFunction = void* (*)(const char*, int);
using BBXDlcloseFunction = int (*)(void*);

std::atomic<BBXDlopenFunction> gBBXNextDlopen{nullptr};
std::atomic<BBXDlcloseFunction> gBBXNextDlclose{nullptr};

BBXDlopenFunction bbxNextDlopen()
{
    return corvex::BBXNextDefinition(gBBXNextDlopen, __interceptor_dlopen, "dlopen");
}

BBXDlcloseFunction bbxNextDlclose()
{
    return corvex::BBXNextDefinition(gBBXNextDlclose, __interceptor_dlclose, "dlclose");
}

} // namespace

extern "C" void* dlopen(const char* file, int mode)
{
    BBXDlopenFunction next = bbxNextDlopen();
    if (next == nullptr)
        return nullptr;
    void* handle = next(file, mode);
    if (handle != nullptr)
        corvex::BBXBinaryImageRescan();
    return handle;
}

extern "C" int dlclose(void* handle)
{
    BBXDlcloseFunction next = bbxNextDlclose();
    if (next == nullptr)
        return -1;
    const int result = next(handle);
    corvex::BBXBinaryImageRescan();
    return result;
}
