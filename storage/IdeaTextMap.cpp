#include "storage/IdeaTextMap.h"

#include <QStringView>
#include <algorithm>

namespace corvex {

void IdeaTextMap::add(const QString& key, qint64 level)
{
    mBuffer.append(key);
    mEnds.push_back(mBuffer.size());
    mLevels.push_back(level);
}

QString IdeaTextMap::keyAt(qsizetype index) const
{
    const qsizetype start = index == 0 ? 0 : mEnds[std::size_t(index - 1)];
    return mBuffer.mid(start, mEnds[std::size_t(index)] - start);
}

namespace {

// How rare a code unit is in the texts people write (higher: rarer), to pick the unit of
// the search text that the scan looks for first: the fewer places it stops at, the fewer
// comparisons it makes.
int rarity(QChar unit)
{
    static constexpr char ByFrequency[] = "etaoinshrdlcumwfgypbvkjxqz";
    const char16_t code = unit.unicode();
    if (code == u' ')
        return -1;
    if (code >= u'a' && code <= u'z') {
        for (int i = 0; ByFrequency[i] != 0; ++i) {
            if (ByFrequency[i] == char(code))
                return i;
        }
    }
    if (code < 0x80)
        return 12; // digits and punctuation
    if (unit.isHighSurrogate())
        return 30; // shared by every symbol of a plane (all emoji)
    return 40;
}

qsizetype rarestUnit(QStringView text)
{
    qsizetype best = 0;
    int bestRarity = rarity(text[0]);
    for (qsizetype i = 1; i < text.size(); ++i) {
        const int r = rarity(text[i]);
        if (r > bestRarity) {
            best = i;
            bestRarity = r;
        }
    }
    return best;
}

} // namespace

bool IdeaTextMap::containsString(const QString& lowerText, qint64* found, qint64* minLevel) const
{
    // QString::contains would find the empty text everywhere; an empty text occurs nowhere.
    if (lowerText.isEmpty() || mLevels.empty())
        return false;
    const QStringView buffer(mBuffer);
    const QStringView needle(lowerText);
    const qsizetype length = needle.size();
    // The scan stops only where the text's rarest unit occurs, then compares the whole text.
    const qsizetype keyIndex = rarestUnit(needle);
    const QChar key = needle[keyIndex];
    qint64 count = 0;
    qint64 smallest = 0;
    std::size_t entry = 0;
    const std::size_t entries = mEnds.size();
    qsizetype from = 0; // no match starts before this
    while (entry < entries) {
        const qsizetype at = buffer.indexOf(key, from + keyIndex);
        if (at < 0)
            break;
        const qsizetype start = at - keyIndex;
        while (mEnds[entry] <= start)
            ++entry;
        if (start + length > mEnds[entry]) {
            // The text would run into the next string: no later start in this string fits.
            from = mEnds[entry];
            ++entry;
            continue;
        }
        if (buffer.sliced(start, length) != needle) {
            from = start + 1;
            continue;
        }
        // One string counts once, however often it holds the text.
        smallest = count == 0 ? mLevels[entry] : std::min(smallest, mLevels[entry]);
        ++count;
        from = mEnds[entry];
        ++entry;
    }
    if (count == 0)
        return false;
    if (found)
        *found = count;
    if (minLevel)
        *minLevel = smallest;
    return true;
}

void IdeaTextMap::squeeze()
{
    mBuffer.squeeze();
    mEnds.shrink_to_fit();
    mLevels.shrink_to_fit();
}

} // namespace corvex
