#include "kit/net/LOMNetworkClient.h"

#include "kit/net/LOMNetworkResponseHandler.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/Scheduler.h"
#include "platform/net/UrlError.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace corvex {

namespace {

struct NetworkClientRandom
{
    std::mutex mutex;
    LOMNetworkClient::RandomSource source;
};

NetworkClientRandom& networkClientRandom()
{
    static NetworkClientRandom random;
    return random;
}

} // namespace

std::shared_ptr<LOMNetworkClient>
LOMNetworkClient::create(std::shared_ptr<OperationQueue> queue,
                         std::optional<QList<QByteArray>> pinnedCertificates,
                         std::shared_ptr<BBXURLSessionConfiguration> configuration, DebugSwitch debugSwitch)
{
    std::shared_ptr<LOMNetworkClient> client(new LOMNetworkClient());
    if (pinnedCertificates)
        client->mPinner.emplace(*pinnedCertificates);
    client->mDebug = std::move(debugSwitch);
    auto delegate = std::make_shared<BBXURLSessionDelegate>();
    // The session outlives nothing of the client's: the delegate reaches the client weakly.
    std::weak_ptr<LOMNetworkClient> weak = client;
    delegate->didReceiveChallenge = [weak](BBXURLSession&, const ServerTrust& trust) {
        std::shared_ptr<LOMNetworkClient> strong = weak.lock();
        return strong ? strong->answerChallenge(trust) : TrustDisposition::CancelChallenge;
    };
    if (!configuration)
        configuration = BBXURLSessionConfiguration::defaultSessionConfiguration();
    client->mSession =
        BBXURLSession::sessionWithConfiguration(configuration, std::move(delegate), std::move(queue));
    if (!client->mSession)
        return nullptr;
    return client;
}

LOMNetworkClient::~LOMNetworkClient()
{
    if (mSession)
        mSession->finishTasksAndInvalidate();
}

TrustDisposition LOMNetworkClient::answerChallenge(const ServerTrust& trust) const
{
    if (mDebug && mDebug())
        return TrustDisposition::PerformDefaultHandling;
    if (!mPinner)
        return TrustDisposition::PerformDefaultHandling;
    TrustDisposition disposition = TrustDisposition::CancelChallenge;
    mPinner->handleChallenge(trust, &disposition);
    return disposition;
}

void LOMNetworkClient::invalidateAndCancel()
{
    mSession->invalidateAndCancel();
}

void LOMNetworkClient::startDataTask(const HttpRequest& request, DataCompletion completion)
{
    startDataTask(request, DefaultRetryLimit, 0, std::move(completion));
}

void LOMNetworkClient::startDataTask(const HttpRequest& request, int retryLimit, DataCompletion completion)
{
    startDataTask(request, retryLimit, 0, std::move(completion));
}

std::optional<Error> LOMNetworkClient::retryOrGiveUp(const Error& lastAttempt, const HttpRequest& request,
                                                     int retryLimit, int tries,
                                                     const std::optional<HttpResponse>& response,
                                                     UniqueFunction<void()> again)
{
    if (tries >= retryLimit) {
        QVariantMap info;
        info.insert(QStringLiteral("retryLimit"), quint64(std::max(retryLimit, 0)));
        info.insert(UrlError::FailingURLStringKey, request.url.toString());
        return LOMNetworkResponseHandler::errorEndingRetries(
            LOMNetworkResponseHandler::RetryLimitReached, info,
            QStringLiteral("Gave up after %1 attempts").arg(tries + 1), lastAttempt);
    }
    runAfterRetryValueFromResponse(response, tries, std::move(again));
    return std::nullopt;
}

void LOMNetworkClient::startDataTask(const HttpRequest& request, int retryLimit, int tries,
                                     DataCompletion completion)
{
    std::shared_ptr<LOMNetworkClient> self = shared_from_this();
    auto pending = std::make_shared<DataCompletion>(std::move(completion));
    // Each attempt is judged on a global queue; only the final answer goes to the caller's.
    std::shared_ptr<BBXURLSessionTask> task = mSession->dataTaskWithRequest(
        request, DataCompletion(CompletionQueue::global(), [self, request, retryLimit, tries, pending](
                                                               const std::optional<QByteArray>& data,
                                                               const std::optional<HttpResponse>& response,
                                                               const Error& error) {
            const LOMNetworkResponseHandler::Outcome outcome =
                LOMNetworkResponseHandler::handleCompletedResponse(response, request, error);
            if (!outcome.retry) {
                (*pending)(data, response, outcome.error);
                return;
            }
            const std::optional<Error> ended =
                retryOrGiveUp(outcome.error, request, retryLimit, tries, response,
                              [self, request, retryLimit, tries, pending] {
                                  self->startDataTask(request, retryLimit, tries + 1, std::move(*pending));
                              });
            if (ended)
                (*pending)(std::nullopt, std::nullopt, *ended);
        }));
    if (!task) {
        (*pending)(std::nullopt, std::nullopt,
                   LOMNetworkResponseHandler::errorForCode(LOMNetworkResponseHandler::NoTask));
        return;
    }
    task->resume();
}

