#pragma once

#include <cstdint>
#include <functional>

namespace corvex {

// One budget of HTTP requests for a Dropbox account, counted by everything that sends them:
// the account client's own repeats of a server error or a rate limit, and the Dropbox
// location's loop. Their waits so never stack on one another.
//
// Each request the service did not answer usefully (no answer, a 5xx, a 429, or a step the
// loop counts as failed) makes every request wait FirstWaitSeconds, then twice as long after
// each further failure in a row, up to MaxWaitSeconds, and never less than the Retry-After a
// 429 asked for. Each wait is lengthened by up to a quarter at random, so that machines that
// failed together do not come back together. A success ends the run.
//
// So under any persistent failure a minute holds at most five requests, the first minute
// included (at 0, 2, 6, 14 and 30 s), and at most two once the waits have reached a minute. Times are the
// caller's scheduler's, in seconds. Main thread only.
class DropboxRequestBudget
{
public:
    static constexpr double FirstWaitSeconds = 2.0;
    static constexpr double MaxWaitSeconds = 60.0;
    static constexpr double JitterShare = 0.25;

    // `random` gives numbers in [0, 1); by default systemRandom().
    explicit DropboxRequestBudget(std::function<double()> random = {});

    // Numbers in [0, 1) from a generator seeded from the system.
    static std::function<double()> systemRandom();
    // FirstWaitSeconds doubled for each failure after the first, at most MaxWaitSeconds, and
    // lengthened by `random`'s share of JitterShare.
    static double waitAfter(int failures, const std::function<double()>& random);

    // When the next request may go out (0: at once).
    double allowedAt() const { return mAllowedAt; }
    // A request failed at `now`; `retryAfter`: the least wait the service asked for.
    void failed(double now, double retryAfter = 0.0);
    // The service answered a request as asked: the run of failures ends.
    void succeeded();

    int failuresInARow() const { return mFailuresInARow; }
    // Every failure ever counted: a caller tells by it whether a failure of its own request
    // was counted already (by the account client, on the way).
    std::uint64_t failuresCounted() const { return mFailuresCounted; }

private:
    std::function<double()> mRandom;
    int mFailuresInARow = 0;
    double mAllowedAt = 0;
    std::uint64_t mFailuresCounted = 0;
};

} // namespace corvex
