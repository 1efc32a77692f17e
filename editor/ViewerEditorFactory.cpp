#include "editor/ViewerEditorFactory.h"

#include "editor/HTMLPageViewController.h"
#include "editor/PictureViewController.h"
#include "editor/PopoverNoteHoverUtility.h"

namespace corvex {

ViewerEditorFactory::ViewerEditorFactory(std::shared_ptr<EditorFactory> previous)
    : mPrevious(std::move(previous))
{}

ViewerEditorFactory::~ViewerEditorFactory() = default;

std::shared_ptr<IdeaEditor> ViewerEditorFactory::makeIdeaEditor()
{
    return mPrevious ? mPrevious->makeIdeaEditor() : nullptr;
}

std::shared_ptr<PictureViewer>
ViewerEditorFactory::makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                       PictureViewer::Loader loader)
{
    return PictureViewController::initWithDelegate(std::move(delegate), std::move(loader));
}

std::shared_ptr<WebLinkEditor>
ViewerEditorFactory::makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                       const QString& urlString)
{
    return HTMLPageViewController::initWithDelegate(std::move(delegate), urlString);
}

void registerViewerEditors()
{
    NoteHoverUtility::setFactory(PopoverNoteHoverUtility::factory());
    const std::shared_ptr<EditorFactory> previous = EditorFactory::current();
    // Already in the chain, directly or under the idea editors' factory.
    if (std::dynamic_pointer_cast<ViewerEditorFactory>(previous))
        return;
    if (previous && previous->makePictureViewer({}, {}))
        return;
    EditorFactory::setCurrent(std::make_shared<ViewerEditorFactory>(previous));
}

} // namespace corvex
