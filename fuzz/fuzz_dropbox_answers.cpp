// The readers of the Dropbox routes' answers on arbitrary bytes: listing pages, metadata
// (plain, wrapped as create_folder_v2 and delete_v2 answer it, and the bare file metadata of an
// upload and of the "Dropbox-API-Result" header), error bodies, and the header-safe form of an
// argument. A page that reads has only files with a path and a revision and deleted entries
// with a path, and a cursor whenever there is more; file metadata always has a revision; a
// header-safe argument holds no byte above 0x7E.

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
        for (const auto& entry : page->entries) {
            if (entry.pathLower.isEmpty())
                answersFail("an entry without path");
            if (entry.tag == QLatin1String("file") ? entry.rev.isEmpty()
                                                   : entry.tag != QLatin1String("deleted"))
                answersFail("a file without revision, or a folder");
        }
    }
    for (const bool wrapped : {false, true})
        if (const auto entry = DropboxAnswerReader::metadata(bytes, wrapped))
            if (entry->tag == QLatin1String("file") && entry->rev.isEmpty())
                answersFail("file metadata without a revision");
    if (const auto entry = DropboxAnswerReader::fileMetadata(bytes))
        if (entry->tag != QLatin1String("file") || entry->rev.isEmpty() || entry->pathLower.isEmpty())
            answersFail("bare file metadata without path or revision");
    for (const QString& tag : DropboxAnswerReader::errorTags(bytes))
        (void)tag;
    for (const char byte : corvex::DropboxApiArg::headerSafe(bytes))
        if (static_cast<unsigned char>(byte) >= 0x7F)
            answersFail("a raw byte in the argument header");
    return 0;
}
