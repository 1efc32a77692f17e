#pragma once

#include "platform/ui/PopoverDelegate.h"
#include "platform/ui/ViewController.h"
#include "toolkit/Layouter.h"

#include <QString>
#include <memory>

namespace corvex {

class ColoredView;
class NoteDisplayScrollView;
class Popover;
class ReadOnlyTextView;

// Told when the note popover has closed.
class NoteDisplayViewControllerDelegate
{
public:
    virtual ~NoteDisplayViewControllerDelegate();
    virtual void noteDisplayViewDidClose() = 0;
};

// The content of the note popover: a white 320 x 254 view whose scroll view holds the note,
// read-only, in Helvetica Neue 14 with an inset of 5 x 3; a long note scrolls. Made for one
// popover, whose delegate it is. Main thread only.
class NoteDisplayViewController : public ViewController, public PopoverDelegate, public Layouter
{
public:
    static constexpr double Width = 320;
    static constexpr double Height = 254;

    static std::shared_ptr<NoteDisplayViewController> initForPopover(const std::shared_ptr<Popover>& popover);
    explicit NoteDisplayViewController(std::shared_ptr<Popover> popover);
    ~NoteDisplayViewController() override;

    const QString& noteText() const { return mNoteText; }
    void setNoteText(const QString& text) { mNoteText = text; }
    void setDelegate(std::weak_ptr<NoteDisplayViewControllerDelegate> delegate)
    {
        mDelegate = std::move(delegate);
    }

    const std::shared_ptr<Popover>& popover() const { return mPopover; }
    const std::shared_ptr<NoteDisplayScrollView>& noteScrollView() const { return mNoteScrollView; }
    const std::shared_ptr<ReadOnlyTextView>& noteView() const { return mNoteView; }

    // ---- PopoverDelegate ----
    void popoverWillShow(Popover& popover) override;
    void popoverDidShow(Popover& popover) override;
    void popoverDidClose(Popover& popover) override;

    void applyLayout() override;
    void dismissView();

protected:
    void loadView() override;

private:
    void prepareForPresentation();
    void ensureNoteViewSize();
    void updateFrameWithHeight(float height);

    std::shared_ptr<Popover> mPopover;
    std::shared_ptr<NoteDisplayScrollView> mNoteScrollView;
    std::shared_ptr<ReadOnlyTextView> mNoteView;
    std::weak_ptr<NoteDisplayViewControllerDelegate> mDelegate;
    QString mNoteText;
    bool mPreparedOnce = false;
};

} // namespace corvex
