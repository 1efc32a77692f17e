#pragma once

#include "platform/core/Error.h"
#include "platform/net/HttpRequest.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvex {

// A media type as a Content-Type header gives it: "type/subtype" in lower case and the
// charset parameter (found by name in any case, unquoted), empty when absent. `valid` is
// false for a header without "type/subtype".
struct LOMMediaType
{
    bool valid = false;
    QByteArray type;
    QByteArray charset;
};
LOMMediaType LOMParseMediaType(const QByteArray& header);

// The seconds at the start of a Retry-After header: a leading decimal number (digits, an
// optional fraction); text that does not start with one reads as 0; nothing as -1.
double LOMParseRetryAfter(const QByteArray& header);

// How the kit classifies answers and builds the errors of the domain "LOMNetworkError".
class LOMNetworkResponseHandler
{
public:
    static const QString ErrorDomain; // "LOMNetworkError"

    enum Type
    {
        Success = 0,
        Unexpected = 1,
        ClientError = 2,
        ServerError = 3,
        RateLimited = 4,
    };
    enum Code
    {
        RetryableResponse = -1,
        NoTask = -3,
        UnexpectedResponse = -4,
        ClientErrorResponse = -5,
        RetryLimitReached = -6,
    };

    struct Classification
    {
        Type type = Unexpected;
        int status = 0;
    };
    struct Outcome
    {
        bool retry = false;
        Error error;
    };

    static QString headerForResponse(const std::optional<HttpResponse>& response, const QByteArray& key);
    // Retry-After in seconds; 2.0 when absent or negative.
    static double retryValueForResponse(const std::optional<HttpResponse>& response);
    static QString requestIdForResponse(const std::optional<HttpResponse>& response);
    // A request without "Accept" always matches; else the answer's media type must equal it
    // and, when both name one, the charset must equal "Accept-Charset" (both ignoring case).
    static bool contentTypeForResponse(const std::optional<HttpResponse>& response,
                                       const HttpRequest& request);
    static int cancelReasonFromURLError(const Error& error);
    static bool retryableURLError(const Error& error);
    static Error errorForCode(int code, const QVariantMap& userInfo = {});
    // An error that ends the retries of a request (-6, -7): the code alone would hide why the
    // attempts failed, so its description gives the last attempt's ("<ending>: <why>").
    static Error errorEndingRetries(int code, QVariantMap userInfo, const QString& ending,
                                    const Error& lastAttempt);
    static Error errorForResponse(const std::optional<HttpResponse>& response, Type type, int status);
    static Classification clientResponseType(const std::optional<HttpResponse>& response);
    static Outcome handleCompletedResponse(const std::optional<HttpResponse>& response,
                                           const HttpRequest& request, const Error& error);
};

} // namespace corvex
