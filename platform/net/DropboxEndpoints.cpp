#include "platform/net/DropboxEndpoints.h"

namespace corvex {

namespace {

QString trimmedBase(const QString& base)
{
    QString result = base.trimmed();
    while (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

void overrideFrom(const char* variable, QString& target)
{
    const QString value = trimmedBase(qEnvironmentVariable(variable));
    if (!value.isEmpty())
        target = value;
}

} // namespace

DropboxEndpoints DropboxEndpoints::fromEnvironment()
{
    DropboxEndpoints endpoints;
    overrideFrom("CORVEX_DROPBOX_API_URL", endpoints.apiBase);
    overrideFrom("CORVEX_DROPBOX_CONTENT_URL", endpoints.contentBase);
    overrideFrom("CORVEX_DROPBOX_AUTHORIZE_URL", endpoints.authorizePage);
    return endpoints;
}

DropboxEndpoints DropboxEndpoints::atServer(const QString& base)
{
    DropboxEndpoints endpoints;
    endpoints.apiBase = trimmedBase(base);
    endpoints.contentBase = endpoints.apiBase;
    endpoints.authorizePage = endpoints.apiBase + QStringLiteral("/oauth2/authorize");
    return endpoints;
}

QUrl DropboxEndpoints::apiRoute(const QString& route) const
{
    return QUrl(apiBase + QStringLiteral("/2/") + route);
}

QUrl DropboxEndpoints::contentRoute(const QString& route) const
{
    return QUrl(contentBase + QStringLiteral("/2/") + route);
}

QUrl DropboxEndpoints::tokenUrl() const
{
    return QUrl(apiBase + QStringLiteral("/oauth2/token"));
}

} // namespace corvex
