// The reader of the sign-in redirect URL and of the token file on arbitrary bytes. A redirect
// that reads carries a state and exactly one of a code and an error; a token file that reads
// has an access token.

#include "platform/net/DropboxRedirect.h"
#include "platform/net/DropboxTokenStore.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QUrl url(QString::fromUtf8(bytes));
    if (const auto redirect = corvex::DropboxRedirect::parse(url, QStringLiteral("db-k"))) {
        if (redirect->state.isEmpty() || redirect->code.isEmpty() == redirect->error.isEmpty()) {
            std::fprintf(stderr, "fuzz_dropbox_redirect: an answer without state, or with both or neither\n");
            std::abort();
        }
    }
    if (const auto credentials = corvex::DropboxTokenStore::decode(bytes)) {
        if (credentials->accessToken.isEmpty()) {
            std::fprintf(stderr, "fuzz_dropbox_redirect: credentials without an access token\n");
            std::abort();
        }
    }
    return 0;
}
