#pragma once

#include "storage/IdeaTextMap.h"

#include <QByteArrayView>
#include <optional>

namespace corvex {

// A document's search strings (IdeaTextMap) taken straight from its payload's JSON text,
// without making its ideas: what search needs of a document, at about the speed the text
// can be read. Only texts in the shape the program writes them (PayloadTextWriter: its
// member order, no white space, no nulls) are taken; for those the map is exactly what
// SearchCache::addIdeaTreeToMap makes of the tree the payload readers make, and the text
// was checked as they check it (JSON syntax, UTF-8, escapes, the file format version, the
// model's depth). Everything else, and every tree holding a link idea (whose strings are
// those of the idea it links to), is left to the payload readers.
//
// Pictures, attachments, colours and identifiers are read past without being decoded.
// Lower-casing follows QString::toLower exactly, one character at a time.
//
// Any thread; no state.
class PayloadTextScanner
{
public:
    // How many bytes a step of the string loops takes: the most the processor can, or sixteen,
    // the road every processor this runs on can take (tests ask for it on any machine).
    enum class Steps
    {
        Widest,
        Sixteen,
    };

    // The map; nothing when the text is not in the writer's shape or is no readable payload.
    static std::optional<IdeaTextMap> scan(QByteArrayView json, Steps steps = Steps::Widest);
};

} // namespace corvex
