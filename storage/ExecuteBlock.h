#pragma once

#include <functional>
#include <memory>

namespace corvex {

// Runs a block once, then again and again on the main queue until told to stop: the way a
// polling task repeats itself. The block usually holds the ExecuteBlock (its own way to ask
// for the next round), and the ExecuteBlock keeps the block until markDone(): that cycle
// keeps a repeating task alive, and markDone() is how it ends and is released.
//
// Main thread only.
class ExecuteBlock : public std::enable_shared_from_this<ExecuteBlock>
{
public:
    using Block = std::function<void()>;

    // Not done, no block.
    static std::shared_ptr<ExecuteBlock> create();

    // When not done: keeps the block and runs it at once, on the calling thread. When done:
    // nothing.
    void executeBlock(Block block);
    // Not done and holding a block.
    bool checkRepeatState() const;
    // When checkRepeatState(): the kept block runs on the main queue in a later turn.
    void repeatAsync();
    // When checkRepeatState(): the kept block runs on the main queue after `seconds` on the
    // media clock (a negative or invalid delay counts as 0).
    void repeatAsyncAfterDelay(double seconds);
    // Done for good: the block is released, every call above does nothing from now on, and a
    // repeat that is already queued does not run.
    void markDone();
    bool isDone() const { return mDone; }

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use create(); public only for std::make_shared.
    explicit ExecuteBlock(Private) {}

private:
    // The queued round: the block unless markDone() came first.
    std::function<void()> round();

    Block mBlock;
    bool mDone = false;
};

} // namespace corvex
