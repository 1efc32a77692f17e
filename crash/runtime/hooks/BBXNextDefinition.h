#pragma once

// How the interposed functions of this folder reach the definition they stand in front of:
// the sanitizer runtime's wrapper where one is linked in (clang's runtime names it
// "__interceptor_<name>"), else the next definition after this executable (the C
// library's). Looked up once and kept.

#include <atomic>
#include <dlfcn.h>

namespace corvex {

template <typename Function>
Function BBXNextDefinition(std::atomic<Function>& kept, Function interceptor, const char* name)
{
    Function next = kept.load(std::memory_order_acquire);
    if (next == nullptr) {
        next = interceptor != nullptr ? interceptor : reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
        kept.store(next, std::memory_order_release);
    }
    return next;
}

} // namespace corvex
