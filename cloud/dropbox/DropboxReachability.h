#pragma once

#include "platform/core/Completion.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

// Whether the Dropbox service can be reached now: the loop asks once per idle stretch
// (after its own 2 s wait) and acts on the answer. Tests script the answers.
class DropboxReachability
{
public:
    using Answer = Completion<bool>;
    virtual ~DropboxReachability();
    // Gives its answer once, on the main queue, never inside the call.
    virtual void probe(Answer answer) = 0;
};

// A TCP connection to a host and port, made on a global queue and given up after
// `timeoutSeconds`: reachable when it was accepted.
class TcpDropboxReachability final : public DropboxReachability
{
public:
    TcpDropboxReachability(QString host, int port, double timeoutSeconds = 2.0);
    // The API host of the configured endpoints (DropboxEndpoints::fromEnvironment).
    static std::shared_ptr<TcpDropboxReachability> forConfiguredApi();
    void probe(Answer answer) override;
    // The blocking check itself. Any thread.
    static bool connects(const QString& host, int port, double timeoutSeconds);

private:
    QString mHost;
    int mPort;
    double mTimeout;
};

} // namespace corvex
