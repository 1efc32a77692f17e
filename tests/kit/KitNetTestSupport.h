#pragma once

// Helpers shared by the kit's network tests (one unity batch may hold several of them).

#include "kit/net/LOMNetworkClient.h"
#include "tests/support/RunUntil.h"
#include "tests/support/net/TestPki.h"

#include <QVariantMap>
#include <atomic>
#include <mutex>
#include <optional>

namespace corvex::test {

// What a client request answered, filled on whatever thread the completion ran.
struct KitOutcome
{
    std::mutex mutex;
    int calls = 0;
    std::optional<QByteArray> data;
    std::optional<HttpResponse> response;
    Error error;

    LOMNetworkClient::DataCompletion recorder()
    {
        return
            [this](const std::optional<QByteArray>& d, const std::optional<HttpResponse>& r, const Error& e) {
                std::lock_guard lock(mutex);
                ++calls;
                data = d;
                response = r;
                error = e;
            };
    }
    int callCount()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
    Error lastError()
    {
        std::lock_guard lock(mutex);
        return error;
    }
};

// The information dictionary the kit tests run with.
inline QVariantMap kitTestInfo(const QString& identifier = QStringLiteral("com.tallowfen.corvex"))
{
    QVariantMap loom;
    loom.insert(QStringLiteral("APIKey"), QStringLiteral("test-api-key"));
    loom.insert(QStringLiteral("Kits"), QVariantList());
    QVariantMap info;
    info.insert(QStringLiteral("CFBundleIdentifier"), identifier);
    info.insert(QStringLiteral("CFBundleVersion"), QStringLiteral("42"));
    info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.6.0"));
    info.insert(QStringLiteral("CFBundleName"), QStringLiteral("Corvex"));
    info.insert(QStringLiteral("Loom"), loom);
    return info;
}

inline QList<QByteArray> kitPinnedRootA()
{
    return {TestPki::shared().rootA.der};
}

} // namespace corvex::test
