// The kit's reading of answer headers on arbitrary bytes: the first line is an answer's
// Content-Type, the second the request's Accept, the third Accept-Charset, the rest a
// Retry-After value. Media types must parse to lower case, matching must not crash, and
// every back-off delay must be finite, at least 0 and at most the 24-hour ceiling.

#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMNetworkResponseHandler.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using corvex::LOMNetworkClient;
    using corvex::LOMNetworkResponseHandler;
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\n');
    const QByteArray contentType = lines.value(0);
    const corvex::LOMMediaType media = corvex::LOMParseMediaType(contentType);
    if (media.valid && media.type != media.type.toLower()) {
        std::fprintf(stderr, "fuzz_kit_response_headers: a media type kept upper case\n");
        std::abort();
    }
    corvex::HttpResponse response;
    response.statusCode = 503;
    response.headers.add("Content-Type", contentType);
    if (lines.size() > 3)
        response.headers.add("Retry-After", lines.mid(3).join('\n'));
    corvex::HttpRequest request;
    request.headers.add("Accept", lines.value(1));
    request.headers.add("Accept-Charset", lines.value(2));
    (void)LOMNetworkResponseHandler::contentTypeForResponse(response, request);
    (void)LOMNetworkResponseHandler::handleCompletedResponse(response, request, corvex::Error());
    LOMNetworkClient::setRandomSource([] { return 1.0; });
    for (int tries : {0, 1, 2, 11, 1000}) {
        const double delay = LOMNetworkClient::computeDelayForResponse(response, tries);
        if (!std::isfinite(delay) || delay < 0 || delay > LOMNetworkClient::MaxRetryDelaySeconds) {
            std::fprintf(stderr, "fuzz_kit_response_headers: delay %f out of bounds\n", delay);
            std::abort();
        }
    }
    return 0;
}
