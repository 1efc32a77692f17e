#pragma once

#include "kit/core/LOMAsyncOperation.h"
#include "platform/net/HttpRequest.h"

#include <QString>
#include <QUrl>

namespace corvex {

// The base of the kit core's request operations: requests carry the kit's identity headers
// and the API key.
class LOMNetworkOperation : public LOMAsyncOperation
{
public:
    static constexpr double DefaultTimeout = 10.0;
    static const QString DeveloperToken; // "5e1c9a07b3d24f68e0a91c7d3b58f2a46c0e9d17"

    explicit LOMNetworkOperation(QString APIKey) : mAPIKey(std::move(APIKey)) {}
    const QString& APIKey() const { return mAPIKey; }

    // GET for the URL with the request time-out (an idle time-out, as URL loading has it)
    // and the default headers, in order.
    HttpRequest mutableRequestWithDefaultHTTPHeadersForURL(const QUrl& url, double timeout) const;
    HttpRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const QUrl& url) const;
    // "io.loom.sdk.mac/1.6.12 (62)".
    static QString userAgentString();

private:
    QString mAPIKey;
};

} // namespace corvex