void LOMNetworkClient::startDownloadTask(const HttpRequest& request, DownloadCompletion completion)
{
    startDownloadTask(request, DefaultRetryLimit, 0, std::move(completion));
}

void LOMNetworkClient::startDownloadTask(const HttpRequest& request, int retryLimit,
                                         DownloadCompletion completion)
{
    startDownloadTask(request, retryLimit, 0, std::move(completion));
}

void LOMNetworkClient::startDownloadTask(const HttpRequest& request, int retryLimit, int tries,
                                         DownloadCompletion completion)
{
    std::shared_ptr<LOMNetworkClient> self = shared_from_this();
    auto pending = std::make_shared<DownloadCompletion>(std::move(completion));
    // As for data; the location handed on keeps the file until the caller's completion ran.
    std::shared_ptr<BBXURLSessionTask> task = mSession->downloadTaskWithRequest(
        request,
        DownloadCompletion(CompletionQueue::global(), [self, request, retryLimit, tries,
                                                       pending](const BBXDownloadLocation& location,
                                                                const std::optional<HttpResponse>& response,
                                                                const Error& error) {
            const LOMNetworkResponseHandler::Outcome outcome =
                LOMNetworkResponseHandler::handleCompletedResponse(response, request, error);
            if (!outcome.retry) {
                (*pending)(location, response, outcome.error);
                return;
            }
            const std::optional<Error> ended = retryOrGiveUp(
                outcome.error, request, retryLimit, tries, response,
                [self, request, retryLimit, tries, pending] {
                    self->startDownloadTask(request, retryLimit, tries + 1, std::move(*pending));
                });
            if (ended)
                (*pending)(BBXDownloadLocation(), std::nullopt, *ended);
        }));
    if (!task) {
        (*pending)(BBXDownloadLocation(), std::nullopt,
                   LOMNetworkResponseHandler::errorForCode(LOMNetworkResponseHandler::NoTask));
        return;
    }
    task->resume();
}

LOMNetworkClient::RandomSource LOMNetworkClient::setRandomSource(RandomSource source)
{
    NetworkClientRandom& random = networkClientRandom();
    std::lock_guard lock(random.mutex);
    RandomSource previous = std::move(random.source);
    random.source = std::move(source);
    return previous;
}

double LOMNetworkClient::randomDoubleWithMin(double min, double max)
{
    double unit = 0;
    {
        NetworkClientRandom& random = networkClientRandom();
        std::lock_guard lock(random.mutex);
        // drand48 is the process's shared generator, unseeded by the kit.
        unit = random.source ? random.source() : drand48();
    }
    return min + (max - min) * unit;
}

double LOMNetworkClient::generateRandomJitter()
{
    return randomDoubleWithMin(double(0.9f), double(1.1f));
}

double LOMNetworkClient::computeDelayForResponse(const std::optional<HttpResponse>& response, int retryCount)
{
    const double base = std::max(2.0, LOMNetworkResponseHandler::retryValueForResponse(response));
    const int n = retryCount == 0 ? 1 : retryCount;
    const double delay = std::pow(base, double(n)) * generateRandomJitter();
    if (!std::isfinite(delay) || delay > MaxRetryDelaySeconds)
        return MaxRetryDelaySeconds;
    return delay < 0 ? 0 : delay;
}

void LOMNetworkClient::runAfterRetryValueFromResponse(const std::optional<HttpResponse>& response,
                                                      int attempts, UniqueFunction<void()> block)
{
    const double delay = computeDelayForResponse(response, attempts);
    Scheduler::current().schedule(
        delay, [block = std::move(block)]() mutable { GlobalQueue::async(std::move(block)); });
}

} // namespace corvex
