#include "tests/support/net/VendorServiceStandIn.h"

namespace corvex::test {

VendorServiceStandIn::VendorServiceStandIn(QByteArray bundleIdentifier,
                                           std::optional<LoopbackServer::Tls> tls)
    : mBundleIdentifier(std::move(bundleIdentifier)),
      mServer(std::make_unique<LoopbackServer>(std::move(tls)))
{
    mDefaults[Route::Settings] = jsonAnswer(settingsBody("activated", false));
    mDefaults[Route::AppCreate] = jsonAnswer("{}");
    mDefaults[Route::AppUpdate] = jsonAnswer("{}");
    for (Route route : {Route::Settings, Route::AppCreate, Route::AppUpdate}) {
        mServer->route(path(route),
                       [this, route](const LoopbackRequest& request, LoopbackConnection& connection) {
                           serve(route, request, connection);
                       });
    }
}

VendorServiceStandIn::~VendorServiceStandIn()
{
    mServer->stop();
}

bool VendorServiceStandIn::start()
{
    return mServer->start();
}

QByteArray VendorServiceStandIn::path(Route route) const
{
    switch (route) {
    case Route::Settings:
        return "/spi/v2/platforms/mac/apps/" + mBundleIdentifier + "/settings";
    case Route::AppCreate:
        return "/spi/v1/platforms/mac/apps";
    case Route::AppUpdate:
        return "/spi/v1/platforms/mac/apps/" + mBundleIdentifier;
    }
    return QByteArray();
}

void VendorServiceStandIn::setDefaultAnswer(Route route, Answer answer)
{
    std::lock_guard lock(mMutex);
    mDefaults[route] = std::move(answer);
}

void VendorServiceStandIn::queueAnswer(Route route, Answer answer)
{
    std::lock_guard lock(mMutex);
    mQueued[route].push_back(std::move(answer));
}

std::vector<LoopbackRequest> VendorServiceStandIn::requests() const
{
    std::lock_guard lock(mMutex);
    std::vector<LoopbackRequest> all;
    for (const auto& entry : mLog)
        all.push_back(entry.second);
    return all;
}

std::vector<LoopbackRequest> VendorServiceStandIn::requests(Route route) const
{
    std::lock_guard lock(mMutex);
    std::vector<LoopbackRequest> matching;
    for (const auto& entry : mLog) {
        if (entry.first == route)
            matching.push_back(entry.second);
    }
    return matching;
}

QByteArray VendorServiceStandIn::settingsBody(const QByteArray& status, bool updateRequired)
{
    return "{\"app\":{\"status\":\"" + status +
           "\",\"update_required\":" + (updateRequired ? "true" : "false") +
           "},\"features\":{\"collect_analytics\":true},\"analytics\":{\"url\":\"\"}}";
}

VendorServiceStandIn::Answer VendorServiceStandIn::jsonAnswer(QByteArray body, QByteArray contentType)
{
    Answer answer;
    answer.body = std::move(body);
    answer.headers.append({QByteArrayLiteral("Content-Type"), std::move(contentType)});
    return answer;
}

void VendorServiceStandIn::serve(Route route, const LoopbackRequest& request, LoopbackConnection& connection)
{
    Answer answer;
    {
        std::lock_guard lock(mMutex);
        mLog.emplace_back(route, request);
        std::deque<Answer>& queued = mQueued[route];
        if (!queued.empty()) {
            answer = std::move(queued.front());
            queued.pop_front();
        } else {
            answer = mDefaults[route];
        }
    }
    if (answer.reset) {
        connection.abort();
        return;
    }
    if (answer.pieceBytes <= 0) {
        connection.respond(answer.status, answer.body, answer.headers);
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " Answer\r\n";
    for (const auto& field : answer.headers)
        head += field.first + ": " + field.second + "\r\n";
    head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n";
    if (!connection.send(head))
        return;
    qint64 sent = 0;
    while (sent < answer.body.size()) {
        const qint64 piece = std::min<qint64>(answer.pieceBytes, answer.body.size() - sent);
        if (!connection.send(answer.body.mid(sent, piece)))
            return;
        sent += piece;
        if (answer.paced && !answer.paced(sent)) {
            connection.close();
            return;
        }
    }
    if (answer.paced)
        answer.paced(sent);
    connection.close();
}

} // namespace corvex::test
