#pragma once

namespace corvex {

// Whether the processor running the program has AVX2, for the loops that take a wider road
// chosen at run time (the build itself assumes no more than SSE2). Asked of the processor
// once.
inline bool processorHasAvx2()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

} // namespace corvex
