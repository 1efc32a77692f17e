#pragma once

#include "platform/core/UniqueFunction.h"
#include <functional>

namespace corvex {

// The concurrent global queues: blocks run on a shared pool of threads, higher priorities
// first and in submission order within a priority. The pool grows while every thread is
// busy (up to MaxThreads) and threads left idle for a while end.
class GlobalQueue
{
public:
    using Task = UniqueFunction<void()>;

    enum class Priority
    {
        High,
        Default,
        Low,
        Background
    };

    static constexpr int MaxThreads = 64;

    // Any thread. A block that throws ends the process (the exception is logged first).
    static void async(Task block, Priority priority = Priority::Default);

    // "com.tallowfen.corvex.global.<priority>", the label of a thread while it runs a block.
    static const char* label(Priority priority);

    // Threads in the pool now, busy or idle.
    static int threadCount();

    // How long a thread waits for work before it ends (real time; 5 s unless changed).
    static void setIdleTimeout(double seconds);
};

} // namespace corvex
