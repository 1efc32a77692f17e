#include "storage/PayloadTextScanner.h"

#include "model/Idea.h"
#include "model/IdeaMembers.h"
#include "platform/core/JsonStringBytes.h"
#include "platform/core/JsonText.h"
#include "platform/core/ProcessorFeatures.h"
#include "storage/LinkedStrings.h"

#include <QByteArray>
#include <QChar>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
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
    // What the links need of the ideas (LinkedStrings), and the marks of the lists of
    // children open at each level.
    std::vector<LinkedStrings::IdeaEntry> ideas;
    std::vector<LinkedStrings::LinkEntry> links;
    std::vector<quint8> lists;

    void release()
    {
        constexpr std::size_t kKept = std::size_t(1) << 17;
        if (ends.capacity() > kKept)
            ends = std::vector<quint32>();
        if (levels.capacity() > kKept)
            levels = std::vector<qint32>();
        if (ideas.capacity() > kKept)
            ideas = std::vector<LinkedStrings::IdeaEntry>();
        if (links.capacity() > kKept)
            links = std::vector<LinkedStrings::LinkEntry>();
    }
};

// Why a text is left to the payload readers.
namespace Declined {
constexpr const char* NoPayload = "it is no payload with a root idea";
constexpr const char* Version = "its file format version is not one the readers open";
constexpr const char* Shape =
    "it is not in the writer's shape (white space, a null or a value of another type)";
constexpr const char* String = "a string is no well-formed JSON string";
constexpr const char* Number = "a number is not one the writer writes";
constexpr const char* Order = "a member stands out of the writer's order, or twice";
constexpr const char* ClassName = "an object names its class";
constexpr const char* EscapedName = "a member's name holds an escape";
constexpr const char* Deep = "its tree is deeper than the model's";
constexpr const char* DeepValue = "a member not known nests deeper than the scanner reads";
constexpr const char* WrappedList = "a list of one idea with members not known (the old wrapped form)";
constexpr const char* LinkMembers = "a link idea holds members of other ideas";
constexpr const char* AfterPayload = "more follows the payload";
constexpr const char* TooLong = "its text or the strings its links show are beyond 4 GiB";
} // namespace Declined

// The members of each object the scanner reads, in the order the writer writes them.
constexpr std::string_view kRootMembers[] = {"ideaDocumentDataObject"};
constexpr std::string_view kPayloadMembers[] = {"fileFormatVersion", "idea", "dateCreated", "dateModified",
                                                "appInstance"};
// An idea's: the members' table's keys in its order, then its children's.
constexpr auto kIdeaMembers = [] {
    std::array<std::string_view, kIdeaMemberCount + 1> keys{};
    for (std::size_t i = 0; i <= kIdeaMemberCount; ++i)
        keys[i] = IdeaMembers::keyOf(i);
    return keys;
}();
// The members whose place the idea's reading knows: an idea opens with its identifier and
// type, a link's target is read for its strings, and the children come last.
constexpr int kIdentifier = int(IdeaMember::Identifier);
constexpr int kIdeaType = int(IdeaMember::IdeaType);
constexpr int kLinkedIdea = int(IdeaMember::LinkedIdea);
constexpr int kIdeas = int(kIdeaMemberCount);
static_assert(kIdentifier == 0 && kIdeaType == 1, "an idea opens with its identifier and type");

// `prefix`, the quoted key of row I (or the children's), a colon and `open` (none for 0): what
// the writer writes before the value, made at compile time.
template <std::size_t I, char Prefix, char Open> struct WrittenKey
{
    static constexpr std::string_view key = IdeaMembers::keyOf(I);
    static constexpr std::size_t size = key.size() + 4 + (Open != 0 ? 1 : 0);
    static constexpr std::array<char, size + 1> text = [] {
        std::array<char, size + 1> made{};
        std::size_t at = 0;
        made[at++] = Prefix;
        made[at++] = '"';
        for (const char c : key)
            made[at++] = c;
        made[at++] = '"';
        made[at++] = ':';
        if (Open != 0)
            made[at++] = Open;
        return made;
    }();
};
constexpr std::string_view kIconMembers[] = {"name", "category", "symbol"};
constexpr int kIconSymbol = 2;

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

