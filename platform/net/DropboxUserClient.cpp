#include "platform/net/DropboxUserClient.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Scheduler.h"
#include "platform/net/DropboxAccountAnswers.h"
#include "platform/net/DropboxApiArg.h"
#include "platform/net/UrlError.h"

#include <QUrlQuery>
#include <algorithm>

namespace corvex {

struct DropboxUserClient::Call
{
    enum class Kind
    {
        Rpc,
        Upload,
        Download
    };
    Kind kind = Kind::Rpc;
    QUrl url;
    QByteArray argument;
    QString file; // upload source or download target
    Completion completion;
    RepeatGate mayRepeat;
    int repeats = 0;
    bool refreshed = false;
    QString sentWith; // the access token of the last send
    std::shared_ptr<HttpTransfer> transfer;
    std::optional<DropboxRequestAnswer> last; // the answer a repeat would replace
};

namespace {

std::shared_ptr<DropboxUserClient::Call> makeCall(DropboxUserClient::Call::Kind kind, QUrl url,
                                                  QByteArray argument, QString file,
                                                  DropboxUserClient::Completion completion,
                                                  DropboxUserClient::RepeatGate mayRepeat)
{
    auto call = std::make_shared<DropboxUserClient::Call>();
    call->mayRepeat = std::move(mayRepeat);
    call->kind = kind;
    call->url = std::move(url);
    call->argument = std::move(argument);
    call->file = std::move(file);
    call->completion = std::move(completion);
    return call;
}

DropboxRequestAnswer answerFrom(const Result<HttpResponse>& result)
{
    DropboxRequestAnswer answer;
    if (!result) {
        answer.transportError = result.error();
        return answer;
    }
    answer.status = result->statusCode;
    answer.headers = result->headers;
    answer.body = result->body;
    answer.bodyFilePath = result->bodyFilePath;
    return answer;
}

} // namespace

std::shared_ptr<DropboxUserClient> DropboxUserClient::create(DropboxCredentials credentials, Options options)
{
    return std::shared_ptr<DropboxUserClient>(
        new DropboxUserClient(std::move(credentials), std::move(options)));
}

DropboxUserClient::DropboxUserClient(DropboxCredentials credentials, Options options)
    : mCredentials(std::move(credentials)), mOptions(std::move(options))
{
    if (!mOptions.session)
        mOptions.session = HttpSession::create();
    if (!mOptions.budget)
        mOptions.budget = std::make_shared<DropboxRequestBudget>();
}

DropboxUserClient::~DropboxUserClient() = default;

void DropboxUserClient::rpc(const QString& route, const QByteArray& jsonArgument, Completion completion,
                            RepeatGate mayRepeat)
{
    start(makeCall(Call::Kind::Rpc, mOptions.endpoints.apiRoute(route), jsonArgument, QString(),
                   std::move(completion), std::move(mayRepeat)));
}

void DropboxUserClient::upload(const QString& route, const QByteArray& jsonArgument, const QString& localFile,
                               Completion completion, RepeatGate mayRepeat)
{
    start(makeCall(Call::Kind::Upload, mOptions.endpoints.contentRoute(route), jsonArgument, localFile,
                   std::move(completion), std::move(mayRepeat)));
}

void DropboxUserClient::download(const QString& route, const QByteArray& jsonArgument,
                                 const QString& targetFile, Completion completion, RepeatGate mayRepeat)
{
    start(makeCall(Call::Kind::Download, mOptions.endpoints.contentRoute(route), jsonArgument, targetFile,
                   std::move(completion), std::move(mayRepeat)));
}

void DropboxUserClient::revoke(Completion completion)
{
    // The route takes no argument: its body is JSON null.
    rpc(QStringLiteral("auth/token/revoke"), QByteArrayLiteral("null"), std::move(completion));
}

void DropboxUserClient::start(std::shared_ptr<Call> call)
{
    if (!mAwaitingRefresh.empty()) {
        // A refresh is under way: the old token would only earn another 401.
        mAwaitingRefresh.emplace_back(std::move(call), DropboxRequestAnswer{});
        return;
    }
    send(call);
}

void DropboxUserClient::send(const std::shared_ptr<Call>& call)
{
    if (call->last && call->mayRepeat && !call->mayRepeat()) {
        finish(call, *call->last);
        return;
    }
    const double wait = mOptions.budget->allowedAt() - Scheduler::current().now();
    if (wait <= 0) {
        sendNow(call);
        return;
    }
    std::weak_ptr<DropboxUserClient> weak = weak_from_this();
    MainQueue::postAfter(wait, [weak, call] {
        if (auto self = weak.lock()) {
            self->send(call);
        } else {
            DropboxRequestAnswer gone;
            gone.transportError = UrlError::make(UrlError::Cancelled, QStringLiteral("cancelled"), call->url);
            finish(call, call->last.value_or(gone));
        }
    });
}

void DropboxUserClient::sendNow(const std::shared_ptr<Call>& call)
{
    HttpRequest request;
    request.url = call->url;
    request.method = "POST";
    // Every send counts against the budget, and an upload may land before the connection dies.
    request.sendOnce = true;
    call->sentWith = mCredentials.accessToken;
    request.headers.set("Authorization", "Bearer " + mCredentials.accessToken.toUtf8());
    switch (call->kind) {
    case Call::Kind::Rpc:
        request.bodySource = HttpRequest::BodySource::Memory;
        request.body = call->argument;
        request.headers.set("Content-Type", "application/json");
        break;
    case Call::Kind::Upload:
        request.bodySource = HttpRequest::BodySource::File;
        request.bodyFilePath = call->file;
        request.headers.set("Content-Type", "application/octet-stream");
        request.headers.set("Dropbox-API-Arg", DropboxApiArg::headerSafe(call->argument));
        break;
    case Call::Kind::Download:
        // An empty body with no Content-Type at all: libcurl would otherwise claim a form.
        request.bodySource = HttpRequest::BodySource::Memory;
        request.headers.set("Dropbox-API-Arg", DropboxApiArg::headerSafe(call->argument));
        request.downloadFilePath = call->file;
        break;
    }
    call->transfer = mOptions.session->makeTransfer(std::move(request));
    std::weak_ptr<DropboxUserClient> weak = weak_from_this();
    call->transfer->start([weak, call](const Result<HttpResponse>& result) {
        call->transfer.reset();
        if (auto self = weak.lock())
            self->received(call, result);
        else
            finish(call, answerFrom(result));
    });
}

void DropboxUserClient::received(const std::shared_ptr<Call>& call, const Result<HttpResponse>& result)
{
    DropboxRequestAnswer answer = answerFrom(result);
    const bool expired = answer.status == 401 && DropboxAccountAnswers::errorTag(answer.body) ==
                                                     QLatin1String("expired_access_token");
    if (expired && call->sentWith != mCredentials.accessToken) {
        // Another call's refresh has replaced the token since this one went out.
        send(call);
        return;
    }
    if (expired && !call->refreshed && !mCredentials.refreshToken.isEmpty()) {
        refreshThenRepeat(call, std::move(answer));
        return;
    }
    const bool limited = answer.status == 429;
    const bool serverFault = answer.status >= 500 && answer.status < 600;
    if (answer.isSuccess()) {
        mOptions.budget->succeeded();
    } else if (limited || serverFault || !answer.answered()) {
        const double retryAfter =
            limited ? DropboxAccountAnswers::retryAfterSeconds(answer.headers.value("Retry-After"), 0.0,
                                                               mOptions.maxRetryAfter)
                    : 0.0;
        mOptions.budget->failed(Scheduler::current().now(), retryAfter);
    }
    if ((limited || serverFault) && call->repeats < mOptions.maxRetries) {
        ++call->repeats;
        call->last = answer;
        send(call);
        return;
    }
    finish(call, answer);
}

void DropboxUserClient::refreshThenRepeat(const std::shared_ptr<Call>& call, DropboxRequestAnswer expired)
{
    call->refreshed = true;
    const bool first = mAwaitingRefresh.empty();
    mAwaitingRefresh.emplace_back(call, std::move(expired));
    if (!first)
        return;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), mCredentials.refreshToken);
    form.addQueryItem(QStringLiteral("client_id"), mOptions.appKey);
    mRefreshTransfer = mOptions.session->makeTransfer(
        HttpRequest::post(mOptions.endpoints.tokenUrl(), form.toString(QUrl::FullyEncoded).toUtf8(),
                          "application/x-www-form-urlencoded"));
    std::weak_ptr<DropboxUserClient> weak = weak_from_this();
    mRefreshTransfer->start([weak](const Result<HttpResponse>& result) {
        auto self = weak.lock();
        if (!self)
            return;
        self->mRefreshTransfer.reset();
        QString token;
        if (result && result->statusCode == 200)
            token = DropboxAccountAnswers::refreshedAccessToken(result->body);
        if (token.isEmpty()) {
            Log::warning(QStringLiteral("Dropbox: the access token could not be refreshed"));
            // Only the token route's refusal says the token cannot be mended; no answer or a
            // server error is the connection's failure.
            const bool refused = result && (result->statusCode == 400 || result->statusCode == 401);
            self->refreshed(false, refused ? std::nullopt : std::optional(answerFrom(result)));
            return;
        }
        self->mCredentials.accessToken = token;
        if (const Status saved = self->mOptions.tokenStore.save(self->mCredentials); !saved)
            Log::warning(QStringLiteral("Dropbox: the refreshed token was not saved: ") +
                         saved.error().localizedDescription());
        self->refreshed(true);
    });
}

void DropboxUserClient::refreshed(bool ok, const std::optional<DropboxRequestAnswer>& failure)
{
    auto waiting = std::move(mAwaitingRefresh);
    mAwaitingRefresh.clear();
    for (auto& [call, answer] : waiting) {
        // Calls that queued behind the refresh never went out: they go now either way.
        if (ok || !call->refreshed)
            send(call);
        else
            finish(call, failure.value_or(answer));
    }
}

void DropboxUserClient::finish(const std::shared_ptr<Call>& call, const DropboxRequestAnswer& answer)
{
    Completion completion = std::move(call->completion);
    call->completion = nullptr;
    if (completion)
        completion(answer);
}

} // namespace corvex
