#pragma once

#include "model/Idea.h"
#include "storage/IdeaProxy.h"
#include "storage/IdeaTextMap.h"
#include "storage/SearchResult.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

namespace corvex {

// The searchable texts of a location's documents, by document identifier: for each
// document the lower-cased texts, notes and icon symbols of its tree (IdeaTextMap). A
// document counts as cached when it has an entry, even an empty one (a document that could
// not be read is cached empty, so that it is not read again).
//
// Main thread only; no locks.
class SearchCache
{
public:
    // Drops the document's entry.
    void invalidate(const QString& docIdentifier);
    // Drops every entry.
    void invalidate();

    // Adds the subtree to the map, depth first, a node before its children: the node's text,
    // its note and its icon's symbol (each lower-cased, each only when it has one) at
    // `level`, then each child at level + 1.
    static void addIdeaTreeToMap(IdeaTextMap& map, const IdeaPtr& node, qint64 level);
    // A new map of the tree (empty for a null root) under the identifier, replacing any.
    void addOrUpdate(const IdeaPtr& root, const QString& docIdentifier);
    // A map made elsewhere (a search read) under the identifier, replacing any.
    void addOrUpdate(IdeaTextMap map, const QString& docIdentifier);

    // The cached documents whose strings hold the text (lower-cased here), ranked by
    // SearchResult::rankedBefore. An empty text matches nothing.
    std::vector<SearchResult> search(const QString& text) const;
    // The identifier of the first proxy, in list order, without an entry; null when every
    // one has an entry.
    QString nextDocIdentifierThatIsMissing(const std::vector<IdeaProxyPtr>& proxies) const;
    // Every such identifier, in list order, each once.
    QStringList docIdentifiersThatAreMissing(const std::vector<IdeaProxyPtr>& proxies) const;

    // Room for `entries` entries without growing the table again.
    void reserve(qsizetype entries) { mDict.reserve(entries); }

    bool contains(const QString& docIdentifier) const { return mDict.contains(docIdentifier); }
    qsizetype count() const { return mDict.size(); }
    // The document's map, or null.
    const IdeaTextMap* mapFor(const QString& docIdentifier) const;

private:
    QHash<QString, IdeaTextMap> mDict;
};

} // namespace corvex
