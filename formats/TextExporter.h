#pragma once

#include "platform/core/Result.h"

#include <QString>
#include <QtGlobal>
#include <memory>

namespace corvex {

class Idea;

// Turns an idea tree into a plain-text outline or into one HTML page of nested lists, with
// or without the ideas' notes. Only strings are built here; writeToFile saves one.
//
// The text outline has one line per idea in pre-order, indented by one tab per level, with
// the title's leading white space removed. With notes, each idea that has one gets a line
// "(Note n)" one tab deeper, and after the outline a section repeats every numbered note
// under "Note n: <title>"; the numbers follow the same pre-order. The outline's last line
// feed is dropped.
//
// Ideas are read through their exporter queries: a link shows its target's title and note,
// a picture "(image)" and never a note number, a web link its URL. Walks are iterative.
class TextExporter
{
public:
    static QString ideaAsTextOutline(const std::shared_ptr<Idea>& idea, bool includeNotes);
    // "<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex document</title></head>
    // <body>" (one line), the item of the idea, "</body></html>".
    static QString ideaAsNestedHTMLList(const std::shared_ptr<Idea>& idea, bool includeNotes);

    // ---- Building blocks

    // `level` tab characters; none for a level of 0 or less.
    static void addLevelTabs(qint64 level, QString& buffer);
    // The export title without its leading white space (line breaks included).
    static QString textExportTitleFor(const std::shared_ptr<Idea>& idea);
    // The outline lines of the idea and its descendants, the idea at `level`. With a note
    // counter, an idea with a note gets the line "(Note n)" and the counter grows by one.
    static void outlineIdea(const std::shared_ptr<Idea>& idea, qint64 level, qint64* nextNote,
                            QString& buffer);
    // The notes section of the idea and its descendants: nothing without a counter; else
    // "\nNote n: <title>\n\n<note>\n" for each idea with a note, counting as outlineIdea.
    static void addNotesFrom(const std::shared_ptr<Idea>& idea, qint64 level, qint64* nextNote,
                             QString& buffer);
    // "<p>title</p>", then "\n<pre>note</pre>" when notes are wanted and the idea has one,
    // then for children "\n<ul>", "\n<li>child item</li>" each, "</ul>"; title and note
    // XML-escaped, the title's leading white space kept.
    static void appendIdeaIntoHTML(const std::shared_ptr<Idea>& idea, bool includeNotes, QString& buffer);

    // Writes `text` in UTF-8 over the file at `path` through an atomic save: on any failure
    // the previous file stays as it was and the error is returned.
    static Status writeToFile(const QString& text, const QString& path);
};

} // namespace corvex
