#include "overview/GraphSearch.h"

#include "model/IconImage.h"
#include "overview/FlatGraph.h"

namespace corvex {

namespace {

bool finds(const FlatGraph& graph, std::size_t node, const QString& lowerText)
{
    if (!graph.hasIdea(node) || lowerText.isEmpty())
        return true;
    if (!graph.isSearched(node))
        return false;
    if (graph.searchedText(node).toLower().contains(lowerText))
        return true;
    const std::shared_ptr<IconImage>& icon = graph.searchedIcon(node);
    return icon && icon->symbol().contains(lowerText);
}

} // namespace

std::optional<std::vector<quint8>> GraphSearch::fadedNodes(const FlatGraph& graph, const QString& lowerText,
                                                           const std::atomic<bool>* keepGoing)
{
    std::vector<quint8> faded(graph.size(), 0);
    // A stale search is given up every few thousand nodes: the next keystroke's walk waits for
    // no more than that.
    constexpr std::size_t kCheckEvery = 4096;
    for (std::size_t i = 0; i < graph.size(); ++i) {
        if (keepGoing && i % kCheckEvery == 0 && !keepGoing->load(std::memory_order_relaxed))
            return std::nullopt;
        faded[i] = finds(graph, i, lowerText) ? 0 : 1;
    }
    return faded;
}

} // namespace corvex
