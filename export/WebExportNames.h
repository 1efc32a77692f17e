#pragma once

#include <QString>

namespace corvex {

class Idea;

// The names an idea's identifier takes in a web export: its file names under files/ and
// the identifier written into data.js. Identifiers come from stored documents, which may
// hold anything, and become file names here, so an identifier is used as it is only when
// it holds nothing but [0-9A-Za-z_.-], no "..", and fits a file name; any other becomes
// "~" followed by each UTF-8 byte outside [0-9A-Za-z_-] as two hex digits after another
// "~", or "~" and its SHA-1 in hex when that would be too long. A mapped name always holds
// a "~", which no name used as it is does, so two identifiers never share a name.
class WebExportNames
{
public:
    WebExportNames() = delete;

    static QString safeIdentifier(const QString& identifier);
    // safeIdentifier + "_mini.png": the small picture.
    static QString imageNameFor(const Idea& idea);
    // safeIdentifier + ".jpg": the big picture bytes.
    static QString bigImageNameFor(const Idea& idea);
};

} // namespace corvex
