#include "storage/IdeaTextMap.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvex {

IdeaTextMap::IdeaTextMap(QByteArray buffer, std::vector<quint32> ends, std::vector<qint32> levels)
    : mBuffer(std::move(buffer)), mEnds(std::move(ends)), mLevels(std::move(levels))
{}

void IdeaTextMap::add(const QString& key, qint64 level)
{
    const QByteArray utf8 = key.toUtf8();
    if (qint64(mBuffer.size()) + utf8.size() > qint64(std::numeric_limits<quint32>::max()))
        return;
    mBuffer.append(utf8);
    mEnds.push_back(quint32(mBuffer.size()));
    mLevels.push_back(qint32(
        std::clamp<qint64>(level, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max())));
}

QString IdeaTextMap::keyAt(qsizetype index) const
{
    const qsizetype start = index == 0 ? 0 : qsizetype(mEnds[std::size_t(index - 1)]);
    return QString::fromUtf8(mBuffer.constData() + start, qsizetype(mEnds[std::size_t(index)]) - start);
}

namespace {

// How rare a byte is in the texts people write (higher: rarer), to pick the bytes of the
// search text that the scan looks for: the fewer places they stand together, the fewer
// comparisons it makes.
int rarity(quint8 byte)
{
    static constexpr char ByFrequency[] = "etaoinshrdlcumwfgypbvkjxqz";
    if (byte == ' ')
        return -1;
    if (byte >= 'a' && byte <= 'z') {
        for (int i = 0; ByFrequency[i] != 0; ++i) {
            if (ByFrequency[i] == char(byte))
                return i;
        }
    }
    if (byte < 0x80)
        return 12; // digits and punctuation
    if (byte >= 0xC0)
        return 30; // the first byte of a character, shared by a whole block (all emoji)
    return 40;     // a later byte, which tells the characters of a block apart
}

// The index of the text's rarest byte, leaving out the one at `except`.
qsizetype rarestByte(QByteArrayView text, qsizetype except)
{
    qsizetype best = -1;
    int bestRarity = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == except)
            continue;
        const int r = rarity(quint8(text[i]));
        if (best < 0 || r > bestRarity) {
            best = i;
            bestRarity = r;
        }
    }
    return best;
}

} // namespace

bool IdeaTextMap::containsString(const QString& lowerText, qint64* found, qint64* minLevel) const
{
    return containsUtf8(lowerText.toUtf8(), found, minLevel);
}

QByteArray IdeaTextMap::searchKey(const QString& text)
{
    return text.toLower().toUtf8();
}

void IdeaTextMap::probe(const QByteArray& lowerText)
{
    mProbedCount = 0;
    mProbedLevel = 0;
    scan(lowerText, &mProbedCount, &mProbedLevel);
    mProbedText = lowerText;
}

bool IdeaTextMap::containsUtf8(QByteArrayView lowerText, qint64* found, qint64* minLevel) const
{
    if (!mProbedText.isNull() && lowerText == QByteArrayView(mProbedText)) {
        if (mProbedCount == 0)
            return false;
        if (found)
            *found = mProbedCount;
        if (minLevel)
            *minLevel = mProbedLevel;
        return true;
    }
    return scan(lowerText, found, minLevel);
}

bool IdeaTextMap::scan(QByteArrayView lowerText, qint64* found, qint64* minLevel) const
{
    // An empty text would be found everywhere; it occurs nowhere.
    if (lowerText.isEmpty() || mLevels.empty())
        return false;
    const char* const buffer = mBuffer.constData();
    const qsizetype size = mBuffer.size();
    const qsizetype length = lowerText.size();
    if (length > size)
        return false;
    // Candidates are the places where the text's two rarest bytes both stand where they
    // would in it; only those are compared whole.
    const qsizetype first = rarestByte(lowerText, -1);
    const qsizetype second = length > 1 ? rarestByte(lowerText, first) : first;
    const qsizetype reach = std::max(first, second); // the farthest byte a candidate's test reads
    const char firstByte = lowerText[first];
    const char secondByte = lowerText[second];
    const qsizetype lastStart = size - length;
    qint64 count = 0;
    qint64 smallest = 0;
    std::size_t entry = 0;
    qsizetype from = 0; // no match starts before this
#if defined(__SSE2__)
    const __m128i firstWanted = _mm_set1_epi8(firstByte);
    const __m128i secondWanted = _mm_set1_epi8(secondByte);
#endif
    qsizetype at = 0; // the next candidate start to test
    while (at <= lastStart) {
        unsigned candidates = 0;
        const qsizetype base = at;
#if defined(__SSE2__)
        if (at + reach + 16 <= size) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at + first));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + at + second));
            candidates = unsigned(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(a, firstWanted), _mm_cmpeq_epi8(b, secondWanted))));
            at += 16;
        } else
#endif
        {
            candidates = buffer[at + first] == firstByte && buffer[at + second] == secondByte ? 1u : 0u;
            at += 1;
        }
        while (candidates != 0) {
            const qsizetype start = base + __builtin_ctz(candidates);
            candidates &= candidates - 1;
            if (start < from || start > lastStart)
                continue;
            while (qsizetype(mEnds[entry]) <= start)
                ++entry;
            const qsizetype end = qsizetype(mEnds[entry]);
            // A text that would run into the next string is not in this one; neither is it
            // at any later start of this one.
            if (start + length > end) {
                from = end;
                continue;
            }
            if (std::memcmp(buffer + start, lowerText.data(), std::size_t(length)) != 0)
                continue;
            // One string counts once, however often it holds the text.
            smallest = count == 0 ? mLevels[entry] : std::min<qint64>(smallest, mLevels[entry]);
            ++count;
            from = end;
        }
        at = std::max(at, from);
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
