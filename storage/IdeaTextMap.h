#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

namespace corvex {

// The searchable strings of one document's tree, lower-cased, each with its level in the
// tree (0 for the root idea), in the order they were added.
//
// The strings are kept end to end in one buffer with their end offsets, so that a search is
// one scan of one string per document; a match never counts across the border of two
// strings.
class IdeaTextMap
{
public:
    // Appends the string with its level. An empty string is kept as an entry too (it never
    // matches).
    void add(const QString& key, qint64 level);

    qsizetype count() const { return qsizetype(mLevels.size()); }
    bool isEmpty() const { return mLevels.empty(); }
    QString keyAt(qsizetype index) const;
    qint64 levelAt(qsizetype index) const { return mLevels[std::size_t(index)]; }

    // Counts the strings that hold `lowerText` (an empty text occurs in none). When at least
    // one does, writes the count to `found` and their smallest level to `minLevel` (either
    // may be null) and answers true; otherwise leaves both alone and answers false.
    bool containsString(const QString& lowerText, qint64* found, qint64* minLevel) const;

    // Frees the spare capacity once the map is complete.
    void squeeze();

private:
    QString mBuffer;
    std::vector<qsizetype> mEnds; // end offset (exclusive) of each string in mBuffer
    std::vector<qint64> mLevels;
};

} // namespace corvex
