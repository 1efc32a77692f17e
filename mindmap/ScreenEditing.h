#pragma once

#include "mindmap/MindMapScreenSeams.h"

#include <functional>
#include <memory>

namespace corvex {

class ViewController;

// What the home screen and the mind-map screen do alike with the editors they show over
// themselves: they are the three editors' delegate, keep one block that takes an editor's
// result when it closes (run at most once, never replaced while it waits), present the
// picture viewer and web-link editor sliding up and dismiss both the same way, and carry an
// idea's values into the idea editor and back. Main thread only.
class ScreenEditing : public IdeaEditorDelegate, public PictureViewerDelegate, public WebLinkEditorDelegate
{
public:
    // Whether an editor's block waits for it to close.
    bool editorOpen() const { return static_cast<bool>(mAfterEditing); }
    // Dismisses a slide-up editor, then its block runs (nothing while no block waits).
    void pleaseDismissEditor(ViewController& editor);
    void pleaseDismissPictureView(ViewController& viewer) override;
    void pleaseDismissHTMLPageView(ViewController& editor) override;

    // The idea's title, note, colour, colour theme and icon preset in the editor, and read
    // back from it (a recolouring the editor asked for is the caller's).
    static void presetIdeaEditor(IdeaEditor& editor, const Idea& idea);
    static void takeIdeaEditorValues(const IdeaEditor& editor, Idea& idea);

protected:
    // The screen the editors are presented over.
    virtual ViewController& editingScreen() = 0;
    // After a slide-up editor's dismissal and its block.
    virtual void slideUpEditorDismissed() {}

    // Keeps the block run when the open editor closes; false (logged, nothing kept) while
    // another editor's block waits, which holds that editor's result.
    bool setAfterEditing(std::function<void()> block);
    // Takes the block out and runs it: at most once, even if it opens another editor.
    void runAfterEditing();
    // Presents the editor over the screen, sliding up.
    void presentSlideUp(const std::shared_ptr<BaseViewController>& editor);
    const std::shared_ptr<BaseViewController>& slideUpEditor() const { return mSlideUpEditor; }

private:
    std::function<void()> mAfterEditing;
    std::shared_ptr<BaseViewController> mSlideUpEditor;
};

} // namespace corvex
