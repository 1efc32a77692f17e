#pragma once

#include "platform/core/Completion.h"

#include <QString>

namespace corvex {

// Work the quit waits for before it begins: a write the user asked for whose steps take turns
// of the main loop (an export fetching its attachments one by one). The quit cannot wait for
// it as it waits for the storage queue's writes, with the main thread blocked at its end, so
// it lets the loop run on until the last hold goes (bounded) and only then quits. A hold lasts
// as long as its object. Any thread.
class QuitHold
{
public:
    explicit QuitHold(QString reason);
    ~QuitHold();
    QuitHold(const QuitHold&) = delete;
    QuitHold& operator=(const QuitHold&) = delete;

    // How many holds there are now.
    static int held();
    // Answers `then` once, on its queue: true once no hold is left (on a later turn, also
    // when none is held now), false when some are still held after `seconds` on the media
    // clock, which are then logged by their reasons.
    static void whenReleased(double seconds, Completion<bool> then);

private:
    QString mReason;
};

} // namespace corvex
