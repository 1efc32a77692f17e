#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace corvex {

// The searchable strings of one document's tree, lower-cased, each with its level in the
// tree (0 for the root idea), in the order they were added.
//
// The strings are kept end to end in one buffer of UTF-8 with their end offsets, so that a
// search is one scan of one string per document and a document's strings take half the
// memory UTF-16 would; a match never counts across the border of two strings. UTF-8 finds
// exactly what UTF-16 finds: a text's bytes can only match where its characters do. A map
// holds at most 4 GiB of text (no document's payload comes near); strings beyond that are
// left out.
class IdeaTextMap
{
public:
    IdeaTextMap() = default;
    // A map of lower-cased UTF-8 strings laid end to end already: `ends` holds the end
    // offset (exclusive) of each string in `buffer`, in ascending order, `levels` their
    // levels (as many).
    IdeaTextMap(QByteArray buffer, std::vector<quint32> ends, std::vector<qint32> levels);

    // Appends the string (lower-cased by the caller) with its level. An empty string is kept
    // as an entry too (it never matches).
    void add(const QString& key, qint64 level);

    qsizetype count() const { return qsizetype(mLevels.size()); }
    bool isEmpty() const { return mLevels.empty(); }
    QString keyAt(qsizetype index) const;
    qint64 levelAt(qsizetype index) const { return mLevels[std::size_t(index)]; }

    // Counts the strings that hold `lowerText` (an empty text occurs in none). When at least
    // one does, writes the count to `found` and their smallest level to `minLevel` (either
    // may be null) and answers true; otherwise leaves both alone and answers false.
    bool containsString(const QString& lowerText, qint64* found, qint64* minLevel) const;
    // The same for the text's UTF-8 (searchKey), for a search that asks many maps.
    bool containsUtf8(QByteArrayView lowerText, qint64* found, qint64* minLevel) const;
    // What containsUtf8 looks for: the text lower-cased, in UTF-8.
    static QByteArray searchKey(const QString& text);

    // Looks for the text now and keeps the answer, which containsUtf8 then gives for the
    // same text without scanning again: a search read looks for the running search's text
    // while the map it just made is fresh in the processor's cache.
    void probe(const QByteArray& lowerText);

    // Frees the spare capacity once the map is complete.
    void squeeze();

private:
    bool scan(QByteArrayView lowerText, qint64* found, qint64* minLevel) const;

    QByteArray mBuffer;
    std::vector<quint32> mEnds; // end offset (exclusive) of each string in mBuffer
    std::vector<qint32> mLevels;
    // The text probe() looked for (null when none) and what it found (count 0: nothing).
    QByteArray mProbedText;
    qint64 mProbedCount = 0;
    qint64 mProbedLevel = 0;
};

} // namespace corvex
