#pragma once

#include <QStringView>
#include <vector>

namespace corvex {

// Where a text holds emoji drawn in colour: the grapheme clusters in emoji presentation,
// each one whole (joined sequences, keycaps, flags, skin tones), so that one face shapes the
// cluster into one glyph.
//
// A cluster is in emoji presentation when it holds the emoji variation selector, the keycap
// mark, a regional indicator, a skin-tone modifier or the joiner between pictographs, or when
// it starts with a character that is an emoji by default; pictographs outside the basic plane
// count as emoji too unless the text variation selector asks for text. A "1" or a "©"
// alone stays text.
class EmojiClusters
{
public:
    struct Range
    {
        qsizetype start = 0;
        qsizetype length = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };

    // The clusters in UTF-16 units of `text`, in order; neighbouring clusters are merged.
    static std::vector<Range> find(QStringView text);
};

} // namespace corvex
