#pragma once

// Proof that crash-time code allocates nothing: the test program replaces the malloc family,
// and every call a watched thread makes leaves a mark. Only where the family can be replaced
// (the g++ tree; the sanitizers bring their own). Link AllocationMarks.cpp once per program.

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVEX_TEST_OWN_MALLOC 0
#endif
#endif
#if !defined(CORVEX_TEST_OWN_MALLOC) && !defined(__SANITIZE_ADDRESS__)
#define CORVEX_TEST_OWN_MALLOC 1
#endif
#if !defined(CORVEX_TEST_OWN_MALLOC)
#define CORVEX_TEST_OWN_MALLOC 0
#endif

namespace corvex::test {

// Async-signal-safe: a thread-local switch.
void watchAllocationsOnThisThread(bool watching);
// Every thread's calls leave a mark while this is on. Async-signal-safe: an atomic switch.
void watchAllocationsOnAllThreads(bool watching);
void resetAllocationMarks();
int allocationMarks();

} // namespace corvex::test
