#pragma once

#include <QHash>
#include <QString>
#include <functional>

namespace corvex {

// When the Dropbox loop may send its next request, so that a failing service never makes it
// run away. Three waits, all on the caller's clock (seconds):
// - each step (a listing, one document's download or upload, the index, an attachment) that
//   failed waits FirstDelay, then twice as long after each further failure, up to MaxDelay;
// - every request waits as long after a run of failures with no success between, however
//   many steps failed, so a service that fails everything is asked less and less often;
// - a step that failed before is tried again at most once per RetrySpacing over all steps,
//   so many steps failing the same way (a full account) stay within the same budget.
// Each wait is lengthened by up to a quarter at random (jitter), so machines that failed
// together do not come back together. A success clears its step and the run of failures.
//
// With every step failing, the waits reach MaxDelay within the first minute; from then on at
// most one request goes out per MaxDelay (one that the client repeats on a server error
// counts up to four times). Main thread only.
class DropboxBackoff
{
public:
    static constexpr double FirstDelaySeconds = 2.0;
    static constexpr double MaxDelaySeconds = 60.0;
    static constexpr double JitterShare = 0.25;
    static constexpr double RetrySpacingSeconds = 10.0;
    // The longest any wait can be: one back-off.
    static constexpr double LongestWaitSeconds = MaxDelaySeconds * (1.0 + JitterShare);

    // `random` gives numbers in [0, 1); by default a generator seeded from the system.
    explicit DropboxBackoff(std::function<double()> random = {});

    // Whether a request for `step` may go out at `now`.
    bool mayStart(const QString& step, double now) const;
    // Whether `step` failed last time it was tried (and has not succeeded since).
    bool isFailing(const QString& step) const { return mSteps.contains(step); }
    // A request for `step` goes out at `now`.
    void started(const QString& step, double now);
    // The request for `step` failed at `now`; an empty step counts only towards the run of
    // failures (a reachability check that found no way to the service).
    void failed(const QString& step, double now);
    // An answer that shows the service works: clears the run of failures, and `step` if given.
    void succeeded(const QString& step = QString());
    // Forgets every failure (a new account, or the mode starting over).
    void reset();

    // When the next request may go out at all (0: at once).
    double allowedAt() const { return mAllowedAt; }
    int failuresInARow() const { return mFailuresInARow; }

private:
    struct StepWait
    {
        int failures = 0;
        double dueAt = 0;
    };

    double delayAfter(int failures);

    std::function<double()> mRandom;
    QHash<QString, StepWait> mSteps;
    int mFailuresInARow = 0;
    double mAllowedAt = 0;
    double mLastRetryAt = -RetrySpacingSeconds;
};

} // namespace corvex
