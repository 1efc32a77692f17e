#include "kit/core/LOMNetworkOperation.h"

#include "kit/core/Loom.h"
#include "kit/sys/HostFunctions.h"

namespace corvex {

const QString LOMNetworkOperation::DeveloperToken =
    QStringLiteral("5e1c9a07b3d24f68e0a91c7d3b58f2a46c0e9d17");

QString LOMNetworkOperation::userAgentString()
{
    return QStringLiteral("%1/%2 (%3)")
        .arg(Loom::KitCoreBundleIdentifier, Loom::KitCoreVersion, Loom::KitCoreBuild);
}

HttpRequest LOMNetworkOperation::mutableRequestWithDefaultHTTPHeadersForURL(const QUrl& url,
                                                                            double timeout) const
{
    HttpRequest request = HttpRequest::get(url);
    request.idleTimeout = timeout;
    const QByteArray locale = LOMHostLocaleIdentifier().toUtf8();
    request.headers.add("User-Agent", userAgentString().toUtf8());
    request.headers.add("Accept-Charset", "utf-8");
    request.headers.add("Accept-Language", locale);
    request.headers.add("Content-Language", locale);
    request.headers.add("X-Blackbox-Developer-Token", DeveloperToken.toUtf8());
    request.headers.add("X-Blackbox-API-Client-Id", Loom::KitCoreBundleIdentifier.toUtf8());
    request.headers.add("X-Blackbox-API-Client-Display-Version", Loom::KitCoreVersion.toUtf8());
    request.headers.add("X-Blackbox-API-Client-Build-Version", Loom::KitCoreBuild.toUtf8());
    request.headers.add("X-Blackbox-API-Key", mAPIKey.toUtf8());
    return request;
}

HttpRequest
LOMNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const QUrl& url) const
{
    return mutableRequestWithDefaultHTTPHeadersForURL(url, DefaultTimeout);
}

} // namespace corvex
