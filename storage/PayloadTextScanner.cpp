#include "storage/PayloadTextScanner.h"

#include "model/Idea.h"
#include "platform/core/JsonStringBytes.h"
#include "platform/core/ProcessorFeatures.h"

#include <QByteArray>
#include <QChar>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CORVEX_SCANNER_AVX2 1
#endif

namespace corvex {

namespace {

// Where a scan keeps the ends and levels of its strings, kept by each thread from document
// to document so that they grow once; the map takes copies of the size it needs. What a
// very large document left is given back.
struct Scratch
{
    std::vector<quint32> ends;
    std::vector<qint32> levels;

    void release()
    {
        constexpr std::size_t kKept = std::size_t(1) << 17;
        if (ends.capacity() > kKept)
            ends = std::vector<quint32>();
        if (levels.capacity() > kKept)
            levels = std::vector<qint32>();
    }
};

thread_local Scratch tScratch;

// The code point of the well-formed UTF-8 sequence at `p` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF) and its length; length 0 when there is none.
char32_t decodeSequence(const char* p, const char* end, int& length)
{
    length = 0;
    const quint8 b0 = quint8(p[0]);
    const qsizetype room = end - p;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (room < 2 || !utf8Continuation(quint8(p[1])))
            return 0;
        length = 2;
        return (char32_t(b0 & 0x1F) << 6) | (quint8(p[1]) & 0x3F);
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (room < 3)
            return 0;
        const quint8 b1 = quint8(p[1]);
        const bool second = b0 == 0xE0   ? utf8Continuation(b1, 0xA0, 0xBF)
                            : b0 == 0xED ? utf8Continuation(b1, 0x80, 0x9F)
                                         : utf8Continuation(b1);
        if (!second || !utf8Continuation(quint8(p[2])))
            return 0;
        length = 3;
        return (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (quint8(p[2]) & 0x3F);
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (room < 4)
            return 0;
        const quint8 b1 = quint8(p[1]);
        const bool second = b0 == 0xF0   ? utf8Continuation(b1, 0x90, 0xBF)
                            : b0 == 0xF4 ? utf8Continuation(b1, 0x80, 0x8F)
                                         : utf8Continuation(b1);
        if (!second || !utf8Continuation(quint8(p[2])) || !utf8Continuation(quint8(p[3])))
            return 0;
        length = 4;
        return (char32_t(b0 & 0x07) << 18) | (char32_t(b1 & 0x3F) << 12) |
               (char32_t(quint8(p[2]) & 0x3F) << 6) | (quint8(p[3]) & 0x3F);
    }
    return 0;
}

// The characters UTF-8 writes in one or two bytes (Latin, Greek, Cyrillic, ...), each with
// its lower case (U+0130 apart, whose entry is not used).
constexpr char32_t kTwoByteEnd = 0x800;

const std::array<char32_t, kTwoByteEnd>& twoByteLowerCase()
{
    static const std::array<char32_t, kTwoByteEnd> table = [] {
        std::array<char32_t, kTwoByteEnd> lower{};
        for (char32_t code = 0; code < kTwoByteEnd; ++code)
            lower[code] = QChar::toLower(code);
        return lower;
    }();
    return table;
}

// The UTF-8 of a code point at `out`; answers the end of what was written.
char* writeUtf8(char* out, char32_t code)
{
    if (code < 0x80) {
        *out++ = char(code);
    } else if (code < 0x800) {
        *out++ = char(0xC0 | (code >> 6));
        *out++ = char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = char(0xE0 | (code >> 12));
        *out++ = char(0x80 | ((code >> 6) & 0x3F));
        *out++ = char(0x80 | (code & 0x3F));
    } else {
        *out++ = char(0xF0 | (code >> 18));
        *out++ = char(0x80 | ((code >> 12) & 0x3F));
        *out++ = char(0x80 | ((code >> 6) & 0x3F));
        *out++ = char(0x80 | (code & 0x3F));
    }
    return out;
}

// Whether the `size` bytes at `p` are those of `text`, compared eight at a time (the last
// eight overlapping the ones before), so that a comparison with a literal is a few loads.
template <std::size_t size> [[gnu::always_inline]] inline bool sameBytes(const char* p, const char* text)
{
    if constexpr (size < 8) {
        return std::memcmp(p, text, size) == 0;
    } else {
        std::uint64_t difference = 0;
        for (std::size_t at = 0; at + 8 <= size; at += 8) {
            std::uint64_t a;
            std::uint64_t b;
            std::memcpy(&a, p + at, 8);
            std::memcpy(&b, text + at, 8);
            difference |= a ^ b;
        }
        if constexpr (size % 8 != 0) {
            std::uint64_t a;
            std::uint64_t b;
            std::memcpy(&a, p + size - 8, 8);
            std::memcpy(&b, text + size - 8, 8);
            difference |= a ^ b;
        }
        return difference == 0;
    }
}

#if defined(CORVEX_SCANNER_AVX2)
// Thirty-two times the byte; where the bytes are the byte.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i each(char byte)
{
    return _mm256_set1_epi8(byte);
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i sameAs(__m256i bytes, char byte)
{
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(byte));
}

// The plain run of a string from `p` lower-cased to `out`, thirty-two bytes a step, for
// processors with AVX2 (chosen at run time): ASCII and Latin-1's letters and signs (U+0080 to
// U+00FF, C2 or C3 and a continuation byte), up to the first other byte or quote, backslash
// or control character. Returns the count of bytes it took, as many as it wrote. Each step also
// reads the byte before it (the string's opening quote at the first) and the one after it,
// so that a character split between two steps is taken whole; it stops 33 bytes before
// `end` and 32 before `outEnd`.
[[gnu::target("avx2")]] qsizetype lowerCasedRunAvx2(const char* p, const char* end, char* out,
                                                    const char* outEnd)
{
    const __m256i topTwo = each(char(0xC0));
    const __m256i continuation = each(char(0x80));
    const char* const start = p;
    while (end - p >= 33 && outEnd - out >= 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
        const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        const __m256i control = _mm256_cmpeq_epi8(_mm256_max_epu8(bytes, each(0x1F)), each(0x1F));
        const __m256i special =
            _mm256_or_si256(_mm256_or_si256(sameAs(bytes, '"'), sameAs(bytes, '\\')), control);
        // A byte beyond ASCII is taken when it is C2 or C3 before a continuation byte, or a
        // continuation byte after C2 or C3; every other one stops the road. (Worked out for
        // every step: a branch on whether there is any would be mispredicted about as often
        // as taken in texts with accents.)
        const __m256i isContinuation = _mm256_cmpeq_epi8(_mm256_and_si256(bytes, topTwo), continuation);
        const __m256i afterIsContinuation = _mm256_cmpeq_epi8(_mm256_and_si256(after, topTwo), continuation);
        const __m256i beforeIsC3 = sameAs(before, char(0xC3));
        const __m256i latin = _mm256_or_si256(
            _mm256_and_si256(_mm256_or_si256(sameAs(bytes, char(0xC2)), sameAs(bytes, char(0xC3))),
                             afterIsContinuation),
            _mm256_and_si256(isContinuation, _mm256_or_si256(sameAs(before, char(0xC2)), beforeIsC3)));
        const unsigned stop =
            unsigned(_mm256_movemask_epi8(special)) |
            (unsigned(_mm256_movemask_epi8(bytes)) & ~unsigned(_mm256_movemask_epi8(latin)));
        // Signed bytes: A to Z only among ASCII; U+00C0 to U+00DE but U+00D7 (C3 80 to C3 9E)
        // are lowered by 0x20 in their last byte too.
        const __m256i upper = _mm256_and_si256(_mm256_cmpgt_epi8(bytes, each('A' - 1)),
                                               _mm256_cmpgt_epi8(each('Z' + 1), bytes));
        const __m256i upperLatin = _mm256_andnot_si256(
            sameAs(bytes, char(0x97)), _mm256_and_si256(_mm256_and_si256(isContinuation, beforeIsC3),
                                                        _mm256_cmpgt_epi8(each(char(0x9F)), bytes)));
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out),
            _mm256_add_epi8(bytes, _mm256_and_si256(_mm256_or_si256(upper, upperLatin), each(0x20))));
        if (stop != 0)
            return p + __builtin_ctz(stop) - start;
        p += 32;
        out += 32;
    }
    return p - start;
}
#endif

