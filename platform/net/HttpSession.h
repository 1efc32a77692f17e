#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Result.h"
#include "platform/net/HttpRequest.h"
#include "platform/net/ServerTrust.h"

#include <QByteArray>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class HttpTransfer;

// The limits and the trust policy of a session, fixed when it is made.
struct HttpSessionConfiguration
{
    // Seconds; 0 disables a limit. The idle time-out is the request time-out of URL loading:
    // it fires when neither direction has moved a byte for that long, whatever the phase.
    double connectTimeout = 15.0;
    double idleTimeout = 60.0;
    double overallTimeout = 0.0;
    int maxRedirects = 16;
    // The largest response body kept in memory, and the largest written to a file.
    qint64 maxMemoryBodyBytes = qint64(64) * 1024 * 1024;
    qint64 maxFileBodyBytes = qint64(4) * 1024 * 1024 * 1024;
    // PEM certificates that replace the system's trust store (tests trust their own root).
    std::optional<QByteArray> trustStorePem;
    // Asked in every handshake (see ServerTrust.h); empty means default handling.
    TrustDecider trustDecider;
};

// A set of HTTP(S) transfers sharing one transfer thread, which drives one libcurl multi
// handle. Connections are kept and reused within a session, never across sessions, so a
// connection verified under one trust policy never carries another session's request.
//
// With CORVEX_NET_LOOPBACK_ONLY=1 in the environment when the session is made (the test
// main sets it), every host but 127.0.0.1 fails at once, redirects included, and no socket
// is opened for it.
class HttpSession : public std::enable_shared_from_this<HttpSession>
{
public:
    static constexpr const char* LoopbackOnlyVariable = "CORVEX_NET_LOOPBACK_ONLY";

    static std::shared_ptr<HttpSession> create(HttpSessionConfiguration configuration = {});
    // Cancels what is still running (each completes with the cancelled error) and stops the
    // transfer thread.
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // A transfer for the request, not yet started.
    std::shared_ptr<HttpTransfer> makeTransfer(HttpRequest request);

    // Cancels every running transfer; later transfers fail with the cancelled error.
    void invalidateAndCancel();

    const HttpSessionConfiguration& configuration() const;
    bool loopbackOnly() const;
    // Sockets this session has opened (connection attempts).
    int socketsOpened() const;
    // Transfers started and not yet completed.
    int activeTransfers() const;
    // Transfers started in this process by any session, refused ones included: what a
    // process that must send nothing is checked by.
    static int transfersStartedInProcess();
    // Transfers started and not yet completed in this process, by any session: what a driver
    // of virtual time waits on, so that its clock never jumps over a request in flight.
    static int transfersActiveInProcess();

    struct Engine;

private:
    explicit HttpSession(HttpSessionConfiguration configuration);
    std::shared_ptr<Engine> mEngine;
};

// One request's transfer. The same interface whatever the body (memory, a file read from
// disk, a download to a file): start it once with a completion, watch its progress, cancel
// it. The completion is answered exactly once, on the queue it was made for (a cancelled
// transfer completes with UrlError::Cancelled); progress reports run on that queue too, before
// it when the queue is the main one or a serial one.
class HttpTransfer
{
public:
    using Completion = corvex::Completion<const Result<HttpResponse>&>;
    // Called for each progress report, any number of times before the completion.
    using ProgressHandler = std::function<void(const TransferProgress&)>;

    ~HttpTransfer();
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    const HttpRequest& request() const;
    // Set before start().
    void setProgressHandler(ProgressHandler handler);
    // A second call is refused (logged) and its completion never runs.
    void start(Completion completion);
    // Any thread; without effect once the transfer completed.
    void cancel();

    bool isStarted() const;
    bool isFinished() const;
    // The latest progress the transfer thread has seen.
    TransferProgress progress() const;

    struct State;

private:
    friend class HttpSession;
    HttpTransfer(std::shared_ptr<State> state, std::weak_ptr<HttpSession::Engine> engine);
    std::shared_ptr<State> mState;
    std::weak_ptr<HttpSession::Engine> mEngine;
};

} // namespace corvex
