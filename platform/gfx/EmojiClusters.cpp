#include "platform/gfx/EmojiClusters.h"

#include <QList>
#include <QTextBoundaryFinder>
#include <unicode/uchar.h>

namespace corvex {

namespace {

constexpr char32_t kTextSelector = 0xFE0E;
constexpr char32_t kEmojiSelector = 0xFE0F;
constexpr char32_t kKeycap = 0x20E3;
constexpr char32_t kJoiner = 0x200D;
constexpr char32_t kFirstSupplementary = 0x10000;

bool has(char32_t c, UProperty property)
{
    return u_hasBinaryProperty(UChar32(c), property) != 0;
}

bool isEmojiPresentation(QStringView cluster)
{
    bool first = true;
    bool startsAsEmoji = false;
    bool textSelector = false;
    bool pictograph = false;
    bool joiner = false;
    for (const char32_t c : cluster.toUcs4()) {
        if (c == kEmojiSelector || c == kKeycap || has(c, UCHAR_REGIONAL_INDICATOR) ||
            has(c, UCHAR_EMOJI_MODIFIER))
            return true;
        // Scripts such as Devanagari use the joiner too: only between pictographs is it emoji.
        pictograph = pictograph || has(c, UCHAR_EXTENDED_PICTOGRAPHIC);
        joiner = joiner || c == kJoiner;
        if (c == kTextSelector)
            textSelector = true;
        if (first) {
            startsAsEmoji = has(c, UCHAR_EMOJI_PRESENTATION) ||
                            (c >= kFirstSupplementary && has(c, UCHAR_EXTENDED_PICTOGRAPHIC));
            first = false;
        }
    }
    return (startsAsEmoji || (pictograph && joiner)) && !textSelector;
}

} // namespace

std::vector<EmojiClusters::Range> EmojiClusters::find(QStringView text)
{
    std::vector<Range> ranges;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > start; start = end, end = finder.toNextBoundary()) {
        if (!isEmojiPresentation(text.mid(start, end - start)))
            continue;
        if (!ranges.empty() && ranges.back().start + ranges.back().length == start)
            ranges.back().length += end - start;
        else
            ranges.push_back({start, end - start});
    }
    return ranges;
}

} // namespace corvex
