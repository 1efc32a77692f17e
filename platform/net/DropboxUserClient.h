#pragma once

#include "platform/core/Error.h"
#include "platform/net/DropboxEndpoints.h"
#include "platform/net/DropboxRequestBudget.h"
#include "platform/net/DropboxTokenStore.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/HttpSession.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

// The final answer to one Dropbox request: either a transport failure (no HTTP answer) or
// the status, headers and body the service sent. A download's body is in bodyFilePath when
// the status was 2xx, else in body.
struct DropboxRequestAnswer
{
    Error transportError;
    int status = 0;
    HttpHeaders headers;
    QByteArray body;
    QString bodyFilePath;

    bool answered() const { return transportError.isNull(); }
    bool isSuccess() const { return answered() && status >= 200 && status < 300; }
    bool isAuthError() const { return answered() && status == 401; }
};

// The signed-in account's way to the Dropbox API: RPC routes with a JSON body, content
// routes with their argument in a header-safe "Dropbox-API-Arg", every request a POST with
// the bearer token. It absorbs what a caller should never see:
// - a 401 "expired_access_token" refreshes the token once (saving the new one) and repeats
//   the request; one that answers a token already refreshed since is repeated at once; a
//   refresh the token route refuses (400, 401) leaves the 401 as the answer, one that gets no
//   answer or a server error answers that instead (the connection failed, not the token);
// - a 429, a 5xx or no answer counts against the account's request budget
//   (DropboxRequestBudget, shared with whoever else sends for the account), and every request
//   waits out the budget before it goes; a 429 or a 5xx is repeated once the budget allows
//   (never sooner than the Retry-After, at most maxRetryAfter), at most maxRetries repeats in
//   all, on the current scheduler, then the last answer is final. A 2xx ends the budget's run.
//   A caller's repeat gate, asked when a repeat is due, can make the last answer final
//   instead: a caller that orders its requests after what it has read must hear of the
//   failure before the service has been gone long enough for its return to matter.
// Main thread only; each completion is answered once, on its queue (the main queue unless its
// maker named another).
class DropboxUserClient : public std::enable_shared_from_this<DropboxUserClient>
{
public:
    struct Options
    {
        QString appKey;
        DropboxEndpoints endpoints;
        DropboxTokenStore tokenStore;
        std::shared_ptr<HttpSession> session; // made when null
        int maxRetries = 3;
        double maxRetryAfter = 300.0;
        std::shared_ptr<DropboxRequestBudget> budget; // made when null
    };
    using Completion = corvex::Completion<const DropboxRequestAnswer&>;
    // Whether a repeat that is due may go now (none: always).
    using RepeatGate = std::function<bool()>;

    static std::shared_ptr<DropboxUserClient> create(DropboxCredentials credentials, Options options);
    ~DropboxUserClient();
    DropboxUserClient(const DropboxUserClient&) = delete;
    DropboxUserClient& operator=(const DropboxUserClient&) = delete;

    // RPC route ("files/list_folder"): the argument is the JSON body.
    void rpc(const QString& route, const QByteArray& jsonArgument, Completion completion,
             RepeatGate mayRepeat = {});
    // Content routes: the body is the local file, sent as application/octet-stream.
    void upload(const QString& route, const QByteArray& jsonArgument, const QString& localFile,
                Completion completion, RepeatGate mayRepeat = {});
    // The body goes to `targetFile` (written beside it, renamed over it after a 2xx).
    void download(const QString& route, const QByteArray& jsonArgument, const QString& targetFile,
                  Completion completion, RepeatGate mayRepeat = {});
    // "auth/token/revoke": the token stops working at the service.
    void revoke(Completion completion);

    DropboxCredentials credentials() const { return mCredentials; }
    // The budget every request of this account counts against.
    const std::shared_ptr<DropboxRequestBudget>& budget() const { return mOptions.budget; }
    const Options& options() const { return mOptions; }

    struct Call;

private:
    DropboxUserClient(DropboxCredentials credentials, Options options);
    void start(std::shared_ptr<Call> call);
    // Sends once the budget allows.
    void send(const std::shared_ptr<Call>& call);
    void sendNow(const std::shared_ptr<Call>& call);
    void received(const std::shared_ptr<Call>& call, const Result<HttpResponse>& result);
    void refreshThenRepeat(const std::shared_ptr<Call>& call, DropboxRequestAnswer expired);
    // `failure`: what the calls that waited for a failed refresh answer.
    void refreshed(bool ok, const std::optional<DropboxRequestAnswer>& failure = std::nullopt);
    static void finish(const std::shared_ptr<Call>& call, const DropboxRequestAnswer& answer);

    DropboxCredentials mCredentials;
    Options mOptions;
    // Calls waiting for the one refresh in flight, with the answers they would give if it fails.
    std::vector<std::pair<std::shared_ptr<Call>, DropboxRequestAnswer>> mAwaitingRefresh;
    std::shared_ptr<HttpTransfer> mRefreshTransfer;
};

} // namespace corvex
