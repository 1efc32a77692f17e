#include "kit/net/LOMNetworkResponseHandler.h"

#include "platform/net/UrlError.h"

#include <cmath>
#include <limits>

namespace corvex {

const QString LOMNetworkResponseHandler::ErrorDomain = QStringLiteral("LOMNetworkError");

LOMMediaType LOMParseMediaType(const QByteArray& header)
{
    LOMMediaType media;
    const QList<QByteArray> pieces = header.split(';');
    const QByteArray type = pieces.value(0).trimmed().toLower();
    const qsizetype slash = type.indexOf('/');
    if (slash <= 0 || slash == type.size() - 1 || type.indexOf('/', slash + 1) >= 0 || type.contains(' '))
        return media;
    media.valid = true;
    media.type = type;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QByteArray parameter = pieces[i].trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals <= 0)
            continue;
        if (parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        media.charset = value.trimmed();
        break;
    }
    return media;
}

double LOMParseRetryAfter(const QByteArray& header)
{
    const QByteArray text = header.trimmed();
    if (text.isEmpty())
        return 0.0;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        ++i;
    }
    double value = 0.0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10.0 + double(text[i] - '0');
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            value += double(text[i] - '0') * scale;
            scale /= 10.0;
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    if (!std::isfinite(value)) // hundreds of digits: as long as a double goes
        value = std::numeric_limits<double>::max();
    return negative ? -value : value;
}

QString LOMNetworkResponseHandler::headerForResponse(const std::optional<HttpResponse>& response,
                                                     const QByteArray& key)
{
    if (!response || !response->headers.contains(key))
        return QString();
    return QString::fromUtf8(response->headers.value(key));
}

double LOMNetworkResponseHandler::retryValueForResponse(const std::optional<HttpResponse>& response)
{
    if (!response || !response->headers.contains("Retry-After"))
        return 2.0;
    const double value = LOMParseRetryAfter(response->headers.value("Retry-After"));
    return value < 0 ? 2.0 : value;
}

QString LOMNetworkResponseHandler::requestIdForResponse(const std::optional<HttpResponse>& response)
{
    return headerForResponse(response, "X-Request-Id");
}

bool LOMNetworkResponseHandler::contentTypeForResponse(const std::optional<HttpResponse>& response,
                                                       const HttpRequest& request)
{
    if (!request.headers.contains("Accept"))
        return true;
    if (!response || !response->headers.contains("Content-Type"))
        return false;
    const LOMMediaType answered = LOMParseMediaType(response->headers.value("Content-Type"));
    const LOMMediaType accepted = LOMParseMediaType(request.headers.value("Accept"));
    if (!answered.valid || !accepted.valid || answered.type != accepted.type)
        return false;
    const QByteArray wantedCharset = request.headers.value("Accept-Charset").trimmed();
    if (request.headers.contains("Accept-Charset") && !answered.charset.isEmpty())
        return answered.charset.toLower() == wantedCharset.toLower();
    return true;
}

int LOMNetworkResponseHandler::cancelReasonFromURLError(const Error& error)
{
    static const QString reasonKey = QStringLiteral("NSURLErrorBackgroundTaskCancelledReasonKey");
    if (error.domain() == UrlError::Domain && error.code() == UrlError::Cancelled &&
        error.userInfo().contains(reasonKey))
        return error.userInfo().value(reasonKey).toInt();
    return -1;
}

bool LOMNetworkResponseHandler::retryableURLError(const Error& error)
{
    if (error.domain() != UrlError::Domain)
        return false;
    const int code = error.code();
    switch (code) {
    case -1022:
    case -1013:
    case -1012:
    case -1010:
    case -1007:
    case -1002:
    case -1000:
    case -995:
    case -1103:
    case -1101:
    case -1100:
        return false;
    default:
        return !(code >= -1206 && code <= -1200);
    }
}

Error LOMNetworkResponseHandler::errorForCode(int code, const QVariantMap& userInfo)
{
    return Error(ErrorDomain, code, QString(), userInfo);
}

Error LOMNetworkResponseHandler::errorEndingRetries(int code, QVariantMap userInfo, const QString& ending,
                                                    const Error& lastAttempt)
{
    if (!lastAttempt.isNull()) {
        const QVariant status = lastAttempt.userInfo().value(QStringLiteral("status_code"));
        const QString why = status.isValid() ? QStringLiteral("the answer was HTTP %1").arg(status.toInt())
                                             : lastAttempt.localizedDescription();
        userInfo.insert(Error::DescriptionKey, QStringLiteral("%1: %2").arg(ending, why));
    }
    return errorForCode(code, userInfo);
}

Error LOMNetworkResponseHandler::errorForResponse(const std::optional<HttpResponse>& response, Type type,
                                                  int status)
{
    QVariantMap info;
    info.insert(QStringLiteral("type"), int(type));
    info.insert(QStringLiteral("status_code"), status);
    info.insert(QStringLiteral("request_id"), requestIdForResponse(response));
    info.insert(QStringLiteral("content_type"), headerForResponse(response, "Content-Type"));
    int code = UnexpectedResponse;
    if (type == ServerError || type == RateLimited)
        code = RetryableResponse;
    else if (type == ClientError)
        code = ClientErrorResponse;
    return errorForCode(code, info);
}

LOMNetworkResponseHandler::Classification
LOMNetworkResponseHandler::clientResponseType(const std::optional<HttpResponse>& response)
{
    if (!response || response->statusCode == 0)
        return {Unexpected, 0};
    const int status = response->statusCode;
    switch (status) {
    case 200:
    case 201:
    case 202:
    case 204:
    case 304:
        return {Success, status};
    case 400:
    case 401:
    case 403:
    case 404:
    case 406:
    case 410:
    case 411:
    case 413:
    case 419:
    case 422:
    case 431:
        return {ClientError, status};
    case 420:
    case 429:
        return {RateLimited, status};
    case 408:
        return {ServerError, status};
    default:
        return {status >= 500 && status <= 599 ? ServerError : Unexpected, status};
    }
}

LOMNetworkResponseHandler::Outcome
LOMNetworkResponseHandler::handleCompletedResponse(const std::optional<HttpResponse>& response,
                                                   const HttpRequest& request, const Error& error)
{
    if (!error.isNull())
        return {retryableURLError(error), error};
    const Classification kind = clientResponseType(response);
    switch (kind.type) {
    case Success:
        if (contentTypeForResponse(response, request))
            return {false, Error()};
        return {false, errorForResponse(response, Success, kind.status)};
    case Unexpected:
    case ClientError:
        return {false, errorForResponse(response, kind.type, kind.status)};
    case ServerError:
    case RateLimited:
        return {true, errorForResponse(response, kind.type, kind.status)};
    }
    return {false, errorForResponse(response, Unexpected, kind.status)};
}

} // namespace corvex
