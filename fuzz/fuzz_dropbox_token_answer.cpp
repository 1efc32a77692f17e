// The token route's answer to a sign-in code on arbitrary bytes: what it reads comes from a
// JSON object and is read the same way twice.

#include "platform/net/DropboxAccountAnswers.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const corvex::DropboxCredentials credentials = corvex::DropboxAccountAnswers::signInTokens(bytes);
    if (!(credentials == corvex::DropboxAccountAnswers::signInTokens(bytes))) {
        std::fprintf(stderr, "fuzz_dropbox_token_answer: one answer read two ways\n");
        std::abort();
    }
    if ((!credentials.accessToken.isEmpty() || !credentials.refreshToken.isEmpty()) && !bytes.contains('{')) {
        std::fprintf(stderr, "fuzz_dropbox_token_answer: a token read from no JSON object\n");
        std::abort();
    }
    return 0;
}
