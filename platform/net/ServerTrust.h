#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace corvex {

// What a server presented in a TLS handshake: its certificate chain as it was sent (leaf
// first, then the intermediates, DER each) and the host the connection was made for.
struct ServerTrust
{
    QString host;
    int port = 0;
    QList<QByteArray> chainDer;
};

// How a trust decider answers a handshake's challenge.
enum class TrustDisposition
{
    // Trust the chain as it is (the decider verified it itself, e.g. against pinned roots).
    UseCredential,
    // Verify against the session's trust store (the system's, or the override).
    PerformDefaultHandling,
    // Refuse: the handshake fails and the transfer completes with the cancelled error.
    CancelChallenge,
};

// Called on the session's transfer thread, during the handshake, for every new
// connection; it must answer at once and may run beside other sessions' deciders.
using TrustDecider = std::function<TrustDisposition(const ServerTrust&)>;

} // namespace corvex
