#include "tests/support/net/LoopbackServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvex::test {

namespace {

constexpr qsizetype kMaxRequestHeadBytes = 64 * 1024;
constexpr qsizetype kReadChunk = 64 * 1024;

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 409:
        return "Conflict";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

SSL_CTX* makeServerContext(const LoopbackServer::Tls& tls)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr)
        return nullptr;
    // Every connection does a full handshake, so that handshakes count connections.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    BIO* chain = BIO_new_mem_buf(tls.certificateChainPem.constData(), int(tls.certificateChainPem.size()));
    bool ok = chain != nullptr;
    bool first = true;
    while (ok) {
        X509* certificate = PEM_read_bio_X509(chain, nullptr, nullptr, nullptr);
        if (certificate == nullptr)
            break;
        if (first) {
            ok = SSL_CTX_use_certificate(context, certificate) == 1;
            X509_free(certificate);
            first = false;
        } else {
            ok = SSL_CTX_add_extra_chain_cert(context, certificate) == 1; // takes ownership
            if (!ok)
                X509_free(certificate);
        }
    }
    ERR_clear_error();
    BIO_free(chain);
    BIO* keyBio = BIO_new_mem_buf(tls.privateKeyPem.constData(), int(tls.privateKeyPem.size()));
    EVP_PKEY* key = keyBio != nullptr ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(keyBio);
    ok = ok && !first && key != nullptr && SSL_CTX_use_PrivateKey(context, key) == 1;
    EVP_PKEY_free(key);
    if (!ok) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

} // namespace

