#include "platform/net/DropboxRedirect.h"

#include <QUrlQuery>

namespace corvex {

QString DropboxRedirect::redirectUri(const QString& scheme)
{
    return scheme + QStringLiteral("://2/token");
}

std::optional<DropboxRedirect> DropboxRedirect::parse(const QUrl& url, const QString& scheme)
{
    if (!url.isValid() || url.scheme().compare(scheme, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // QUrl reads the authority "2" as the IPv4 address 0.0.0.2.
    const QString host = url.host();
    if ((host != QLatin1String("2") && host != QLatin1String("0.0.0.2")) ||
        url.path() != QLatin1String("/token"))
        return std::nullopt;
    const QUrlQuery query(url);
    // A repeated parameter is ambiguous: whichever one the page meant, we cannot tell.
    for (const char* name : {"state", "code", "error"})
        if (query.allQueryItemValues(QString::fromLatin1(name)).size() > 1)
            return std::nullopt;
    DropboxRedirect redirect;
    redirect.state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    redirect.code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    redirect.error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    redirect.errorDescription = query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded);
    if (redirect.state.isEmpty() || (redirect.code.isEmpty() == redirect.error.isEmpty()))
        return std::nullopt;
    return redirect;
}

} // namespace corvex
