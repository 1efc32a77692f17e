#include "mindmap/MindMapScreenSeams.h"

namespace corvex {

namespace {

TopBarServices::Factory& topBarFactorySlot()
{
    static TopBarServices::Factory factory;
    return factory;
}

OverviewGraph::Factory& overviewFactorySlot()
{
    static OverviewGraph::Factory factory;
    return factory;
}

std::shared_ptr<EditorFactory>& editorFactorySlot()
{
    static std::shared_ptr<EditorFactory> factory;
    return factory;
}

} // namespace

TopBarServicesDelegate::~TopBarServicesDelegate() = default;
TopBarServices::~TopBarServices() = default;

void TopBarServices::setFactory(Factory factory)
{
    topBarFactorySlot() = std::move(factory);
}

std::shared_ptr<TopBarServices> TopBarServices::create()
{
    return topBarFactorySlot() ? topBarFactorySlot()() : nullptr;
}

OverviewGraphDelegate::~OverviewGraphDelegate() = default;
OverviewGraph::~OverviewGraph() = default;

void OverviewGraph::setFactory(Factory factory)
{
    overviewFactorySlot() = std::move(factory);
}

std::shared_ptr<OverviewGraph> OverviewGraph::create()
{
    return overviewFactorySlot() ? overviewFactorySlot()() : nullptr;
}

IdeaEditorDelegate::~IdeaEditorDelegate() = default;
IdeaEditor::~IdeaEditor() = default;
PictureViewerDelegate::~PictureViewerDelegate() = default;
WebLinkEditorDelegate::~WebLinkEditorDelegate() = default;
EditorFactory::~EditorFactory() = default;

void EditorFactory::setCurrent(std::shared_ptr<EditorFactory> factory)
{
    editorFactorySlot() = std::move(factory);
}

std::shared_ptr<EditorFactory> EditorFactory::current()
{
    return editorFactorySlot();
}

} // namespace corvex
