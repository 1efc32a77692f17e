#include "overview/OverviewRegistration.h"

#include "mindmap/MindMapScreenSeams.h"
#include "overview/GraphScrollView.h"

namespace corvex {

void registerOverviewGraph()
{
    OverviewGraph::setFactory([]() -> std::shared_ptr<OverviewGraph> { return GraphScrollView::create(); });
}

} // namespace corvex
