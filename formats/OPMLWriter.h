#pragma once

#include "platform/core/Result.h"

#include <QString>
#include <QStringView>
#include <memory>

namespace corvex {

class Idea;

// Writes an idea tree as OPML: the root's export title as head/title, every other idea as
// an outline element with its export title in "text" and its note (when it has one) in
// "_note"; nothing else of an idea is written. Colours, icons and types are not part of
// the format; pictures are written as "(image)", web links as their URL and links as their
// target's title.
//
// Text is escaped as the format's readers need it: & " ' > < as &amp; &quot; &#x27; &gt;
// &lt;; inside attribute values tab, line feed and carriage return as &#9; &#10; &#13;, so
// that a note keeps its lines (XML turns those characters into spaces when they stand raw in
// an attribute); in the title a carriage return as &#13; (XML would read it as a line feed).
// Characters XML 1.0 cannot carry (other control characters, U+FFFE, U+FFFF, unpaired
// surrogates) are dropped, so the file is always well-formed.
//
// Walks are iterative: any tree the model allows is written on any thread's stack. A tree
// is read by one thread at a time: callers on other threads hand over a copy.
class OPMLWriter
{
public:
    // The whole document: the XML declaration, the head with the root's title, the body
    // with one outline per child of the root, and "</body></opml>" without a line feed
    // after it. A null root writes an empty title and body.
    static QString ideaAsOPML(const std::shared_ptr<Idea>& root);
    // One outline element for `idea` and its descendants, indented by `level` tabs (at
    // least 1), each child one tab deeper.
    static void appendIdeaIntoOPML(const std::shared_ptr<Idea>& idea, int level, QString& buffer);

    // Appends `text` escaped for an attribute value / for element text (see above).
    static void appendEscapedAttributeValue(QStringView text, QString& buffer);
    static void appendEscapedText(QStringView text, QString& buffer);

    // Writes ideaAsOPML(root) in UTF-8 over the file at `path` through an atomic save: on
    // any failure the previous file stays as it was and the error is returned.
    static Status saveToFile(const std::shared_ptr<Idea>& root, const QString& path);
};

} // namespace corvex
