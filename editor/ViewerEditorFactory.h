#pragma once

#include "mindmap/MindMapScreenSeams.h"

#include <memory>

namespace corvex {

// The editor seam's factory for the two full-window editors: every picture viewer is a new
// PictureViewController, every web-link editor a new HTMLPageViewController over a page view
// from the WebPageView seam. The idea editor popover comes from the factory registered
// before this one (registerIdeaEditors), whichever of the two registers first.
class ViewerEditorFactory : public EditorFactory
{
public:
    explicit ViewerEditorFactory(std::shared_ptr<EditorFactory> previous = nullptr);
    ~ViewerEditorFactory() override;

    std::shared_ptr<IdeaEditor> makeIdeaEditor() override;
    std::shared_ptr<PictureViewer> makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                                     PictureViewer::Loader loader) override;
    std::shared_ptr<WebLinkEditor> makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                                     const QString& urlString) override;

private:
    std::shared_ptr<EditorFactory> mPrevious;
};

// Registers ViewerEditorFactory in the editor seam and the note popover in the note-hover
// seam (start-up, from app/main.cpp; tests call it themselves). Calling it again changes
// nothing.
void registerViewerEditors();

} // namespace corvex
