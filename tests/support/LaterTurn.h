#pragma once

namespace corvex::test {

// Marks the calling thread as inside a later turn of its loop: an event being delivered or
// a scheduled task running. The test application holds one around every event it delivers
// and the virtual scheduler around every task it runs, so that a completion can tell an
// answer given later from one given inside the call that took it (straight from the test
// body, with neither held).
class LaterTurn
{
public:
    LaterTurn();
    ~LaterTurn();
    LaterTurn(const LaterTurn&) = delete;
    LaterTurn& operator=(const LaterTurn&) = delete;

    // True while a LaterTurn is held on the calling thread.
    static bool active();
};

} // namespace corvex::test
