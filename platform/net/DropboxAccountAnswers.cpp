#include "platform/net/DropboxAccountAnswers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

QJsonObject answerObject(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

} // namespace

DropboxCredentials DropboxAccountAnswers::signInTokens(const QByteArray& body)
{
    const QJsonObject object = answerObject(body);
    return DropboxCredentials{object.value(QStringLiteral("access_token")).toString(),
                              object.value(QStringLiteral("refresh_token")).toString()};
}

QString DropboxAccountAnswers::refreshedAccessToken(const QByteArray& body)
{
    return answerObject(body).value(QStringLiteral("access_token")).toString();
}

QString DropboxAccountAnswers::errorTag(const QByteArray& body)
{
    const QJsonValue error = answerObject(body).value(QStringLiteral("error"));
    return error.isObject() ? error.toObject().value(QStringLiteral(".tag")).toString() : QString();
}

double DropboxAccountAnswers::retryAfterSeconds(const QByteArray& value, double fallback, double cap)
{
    bool ok = false;
    const double seconds = value.trimmed().toDouble(&ok);
    // "nan" and "inf" read as numbers: a wait of either would never end or never be a wait.
    if (!ok || !std::isfinite(seconds) || seconds < 0)
        return fallback;
    return std::min(seconds, cap);
}

} // namespace corvex
