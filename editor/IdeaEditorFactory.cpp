#include "editor/IdeaEditorFactory.h"

#include "editor/EditIdeaViewController.h"
#include "editor/IconImageCollection.h"
#include "platform/core/AfterFirstFrame.h"
#include "platform/core/BackgroundDrawing.h"
#include "platform/core/GlobalQueue.h"
#include "platform/ui/Popover.h"

namespace corvex {

IdeaEditorFactory::IdeaEditorFactory(std::shared_ptr<EditorFactory> previous) : mPrevious(std::move(previous))
{}

IdeaEditorFactory::~IdeaEditorFactory() = default;

std::shared_ptr<IdeaEditor> IdeaEditorFactory::makeIdeaEditor()
{
    auto popover = Popover::create(true);
    popover->setBehavior(Popover::Behavior::SemiTransient);
    return EditIdeaViewController::initForPopover(popover);
}

std::shared_ptr<PictureViewer>
IdeaEditorFactory::makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                     PictureViewer::Loader loader)
{
    return mPrevious ? mPrevious->makePictureViewer(std::move(delegate), std::move(loader)) : nullptr;
}

std::shared_ptr<WebLinkEditor>
IdeaEditorFactory::makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate, const QString& urlString)
{
    return mPrevious ? mPrevious->makeWebLinkEditor(std::move(delegate), urlString) : nullptr;
}

void registerIdeaEditors()
{
    const std::shared_ptr<EditorFactory> previous = EditorFactory::current();
    if (std::dynamic_pointer_cast<IdeaEditorFactory>(previous))
        return;
    EditorFactory::setCurrent(std::make_shared<IdeaEditorFactory>(previous));
    // The catalogue is read off the main thread, so that the first icon tab finds it ready;
    // its images are then made at background priority. Both wait for the launch's first
    // frame: the first window needs neither, and its fonts would wait behind the emoji.
    AfterFirstFrame::post([] {
        GlobalQueue::async(
            [] {
                // Not once the application is on its way out: the catalogue's resource may be gone.
                const BackgroundDrawing::Job loading;
                if (loading.admitted())
                    (void)IconImageCollection::instance();
            },
            GlobalQueue::Priority::Background);
    });
}

} // namespace corvex
