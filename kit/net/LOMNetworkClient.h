#pragma once

#include "kit/net/LOMCertificatePinner.h"
#include "kit/urlsession/BBXURLSession.h"
#include "platform/core/Error.h"
#include "platform/net/HttpRequest.h"

#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class OperationQueue;

// The kit's HTTP client: data and download tasks over one work-alike session, each retried
// up to its limit with exponential back-off and jitter, and every server-trust challenge
// answered by the pinner (default handling while the kit's debug switch is on, or without
// a pinner). Every request reaches its completion exactly once, on the completion's queue:
// success, a transport error, an error of "LOMNetworkError", or -6 at the retry limit.
// Attempts are judged on a global queue. Waiting retries keep the client alive; their delays
// run on the current scheduler and start the next attempt on a global queue.
class LOMNetworkClient : public std::enable_shared_from_this<LOMNetworkClient>
{
public:
    // (data, response, error)
    using DataCompletion = BBXURLSessionTask::DataCompletion;
    // (location, response, error): the file is deleted when the completion has run.
    using DownloadCompletion = BBXURLSessionTask::DownloadCompletion;
    using DebugSwitch = std::function<bool()>;
    using RandomSource = std::function<double()>;

    static constexpr int DefaultRetryLimit = 10;
    // Delays beyond this (a large Retry-After raised to a power) wait this long instead.
    static constexpr double MaxRetryDelaySeconds = 24.0 * 60.0 * 60.0;

    // nullptr when no session could be made. A null configuration means the default one.
    static std::shared_ptr<LOMNetworkClient>
    create(std::shared_ptr<OperationQueue> queue = nullptr,
           std::optional<QList<QByteArray>> pinnedCertificates = {},
           std::shared_ptr<BBXURLSessionConfiguration> configuration = nullptr, DebugSwitch debugSwitch = {});
    ~LOMNetworkClient();

    void startDataTask(const HttpRequest& request, DataCompletion completion);
    void startDataTask(const HttpRequest& request, int retryLimit, DataCompletion completion);
    void startDataTask(const HttpRequest& request, int retryLimit, int tries, DataCompletion completion);
    void startDownloadTask(const HttpRequest& request, DownloadCompletion completion);
    void startDownloadTask(const HttpRequest& request, int retryLimit, DownloadCompletion completion);
    void startDownloadTask(const HttpRequest& request, int retryLimit, int tries,
                           DownloadCompletion completion);

    // Ends the session: tasks in flight are cancelled and no new task can be made.
    void invalidateAndCancel();

    // A uniform number in [min, max] from the process's random source (drand48 unless pinned).
    static double randomDoubleWithMin(double min, double max);
    static double generateRandomJitter();
    // base^n x jitter: base the larger of 2 and Retry-After, n the failed attempt's tries
    // (1 for 0); clamped to MaxRetryDelaySeconds, and finite whatever the answer said.
    static double computeDelayForResponse(const std::optional<HttpResponse>& response, int retryCount);
    // Runs `block` after that delay on a global queue of default priority.
    static void runAfterRetryValueFromResponse(const std::optional<HttpResponse>& response, int attempts,
                                               UniqueFunction<void()> block);
    // Tests pin the random source (an empty one restores drand48); answers the previous one.
    static RandomSource setRandomSource(RandomSource source);

    // The server-trust answer the session's delegate gives.
    TrustDisposition answerChallenge(const ServerTrust& trust) const;
    BBXURLSession* session() const { return mSession.get(); }
    const LOMCertificatePinner* certPinner() const { return mPinner ? &*mPinner : nullptr; }

private:
    LOMNetworkClient() = default;
    // Schedules `again` after the back-off and answers nothing, or answers the error that
    // ends the retries when the limit is reached.
    static std::optional<Error> retryOrGiveUp(const Error& lastAttempt, const HttpRequest& request,
                                              int retryLimit, int tries,
                                              const std::optional<HttpResponse>& response,
                                              UniqueFunction<void()> again);

    std::shared_ptr<BBXURLSession> mSession;
    std::optional<LOMCertificatePinner> mPinner;
    DebugSwitch mDebug;
};

} // namespace corvex
