#pragma once

#include "tests/support/net/LoopbackServer.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvex::test {

// The kit vendor's web service as the kit speaks to it, on a LoopbackServer (HTTP or
// HTTPS): the settings download, app create and app update. Each route answers from a
// queue of scripted answers, then its default; every request is logged. Later services
// add routes through server() before start().
class VendorServiceStandIn
{
public:
    enum class Route
    {
        Settings,
        AppCreate,
        AppUpdate,
    };

    struct Answer
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        // Sends the head and then the body in pieces of this many bytes (0: at once),
        // calling `paced` after each piece with the bytes sent so far; it answers whether
        // to go on (false closes the connection).
        qint64 pieceBytes = 0;
        std::function<bool(qint64 sent)> paced;
        // Resets the connection instead of answering.
        bool reset = false;
    };

    // `bundleIdentifier` is the escaped identifier the kit puts into paths.
    explicit VendorServiceStandIn(QByteArray bundleIdentifier,
                                  std::optional<LoopbackServer::Tls> tls = std::nullopt);
    ~VendorServiceStandIn();

    LoopbackServer& server() { return *mServer; }
    bool start();
    QByteArray baseUrl() const { return mServer->baseUrl(); }
    QByteArray path(Route route) const;

    void setDefaultAnswer(Route route, Answer answer);
    void queueAnswer(Route route, Answer answer);

    std::vector<LoopbackRequest> requests() const;
    std::vector<LoopbackRequest> requests(Route route) const;
    int count(Route route) const { return int(requests(route).size()); }

    // A settings answer: {"app": {"status": ..., "update_required": ...}, "features": ...}.
    static QByteArray settingsBody(const QByteArray& status, bool updateRequired);
    static Answer jsonAnswer(QByteArray body, QByteArray contentType = "application/json; charset=utf-8");

private:
    void serve(Route route, const LoopbackRequest& request, LoopbackConnection& connection);

    QByteArray mBundleIdentifier;
    std::unique_ptr<LoopbackServer> mServer;
    mutable std::mutex mMutex;
    std::map<Route, Answer> mDefaults;
    std::map<Route, std::deque<Answer>> mQueued;
    std::vector<std::pair<Route, LoopbackRequest>> mLog;
};

} // namespace corvex::test
