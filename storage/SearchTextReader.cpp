#include "storage/SearchTextReader.h"

#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Zlib.h"
#include "storage/PayloadTextScanner.h"
#include "storage/SearchCache.h"

#include <algorithm>

namespace corvex {

namespace {

using Payload = IdeaDocumentDataObject;

Result<IdeaTextMap> mapOfPayload(const Result<IdeaDocumentDataObjectPtr>& payload)
{
    if (!payload.ok())
        return payload.error();
    IdeaTextMap map;
    SearchCache::addIdeaTreeToMap(map, payload.value()->idea(), 0);
    map.squeeze();
    return map;
}

} // namespace

Result<IdeaTextMap> SearchTextReader::read(const QByteArray& stored, PayloadTextScanner::Report* report)
{
    if (report)
        *report = PayloadTextScanner::Report();
    // The payload readers' own order of checks: too short, the compressed form by its
    // default-level header, else plain JSON text.
    const bool compressed = stored.size() >= 2 && quint8(stored[0]) == 0x78 && quint8(stored[1]) == 0x9C;
    if (!compressed) {
        if (stored.size() >= 2 && stored.size() <= Payload::MaxPayloadBytes) {
            if (std::optional<IdeaTextMap> map =
                    PayloadTextScanner::scan(stored, PayloadTextScanner::Steps::Widest, report))
                return std::move(*map);
        }
        return mapOfPayload(Payload::decodeSomeData(stored, Payload::Parts::Texts));
    }
    // Inflated whole within the bound the payload readers set for one pass; a stream that
    // inflates further is theirs to measure and read.
    const qint64 wholeBound =
        std::min(Payload::MaxPayloadBytes, qint64(stored.size()) * Payload::WholeTextRatio);
    Result<QByteArray> text = Zlib::inflate(stored, wholeBound);
    if (!text.ok()) {
        const Error& error = text.error();
        if (wholeBound < Payload::MaxPayloadBytes && error.domain() == Zlib::ErrorDomain &&
            error.code() == Zlib::LimitExceeded)
            return mapOfPayload(Payload::decodeCorvexData(stored, Payload::Parts::Texts));
        return error;
    }
    if (std::optional<IdeaTextMap> map =
            PayloadTextScanner::scan(text.value(), PayloadTextScanner::Steps::Widest, report))
        return std::move(*map);
    // The text is whole and within the bound already: read as the plain form is.
    return mapOfPayload(Payload::decodeJSONData(text.value(), Payload::Parts::Texts));
}

} // namespace corvex
