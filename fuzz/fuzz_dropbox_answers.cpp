// The readers of the Dropbox routes' answers on arbitrary bytes: listing pages, metadata
// (plain, and wrapped as create_folder_v2 and delete_v2 answer it), error bodies and the
// "Dropbox-API-Result" header, and the header-safe form of an argument. A page that reads has
// only files with a path and a revision and a cursor whenever there is more; error tags are
// never empty; a header-safe argument holds no byte above 0x7E.

#include "cloud/dropbox/DropboxAnswerReader.h"
#include "platform/net/DropboxApiArg.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void answersFail(const char* what)
{
    std::fprintf(stderr, "fuzz_dropbox_answers: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using corvex::DropboxAnswerReader;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto page = DropboxAnswerReader::listPage(bytes)) {
        if (page->hasMore && page->cursor.isEmpty())
            answersFail("more without a cursor");
        for (const auto& entry : page->files)
            if (entry.pathLower.isEmpty() || entry.rev.isEmpty())
                answersFail("a file without path or revision");
    }
    for (const bool wrapped : {false, true})
        if (const auto entry = DropboxAnswerReader::metadata(bytes, wrapped))
            if (entry->tag == QLatin1String("file") && entry->rev.isEmpty())
                answersFail("file metadata without a revision");
    for (const QString& tag : DropboxAnswerReader::errorTags(bytes))
        (void)tag;
    for (const char byte : corvex::DropboxApiArg::headerSafe(bytes))
        if (static_cast<unsigned char>(byte) >= 0x7F)
            answersFail("a raw byte in the argument header");
    return 0;
}
