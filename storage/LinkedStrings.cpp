#include "storage/LinkedStrings.h"

#include "model/Idea.h"

#include <QHash>
#include <algorithm>
#include <bit>
#include <cstring>

namespace corvex {

namespace {

// A hash of an identifier's bytes, eight at a time.
inline quint64 hashOf(QByteArrayView bytes)
{
    quint64 hash = 0x9E3779B97F4A7C15ull ^ quint64(bytes.size());
    qsizetype at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        quint64 word;
        std::memcpy(&word, bytes.data() + at, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
    }
    quint64 tail = 0;
    std::memcpy(&tail, bytes.data() + at, std::size_t(bytes.size() - at));
    hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 29);
}

// The hashes of the identifiers the links name: the first look that spares nearly every
// idea the table of the identifiers themselves (open addressing; 0 marks a free place).
class TargetHashes
{
public:
    explicit TargetHashes(std::size_t count) : mPlaces(std::bit_ceil(count * 4 + 4), 0) {}

    void insert(quint64 hash)
    {
        std::size_t at = place(hash);
        while (mPlaces[at] != 0 && mPlaces[at] != nonZero(hash))
            at = (at + 1) & (mPlaces.size() - 1);
        mPlaces[at] = nonZero(hash);
    }

    bool contains(quint64 hash) const
    {
        for (std::size_t at = place(hash);; at = (at + 1) & (mPlaces.size() - 1)) {
            if (mPlaces[at] == nonZero(hash))
                return true;
            if (mPlaces[at] == 0)
                return false;
        }
    }

private:
    static quint64 nonZero(quint64 hash) { return hash == 0 ? 1 : hash; }
    std::size_t place(quint64 hash) const { return std::size_t(hash) & (mPlaces.size() - 1); }

    std::vector<quint64> mPlaces;
};

} // namespace

std::vector<qint32> LinkedStrings::contents(QByteArrayView text, const std::vector<IdeaEntry>& ideas,
                                            const std::vector<LinkEntry>& links, const Decoded& decoded)
{
    const auto key = [&](quint32 at, quint32 end, bool escaped) {
        return escaped ? decoded(at, end) : QByteArray::fromRawData(text.data() + at, qsizetype(end - at));
    };
    // Only the identifiers the links name are looked for: a small table, however many ideas
    // the text holds. Each takes the first idea in pre-order, as the tree's link pass does.
    QHash<QByteArray, qint32> targets;
    TargetHashes hashes(links.size());
    for (const LinkEntry& link : links) {
        if (link.targetAt == None)
            continue;
        const QByteArray target = key(link.targetAt, link.targetEnd, link.escaped);
        targets.insert(target, -1);
        hashes.insert(hashOf(target));
    }
    qsizetype unfound = targets.size();
    for (std::size_t i = 0; i < ideas.size() && unfound > 0; ++i) {
        const IdeaEntry& idea = ideas[i];
        if (idea.identifierAt == None)
            continue;
        // Bytes without an escape are the identifier itself.
        if (!idea.escaped && !hashes.contains(hashOf(text.sliced(
                                 idea.identifierAt, qsizetype(idea.identifierEnd - idea.identifierAt)))))
            continue;
        const auto it = targets.find(key(idea.identifierAt, idea.identifierEnd, idea.escaped));
        if (it != targets.end() && it.value() < 0) {
            it.value() = qint32(i);
            --unfound;
        }
    }
    std::vector<qint32> direct(links.size(), -1);
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (links[l].targetAt != None)
            direct[l] = targets.value(key(links[l].targetAt, links[l].targetEnd, links[l].escaped), -1);
    }
    // The end of each chain, read as a link's content is: past at most MaxLinkHops links.
    std::vector<qint32> content(links.size(), -1);
    for (std::size_t l = 0; l < links.size(); ++l) {
        qint32 current = qint32(links[l].idea);
        for (int hops = 0; current >= 0; ++hops) {
            const qint32 link = ideas[std::size_t(current)].link;
            if (link < 0) {
                content[l] = current;
                break;
            }
            if (hops == Idea::MaxLinkHops)
                break;
            current = direct[std::size_t(link)];
        }
    }
    return content;
}

std::optional<IdeaTextMap> LinkedStrings::mapWithLinks(QByteArrayView text,
                                                       const std::vector<IdeaEntry>& ideas,
                                                       const std::vector<LinkEntry>& links,
                                                       const Decoded& decoded, const QByteArray& buffer,
                                                       const std::vector<quint32>& ends,
                                                       const std::vector<qint32>& levels)
{
    const std::vector<qint32> content = contents(text, ideas, links, decoded);
    const auto begin = [&ends](quint32 string) { return string == 0 ? quint32(0) : ends[string - 1]; };
    quint64 total = ends.empty() ? 0 : ends.back();
    std::size_t count = ends.size();
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (content[l] < 0)
            continue;
        const IdeaEntry& shown = ideas[std::size_t(content[l])];
        if (shown.stringsEnd > shown.stringsBegin) {
            total += ends[shown.stringsEnd - 1] - begin(shown.stringsBegin);
            count += shown.stringsEnd - shown.stringsBegin;
        }
    }
    if (total > quint64(None))
        return std::nullopt;

    QByteArray newBuffer(qsizetype(total), Qt::Uninitialized);
    std::vector<quint32> newEnds;
    std::vector<qint32> newLevels;
    newEnds.reserve(count);
    newLevels.reserve(count);
    char* out = newBuffer.data();
    quint32 written = 0;
    // The strings from `first` up to `last`, each at its own level or at `level` when given.
    const auto copy = [&](quint32 first, quint32 last, const qint32* level) {
        if (last <= first)
            return;
        const quint32 from = begin(first);
        const quint32 size = ends[last - 1] - from;
        std::memcpy(out + written, buffer.constData() + from, size);
        for (quint32 i = first; i < last; ++i) {
            newEnds.push_back(written + (ends[i] - from));
            newLevels.push_back(level ? *level : levels[i]);
        }
        written += size;
    };
    quint32 next = 0;
    for (std::size_t l = 0; l < links.size(); ++l) {
        copy(next, links[l].position, nullptr);
        next = std::max(next, links[l].position);
        if (content[l] >= 0) {
            const IdeaEntry& shown = ideas[std::size_t(content[l])];
            copy(shown.stringsBegin, shown.stringsEnd, &links[l].level);
        }
    }
    copy(next, quint32(ends.size()), nullptr);
    return IdeaTextMap(std::move(newBuffer), std::move(newEnds), std::move(newLevels));
}

} // namespace corvex
