#pragma once

#include <QLatin1String>
#include <QString>
#include <httplib.h>
#include <thread>

namespace corvex::test {

// Web pages for the real web engine's tests, served by cpp-httplib on 127.0.0.1: routes are
// set on server() before start(); the destructor stops it.
class LoopbackPageServer
{
public:
    LoopbackPageServer() = default;
    LoopbackPageServer(const LoopbackPageServer&) = delete;
    LoopbackPageServer& operator=(const LoopbackPageServer&) = delete;
    ~LoopbackPageServer()
    {
        if (!mThread.joinable())
            return;
        mServer.stop();
        mThread.join();
    }

    httplib::Server& server() { return mServer; }

    // Binds to a free port and serves on a thread of its own.
    void start()
    {
        // One request per connection: stopping then never waits for the engine's idle
        // connections to time out.
        mServer.set_keep_alive_max_count(1);
        mPort = mServer.bind_to_any_port("127.0.0.1");
        mThread = std::thread([this] { mServer.listen_after_bind(); });
        while (!mServer.is_running())
            std::this_thread::yield();
    }

    // "127.0.0.1:<port><path>", as a user types it.
    QString address(const char* path) const
    {
        return QStringLiteral("127.0.0.1:%1%2").arg(mPort).arg(QLatin1String(path));
    }

private:
    httplib::Server mServer;
    int mPort = 0;
    std::thread mThread;
};

} // namespace corvex::test
