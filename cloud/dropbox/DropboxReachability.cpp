#include "cloud/dropbox/DropboxReachability.h"

#include "platform/core/GlobalQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/net/DropboxEndpoints.h"

#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvex {

DropboxReachability::~DropboxReachability() = default;

TcpDropboxReachability::TcpDropboxReachability(QString host, int port, double timeoutSeconds)
    : mHost(std::move(host)), mPort(port), mTimeout(timeoutSeconds)
{}

std::shared_ptr<TcpDropboxReachability> TcpDropboxReachability::forConfiguredApi()
{
    const QUrl api(DropboxEndpoints::fromEnvironment().apiBase);
    const int port = api.port(api.scheme() == QLatin1String("http") ? 80 : 443);
    return std::make_shared<TcpDropboxReachability>(api.host(), port);
}

void TcpDropboxReachability::probe(Answer answer)
{
    GlobalQueue::async([host = mHost, port = mPort, timeout = mTimeout,
                        answer = std::move(answer)]() mutable { answer(connects(host, port, timeout)); });
}

bool TcpDropboxReachability::connects(const QString& host, int port, double timeoutSeconds)
{
    if (host.isEmpty() || port <= 0 || port > 65535)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return false;
    bool connected = false;
    for (addrinfo* at = found; at && !connected; at = at->ai_next) {
        const int fd =
            ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0)
            continue;
        int rc = ::connect(fd, at->ai_addr, at->ai_addrlen);
        if (rc == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            if (::poll(&waiting, 1, int(timeoutSeconds * 1000)) == 1) {
                int error = 0;
                socklen_t length = sizeof(error);
                connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
            }
        }
        ::close(fd);
    }
    freeaddrinfo(found);
    return connected;
}

} // namespace corvex
