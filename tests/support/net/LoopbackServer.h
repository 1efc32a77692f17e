#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvex::test {

// One request as the loopback server read it.
struct LoopbackRequest
{
    QByteArray method;
    QByteArray target; // "/path?query"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;      // the first keptBodyBytes() bytes
    qint64 bodyBytes = 0; // all the body bytes that arrived
    quint16 peerPort = 0; // the client's end of the connection

    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
    QByteArray path() const;
};

// The connection a route answers on: well-formed replies, or raw bytes for a server that
// misbehaves on purpose. Every call returns false once the peer has gone or the server is
// stopping, so a route's loop always ends.
class LoopbackConnection
{
public:
    virtual ~LoopbackConnection() = default;

    // Sends bytes as they are.
    virtual bool send(const QByteArray& bytes) = 0;
    // A complete response with Content-Length; the connection stays open for the next
    // request unless closeAfter.
    bool respond(int status, const QByteArray& body, const QList<QPair<QByteArray, QByteArray>>& headers = {},
                 bool closeAfter = false);
    // The status line and header fields of such a response, up to the empty line.
    static QByteArray responseHead(int status, qint64 contentLength,
                                   const QList<QPair<QByteArray, QByteArray>>& headers, bool closeAfter);
    // Closes after this exchange (a clean end: FIN).
    virtual void close() = 0;
    // Resets the connection (RST): the peer sees a broken connection, not an end.
    virtual void abort() = 0;
    // Blocks until the server stops: a route that stalls.
    virtual void waitForStop() = 0;
    // Blocks until the peer closes or resets the connection, or the server stops: a route that
    // stalls until the client gives up. True when the peer went.
    virtual bool waitForPeerToLeave() = 0;
    virtual bool stopping() const = 0;
};

using LoopbackRoute = std::function<void(const LoopbackRequest&, LoopbackConnection&)>;

// An HTTP/1.1 server on 127.0.0.1 for tests and benchmarks, plain or over TLS: a thread
// per connection (at most MaxConnections at once), keep-alive, routes by exact path
// (without the query), 404 for others. It counts accepted connections, completed TLS
// handshakes and requests. The destructor stops it: every blocked route and connection
// ends, every thread is joined.
class LoopbackServer
{
public:
    static constexpr qint64 KeptBodyBytes = 1024 * 1024; // unless setKeptBodyBytes() says otherwise
    static constexpr int MaxConnections = 64;

    struct Tls
    {
        QByteArray certificateChainPem; // leaf first
        QByteArray privateKeyPem;
    };

    explicit LoopbackServer(std::optional<Tls> tls = std::nullopt);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // How much of a request body is kept for the route; set before start().
    void setKeptBodyBytes(qint64 bytes) { mKeptBodyBytes = bytes; }
    qint64 keptBodyBytes() const { return mKeptBodyBytes; }

    // Routes are set before start().
    void route(const QByteArray& path, LoopbackRoute route);
    // A route called as soon as the request's head has arrived, before any body is read
    // (its request has no body): a server that never takes an upload.
    void routeBeforeBody(const QByteArray& path, LoopbackRoute route);
    // Listens on 127.0.0.1 at a free port. False (with a line on stderr) when it cannot.
    bool start();
    void stop();

    quint16 port() const { return mPort; }
    // "http://127.0.0.1:<port>" or "https://...".
    QByteArray baseUrl() const;
    QByteArray url(const QByteArray& path) const { return baseUrl() + path; }

    int connectionsAccepted() const { return mConnections.load(); }
    int tlsHandshakes() const { return mHandshakes.load(); }
    int tlsHandshakeFailures() const { return mHandshakeFailures.load(); }
    int requestsServed() const { return mRequests.load(); }

    // A route answering `body` with status 200.
    static LoopbackRoute fixed(QByteArray body, QByteArray contentType = "text/plain");

private:
    class Connection;
    void acceptLoop();
    void serve(int fd);
    void reapFinished();

    std::optional<Tls> mTls;
    qint64 mKeptBodyBytes = KeptBodyBytes;
    void* mSslContext = nullptr; // SSL_CTX
    std::map<QByteArray, LoopbackRoute> mRoutes;
    std::map<QByteArray, LoopbackRoute> mHeadRoutes;
    int mListenFd = -1;
    quint16 mPort = 0;
    std::thread mAcceptThread;

    std::mutex mMutex;
    std::condition_variable mStopped;
    bool mStopping = false;
    std::vector<int> mOpenFds;                                                        // under mMutex
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> mWorkers; // under mMutex

    std::atomic<int> mConnections{0};
    std::atomic<int> mHandshakes{0};
    std::atomic<int> mHandshakeFailures{0};
    std::atomic<int> mRequests{0};
    std::atomic<int> mLive{0};
};

} // namespace corvex::test
