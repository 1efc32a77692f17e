#pragma once

#include "storage/IdeaTextMap.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace corvex {

// A document's search strings (IdeaTextMap) taken straight from its payload's JSON text,
// without making its ideas: what search needs of a document, at about the speed the text
// can be read. Every text the program writes (PayloadTextWriter) is taken: its members in
// its order, no white space, no nulls, and members of other names anywhere among them, which
// are read past (checked as JSON, nested at most 64 deep) and counted. For those the map is
// exactly what SearchCache::addIdeaTreeToMap makes of the tree the payload readers make, and
// the text was checked as they check it (JSON syntax, UTF-8, escapes, the file format
// version, the model's depth). A link idea shows the strings of the idea it links to
// (LinkedStrings). Any other text is declined, with its reason, and left to the payload
// readers.
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

    // What a scan met besides the strings.
    struct Report
    {
        // The members of names the scanner does not know, read past.
        qint64 skippedMembers = 0;
        // Why the text was declined, in a few words, and the byte where the scan stopped;
        // null when it was scanned.
        const char* declined = nullptr;
        qint64 declinedAt = 0;

        // "<why> (at byte <n>)"; null when the text was scanned.
        QString describe() const;
    };

    // The map; nothing when the text is not one the scanner reads or is no readable payload.
    static std::optional<IdeaTextMap> scan(QByteArrayView json, Steps steps = Steps::Widest,
                                           Report* report = nullptr);
};

} // namespace corvex
