#pragma once

#include <QString>
#include <QtGlobal>
#include <utility>

namespace corvex {

// One document's match in a search of the cache: how many of its searchable strings hold
// the text, and the smallest tree level among those strings (0 for the root).
class SearchResult
{
public:
    SearchResult() = default;
    SearchResult(QString docIdentifier, qint64 occurrences, qint64 minLevel)
        : mDocIdentifier(std::move(docIdentifier)), mOccurrences(occurrences), mMinLevel(minLevel)
    {}

    const QString& docIdentifier() const { return mDocIdentifier; }
    qint64 occurrences() const { return mOccurrences; }
    qint64 minLevel() const { return mMinLevel; }

    // The ranking of search results: more occurrences first; then the larger minLevel (the
    // deeper shallowest match, as searches have always ranked it); then the identifier that
    // compares greater (code-unit order) first. A strict total order for distinct
    // identifiers.
    static bool rankedBefore(const SearchResult& a, const SearchResult& b);

private:
    QString mDocIdentifier;
    qint64 mOccurrences = 0;
    qint64 mMinLevel = 0;
};

} // namespace corvex
