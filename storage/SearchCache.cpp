#include "storage/SearchCache.h"

#include "model/Idea.h"
#include "model/IdeaMembers.h"

#include <QSet>
#include <algorithm>

namespace corvex {

void SearchCache::invalidate(const QString& docIdentifier)
{
    mDict.remove(docIdentifier);
}

void SearchCache::invalidate()
{
    mDict.clear();
}

void SearchCache::addIdeaTreeToMap(IdeaTextMap& map, const IdeaPtr& node, qint64 level)
{
    if (!node)
        return;
    node->traverseNaturally(
        [&map](const IdeaPtr& idea, qint64 depth) {
            IdeaMembers::forEachSearched(*idea, [&](const QString& text) { map.add(text.toLower(), depth); });
        },
        level);
}

void SearchCache::addOrUpdate(const IdeaPtr& root, const QString& docIdentifier)
{
    IdeaTextMap map;
    if (root)
        addIdeaTreeToMap(map, root, 0);
    map.squeeze();
    mDict.emplace(docIdentifier, std::move(map));
}

void SearchCache::addOrUpdate(IdeaTextMap map, const QString& docIdentifier)
{
    // emplace moves the map in (insert would copy it), replacing any entry.
    mDict.emplace(docIdentifier, std::move(map));
}

std::vector<SearchResult> SearchCache::search(const QString& text) const
{
    std::vector<SearchResult> results;
    const QByteArray lowerText = IdeaTextMap::searchKey(text);
    if (lowerText.isEmpty())
        return results;
    for (auto it = mDict.cbegin(); it != mDict.cend(); ++it) {
        qint64 found = 0;
        qint64 minLevel = 0;
        if (it.value().containsUtf8(lowerText, &found, &minLevel))
            results.emplace_back(it.key(), found, minLevel);
    }
    std::sort(results.begin(), results.end(), &SearchResult::rankedBefore);
    return results;
}

QString SearchCache::nextDocIdentifierThatIsMissing(const std::vector<IdeaProxyPtr>& proxies) const
{
    for (const IdeaProxyPtr& proxy : proxies) {
        if (proxy && !proxy->docIdentifier().isNull() && !mDict.contains(proxy->docIdentifier()))
            return proxy->docIdentifier();
    }
    return QString();
}

QStringList SearchCache::docIdentifiersThatAreMissing(const std::vector<IdeaProxyPtr>& proxies) const
{
    QStringList missing;
    // Sized at the first missing document: a search over a full cache allocates nothing.
    QSet<QString> listed;
    for (const IdeaProxyPtr& proxy : proxies) {
        if (!proxy || proxy->docIdentifier().isNull() || mDict.contains(proxy->docIdentifier()))
            continue;
        if (listed.isEmpty())
            listed.reserve(qsizetype(proxies.size()));
        if (!listed.contains(proxy->docIdentifier())) {
            listed.insert(proxy->docIdentifier());
            missing.append(proxy->docIdentifier());
        }
    }
    return missing;
}

const IdeaTextMap* SearchCache::mapFor(const QString& docIdentifier) const
{
    auto it = mDict.constFind(docIdentifier);
    return it == mDict.cend() ? nullptr : &it.value();
}

} // namespace corvex
