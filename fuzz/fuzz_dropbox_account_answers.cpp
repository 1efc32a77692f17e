// The account client's readers on arbitrary bytes: a route's JSON error, a refresh's answer
// and a Retry-After value. A wait read is finite and within its bounds.

#include "platform/net/DropboxAccountAnswers.h"

#include <QByteArray>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString tag = corvex::DropboxAccountAnswers::errorTag(bytes);
    if (!tag.isEmpty() && !bytes.contains('{')) {
        std::fprintf(stderr, "fuzz_dropbox_account_answers: an error tag from no JSON object\n");
        std::abort();
    }
    const QString token = corvex::DropboxAccountAnswers::refreshedAccessToken(bytes);
    if (!token.isEmpty() && !bytes.contains('{')) {
        std::fprintf(stderr, "fuzz_dropbox_account_answers: a token from no JSON object\n");
        std::abort();
    }
    const double wait = corvex::DropboxAccountAnswers::retryAfterSeconds(bytes, 2.0, 300.0);
    if (!std::isfinite(wait) || wait < 0.0 || wait > 300.0) {
        std::fprintf(stderr, "fuzz_dropbox_account_answers: a wait out of bounds\n");
        std::abort();
    }
    return 0;
}
