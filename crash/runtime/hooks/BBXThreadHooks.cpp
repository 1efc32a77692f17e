// pthread_create of the executable that links this object: every thread, whoever makes it
// (std::thread, QThread, Qt's thread pool, libcurl's and the HTTP session's threads, other
// libraries), starts through a trampoline that gives it an alternate signal stack before
// its own code runs and takes it back when that code ends (returning, pthread_exit or
// cancellation, which unwind through the trampoline). Without one, a stack overflow on the
// thread cannot run the crash handler and the process dies of a second fault, unreported.
// Each call forwards to the next definition: the sanitizer runtime's wrapper where one is
// linked in, else the C library's.
//
// Ordinary code (runs at thread start and end, never at crash time); no Qt.

#include "crash/runtime/hooks/BBXNextDefinition.h"
#include "platform/core/AlternateSignalStack.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <pthread.h>

extern "C" {
// Defined only in sanitizer builds (clang's runtime names its wrappers so).
int __interceptor_pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                                 void* argument) __attribute__((weak));
}

namespace {

using BBXPthreadCreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

std::atomic<BBXPthreadCreateFunction> gBBXNextPthreadCreate{nullptr};

BBXPthreadCreateFunction bbxNextPthreadCreate()
{
    return corvex::BBXNextDefinition(gBBXNextPthreadCreate, __interceptor_pthread_create, "pthread_create");
}

struct BBXThreadStart
{
    void* (*routine)(void*);
    void* argument;
};

void* bbxThreadTrampoline(void* start)
{
    corvex::AlternateSignalStack::comingOnThisThread();
    const BBXThreadStart own = *static_cast<BBXThreadStart*>(start);
    std::free(start);
    corvex::AlternateSignalStack stack;
    return own.routine(own.argument);
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument)
{
    BBXPthreadCreateFunction next = bbxNextPthreadCreate();
    if (next == nullptr)
        return EAGAIN;
    auto* start = static_cast<BBXThreadStart*>(std::malloc(sizeof(BBXThreadStart)));
    if (start == nullptr)
        return next(thread, attributes, routine, argument);
    *start = BBXThreadStart{routine, argument};
    const int result = next(thread, attributes, bbxThreadTrampoline, start);
    if (result != 0)
        std::free(start);
    return result;
}
