#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace corvex {

// What a driver of random user runs (tests/monkey) needs to see of the running application,
// on a Unix socket it names in CORVEX_OBSERVE_SOCKET; without that variable nothing is
// opened. One JSON object a line each way: {"op":"ping"} is answered with {"pong":true} by the
// main thread, so a late answer is a main thread that hangs; {"op":"state"} with the shown
// windows (title, frame, the map's tree with its notes, its centre and planets or the home screen's
// documents, each with its screen rectangle; each planet also with its round, its place in the
// drawing order and whether it is drawn, as a crowded orbit lays planets over each other), the
// other top-level windows (popovers, alerts, menus, file panels) with their buttons, items and
// fields. Rectangles are the X screen's: global, y down,
// [x, y, width, height]. It only reads; nothing in the application changes for it.
class ObservationChannel
{
public:
    ~ObservationChannel();
    ObservationChannel(const ObservationChannel&) = delete;
    ObservationChannel& operator=(const ObservationChannel&) = delete;

    static inline const char* const EnvironmentVariable = "CORVEX_OBSERVE_SOCKET";
    // Listening on the socket the variable names; null when it is unset or cannot listen
    // (logged). Main thread, with the application object made.
    static std::unique_ptr<ObservationChannel> openIfAsked();

    // The answer to one request line.
    static QByteArray answer(const QByteArray& request);
    static QJsonObject state();

private:
    ObservationChannel() = default;
    void accept();
    void read(QLocalSocket* socket);

    QLocalServer* mServer = nullptr;
};

} // namespace corvex
