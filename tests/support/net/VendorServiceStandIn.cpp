#include "tests/support/net/VendorServiceStandIn.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <zlib.h>

namespace corvex::test {

VendorServiceStandIn::VendorServiceStandIn(QByteArray bundleIdentifier,
                                           std::optional<LoopbackServer::Tls> tls)
    : mBundleIdentifier(std::move(bundleIdentifier)),
      mServer(std::make_unique<LoopbackServer>(std::move(tls)))
{
    mDefaults[Route::Settings] = jsonAnswer(settingsBody("activated", false));
    mDefaults[Route::AppCreate] = jsonAnswer("{}");
    mDefaults[Route::AppUpdate] = jsonAnswer("{}");
    mDefaults[Route::Events] = jsonAnswer("{}");
    mDefaults[Route::Events].status = 202;
    mDefaults[Route::Reports] = jsonAnswer("{}");
    mDefaults[Route::Reports].status = 202;
    mDefaults[Route::Beta] = jsonAnswer("{}");
    for (Route route :
         {Route::Settings, Route::AppCreate, Route::AppUpdate, Route::Events, Route::Reports, Route::Beta}) {
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
    case Route::Events:
        return "/spi/v2/events";
    case Route::Reports:
        return "/sdk-api/v1/platforms/mac/apps/" + mBundleIdentifier + "/reports";
    case Route::Beta:
        return "/spi/v2/platforms/mac/apps/" + mBundleIdentifier + "/beta_update_check";
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

QByteArray VendorServiceStandIn::analyticsSettingsBody(const QByteArray& analyticsMembers) const
{
    return "{\"app\":{\"status\":\"activated\",\"update_required\":false},\"features\":{\"collect_"
           "analytics\":true},\"analytics\":{\"url\":\"" +
           mServer->url(path(Route::Events)) + "\"" + analyticsMembers + "}}";
}

namespace {

// A whole gzip file (one or more members); nullopt when it is not one.
std::optional<QByteArray> standInGunzip(const QByteArray& data)
{
    z_stream stream = {};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return std::nullopt;
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    char buffer[16384];
    int result = Z_OK;
    while (true) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        if (result == Z_STREAM_END) {
            if (stream.avail_in == 0)
                break;
            inflateReset(&stream);
            continue;
        }
        if (result != Z_OK)
            break;
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END)
        return std::nullopt;
    return out;
}

} // namespace

VendorServiceStandIn::EventsUpload VendorServiceStandIn::parseEventsBody(const QByteArray& boundary,
                                                                         const QByteArray& body)
{
    EventsUpload upload;
    upload.boundary = boundary;
    const QByteArray opening = "MIME-Version: 1.0\r\n--" + boundary + "\r\n";
    const QByteArray closing = "\r\n--" + boundary + "--\r\n";
    if (boundary.isEmpty() || !body.startsWith(opening) || !body.endsWith(closing)) {
        upload.problem = "not a one-part multipart body of its boundary";
        return upload;
    }
    const qsizetype headEnd = body.indexOf("\r\n\r\n", opening.size());
    if (headEnd < 0) {
        upload.problem = "no end of the part's headers";
        return upload;
    }
    const QByteArray head = body.mid(opening.size(), headEnd - opening.size());
    const qsizetype nameAt = head.indexOf("filename=\"");
    if (nameAt >= 0) {
        const qsizetype start = nameAt + 10;
        upload.partName = head.mid(start, head.indexOf('"', start) - start);
    }
    if (!head.contains("Content-Type: application/vnd.blackbox.mac.events")) {
        upload.problem = "the part is not of the events type";
        return upload;
    }
    const qsizetype contentStart = headEnd + 4;
    const QByteArray content = body.mid(contentStart, body.size() - closing.size() - contentStart);
    const std::optional<QByteArray> log = standInGunzip(content);
    if (!log) {
        upload.problem = "the part is not a whole gzip file";
        return upload;
    }
    if (!log->isEmpty() && !log->endsWith('\n')) {
        upload.problem = "the log does not end with a line feed";
        return upload;
    }
    upload.lines = log->split('\n');
    upload.lines.removeLast();
    for (const QByteArray& line : std::as_const(upload.lines)) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 4) {
            upload.problem = "a line without four fields";
            continue;
        }
        const QByteArray payload = line.mid(fields[0].size() + fields[1].size() + fields[2].size() + 3);
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        const QString id = object.value(QStringLiteral("eventId")).toString();
        if (!id.isEmpty())
            upload.eventIds.append(id);
    }
    return upload;
}

std::vector<VendorServiceStandIn::EventsUpload> VendorServiceStandIn::eventsUploads() const
{
    std::lock_guard lock(mMutex);
    return mUploads;
}

int VendorServiceStandIn::mostConcurrentUploadsOfOneBoundary() const
{
    std::lock_guard lock(mMutex);
    return mMostConcurrent;
}

void VendorServiceStandIn::serve(Route route, const LoopbackRequest& request, LoopbackConnection& connection)
{
    QByteArray boundary;
    if (route == Route::Events) {
        const QByteArray type = request.header("Content-Type");
        const qsizetype at = type.indexOf("boundary=");
        boundary = at < 0 ? QByteArray() : type.mid(at + 9).trimmed();
        std::lock_guard lock(mMutex);
        mMostConcurrent = std::max(mMostConcurrent, ++mInFlight[boundary]);
    }
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
        if (route == Route::Events) {
            EventsUpload upload = parseEventsBody(boundary, request.body);
            upload.status = answer.reset ? 0 : answer.status;
            mUploads.push_back(std::move(upload));
        }
    }
    // Answered (or dropped) from here on: the upload is no longer in flight once this returns.
    struct InFlightEnd
    {
        VendorServiceStandIn* service;
        QByteArray boundary;
        bool events;
        ~InFlightEnd()
        {
            if (!events)
                return;
            std::lock_guard lock(service->mMutex);
            --service->mInFlight[boundary];
        }
    } inFlightEnd{this, boundary, route == Route::Events};
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
