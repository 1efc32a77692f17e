#pragma once

#include "platform/core/Result.h"
#include "storage/IdeaTextMap.h"

#include <QByteArray>

namespace corvex {

// A document's search strings (IdeaTextMap) from the bytes of its stored file, as a search
// read needs them: the same map SearchCache::addOrUpdate makes of the root idea the payload
// readers make (IdeaDocumentDataObject::decodeSomeData), but without making the ideas where
// that can be helped. A compressed payload is inflated whole; a text in the shape the
// program writes is scanned straight into the map (PayloadTextScanner); any other text is
// read by the payload readers without decoding its pictures and attachments (Parts::Texts)
// and the map made from that tree. A payload the readers refuse answers their reason.
//
// Any thread; no state.
class SearchTextReader
{
public:
    static Result<IdeaTextMap> read(const QByteArray& stored);
};

} // namespace corvex
