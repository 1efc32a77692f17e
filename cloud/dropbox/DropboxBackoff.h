#pragma once

#include "platform/net/DropboxRequestBudget.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace corvex {

// When the Dropbox loop may send its next request, so that a failing service never makes it
// run away. Three waits, all on the caller's clock (seconds):
// - every request waits out the account's request budget (DropboxRequestBudget), which the
//   account client's own repeats count against too: after a run of failures with no success
//   between, however many steps failed, nothing goes out for 2 s, then twice as long after
//   each further failure, up to a minute;
// - each step (a listing, one document's download or upload, the index, an attachment) that
//   failed waits FirstDelay, then twice as long after each further failure, up to MaxDelay;
// - a step that failed before is tried again at most once per RetrySpacing over all steps,
//   so many steps failing the same way (a full account) stay within the same budget.
// Each wait is lengthened by up to a quarter at random (jitter), so machines that failed
// together do not come back together. A success clears its step and the run of failures.
//
// A step's failure counts against the budget once: not again when the account client counted
// it already on the way (a server error it repeated). Main thread only.
class DropboxBackoff
{
public:
    static constexpr double FirstDelaySeconds = DropboxRequestBudget::FirstWaitSeconds;
    static constexpr double MaxDelaySeconds = DropboxRequestBudget::MaxWaitSeconds;
    static constexpr double JitterShare = DropboxRequestBudget::JitterShare;
    static constexpr double RetrySpacingSeconds = 10.0;
    // The longest any wait can be: one back-off.
    static constexpr double LongestWaitSeconds = MaxDelaySeconds * (1.0 + JitterShare);

    // `random` gives numbers in [0, 1); by default one seeded from the system.
    explicit DropboxBackoff(std::function<double()> random = {});

    // The account's budget (each account client brings its own); until one is given, and
    // without an account, one of the back-off's own.
    void useBudget(std::shared_ptr<DropboxRequestBudget> budget);

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
    double allowedAt() const { return mBudget->allowedAt(); }
    int failuresInARow() const { return mBudget->failuresInARow(); }

private:
    struct StepWait
    {
        int failures = 0;
        double dueAt = 0;
    };

    std::function<double()> mRandom;
    std::shared_ptr<DropboxRequestBudget> mBudget;
    QHash<QString, StepWait> mSteps;
    // The budget's count of failures when each step's request went out.
    QHash<QString, std::uint64_t> mCountedAtStart;
    double mLastRetryAt = -RetrySpacingSeconds;
};

} // namespace corvex
