#include "platform/core/CalendarClock.h"

#include "platform/core/Scheduler.h"

#include <cmath>
#include <mutex>

namespace corvex {

namespace {

struct CalendarTie
{
    std::mutex mutex;
    bool tied = false;
    QDateTime date;
    double mediaSeconds = 0;
};

CalendarTie& calendarTie()
{
    static CalendarTie tie;
    return tie;
}

} // namespace

QDateTime CalendarClock::now()
{
    CalendarTie& tie = calendarTie();
    std::unique_lock lock(tie.mutex);
    if (!tie.tied)
        return QDateTime::currentDateTimeUtc();
    const QDateTime date = tie.date;
    const double since = MediaClock::now() - tie.mediaSeconds;
    lock.unlock();
    return date.addMSecs(qint64(std::llround(since * 1000.0)));
}

void CalendarClock::tieToMediaClock(const QDateTime& date)
{
    const double media = MediaClock::now();
    CalendarTie& tie = calendarTie();
    std::lock_guard lock(tie.mutex);
    tie.tied = true;
    tie.date = date.toUTC();
    tie.mediaSeconds = media;
}

void CalendarClock::untie()
{
    CalendarTie& tie = calendarTie();
    std::lock_guard lock(tie.mutex);
    tie.tied = false;
}

bool CalendarClock::isTied()
{
    CalendarTie& tie = calendarTie();
    std::lock_guard lock(tie.mutex);
    return tie.tied;
}

} // namespace corvex
