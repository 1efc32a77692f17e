#pragma once

#include <cstddef>

namespace corvex {

// Which queue each thread is running now, kept where crash-time code can read it: a fixed
// table of per-thread slots in static storage, written only by the slot's own thread and
// read without allocation or locks. No QString, no heap, no thread-local storage is needed
// to read it.
class QueueLabels
{
public:
    static constexpr std::size_t MaxThreads = 512;
    static constexpr std::size_t MaxLabelLength = 127;

    // Sets the calling thread's current label (truncated to MaxLabelLength bytes). An empty
    // label or null clears it.
    static void setCurrent(const char* label);

    // Context: any thread, including a signal handler. Copies the label of the thread with
    // kernel thread id `tid` into `out` (always terminated when capacity > 0) and answers
    // its length; 0 when the thread runs no labelled queue.
    static std::size_t read(int tid, char* out, std::size_t capacity);

    // Context: any thread. The calling thread's current label copied into `out`.
    static std::size_t readCurrent(char* out, std::size_t capacity);

    // Frees the calling thread's slot; queue threads call it before they end.
    static void releaseCurrentThread();

    // Sets a label for the lifetime of the scope and restores the previous one.
    class Scope
    {
    public:
        explicit Scope(const char* label);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        char mPrevious[MaxLabelLength + 1];
    };
};

} // namespace corvex