// Whether any character of each block of 64 in the Basic Multilingual Plane has a lower case
// of its own: most blocks of the scripts without case (Chinese, Japanese, Korean, Arabic,
// Hebrew, the Indic scripts) have none, and their characters are copied as they are.
constexpr char32_t kBlockBits = 6;
constexpr char32_t kPlaneEnd = 0x10000;

const std::array<bool, (kPlaneEnd >> kBlockBits)>& casedBlocks()
{
    static const std::array<bool, (kPlaneEnd >> kBlockBits)> table = [] {
        std::array<bool, (kPlaneEnd >> kBlockBits)> cased{};
        for (char32_t code = 0; code < kPlaneEnd; ++code) {
            if (QChar::toLower(code) != code)
                cased[code >> kBlockBits] = true;
        }
        return cased;
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
        : mBegin(json.data()), mP(json.data()), mEnd(json.data() + json.size()),
          mBuffer(json.size() + kSlack, Qt::Uninitialized), mScratch(scratch)
    {
        mScratch.ends.clear();
        mScratch.levels.clear();
        mScratch.ideas.clear();
        mScratch.links.clear();
        if (mScratch.lists.size() <= std::size_t(Idea::MaxDepth))
            mScratch.lists.resize(std::size_t(Idea::MaxDepth) + 1);
        mBase = mBuffer.data();
        mOut = mBase;
        mOutEnd = mBase + mBuffer.size();
    }

    bool payload()
    {
        if (!literal(R"({"ideaDocumentDataObject":{)"))
            return decline(Declined::NoPayload);
        int next = 0;
        int keys = 0;
        bool unknown = false;
        bool version = false;
        bool tree = false;
        for (bool first = true;;) {
            const int member = knownMember(kPayloadMembers, first, next, keys, unknown);
            if (member == kEnd)
                break;
            if (member == kBadName)
                return false;
            switch (member) {
            case 0:
                // The versions the payload readers open: 1 to 4, as the writer writes them.
                if (mEnd - mP < 2 || mP[0] < '1' || mP[0] > '4' || (mP[1] != ',' && mP[1] != '}'))
                    return decline(Declined::Version);
                ++mP;
                version = true;
                break;
            case 1:
                if (!this->tree())
                    return false;
                tree = true;
                break;
            default:
                if (!literal("\"") || !skipString())
                    return decline(Declined::Shape);
                break;
            }
        }
        if (!version)
            return decline(Declined::Version);
        if (!tree)
            return decline(Declined::NoPayload);
        // The root object's first member names the class of the whole text; others are read
        // past.
        bool first = false;
        int rootNext = 1;
        if (knownMember(kRootMembers, first, rootNext, keys, unknown) != kEnd)
            return false;
        // JSON's white space may follow the value, nothing else.
        for (; mP < mEnd; ++mP) {
            if (*mP != ' ' && *mP != '\n' && *mP != '\r' && *mP != '\t')
                return decline(Declined::AfterPayload);
        }
        return true;
    }

    // The map, once the payload is read; the buffer is cut to its strings in place. Nothing
    // when the strings the links show would not fit a map.
    std::optional<IdeaTextMap> map()
    {
        mBuffer.truncate(mOut - mBase);
        if (!mScratch.links.empty()) {
            const auto decoded = [this](quint32 at, quint32 end) { return identifierKey(at, end); };
            std::optional<IdeaTextMap> map =
                LinkedStrings::mapWithLinks(QByteArrayView(mBegin, mEnd - mBegin), mScratch.ideas,
                                            mScratch.links, decoded, mBuffer, mScratch.ends, mScratch.levels);
            if (!map)
                decline(Declined::TooLong);
            return map;
        }
        mBuffer.squeeze();
        return IdeaTextMap(std::move(mBuffer), mScratch.ends, mScratch.levels);
    }

    const char* declined() const { return mReason; }
    qint64 declinedAt() const { return mReasonAt; }
    qint64 skipped() const { return mSkipped; }

private:
    // What the scan knows of the idea being read.
    struct IdeaState
    {
        int next = 0; // the writer's place of the first member still allowed
        int keys = 0;
        bool unknown = false; // a member not known was read past
        bool link = false;
        bool children = false; // its list of children is open
        quint32 identifierAt = LinkedStrings::None;
        quint32 identifierEnd = 0;
        quint32 targetAt = LinkedStrings::None;
        quint32 targetEnd = 0;
        bool identifierEscaped = false;
        bool targetEscaped = false;

        // An idea the payload reader would not take as the only element of a list: it could
        // be the old wrapped form of one, which only the decoder reads.
        bool inQuestion() const { return unknown || keys < 2; }
    };

    // The per-level marks of the lists of children being read.
    static constexpr quint8 kFirstInQuestion = 1; // its first idea is in question, and alone so far
    static constexpr quint8 kFirstOpen = 2;       // the idea whose children are read is its first

    // memberName's answers besides a known member's place.
    static constexpr int kUnknownName = -1;
    static constexpr int kBadName = -2; // the text is declined
    static constexpr int kEnd = -3;     // the object's end came instead

    // The unknown members' values nest at most this deep, so that the deepest tree with one
    // stays within the depth the payload readers read (JsonText::DefaultMaxDepth).
    static constexpr int kValueDepth = 64;
    static_assert(3 + 2 * (Idea::MaxDepth - 1) + 1 + kValueDepth <= JsonText::DefaultMaxDepth);

    // Why the text is left to the payload readers; the first reason found stands. Answers
    // false, for the caller to answer.
    bool decline(const char* reason)
    {
        if (mReason == nullptr) {
            mReason = reason;
            mReasonAt = mP - mBegin;
        }
        return false;
    }

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
    template <std::size_t N> [[gnu::always_inline]] bool literal(const std::array<char, N>& text)
    {
        constexpr std::size_t size = N - 1;
        if (mEnd - mP < qsizetype(size) || !sameBytes<size>(mP, text.data()))
            return false;
        mP += size;
        return true;
    }

    bool next(char c)
    {
        if (mP == mEnd || *mP != c)
            return false;
        ++mP;
        return true;
    }

    // The ideas depth first, each before its children, as the writer writes them.
    bool tree()
    {
        std::vector<quint8>& lists = mScratch.lists;
        qint64 depth = 0;
        bool first = false; // the idea read next is the first of its list (the root is in none)
        for (;;) {
            IdeaState state;
            const quint32 stringsBegin = quint32(mScratch.ends.size());
            if (!idea(depth, state))
                return false;
            keep(state, stringsBegin, depth);
            if (first)
                lists[std::size_t(depth)] = state.inQuestion() ? kFirstInQuestion : 0;
            if (state.children) {
                // The payload readers take no idea below the model's depth (the root idea is
                // at depth 0 here and level 1 there).
                if (depth + 1 >= Idea::MaxDepth)
                    return decline(Declined::Deep);
                if (first)
                    lists[std::size_t(depth)] |= kFirstOpen;
                ++depth;
                first = true;
                continue;
            }
            // The idea is closed: a sibling follows, or its parent's list closes.
            first = false;
            for (;;) {
                if (depth == 0)
                    return true;
                // A second idea: the list is no wrapped form, and its first is closed.
                if (next(',')) {
                    lists[std::size_t(depth)] = 0;
                    break;
                }
                if (!next(']'))
                    return decline(Declined::Shape);
                if ((lists[std::size_t(depth)] & kFirstInQuestion) != 0)
                    return decline(Declined::WrappedList);
                --depth;
                if (next('}'))
                    continue;
                // Members after the children: only ones not known can follow them.
                IdeaState rest;
                rest.next = kIdeas + 1;
                if (!members(depth, rest, false))
                    return false;
                if (rest.unknown && (lists[std::size_t(depth)] & kFirstOpen) != 0)
                    lists[std::size_t(depth)] |= kFirstInQuestion;
            }
        }
    }

    // What the links need of an idea, kept as the scan passes it.
    void keep(const IdeaState& state, quint32 stringsBegin, qint64 depth)
    {
        const quint32 stringsEnd = quint32(mScratch.ends.size());
        qint32 link = -1;
        if (state.link) {
            link = qint32(mScratch.links.size());
            mScratch.links.push_back(LinkedStrings::LinkEntry{quint32(mScratch.ideas.size()), state.targetAt,
                                                              state.targetEnd, state.targetEscaped,
                                                              qint32(depth), stringsEnd});
        }
        mScratch.ideas.push_back(LinkedStrings::IdeaEntry{state.identifierAt, state.identifierEnd,
                                                          state.identifierEscaped, stringsBegin, stringsEnd,
                                                          link});
    }

    // One idea's own members, up to its end or its list of children (state.children). The
    // writer's members in its order are read at once; anything else goes to members().
    bool idea(qint64 depth, IdeaState& state)
    {
        if (literal(WrittenKey<kIdentifier, '{', '"'>::text)) {
            if (!stringPlace(state.identifierAt, state.identifierEnd, state.identifierEscaped))
                return false;
            state.next = kIdeaType;
            state.keys = 1;
            if (!literal(WrittenKey<kIdeaType, ',', 0>::text))
                return members(depth, state, false);
        } else if (!literal(WrittenKey<kIdeaType, '{', 0>::text)) {
            if (!next('{'))
                return decline(Declined::Shape);
            return members(depth, state, true);
        }
        if (!ideaType(state))
            return false;
        state.next = kIdeaType + 1;
        ++state.keys;
        if (state.link)
            return members(depth, state, false);
        // The table's other members in its order, each read at once when it is next.
        Step step = Step::GoOn;
        [&]<std::size_t... I>(std::index_sequence<I...>)
        {
            (void)((step = writerRow<I>(depth, state), step == Step::GoOn) && ...);
        }
        (std::make_index_sequence<kIdeaMemberCount>());
        if (step != Step::GoOn)
            return step == Step::Done;
        if (literal(WrittenKey<kIdeas, ',', '['>::text)) {
            state.next = kIdeas + 1;
            ++state.keys;
            if (literal("]}"))
                return true;
            if (next(']'))
                return members(depth, state, false);
            state.children = true;
            return true;
        }
        if (next('}'))
            return true;
        return members(depth, state, false);
    }

    // Where the reading of an idea's members in the writer's shape stands after a member.
    enum class Step
    {
        GoOn,     // on to the next member
        Done,     // the idea's members were read (member by member)
        Declined, // the text is declined
    };

    // Row I's member when it is next, as the writer writes it. A number is always written:
    // without it, the rest is read member by member.
    template <std::size_t I> [[gnu::always_inline]] Step writerRow(qint64 depth, IdeaState& state)
    {
        constexpr const IdeaMemberRow& row = kIdeaMemberRows[I];
        if constexpr (int(I) <= kIdeaType || row.ideas == IdeaMemberIdeas::Links) {
            return Step::GoOn;
        } else if constexpr (row.type == IdeaMemberType::Integer) {
            if (!literal(WrittenKey<I, ',', 0>::text))
                return members(depth, state, false) ? Step::Done : Step::Declined;
            if (!integer()) {
                decline(Declined::Number);
                return Step::Declined;
            }
            state.next = int(I) + 1;
            ++state.keys;
            return Step::GoOn;
        } else {
            constexpr bool icon = row.type == IdeaMemberType::Icon;
            constexpr Value value = icon ? Value::Icon : row.searched ? Value::Searched : Value::String;
            return writerMember(WrittenKey < I, ',', icon ? '{' : '"' > ::text, int(I), value, depth, state)
                       ? Step::GoOn
                       : Step::Declined;
        }
    }

    // What a member's value is read as.
    enum class Value
    {
        String,   // read past
        Searched, // a string the map takes
        Icon,
    };

    // The member `key` (its name and what opens its value) when it is next, as the writer
    // writes it: read, and the idea's state moved past it. False when the text is declined.
    template <std::size_t N>
    [[gnu::always_inline]] bool writerMember(const std::array<char, N>& key, int member, Value value,
                                             qint64 depth, IdeaState& state)
    {
        if (!literal(key))
            return true;
        const bool read = value == Value::Searched ? lowerCasedString(depth)
                          : value == Value::Icon   ? icon(depth)
                                                   : skipString();
        if (!read)
            return false;
        state.next = member + 1;
        ++state.keys;
        return true;
    }

    // The roads off the writer's shape (members(), iconMembers(), skipValue()) are called,
    // not inlined: the loop over the writer's ideas stays small.
    //
    // An idea's members from here to its end or its list of children, whatever their names:
    // the known ones in the writer's order, the others read past. `first`: no member came yet.
    [[gnu::noinline]] bool members(qint64 depth, IdeaState& state, bool first)
    {
        for (;;) {
            const int member = knownMember(kIdeaMembers, first, state.next, state.keys, state.unknown);
            if (member == kEnd)
                return true;
            if (member == kBadName)
                return false;
            // A link's content is its target's: the writer writes nothing else of it.
            if (state.link &&
                (member == kIdeas || kIdeaMemberRows[std::size_t(member)].ideas == IdeaMemberIdeas::Content))
                return decline(Declined::LinkMembers);
            if (member == kIdeas) {
                if (!next('['))
                    return decline(Declined::Shape);
                if (next(']'))
                    continue;
                state.children = true;
                return true;
            }
            bool read = false;
            const IdeaMemberRow& row = kIdeaMemberRows[std::size_t(member)];
            switch (member) {
            case kIdentifier:
                read = next('"') &&
                       stringPlace(state.identifierAt, state.identifierEnd, state.identifierEscaped);
                break;
            case kIdeaType:
                read = ideaType(state);
                break;
            case kLinkedIdea:
                read = next('"') && stringPlace(state.targetAt, state.targetEnd, state.targetEscaped);
                break;
            default:
                switch (row.type) {
                case IdeaMemberType::Integer:
                    read = integer();
                    break;
                case IdeaMemberType::Icon:
                    read = next('{') && icon(depth);
                    break;
                case IdeaMemberType::Text:
                case IdeaMemberType::ColorName:
                case IdeaMemberType::Data:
                    read = next('"') && (row.searched ? lowerCasedString(depth) : skipString());
                    break;
                }
                break;
            }
            if (!read)
                return decline(Declined::Shape);
        }
    }

    // An idea's type: the usual ones at a glance, a link (4), or any other number the writer
    // writes (which shows its strings as a text idea does).
    bool ideaType(IdeaState& state)
    {
        if (mEnd - mP >= 2 && mP[0] >= '0' && mP[0] <= '3' && mP[1] == ',') {
            ++mP;
            return true;
        }
        const char* start = mP;
        if (!integer())
            return decline(Declined::Number);
        state.link = mP - start == 1 && *start == '4';
        return true;
    }

    // An idea's icon: the writer's members in its order at once, anything else in iconMembers().
    bool icon(qint64 depth)
    {
        int nextMember = 0;
        bool first = true;
        if (literal(R"("name":")")) {
            if (!skipString())
                return false;
            nextMember = 1;
            first = false;
        }
        if (first ? literal(R"("category":")") : literal(R"(,"category":")")) {
            if (!skipString())
                return false;
            nextMember = 2;
            first = false;
        }
        if (first ? literal(R"("symbol":")") : literal(R"(,"symbol":")")) {
            if (!lowerCasedString(depth))
                return false;
            nextMember = 3;
            first = false;
        }
        return next('}') || iconMembers(depth, nextMember, first);
    }

    [[gnu::noinline]] bool iconMembers(qint64 depth, int nextMember, bool first)
    {
        int keys = 0;
        bool unknown = false;
        for (;;) {
            const int member = knownMember(kIconMembers, first, nextMember, keys, unknown);
            if (member == kEnd)
                return true;
            if (member == kBadName)
                return false;
            if (!next('"'))
                return decline(Declined::Shape);
            // The symbol is searched; the name and category are not.
            if (!(member == kIconSymbol ? lowerCasedString(depth) : skipString()))
                return false;
        }
    }

    // The next member an object's reading takes, after its comma unless it is the `first`:
    // its place among `names`, which must not come before `nextAllowed` (the writer's order),
    // then moved past it; kEnd at the end of the object, kBadName when the text is declined.
    // Members of other names before it are read past, marking `unknown`; `keys` counts every
    // member.
    template <class Names>
    int knownMember(const Names& names, bool& first, int& nextAllowed, int& keys, bool& unknown)
    {
        for (;;) {
            if (next('}'))
                return kEnd;
            if (!first && !next(',')) {
                decline(Declined::Shape);
                return kBadName;
            }
            first = false;
            const int member = memberName(names);
            if (member == kBadName)
                return kBadName;
            ++keys;
            if (member == kUnknownName) {
                unknown = true;
                if (!skipUnknown())
                    return kBadName;
                continue;
            }
            if (member < nextAllowed) {
                decline(Declined::Order);
                return kBadName;
            }
            nextAllowed = member + 1;
            return member;
        }
    }

    // A member's name and its colon: its place among `names`, kUnknownName for a name not
    // there, kBadName when the text is declined (a name with an escape could be any, and a
    // class named is the decoder's to read).
    template <class Names> int memberName(const Names& names)
    {
        if (!next('"')) {
            decline(Declined::Shape);
            return kBadName;
        }
        const char* start = mP;
        if (!skipString())
            return kBadName;
        const std::string_view name(start, std::size_t(mP - 1 - start));
        if (!next(':')) {
            decline(Declined::Shape);
            return kBadName;
        }
        for (std::size_t i = 0; i < std::size(names); ++i) {
            if (names[i] == name)
                return int(i);
        }
        if (name == "@class") {
            decline(Declined::ClassName);
            return kBadName;
        }
        if (name.find('\\') != std::string_view::npos) {
            decline(Declined::EscapedName);
            return kBadName;
        }
        return kUnknownName;
    }

    // A member not known: its value is checked and read past, and counted.
    bool skipUnknown()
    {
        ++mSkipped;
        return skipValue();
    }

    // A JSON value: strings, numbers, literals, and arrays and objects of them nested at most
    // kValueDepth deep, without white space.
    [[gnu::noinline]] bool skipValue()
    {
        std::uint64_t objects = 0; // one bit for each container open, set for an object
        int open = 0;
        for (;;) {
            if (mP == mEnd)
                return decline(Declined::Shape);
            const char c = *mP;
            if (c == '{' || c == '[') {
                if (open == kValueDepth)
                    return decline(Declined::DeepValue);
                ++mP;
                const bool object = c == '{';
                if (!next(object ? '}' : ']')) {
                    objects = (objects << 1) | std::uint64_t(object);
                    ++open;
                    if (object && !memberKey())
                        return false;
                    continue;
                }
            } else if (c == '"') {
                ++mP;
                if (!skipString())
                    return false;
            } else if (!literal("true") && !literal("false") && !literal("null") && !number()) {
                return decline(Declined::Shape);
            }
            // After a value: the next one of its container, or the container's end.
            for (;;) {
                if (open == 0)
                    return true;
                const bool object = (objects & 1) != 0;
                if (next(',')) {
                    if (object && !memberKey())
                        return false;
                    break;
                }
                if (!next(object ? '}' : ']'))
                    return decline(Declined::Shape);
                objects >>= 1;
                --open;
            }
        }
    }

    // A key inside a value read past, with its colon.
    bool memberKey()
    {
        if (!next('"') || !skipString() || !next(':'))
            return decline(Declined::Shape);
        return true;
    }

    // The end of the digits from `p`.
    const char* digitsFrom(const char* p) const
    {
        while (p < mEnd && *p >= '0' && *p <= '9')
            ++p;
        return p;
    }

    // The end of a JSON number's sign and whole part at mP, of at most `most` digits; nullptr
    // when there is none.
    const char* wholePart(qsizetype most) const
    {
        const char* p = mP;
        if (p < mEnd && *p == '-')
            ++p;
        const char* end = digitsFrom(p);
        const qsizetype count = end - p;
        if (count == 0 || count > most || (count > 1 && *p == '0'))
            return nullptr;
        return end;
    }

    // A JSON number whose value is sure to be finite, as the payload readers need it: at
    // most 100 digits before the point and an exponent of at most two digits.
    bool number()
    {
        const char* p = wholePart(100);
        if (p == nullptr)
            return false;
        if (p < mEnd && *p == '.') {
            const char* fraction = ++p;
            p = digitsFrom(p);
            if (p == fraction)
                return false;
        }
        if (p < mEnd && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < mEnd && (*p == '+' || *p == '-'))
                ++p;
            const char* exponent = p;
            p = digitsFrom(p);
            if (p == exponent || p - exponent > 2)
                return false;
        }
        mP = p;
        return true;
    }

    // A JSON integer that fits 64 bits, followed by the end of its member.
    bool integer()
    {
        const char* p = wholePart(18);
        if (p == nullptr || p == mEnd || (*p != ',' && *p != '}'))
            return false;
        mP = p;
        return true;
    }

    // The rest of a string after its opening quote, read past; where its bytes stand, and
    // whether they hold an escape.
    bool stringPlace(quint32& at, quint32& end, bool& escaped)
    {
        at = quint32(mP - mBegin);
        mEscaped = false;
        if (!skipString())
            return false;
        end = quint32(mP - 1 - mBegin);
        escaped = mEscaped;
        return true;
    }

    // The identifier whose string bytes stand from `at` to `end` and hold an escape, its
    // escapes read, as the payload readers' strings compare (bytes without one are well-formed
    // UTF-8 already).
    QByteArray identifierKey(quint32 at, quint32 end)
    {
        const char* from = mBegin + at;
        const char* to = mBegin + end;
        QByteArray decoded;
        const char* const kept = mP;
        mP = from;
        while (mP < to) {
            if (*mP != '\\') {
                decoded.append(*mP++);
                continue;
            }
            char units[4];
            decoded.append(units, writeUtf8(units, escape()) - units);
        }
        mP = kept;
        return decoded;
    }

    // The rest of a string after its opening quote, checked and read past.
    bool skipString()
    {
        const char* p = mP;
        const char* const end = mEnd;
        for (;;) {
            p = plainJsonStringRun(p, end);
            if (p == end)
                return decline(Declined::String);
            const quint8 c = quint8(*p);
            if (c == '"') {
                mP = p + 1;
                return true;
            }
            if (c == '\\') {
                mEscaped = true;
                mP = p;
                if (!skipEscape())
                    return decline(Declined::String);
                p = mP;
                continue;
            }
            if (c < 0x20)
                return decline(Declined::String);
            int length = 0;
            decodeSequence(p, end, length);
            if (length == 0)
                return decline(Declined::String);
            p += length;
        }
    }

    bool skipEscape()
    {
        if (mEnd - mP < 2)
            return decline(Declined::String);
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
                return decline(Declined::String);
            mP += 6;
            return true;
        default:
            return decline(Declined::String);
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

    // The same for the character whose UTF-8 is at `p`: a character of three bytes in a block
    // without case is copied as it is.
    static char* writeLowerCased(char* out, char32_t code, const char* p)
    {
        if (code >= kTwoByteEnd && code < kPlaneEnd && !casedBlocks()[code >> kBlockBits]) {
            std::memcpy(out, p, 3);
            return out + 3;
        }
        return writeLowerCased(out, code);
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
                return decline(Declined::String);
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
                        return decline(Declined::String);
                    p = mP;
                    out = writeLowerCased(out, code);
                    continue;
                }
                if (c < 0x20)
                    return decline(Declined::String);
                *out++ = char(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
                ++p;
                continue;
            }
            // Characters beyond Latin-1 come in runs (a word of Cyrillic, a line of Chinese),
            // which the fast road would stop at one by one: taken here up to the next ASCII.
            for (;;) {
                int length = 0;
                const char32_t code = decodeSequence(p, end, length);
                if (length == 0)
                    return decline(Declined::String);
                out = writeLowerCased(out, code, p);
                p += length;
                if (p == end || quint8(*p) < 0x80)
                    break;
                out = ensureRoom(out);
            }
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

    const char* const mBegin;
    const char* mP;
    const char* const mEnd;
    QByteArray mBuffer;
    Scratch& mScratch;
    char* mBase; // mBuffer's bytes
    char* mOut;
    char* mOutEnd;
    const char* mReason = nullptr;
    qint64 mReasonAt = 0;
    qint64 mSkipped = 0;
    bool mEscaped = false; // the last string read past held an escape
};

template <bool Wide>
std::optional<IdeaTextMap> scanned(QByteArrayView json, Scratch& scratch, PayloadTextScanner::Report& report)
{
    Scanner<Wide> scanner(json, scratch);
    std::optional<IdeaTextMap> map;
    if (scanner.payload())
        map = scanner.map();
    report.skippedMembers = scanner.skipped();
    report.declined = scanner.declined();
    report.declinedAt = scanner.declinedAt();
    return map;
}

#if defined(CORVEX_SCANNER_AVX2)
// The whole scan compiled for AVX2, so that its string loops keep their constants in
// registers from step to step.
[[gnu::target("avx2"), gnu::flatten]] std::optional<IdeaTextMap>
scannedAvx2(QByteArrayView json, Scratch& scratch, PayloadTextScanner::Report& report)
{
    return scanned<true>(json, scratch, report);
}
#endif

} // namespace

QString PayloadTextScanner::Report::describe() const
{
    if (declined == nullptr)
        return QString();
    return QStringLiteral("%1 (at byte %2)").arg(QString::fromUtf8(declined)).arg(declinedAt);
}

std::optional<IdeaTextMap> PayloadTextScanner::scan(QByteArrayView json, Steps steps, Report* report)
{
    Report ignored;
    Report& told = report ? *report : ignored;
    told = Report();
    // Places in the text are kept in 32 bits.
    if (json.size() >= qsizetype(LinkedStrings::None)) {
        told.declined = Declined::TooLong;
        return std::nullopt;
    }
    Scratch& scratch = tScratch;
#if defined(CORVEX_SCANNER_AVX2)
    std::optional<IdeaTextMap> map = steps == Steps::Widest && processorHasAvx2()
                                         ? scannedAvx2(json, scratch, told)
                                         : scanned<false>(json, scratch, told);
#else
    Q_UNUSED(steps);
    std::optional<IdeaTextMap> map = scanned<false>(json, scratch, told);
#endif
    scratch.release();
    return map;
}

} // namespace corvex
