#pragma once

#include "storage/IdeaTextMap.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <vector>

namespace corvex {

// The strings of a scanned text's link ideas. A link idea shows the strings of the idea it
// links to, which the scan meets anywhere in the tree, before the link or after it: the
// scan keeps where each idea's identifier stands and which of its strings are its own, and
// this puts each link's strings in at the link's place and level once the whole text is
// read, as the tree the payload readers make shows them (SearchCache::addIdeaTreeToMap).
//
// A link finds the first idea in pre-order with its linked identifier and goes on through a
// chain of links up to Idea::MaxLinkHops of them; a missing target, a cycle or a longer
// chain shows nothing. Any thread; no state.
class LinkedStrings
{
public:
    static constexpr quint32 None = 0xFFFFFFFF;

    // One idea of the text, in pre-order.
    struct IdeaEntry
    {
        quint32 identifierAt = None; // the identifier's bytes in the text (None: it has none)
        quint32 identifierEnd = 0;
        bool escaped = false;     // the identifier's bytes hold an escape
        quint32 stringsBegin = 0; // its own strings among the scan's
        quint32 stringsEnd = 0;
        qint32 link = -1; // its entry among the links, or -1
    };
    // One link idea of the text, in pre-order.
    struct LinkEntry
    {
        quint32 idea = 0;        // its entry among the ideas
        quint32 targetAt = None; // the linked identifier's bytes in the text (None: none)
        quint32 targetEnd = 0;
        bool escaped = false;
        qint32 level = 0;
        quint32 position = 0; // how many strings came before it
    };
    // The identifier whose JSON string bytes (without the quotes) stand from `at` to `end` of
    // the text and hold an escape, as UTF-8 with its escapes read: equal identifiers give
    // equal bytes, as the bytes of identifiers without escapes do.
    using Decoded = std::function<QByteArray(quint32 at, quint32 end)>;

    // The map of the scan's strings (`buffer` end to end, `ends` and `levels` as IdeaTextMap
    // keeps them) with every link's strings in; nothing when they would grow beyond the 4 GiB
    // a map holds. `text`: the scanned text.
    static std::optional<IdeaTextMap> mapWithLinks(QByteArrayView text, const std::vector<IdeaEntry>& ideas,
                                                   const std::vector<LinkEntry>& links,
                                                   const Decoded& decoded, const QByteArray& buffer,
                                                   const std::vector<quint32>& ends,
                                                   const std::vector<qint32>& levels);

private:
    // The idea at the end of each link's chain, or -1.
    static std::vector<qint32> contents(QByteArrayView text, const std::vector<IdeaEntry>& ideas,
                                        const std::vector<LinkEntry>& links, const Decoded& decoded);
};

} // namespace corvex
