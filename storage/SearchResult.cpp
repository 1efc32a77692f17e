#include "storage/SearchResult.h"

namespace corvex {

bool SearchResult::rankedBefore(const SearchResult& a, const SearchResult& b)
{
    if (a.mOccurrences != b.mOccurrences)
        return a.mOccurrences > b.mOccurrences;
    if (a.mMinLevel != b.mMinLevel)
        return a.mMinLevel > b.mMinLevel;
    return QString::compare(a.mDocIdentifier, b.mDocIdentifier, Qt::CaseSensitive) > 0;
}

} // namespace corvex
