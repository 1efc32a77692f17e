// The search's reading of stored document bytes (SearchTextReader, and its scanner of the
// writer's own shape, PayloadTextScanner) against the payload readers on arbitrary bytes:
// whatever the scanner takes, the payload readers read, and both give the same search
// strings; SearchTextReader answers a map exactly when the payload readers read a payload,
// and then the map of its tree.

#include "fuzz/FuzzSupport.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"
#include "storage/PayloadTextScanner.h"
#include "storage/SearchCache.h"
#include "storage/SearchTextReader.h"

#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using corvex::IdeaDocumentDataObject;
using corvex::IdeaTextMap;

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_search_text: %s %s\n", what, detail.left(400).constData());
    std::abort();
}

QStringList entries(const IdeaTextMap& map)
{
    QStringList lines;
    for (qsizetype i = 0; i < map.count(); ++i)
        lines.append(map.keyAt(i) + QLatin1Char('@') + QString::number(map.levelAt(i)));
    return lines;
}

QStringList treeEntries(const corvex::IdeaDocumentDataObjectPtr& payload)
{
    IdeaTextMap map;
    corvex::SearchCache::addIdeaTreeToMap(map, payload->idea(), 0);
    return entries(map);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvex::fuzz::silenceLog();
    IdeaDocumentDataObject::registerCodables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = corvex::fuzz::inputBytes(data, size);

    if (const std::optional<IdeaTextMap> scanned = corvex::PayloadTextScanner::scan(input)) {
        const auto read = IdeaDocumentDataObject::decodeJSONData(input);
        if (!read.ok())
            fail("scanned what the payload readers refuse:", input);
        if (entries(*scanned) != treeEntries(read.value()))
            fail("scanned other strings than the tree holds:", input);
    }

    const auto payload = IdeaDocumentDataObject::decodeSomeData(input);
    const auto map = corvex::SearchTextReader::read(input);
    if (payload.ok() != map.ok())
        fail(map.ok() ? "read what the payload readers refuse:" : "refused what the payload readers read:",
             input);
    if (map.ok() && entries(map.value()) != treeEntries(payload.value()))
        fail("read other strings than the tree holds:", input);
    return 0;
}
