#pragma once

// Shared pieces of the Dropbox tests: an emulator with one signed-in account per fixture, the
// client over it, and a recorder of notifications and completions in the order they ran.

#include "cloud/dropbox/QVDropboxClient.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/net/DropboxUserClient.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/DropboxEmulator.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

namespace corvex::test {

inline QString dropboxScript(const QString& name)
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../data/gen/") + name);
}

// A file of the test folder with those bytes: its path.
inline QString localFile(const QString& name, const QByteArray& bytes)
{
    const QString path = testDir() + QLatin1Char('/') + name;
    writeFile(path, bytes);
    return path;
}

// Notifications ("note:GotSomeData", "note:InvalidAccessToken", "note:NoConnection") and
// completions ("done"), in the order they ran; every completion must run on the main thread.
class DropboxEventLog
{
public:
    DropboxEventLog()
    {
        const std::pair<QString, QString> names[] = {
            {QVDropboxClient::GotSomeDataNotification, QStringLiteral("note:GotSomeData")},
            {DropboxNotifications::InvalidAccessToken, QStringLiteral("note:InvalidAccessToken")},
            {QVDropboxClient::NoConnectionNotification, QStringLiteral("note:NoConnection")}};
        for (const auto& [name, label] : names)
            mTokens.push_back(NotificationCenter::defaultCenter().addObserver(
                name, nullptr,
                [this, label = label](const NotificationCenter::Notification&) { events.append(label); }));
    }
    ~DropboxEventLog()
    {
        for (const auto token : mTokens)
            NotificationCenter::defaultCenter().removeObserver(token);
    }

    // A completion that records itself and its response.
    template <class Response>
    std::function<void(const Response&)> completion(std::shared_ptr<std::vector<Response>> into)
    {
        return [this, into](const Response& response) {
            if (!MainQueue::isMainThread())
                offMain = true;
            events.append(QStringLiteral("done"));
            into->push_back(response);
        };
    }

    QStringList events;
    bool offMain = false;

private:
    std::vector<NotificationCenter::ObserverToken> mTokens;
};

// One emulator and one signed-in client per fixture, on auto-advancing virtual time (retry
// waits pass at once; transfers run for real on loopback).
class DropboxFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(emulator.start());
        emulator.addAccessToken(QStringLiteral("good"));
        emulator.addRefreshToken(QStringLiteral("refresh"));
        user = makeUser(QStringLiteral("good"));
        client = std::make_unique<QVDropboxClient>(user);
    }

    // `idleTimeout`: how long a stalled answer is waited for.
    std::shared_ptr<DropboxUserClient> makeUser(const QString& access, double idleTimeout = 10.0,
                                                const QString& refresh = QStringLiteral("refresh"))
    {
        HttpSessionConfiguration session;
        DropboxUserClient::Options options;
        options.appKey = QStringLiteral("testkey");
        options.endpoints = DropboxEndpoints::atServer(emulator.baseUrl());
        options.tokenStore = DropboxTokenStore(testDir() + QStringLiteral("/credentials.json"));
        session.idleTimeout = idleTimeout;
        options.session = HttpSession::create(session);
        // Waits without jitter, so that a test can name them.
        options.budget = std::make_shared<DropboxRequestBudget>([] { return 0.0; });
        return DropboxUserClient::create(DropboxCredentials{access, refresh}, std::move(options));
    }

    template <class Response> std::shared_ptr<std::vector<Response>> responses()
    {
        return std::make_shared<std::vector<Response>>();
    }

    // Pumps until `count` completions ran, then a little more to catch a second one.
    template <class Response>
    bool settle(const std::shared_ptr<std::vector<Response>>& into, std::size_t count = 1)
    {
        const bool ok = runUntil([&] { return into->size() >= count; }, 20.0);
        processEvents();
        time.runDue();
        return ok && into->size() == count;
    }

    ScopedVirtualTime time{1000.0, VirtualScheduler::Mode::AutoAdvance};
    DropboxEmulator emulator;
    DropboxEventLog log;
    std::shared_ptr<DropboxUserClient> user;
    std::unique_ptr<QVDropboxClient> client;
};

} // namespace corvex::test
