#include "mindmap/ScreenEditing.h"

#include "platform/core/Log.h"
#include "toolkit/SlideUpViewTransitionAnimation.h"

namespace corvex {

void ScreenEditing::pleaseDismissEditor(ViewController& editor)
{
    if (!mAfterEditing)
        return;
    editingScreen().dismissViewController(&editor);
    if (mSlideUpEditor.get() == &editor)
        mSlideUpEditor.reset();
    runAfterEditing();
    slideUpEditorDismissed();
}

void ScreenEditing::pleaseDismissPictureView(ViewController& viewer)
{
    pleaseDismissEditor(viewer);
}

void ScreenEditing::pleaseDismissHTMLPageView(ViewController& editor)
{
    pleaseDismissEditor(editor);
}

void ScreenEditing::presetIdeaEditor(IdeaEditor& editor, const Idea& idea)
{
    editor.setValues(IdeaValues::editedOf(idea));
}

void ScreenEditing::takeIdeaEditorValues(const IdeaEditor& editor, Idea& idea)
{
    editor.values().applyTo(idea);
}

bool ScreenEditing::setAfterEditing(std::function<void()> block)
{
    if (mAfterEditing) {
        Log::warning(QStringLiteral("ScreenEditing: an editor is open already"));
        return false;
    }
    mAfterEditing = std::move(block);
    return true;
}

void ScreenEditing::runAfterEditing()
{
    std::function<void()> block = std::move(mAfterEditing);
    mAfterEditing = nullptr;
    if (block)
        block();
}

void ScreenEditing::presentSlideUp(const std::shared_ptr<BaseViewController>& editor)
{
    mSlideUpEditor = editor;
    editingScreen().presentViewController(editor, std::make_shared<SlideUpViewTransitionAnimation>());
}

} // namespace corvex
