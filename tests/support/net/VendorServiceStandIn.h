#pragma once

#include "tests/support/net/LoopbackServer.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>
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
        Events,  // the analytics events upload
        Reports, // the crash reporter's report upload
        Beta,    // the beta update check
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
    // An activated app's settings sending analytics to this service's events route, with
    // `analyticsMembers` (",\"flush_interval_secs\":60" ...) added to "analytics".
    QByteArray analyticsSettingsBody(const QByteArray& analyticsMembers = QByteArray()) const;

    // One analytics upload as the service read it: the multipart body taken apart, the
    // gzip part inflated, the log split into lines and every payload's "eventId" noted.
    struct EventsUpload
    {
        QByteArray boundary; // of the Content-Type
        QByteArray partName; // the part's file name ("<UUID>.gz")
        QList<QByteArray> lines;
        QStringList eventIds;
        QByteArray problem; // empty when the upload parsed
        int status = 0;     // what the service answered
    };
    std::vector<EventsUpload> eventsUploads() const;
    // The most uploads of one boundary that were in flight at once (1 when never two).
    int mostConcurrentUploadsOfOneBoundary() const;
    // Parses an events body for a boundary (also used on packages read from disk).
    static EventsUpload parseEventsBody(const QByteArray& boundary, const QByteArray& body);
    static Answer jsonAnswer(QByteArray body, QByteArray contentType = "application/json; charset=utf-8");

private:
    void serve(Route route, const LoopbackRequest& request, LoopbackConnection& connection);

    QByteArray mBundleIdentifier;
    std::unique_ptr<LoopbackServer> mServer;
    mutable std::mutex mMutex;
    std::map<Route, Answer> mDefaults;
    std::map<Route, std::deque<Answer>> mQueued;
    std::vector<std::pair<Route, LoopbackRequest>> mLog;
    std::vector<EventsUpload> mUploads;
    std::map<QByteArray, int> mInFlight;
    int mMostConcurrent = 0;
};

} // namespace corvex::test
