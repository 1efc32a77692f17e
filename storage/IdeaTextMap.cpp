#include "storage/IdeaTextMap.h"

#include "platform/core/ProcessorFeatures.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CORVEX_TEXT_MAP_AVX2 1
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

namespace {

// What a scan looks for: the text and its two rarest bytes (at `first` and `second`).
struct Wanted
{
    QByteArrayView text;
    qsizetype first = 0;
    qsizetype second = 0;
};

// What a scan found: the strings that hold the text, and their smallest level.
struct Found
{
    qint64 count = 0;
    qint64 smallest = 0;
};

// The candidate starts of one block of starts from `at`: bit i when the text's two rarest
// bytes both stand where they would for a match at at + i. Each block tests Width starts
// with two loads; the scan takes the last starts one at a time.
struct OneByOne
{
    static constexpr qsizetype Width = 1;
    explicit OneByOne(const Wanted& wanted)
        : mFirst(wanted.text[wanted.first]), mSecond(wanted.text[wanted.second])
    {}
    [[gnu::always_inline]] unsigned candidates(const char* a, const char* b) const
    {
        return *a == mFirst && *b == mSecond ? 1u : 0u;
    }
    char mFirst;
    char mSecond;
};

#if defined(__SSE2__)
struct SixteenAtOnce
{
    static constexpr qsizetype Width = 16;
    explicit SixteenAtOnce(const Wanted& wanted)
        : mFirst(_mm_set1_epi8(wanted.text[wanted.first])), mSecond(_mm_set1_epi8(wanted.text[wanted.second]))
    {}
    [[gnu::always_inline]] unsigned candidates(const char* a, const char* b) const
    {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        return unsigned(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, mFirst), _mm_cmpeq_epi8(y, mSecond))));
    }
    __m128i mFirst;
    __m128i mSecond;
};
#endif

#if defined(CORVEX_TEXT_MAP_AVX2)
// Twice the starts a block, for processors that have AVX2 (chosen at run time).
struct ThirtyTwoAtOnce
{
    static constexpr qsizetype Width = 32;
    [[gnu::target("avx2")]] explicit ThirtyTwoAtOnce(const Wanted& wanted)
        : mFirst(_mm256_set1_epi8(wanted.text[wanted.first])),
          mSecond(_mm256_set1_epi8(wanted.text[wanted.second]))
    {}
    [[gnu::target("avx2")]] unsigned candidates(const char* a, const char* b) const
    {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
        return unsigned(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(x, mFirst), _mm256_cmpeq_epi8(y, mSecond))));
    }
    __m256i mFirst;
    __m256i mSecond;
};
#endif

// The scan itself, with the widest block the processor has; kept inline so that each
// block's loads stay in registers.
template <typename Block>
[[gnu::always_inline]] inline Found scanWith(const char* buffer, qsizetype size,
                                             const std::vector<quint32>& ends,
                                             const std::vector<qint32>& levels, const Wanted& wanted)
{
    const qsizetype length = wanted.text.size();
    const qsizetype first = wanted.first;
    const qsizetype second = wanted.second;
    const qsizetype reach = std::max(first, second); // the farthest byte a candidate's test reads
    const qsizetype lastStart = size - length;
    const Block block(wanted);
    const OneByOne single(wanted);
    Found found;
    std::size_t entry = 0;
    qsizetype from = 0; // no match starts before this
    qsizetype at = 0;   // the next candidate start to test
    // The block's candidates from `skip` on: those before it lie in a string that is done
    // with (a text holding a frequent letter would otherwise test each of its places).
    const auto candidatesFrom = [](qsizetype skip) {
        return skip >= Block::Width ? 0u : ~0u << unsigned(skip);
    };
    while (at <= lastStart) {
        unsigned candidates = 0;
        const qsizetype base = at;
        if (at + reach + Block::Width <= size) {
            candidates = block.candidates(buffer + at + first, buffer + at + second);
            at += Block::Width;
        } else {
            candidates = single.candidates(buffer + at + first, buffer + at + second);
            at += 1;
        }
        while (candidates != 0) {
            const qsizetype start = base + __builtin_ctz(candidates);
            candidates &= candidates - 1;
            if (start < from || start > lastStart)
                continue;
            while (qsizetype(ends[entry]) <= start)
                ++entry;
            const qsizetype end = qsizetype(ends[entry]);
            // A text that would run into the next string is not in this one; neither is it
            // at any later start of this one.
            if (start + length > end) {
                from = end;
                candidates &= candidatesFrom(from - base);
                continue;
            }
            if (std::memcmp(buffer + start, wanted.text.data(), std::size_t(length)) != 0)
                continue;
            // One string counts once, however often it holds the text.
            found.smallest =
                found.count == 0 ? levels[entry] : std::min<qint64>(found.smallest, levels[entry]);
            ++found.count;
            from = end;
            candidates &= candidatesFrom(from - base);
        }
        at = std::max(at, from);
    }
    return found;
}

#if defined(CORVEX_TEXT_MAP_AVX2)
// Flattened: the block's test is inlined into the loop, which takes the processor's AVX2 here.
[[gnu::target("avx2"), gnu::flatten]] Found scanWithAvx2(const char* buffer, qsizetype size,
                                                         const std::vector<quint32>& ends,
                                                         const std::vector<qint32>& levels,
                                                         const Wanted& wanted)
{
    return scanWith<ThirtyTwoAtOnce>(buffer, size, ends, levels, wanted);
}
#endif

} // namespace

bool IdeaTextMap::scan(QByteArrayView lowerText, qint64* found, qint64* minLevel) const
{
    // An empty text would be found everywhere; it occurs nowhere.
    if (lowerText.isEmpty() || mLevels.empty())
        return false;
    const qsizetype size = mBuffer.size();
    const qsizetype length = lowerText.size();
    if (length > size)
        return false;
    // Candidates are the places where the text's two rarest bytes both stand where they
    // would in it; only those are compared whole.
    Wanted wanted;
    wanted.text = lowerText;
    wanted.first = rarestByte(lowerText, -1);
    wanted.second = length > 1 ? rarestByte(lowerText, wanted.first) : wanted.first;
    const char* const buffer = mBuffer.constData();
#if defined(CORVEX_TEXT_MAP_AVX2)
    const Found result = processorHasAvx2() ? scanWithAvx2(buffer, size, mEnds, mLevels, wanted)
                                            : scanWith<SixteenAtOnce>(buffer, size, mEnds, mLevels, wanted);
#elif defined(__SSE2__)
    const Found result = scanWith<SixteenAtOnce>(buffer, size, mEnds, mLevels, wanted);
#else
    const Found result = scanWith<OneByOne>(buffer, size, mEnds, mLevels, wanted);
#endif
    if (result.count == 0)
        return false;
    if (found)
        *found = result.count;
    if (minLevel)
        *minLevel = result.smallest;
    return true;
}

void IdeaTextMap::squeeze()
{
    mBuffer.squeeze();
    mEnds.shrink_to_fit();
    mLevels.shrink_to_fit();
}

} // namespace corvex
