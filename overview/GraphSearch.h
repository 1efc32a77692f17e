#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <optional>
#include <vector>

namespace corvex {

class FlatGraph;

// The map window's search over an overview's mirror: which nodes the search text leaves out.
// An idea is found by its text, or its icon's symbol, holding the text (lower-cased); a link
// by its linked idea's; an idea that holds no text and a link whose idea is gone never are.
// Reads only the mirror's copies, so that a search of a large map runs off the main thread.
class GraphSearch
{
public:
    // One flag a node, 1 for a node left out; every node is kept for an empty text. Nothing
    // when `keepGoing` (when given) turned false first. Any thread.
    static std::optional<std::vector<quint8>> fadedNodes(const FlatGraph& graph, const QString& lowerText,
                                                         const std::atomic<bool>* keepGoing = nullptr);
};

} // namespace corvex
