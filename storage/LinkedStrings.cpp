#include "storage/LinkedStrings.h"

#include "model/Idea.h"

#include <QHash>
#include <algorithm>
#include <cstring>

namespace corvex {

std::vector<qint32> LinkedStrings::contents(const std::vector<IdeaEntry>& ideas,
                                            const std::vector<LinkEntry>& links, const Key& key)
{
    // Only the identifiers the links name are looked for: a small table, however many ideas
    // the text holds. Each takes the first idea in pre-order, as the tree's link pass does.
    QHash<QByteArray, qint32> targets;
    for (const LinkEntry& link : links) {
        if (link.targetAt != None)
            targets.insert(key(link.targetAt, link.targetEnd), -1);
    }
    qsizetype unfound = targets.size();
    for (std::size_t i = 0; i < ideas.size() && unfound > 0; ++i) {
        if (ideas[i].identifierAt == None)
            continue;
        const auto it = targets.find(key(ideas[i].identifierAt, ideas[i].identifierEnd));
        if (it != targets.end() && it.value() < 0) {
            it.value() = qint32(i);
            --unfound;
        }
    }
    std::vector<qint32> direct(links.size(), -1);
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (links[l].targetAt != None)
            direct[l] = targets.value(key(links[l].targetAt, links[l].targetEnd), -1);
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

bool LinkedStrings::insert(const std::vector<IdeaEntry>& ideas, const std::vector<LinkEntry>& links,
                           const Key& key, QByteArray& buffer, std::vector<quint32>& ends,
                           std::vector<qint32>& levels)
{
    const std::vector<qint32> content = contents(ideas, links, key);
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
        return false;

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
    buffer = std::move(newBuffer);
    ends = std::move(newEnds);
    levels = std::move(newLevels);
    return true;
}

} // namespace corvex
