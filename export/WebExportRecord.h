#pragma once

#include "platform/core/Value.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvex {

class Color;
class Idea;

// The tree as the web viewer reads it: one record per idea, children nested, and the text
// of files/data.js around the root's record.
//
// A record holds "elemtype", "identifier" and "ideas" always, and "text", "bgcolor",
// "note", "icon", "url", "image", "bigImage" and "linkedIdea" only when the idea has them.
// Identifiers (also the link target's) and file names are the names WebExportNames gives.
// A link whose target cannot be found has no "linkedIdea".
class WebExportRecord
{
public:
    WebExportRecord() = delete;

    // The export modes the style selects: 1 "embedded", 2 "fullpage", anything else
    // "presentation".
    static QString modeForStyle(quint64 style);

    // The record of the idea and its subtree (built without recursion).
    static Value exportIdea(const Idea& idea);
    // "#RRGGBB" of the colour's components times 255 (truncated; a component within a
    // millionth of a whole number counts as that number, so a stored 127 stays 127).
    static QString hexStringForColor(const Color& color);
    // Compact JSON in UTF-8 with U+2028 and U+2029 escaped, so that the text is also a
    // valid script for engines older than ES2019; nullopt (logged "Error serializing JSON
    // data") when no text comes out.
    static std::optional<QByteArray> jsonSerialize(const Value& value);
    // The text of files/data.js: "globalCorvexData = { \"rootIdea\": " record
    // ",\n\"mode\": \"<mode>\" };", no final line break; nullopt when the record cannot be
    // serialised.
    static std::optional<QByteArray> createDataJS(const Value& record, quint64 style);
};

} // namespace corvex
