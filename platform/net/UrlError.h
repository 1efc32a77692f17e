#pragma once

#include "platform/core/Error.h"

#include <QString>
#include <QUrl>

namespace corvex {

// The errors a transfer answers, in the URL-loading domain the reporting kit and the
// Dropbox client expect ("NSURLErrorDomain"): the codes decide what the kit retries.
class UrlError
{
public:
    static const QString Domain; // "NSURLErrorDomain"

    enum Code
    {
        Cancelled = -999,
        BadURL = -1000,
        TimedOut = -1001,
        UnsupportedURL = -1002,
        CannotFindHost = -1003,
        CannotConnectToHost = -1004,
        NetworkConnectionLost = -1005,
        HTTPTooManyRedirects = -1007,
        BadServerResponse = -1011,
        FileDoesNotExist = -1100,
        DataLengthExceedsMaximum = -1103,
        SecureConnectionFailed = -1200,
        ServerCertificateUntrusted = -1202,
        CannotCreateFile = -3000,
        CannotWriteToFile = -3003,
        Unknown = -1,
    };

    // User-information keys of a URL error.
    static const QString FailingURLStringKey; // "NSURLErrorFailingURLStringErrorKey"
    static const QString FailingURLKey;       // "NSURLErrorFailingURLErrorKey" (a QUrl)
    // The libcurl result behind the error (an int), when there is one.
    static const QString CurlCodeKey; // "CURLErrorCode"

    // An error of the domain with the failing URL in its user information.
    static Error make(Code code, const QString& description, const QUrl& url, int curlCode = 0);

    // The code a libcurl result maps to (CURLcode as an int):
    //   OPERATION_TIMEDOUT -1001, COULDNT_RESOLVE_HOST -1003, COULDNT_CONNECT -1004,
    //   SEND_ERROR / RECV_ERROR / GOT_NOTHING / PARTIAL_FILE -1005, URL_MALFORMAT -1000,
    //   UNSUPPORTED_PROTOCOL -1002, TOO_MANY_REDIRECTS -1007, PEER_FAILED_VERIFICATION -1202,
    //   SSL_CONNECT_ERROR -1200, READ_ERROR -1100, FILESIZE_EXCEEDED -1103,
    //   ABORTED_BY_CALLBACK -999, WEIRD_SERVER_REPLY -1011; anything else -1.
    static Code codeForCurl(int curlCode);
    // An error for a libcurl result, with curl's own text as the description.
    static Error fromCurl(int curlCode, const QString& curlMessage, const QUrl& url);

    // True for codes that the kit's client retries (time-outs, lost and refused
    // connections, unknown hosts, cancellation).
    static bool isTransient(int code);
};

} // namespace corvex
