#pragma once

#include "platform/core/Result.h"
#include "storage/IdeaTextMap.h"
#include "storage/PayloadTextScanner.h"

#include <QByteArray>

namespace corvex {

// A document's search strings (IdeaTextMap) from the bytes of its stored file, as a search
// read needs them: the same map SearchCache::addOrUpdate makes of the root idea the payload
// readers make (IdeaDocumentDataObject::decodeSomeData), but without making the ideas where
// that can be helped. A compressed payload is inflated whole; a text in the shape the
// program writes is scanned straight into the map (PayloadTextScanner); any other text is
// read by the payload readers without decoding its pictures and attachments (Parts::Texts)
// and the map made from that tree. A payload the readers refuse answers their reason.
// `report`, when given, tells what the scanner met: why it declined the text (nothing when
// it was not asked, for a stream beyond one pass) and the members it read past.
//
// Any thread; no state.
class SearchTextReader
{
public:
    static Result<IdeaTextMap> read(const QByteArray& stored, PayloadTextScanner::Report* report = nullptr);
};

} // namespace corvex