QByteArray LoopbackRequest::header(const QByteArray& name) const
{
    for (const auto& field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return {};
}

bool LoopbackRequest::hasHeader(const QByteArray& name) const
{
    for (const auto& field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray LoopbackRequest::path() const
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

QByteArray LoopbackConnection::responseHead(int status, qint64 contentLength,
                                            const QList<QPair<QByteArray, QByteArray>>& headers,
                                            bool closeAfter)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonFor(status) + "\r\n";
    bool typed = false;
    for (const auto& field : headers) {
        head += field.first + ": " + field.second + "\r\n";
        typed = typed || field.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    if (!typed && contentLength > 0)
        head += "Content-Type: application/octet-stream\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    if (closeAfter)
        head += "Connection: close\r\n";
    return head + "\r\n";
}

bool LoopbackConnection::respond(int status, const QByteArray& body,
                                 const QList<QPair<QByteArray, QByteArray>>& headers, bool closeAfter)
{
    const bool sent = send(responseHead(status, body.size(), headers, closeAfter) + body);
    if (closeAfter)
        close();
    return sent;
}

// One accepted connection, plain or TLS, read and written by its own thread.
class LoopbackServer::Connection final : public LoopbackConnection
{
public:
    Connection(LoopbackServer& server, int fd, SSL* ssl) : mServer(server), mFd(fd), mSsl(ssl) {}

    bool send(const QByteArray& bytes) override
    {
        if (mClosed || stopping())
            return false;
        qsizetype done = 0;
        while (done < bytes.size()) {
            const int chunk = int(std::min<qsizetype>(bytes.size() - done, kReadChunk));
            int wrote = 0;
            if (mSsl != nullptr) {
                wrote = SSL_write(mSsl, bytes.constData() + done, chunk);
            } else {
                wrote = int(::send(mFd, bytes.constData() + done, std::size_t(chunk), MSG_NOSIGNAL));
                if (wrote < 0 && errno == EINTR)
                    continue;
            }
            if (wrote <= 0) {
                mClosed = true;
                return false;
            }
            done += wrote;
        }
        return true;
    }

    void close() override { mCloseRequested = true; }

    void abort() override
    {
        // SO_LINGER with a zero time makes close() send a reset.
        struct linger immediate = {1, 0};
        ::setsockopt(mFd, SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
        mCloseRequested = true;
        mAborted = true;
    }

    void waitForStop() override
    {
        std::unique_lock lock(mServer.mMutex);
        mServer.mStopped.wait(lock, [this] { return mServer.mStopping; });
    }

    bool stopping() const override
    {
        std::lock_guard lock(mServer.mMutex);
        return mServer.mStopping;
    }

    bool waitForPeerToLeave() override
    {
        while (!stopping()) {
            // POLLRDHUP: the peer's end of the stream shows even behind bytes it sent that
            // stay unread, as a stalled server would leave them.
            pollfd watch = {mFd, POLLRDHUP, 0};
            const int ready = ::poll(&watch, 1, 20);
            if (ready < 0 && errno != EINTR)
                return true;
            if (ready > 0 && (watch.revents & (POLLRDHUP | POLLERR | POLLHUP)) != 0)
                return true;
        }
        return false;
    }

    // Reads into mBuffer; false at the end or on an error.
    bool fill()
    {
        char chunk[kReadChunk];
        int got = 0;
        do {
            got = mSsl != nullptr ? SSL_read(mSsl, chunk, int(sizeof chunk))
                                  : int(::recv(mFd, chunk, sizeof chunk, 0));
        } while (got < 0 && mSsl == nullptr && errno == EINTR);
        if (got <= 0)
            return false;
        mBuffer.append(chunk, got);
        return true;
    }

    // Reads one request's head; false when the connection ended or sent something
    // unreadable.
    bool readHead(LoopbackRequest& request)
    {
        qsizetype end = -1;
        while ((end = mBuffer.indexOf("\r\n\r\n")) < 0) {
            if (mBuffer.size() > kMaxRequestHeadBytes || !fill())
                return false;
        }
        const QList<QByteArray> lines = mBuffer.left(end).split('\n');
        mBuffer.remove(0, end + 4);
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        if (start.size() != 3)
            return false;
        request.method = start[0];
        request.target = start[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        return true;
    }

    // Reads the body the head announced.
    bool readBody(LoopbackRequest& request)
    {
        bool known = false;
        const qint64 length = request.header("Content-Length").toLongLong(&known);
        if (!known || length <= 0)
            return true;
        // The body, streamed: kept up to KeptBodyBytes, counted beyond.
        while (request.bodyBytes < length) {
            if (mBuffer.isEmpty() && !fill())
                return false;
            const qsizetype take = qsizetype(std::min<qint64>(mBuffer.size(), length - request.bodyBytes));
            const qint64 room = mServer.mKeptBodyBytes - request.body.size();
            if (room > 0)
                request.body.append(mBuffer.constData(), qsizetype(std::min<qint64>(room, take)));
            request.bodyBytes += take;
            mBuffer.remove(0, take);
        }
        return true;
    }

    bool closeRequested() const { return mCloseRequested || mClosed; }
    bool aborted() const { return mAborted; }

private:
    LoopbackServer& mServer;
    int mFd;
    SSL* mSsl;
    QByteArray mBuffer;
    bool mClosed = false;
    bool mCloseRequested = false;
    bool mAborted = false;
};

LoopbackServer::LoopbackServer(std::optional<Tls> tls) : mTls(std::move(tls)) {}

LoopbackServer::~LoopbackServer()
{
    stop();
    if (mSslContext != nullptr)
        SSL_CTX_free(static_cast<SSL_CTX*>(mSslContext));
}

void LoopbackServer::route(const QByteArray& path, LoopbackRoute route)
{
    mRoutes[path] = std::move(route);
}

void LoopbackServer::routeBeforeBody(const QByteArray& path, LoopbackRoute route)
{
    mHeadRoutes[path] = std::move(route);
}

LoopbackRoute LoopbackServer::fixed(QByteArray body, QByteArray contentType)
{
    return [body = std::move(body), contentType = std::move(contentType)](const LoopbackRequest&,
                                                                          LoopbackConnection& connection) {
        connection.respond(200, body, {{"Content-Type", contentType}});
    };
}

QByteArray LoopbackServer::baseUrl() const
{
    return (mTls ? QByteArray("https://127.0.0.1:") : QByteArray("http://127.0.0.1:")) +
           QByteArray::number(mPort);
}

bool LoopbackServer::start()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (mTls) {
        mSslContext = makeServerContext(*mTls);
        if (mSslContext == nullptr) {
            std::fprintf(stderr, "LoopbackServer: the certificate or key is unusable\n");
            return false;
        }
    }
    mListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (mListenFd < 0)
        return false;
    const int yes = 1;
    ::setsockopt(mListenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(mListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(mListenFd, 128) != 0 ||
        ::getsockname(mListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("LoopbackServer");
        ::close(mListenFd);
        mListenFd = -1;
        return false;
    }
    mPort = ntohs(address.sin_port);
    mAcceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void LoopbackServer::stop()
{
    {
        std::lock_guard lock(mMutex);
        if (mStopping)
            return;
        mStopping = true;
        // Wakes every blocked read, write and accept; each thread closes its own descriptor.
        for (const int fd : mOpenFds)
            ::shutdown(fd, SHUT_RDWR);
        if (mListenFd >= 0)
            ::shutdown(mListenFd, SHUT_RDWR);
    }
    mStopped.notify_all();
    if (mAcceptThread.joinable())
        mAcceptThread.join();
    if (mListenFd >= 0)
        ::close(mListenFd);
    mListenFd = -1;
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> workers;
    {
        std::lock_guard lock(mMutex);
        workers.swap(mWorkers);
    }
    for (auto& worker : workers)
        worker.first.join();
}

void LoopbackServer::reapFinished()
{
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mMutex);
        for (auto it = mWorkers.begin(); it != mWorkers.end();) {
            if (it->second->load()) {
                done.push_back(std::move(it->first));
                it = mWorkers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::thread& thread : done)
        thread.join();
}

void LoopbackServer::acceptLoop()
{
    while (true) {
        const int fd = ::accept4(mListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        reapFinished();
        std::lock_guard lock(mMutex);
        if (mStopping || mLive.load() >= MaxConnections) {
            ::close(fd);
            if (mStopping)
                return;
            continue;
        }
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        mConnections.fetch_add(1);
        mLive.fetch_add(1);
        mOpenFds.push_back(fd);
        auto done = std::make_shared<std::atomic<bool>>(false);
        mWorkers.emplace_back(std::thread([this, fd, done] {
                                  serve(fd);
                                  done->store(true);
                              }),
                              done);
    }
}

void LoopbackServer::serve(int fd)
{
    SSL* ssl = nullptr;
    bool usable = true;
    if (mSslContext != nullptr) {
        ssl = SSL_new(static_cast<SSL_CTX*>(mSslContext));
        usable = ssl != nullptr && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1;
        (usable ? mHandshakes : mHandshakeFailures).fetch_add(1);
        ERR_clear_error();
    }
    Connection connection(*this, fd, ssl);
    sockaddr_in peerAddress = {};
    socklen_t peerLength = sizeof peerAddress;
    const quint16 peer = ::getpeername(fd, reinterpret_cast<sockaddr*>(&peerAddress), &peerLength) == 0
                             ? ntohs(peerAddress.sin_port)
                             : 0;
    while (usable && !connection.stopping()) {
        LoopbackRequest request;
        request.peerPort = peer;
        if (!connection.readHead(request))
            break;
        const auto early = mHeadRoutes.find(request.path());
        if (early != mHeadRoutes.end()) {
            mRequests.fetch_add(1);
            early->second(request, connection);
            break; // the unread body makes the rest of the stream meaningless
        }
        if (!connection.readBody(request))
            break;
        mRequests.fetch_add(1);
        const auto route = mRoutes.find(request.path());
        if (route != mRoutes.end())
            route->second(request, connection);
        else
            connection.respond(404, "no such route\n", {{"Content-Type", "text/plain"}});
        if (connection.closeRequested())
            break;
    }
    if (ssl != nullptr) {
        if (usable && !connection.aborted())
            SSL_shutdown(ssl);
        SSL_free(ssl);
        ERR_clear_error();
    }
    {
        std::lock_guard lock(mMutex);
        mOpenFds.erase(std::remove(mOpenFds.begin(), mOpenFds.end(), fd), mOpenFds.end());
        ::close(fd);
    }
    mLive.fetch_sub(1);
}

} // namespace corvex::test