// `Wide`: the processor has AVX2, and the scanner is compiled for it.
template <bool Wide> class Scanner
{
public:
    // The strings are written straight into the buffer the map keeps, as long as the text to
    // begin with: lower-casing rarely makes a character longer (U+0130 and a few others: at
    // most half as long again), and the room grows when it does.
    Scanner(QByteArrayView json, Scratch& scratch)
        : mP(json.data()), mEnd(json.data() + json.size()), mBuffer(json.size() + kSlack, Qt::Uninitialized),
          mScratch(scratch)
    {
        mScratch.ends.clear();
        mScratch.levels.clear();
        mBase = mBuffer.data();
        mOut = mBase;
        mOutEnd = mBase + mBuffer.size();
    }

    bool payload()
    {
        if (!literal(R"({"ideaDocumentDataObject":{"fileFormatVersion":)"))
            return false;
        // The versions the payload readers open: 1 to 4, as the writer writes them.
        if (mEnd - mP < 2 || mP[0] < '1' || mP[0] > '4' || mP[1] != ',')
            return false;
        ++mP;
        if (!literal(R"(,"idea":)") || !tree())
            return false;
        if (literal(R"(,"dateCreated":")") && !skipString())
            return false;
        if (literal(R"(,"dateModified":")") && !skipString())
            return false;
        if (literal(R"(,"appInstance":")") && !skipString())
            return false;
        if (!literal("}}"))
            return false;
        // JSON's white space may follow the value, nothing else.
        for (; mP < mEnd; ++mP) {
            if (*mP != ' ' && *mP != '\n' && *mP != '\r' && *mP != '\t')
                return false;
        }
        return true;
    }

    // The map, once the payload is read; the buffer is cut to its strings in place.
    IdeaTextMap map()
    {
        mBuffer.truncate(mOut - mBase);
        mBuffer.squeeze();
        return IdeaTextMap(std::move(mBuffer), mScratch.ends, mScratch.levels);
    }

private:
    // The text's bytes are next: they are passed. Kept inline, so that each comparison is
    // made of a few loads of known size.
    template <std::size_t N> [[gnu::always_inline]] bool literal(const char (&text)[N])
    {
        constexpr std::size_t size = N - 1;
        if (mEnd - mP < qsizetype(size) || !sameBytes<size>(mP, text))
            return false;
        mP += size;
        return true;
    }

    // The ideas depth first, each before its children, as the writer writes them.
    bool tree()
    {
        qint64 depth = 0;
        for (;;) {
            bool children = false;
            if (!idea(depth, children))
                return false;
            if (children) {
                // The payload readers take no idea below the model's depth (the root idea is
                // at depth 0 here and level 1 there).
                if (depth + 1 >= Idea::MaxDepth)
                    return false;
                ++depth;
                continue;
            }
            // The idea is closed: a sibling follows, or its parent closes.
            for (;;) {
                if (depth == 0)
                    return true;
                if (mP < mEnd && *mP == ',') {
                    ++mP;
                    break;
                }
                if (!literal("]}"))
                    return false;
                --depth;
            }
        }
    }

    // One idea's own members; `children` when its list of children was opened.
    bool idea(qint64 depth, bool& children)
    {
        if (literal(R"({"identifier":")")) {
            if (!skipString() || !literal(R"(,"ideaType":)"))
                return false;
        } else if (!literal(R"({"ideaType":)")) {
            return false;
        }
        // Types 0 to 3; a link (4) shows the strings of the idea it links to, which only the
        // tree knows.
        if (mEnd - mP < 2 || mP[0] < '0' || mP[0] > '3' || mP[1] != ',')
            return false;
        ++mP;
        if (literal(R"(,"text":")") && !lowerCasedString(depth))
            return false;
        if (literal(R"(,"URL":")") && !skipString())
            return false;
        if (literal(R"(,"note":")") && !lowerCasedString(depth))
            return false;
        if (literal(R"(,"color":")") && !skipString())
            return false;
        if (literal(R"(,"att":")") && !skipString())
            return false;
        if (literal(R"(,"image":")") && !skipString())
            return false;
        if (literal(R"(,"bigImageData":")") && !skipString())
            return false;
        if (literal(R"(,"iconImage":{)") && !icon(depth))
            return false;
        if (!literal(R"(,"colorThemeType":)") || !integer())
            return false;
        if (literal(R"(,"ideas":[)")) {
            children = !literal("]}");
            return true;
        }
        return literal("}");
    }

    bool icon(qint64 depth)
    {
        bool first = true;
        if (literal(R"("name":")")) {
            if (!skipString())
                return false;
            first = false;
        }
        if (first ? literal(R"("category":")") : literal(R"(,"category":")")) {
            if (!skipString())
                return false;
            first = false;
        }
        if ((first ? literal(R"("symbol":")") : literal(R"(,"symbol":")")) && !lowerCasedString(depth))
            return false;
        return literal("}");
    }

    // A JSON integer that fits 64 bits, followed by the end of its member.
    bool integer()
    {
        const char* p = mP;
        if (p < mEnd && *p == '-')
            ++p;
        const char* digits = p;
        while (p < mEnd && *p >= '0' && *p <= '9')
            ++p;
        const qsizetype count = p - digits;
        if (count == 0 || count > 18 || (count > 1 && *digits == '0'))
            return false;
        if (p == mEnd || (*p != ',' && *p != '}'))
            return false;
        mP = p;
        return true;
    }

    // The rest of a string after its opening quote, checked and read past.
    bool skipString()
    {
        const char* p = mP;
        const char* const end = mEnd;
        for (;;) {
            p = plainJsonStringRun(p, end);
            if (p == end)
                return false;
            const quint8 c = quint8(*p);
            if (c == '"') {
                mP = p + 1;
                return true;
            }
            if (c == '\\') {
                mP = p;
                if (!skipEscape())
                    return false;
                p = mP;
                continue;
            }
            if (c < 0x20)
                return false;
            int length = 0;
            decodeSequence(p, end, length);
            if (length == 0)
                return false;
            p += length;
        }
    }

    bool skipEscape()
    {
        if (mEnd - mP < 2)
            return false;
        switch (mP[1]) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
            mP += 2;
            return true;
        case 'u':
            // Every escape needs its four digits (a lone surrogate reads as U+FFFD, but a
            // broken escape after one is still broken).
            if (mEnd - mP < 6 || jsonHexUnit(mP + 2) < 0)
                return false;
            mP += 6;
            return true;
        default:
            return false;
        }
    }

    // The escape at mP (a backslash) as the payload readers read it; 0xFFFFFFFF when broken.
    char32_t escape()
    {
        if (mEnd - mP < 2)
            return kBroken;
        char32_t code = 0;
        switch (mP[1]) {
        case '"':
            code = '"';
            break;
        case '\\':
            code = '\\';
            break;
        case '/':
            code = '/';
            break;
        case 'b':
            code = '\b';
            break;
        case 'f':
            code = '\f';
            break;
        case 'n':
            code = '\n';
            break;
        case 'r':
            code = '\r';
            break;
        case 't':
            code = '\t';
            break;
        case 'u':
            return unicodeEscape();
        default:
            return kBroken;
        }
        mP += 2;
        return code;
    }

    // \uXXXX, a surrogate pair of two, or a lone surrogate, which reads as U+FFFD.
    char32_t unicodeEscape()
    {
        const int unit = mEnd - mP >= 6 ? jsonHexUnit(mP + 2) : -1;
        if (unit < 0)
            return kBroken;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const bool escapeFollows = mEnd - mP >= 8 && mP[6] == '\\' && mP[7] == 'u';
            const int next = escapeFollows && mEnd - mP >= 12 ? jsonHexUnit(mP + 8) : -1;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                mP += 12;
                return 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(next) - 0xDC00);
            }
            mP += 6;
            return 0xFFFD;
        }
        mP += 6;
        return unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : char32_t(unit);
    }

    // Room for at least kSlack more bytes at `out`, which moves with the buffer.
    char* ensureRoom(char* out)
    {
        if (mOutEnd - out >= kSlack)
            return out;
        const qsizetype used = out - mBase;
        mBuffer.resize(mBuffer.size() * 2 + kSlack);
        mBase = mBuffer.data();
        mOutEnd = mBase + mBuffer.size();
        return mBase + used;
    }

    // QString::toLower of one character, as UTF-8: the character's own lower case, except
    // where that takes more than one character (U+0130 only, which QChar::toLower leaves
    // alone). No character from U+1F000 on (emoji, and the planes above) has a lower case.
    static char* writeLowerCased(char* out, char32_t code)
    {
        if (code == 0x130) {
            *out++ = 'i';
            return writeUtf8(out, 0x307);
        }
        if (code >= kCaselessFrom)
            return writeUtf8(out, code);
        return writeUtf8(out, code < kTwoByteEnd ? twoByteLowerCase()[code] : QChar::toLower(code));
    }

    // The rest of a string after its opening quote, lower-cased into the map at `level`
    // unless it is empty.
    bool lowerCasedString(qint64 level)
    {
        // Locals, not members: the vector stores below may alias anything, and the cursors
        // must stay in registers.
        const char* p = mP;
        const char* const end = mEnd;
        char* out = mOut;
        const qsizetype start = out - mBase;
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i lastControl = _mm_set1_epi8(0x1F);
        const __m128i beforeA = _mm_set1_epi8('A' - 1);
        const __m128i afterZ = _mm_set1_epi8('Z' + 1);
        const __m128i caseBit = _mm_set1_epi8(0x20);
        const __m128i leadC2 = _mm_set1_epi8(char(0xC2));
        const __m128i leadC3 = _mm_set1_epi8(char(0xC3));
        const __m128i topTwo = _mm_set1_epi8(char(0xC0));
        const __m128i continuation = _mm_set1_epi8(char(0x80));
        const __m128i afterUpper = _mm_set1_epi8(char(0x9F));
        const __m128i times = _mm_set1_epi8(char(0x97));
#endif
        for (;;) {
#if defined(CORVEX_SCANNER_AVX2)
            if constexpr (Wide) {
                const qsizetype taken = lowerCasedRunAvx2(p, end, out, mOutEnd);
                p += taken;
                out += taken;
            }
#endif
#if defined(__SSE2__)
            // Sixteen bytes at a time while they are plain text of ASCII and of Latin-1's
            // letters and signs (U+0080 to U+00FF, two bytes each): the upper-case letters of
            // both lowered in place, the rest copied.
            while (!Wide && end - p >= 16 && mOutEnd - out >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl);
                __m128i stop = _mm_or_si128(
                    _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)), control);
                // A Latin-1 character is C2 or C3 and a continuation byte; any other byte beyond
                // ASCII, and a lead whose continuation is in the next sixteen, stops the fast
                // road. (Worked out for every sixteen: a branch on whether there is any would be
                // mispredicted about as often as taken.)
                const __m128i isC3 = _mm_cmpeq_epi8(bytes, leadC3);
                const __m128i isLead = _mm_or_si128(_mm_cmpeq_epi8(bytes, leadC2), isC3);
                const __m128i isContinuation = _mm_cmpeq_epi8(_mm_and_si128(bytes, topTwo), continuation);
                const __m128i nextIsContinuation = _mm_srli_si128(isContinuation, 1);
                const __m128i leadWhole = _mm_and_si128(isLead, nextIsContinuation);
                const __m128i plain =
                    _mm_or_si128(leadWhole, _mm_and_si128(isContinuation, _mm_slli_si128(leadWhole, 1)));
                stop =
                    _mm_or_si128(stop, _mm_andnot_si128(plain, _mm_cmplt_epi8(bytes, _mm_setzero_si128())));
                // ASCII's A to Z, and U+00C0 to U+00DE but U+00D7 (C3 80 to C3 9E), are lowered
                // by 0x20 in their last byte.
                const __m128i afterC3 = _mm_slli_si128(_mm_and_si128(isC3, nextIsContinuation), 1);
                const __m128i upperLatin = _mm_andnot_si128(
                    _mm_cmpeq_epi8(bytes, times),
                    _mm_and_si128(_mm_and_si128(isContinuation, afterC3), _mm_cmplt_epi8(bytes, afterUpper)));
                const __m128i lower = _mm_or_si128(
                    _mm_and_si128(_mm_cmpgt_epi8(bytes, beforeA), _mm_cmplt_epi8(bytes, afterZ)), upperLatin);
                const __m128i lowered = _mm_add_epi8(bytes, _mm_and_si128(lower, caseBit));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lowered);
                const int mask = _mm_movemask_epi8(stop);
                if (mask != 0) {
                    const int plain = __builtin_ctz(unsigned(mask));
                    p += plain;
                    out += plain;
                    break;
                }
                p += 16;
                out += 16;
            }
#endif
            out = ensureRoom(out);
            if (p == end)
                return false;
            const quint8 c = quint8(*p);
            if (c == '"') {
                ++p;
                break;
            }
            if (c < 0x80) {
                if (c == '\\') {
                    mP = p;
                    const char32_t code = escape();
                    if (code == kBroken)
                        return false;
                    p = mP;
                    out = writeLowerCased(out, code);
                    continue;
                }
                if (c < 0x20)
                    return false;
                *out++ = char(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
                ++p;
                continue;
            }
            int length = 0;
            const char32_t code = decodeSequence(p, end, length);
            if (length == 0)
                return false;
            p += length;
            out = writeLowerCased(out, code);
        }
        mP = p;
        mOut = out;
        const qsizetype stop = out - mBase;
        if (stop != start) {
            mScratch.ends.push_back(quint32(stop));
            mScratch.levels.push_back(qint32(level));
        }
        return true;
    }

    // The room kept free at the end of the output: the fast road writes sixteen bytes, a
    // character at most four, and U+0130's lower case five.
    static constexpr qsizetype kSlack = 32;
    static constexpr char32_t kBroken = 0xFFFFFFFF;
    static constexpr char32_t kCaselessFrom = 0x1F000;

    const char* mP;
    const char* const mEnd;
    QByteArray mBuffer;
    Scratch& mScratch;
    char* mBase; // mBuffer's bytes
    char* mOut;
    char* mOutEnd;
};

template <bool Wide> std::optional<IdeaTextMap> scanned(QByteArrayView json, Scratch& scratch)
{
    Scanner<Wide> scanner(json, scratch);
    if (!scanner.payload())
        return std::nullopt;
    return scanner.map();
}

#if defined(CORVEX_SCANNER_AVX2)
// The whole scan compiled for AVX2, so that its string loops keep their constants in
// registers from step to step.
[[gnu::target("avx2"), gnu::flatten]] std::optional<IdeaTextMap> scannedAvx2(QByteArrayView json,
                                                                             Scratch& scratch)
{
    return scanned<true>(json, scratch);
}
#endif

} // namespace

std::optional<IdeaTextMap> PayloadTextScanner::scan(QByteArrayView json, Steps steps)
{
    Scratch& scratch = tScratch;
#if defined(CORVEX_SCANNER_AVX2)
    std::optional<IdeaTextMap> map = steps == Steps::Widest && processorHasAvx2()
                                         ? scannedAvx2(json, scratch)
                                         : scanned<false>(json, scratch);
#else
    Q_UNUSED(steps);
    std::optional<IdeaTextMap> map = scanned<false>(json, scratch);
#endif
    scratch.release();
    return map;
}

} // namespace corvex
