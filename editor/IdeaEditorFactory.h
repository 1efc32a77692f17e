#pragma once

#include "mindmap/MindMapScreenSeams.h"

#include <memory>

namespace corvex {

// The editor seam's factory: every idea editor is a new popover with a new
// EditIdeaViewController. The picture viewer and web-link editor are not built here: they
// come from the factory registered before this one, if any (none: null, which the screens
// log and skip).
class IdeaEditorFactory : public EditorFactory
{
public:
    explicit IdeaEditorFactory(std::shared_ptr<EditorFactory> previous = nullptr);
    ~IdeaEditorFactory() override;

    std::shared_ptr<IdeaEditor> makeIdeaEditor() override;
    std::shared_ptr<PictureViewer> makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                                     PictureViewer::Loader loader) override;
    std::shared_ptr<WebLinkEditor> makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                                     const QString& urlString) override;

private:
    std::shared_ptr<EditorFactory> mPrevious;
};

// Registers IdeaEditorFactory as the editor seam's factory (start-up; tests call it
// themselves) and starts reading the emoji catalogue in the background.
void registerIdeaEditors();

} // namespace corvex
