#pragma once

#include <QDateTime>

namespace corvex {

// The calendar time the program stamps on what it stores and sends (dates of settings,
// reports, events). Logic asks here, never QDateTime::currentDateTime, so that tests on
// virtual time see calendar time move with the media clock.
class CalendarClock
{
public:
    // Now, in UTC. Real time, unless tied: then the tie's date plus the media-clock seconds
    // since the tie was made.
    static QDateTime now();

    // Ties calendar time to the current scheduler's media clock, starting at `date` now.
    // Tests do this (ScopedVirtualTime ties it to a fixed date); untie() goes back to real time.
    static void tieToMediaClock(const QDateTime& date);
    static void untie();
    static bool isTied();
};

} // namespace corvex
