#include "platform/net/UrlError.h"

#include <curl/curl.h>

namespace corvex {

const QString UrlError::Domain = QStringLiteral("NSURLErrorDomain");
const QString UrlError::FailingURLStringKey = QStringLiteral("NSURLErrorFailingURLStringErrorKey");
const QString UrlError::FailingURLKey = QStringLiteral("NSURLErrorFailingURLErrorKey");
const QString UrlError::CurlCodeKey = QStringLiteral("CURLErrorCode");

Error UrlError::make(Code code, const QString& description, const QUrl& url, int curlCode)
{
    QVariantMap info;
    if (!url.isEmpty()) {
        info.insert(FailingURLStringKey, url.toString());
        info.insert(FailingURLKey, url);
    }
    if (curlCode != 0)
        info.insert(CurlCodeKey, curlCode);
    return Error(Domain, code, description, info);
}

UrlError::Code UrlError::codeForCurl(int curlCode)
{
    switch (CURLcode(curlCode)) {
    case CURLE_OPERATION_TIMEDOUT:
        return TimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
        return CannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return CannotConnectToHost;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return NetworkConnectionLost;
    case CURLE_URL_MALFORMAT:
        return BadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return UnsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
        return HTTPTooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
        return ServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
        return SecureConnectionFailed;
    case CURLE_READ_ERROR:
        return FileDoesNotExist;
    case CURLE_FILESIZE_EXCEEDED:
        return DataLengthExceedsMaximum;
    case CURLE_ABORTED_BY_CALLBACK:
        return Cancelled;
    case CURLE_WEIRD_SERVER_REPLY:
        return BadServerResponse;
    default:
        return Unknown;
    }
}

Error UrlError::fromCurl(int curlCode, const QString& curlMessage, const QUrl& url)
{
    QString text = curlMessage;
    if (text.isEmpty())
        text = QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)));
    return make(codeForCurl(curlCode), text, url, curlCode);
}

bool UrlError::isTransient(int code)
{
    switch (code) {
    case TimedOut:
    case CannotFindHost:
    case CannotConnectToHost:
    case NetworkConnectionLost:
    case Cancelled:
        return true;
    default:
        return false;
    }
}

} // namespace corvex
