#include "editor/NoteDisplayViewController.h"

#include "editor/NoteDisplayScrollView.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Transaction.h"
#include "toolkit/ClipView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/ReadOnlyTextView.h"

namespace corvex {

namespace {

const Size kNoteInset(5, 3);
constexpr double kNotePointSize = 14;

} // namespace

NoteDisplayViewControllerDelegate::~NoteDisplayViewControllerDelegate() = default;

std::shared_ptr<NoteDisplayViewController>
NoteDisplayViewController::initForPopover(const std::shared_ptr<Popover>& popover)
{
    auto controller = std::make_shared<NoteDisplayViewController>(popover);
    if (popover) {
        popover->setAnimates(true);
        popover->setContentViewController(controller);
        popover->setDelegate(controller);
    }
    return controller;
}

NoteDisplayViewController::NoteDisplayViewController(std::shared_ptr<Popover> popover)
    : mPopover(std::move(popover))
{}

NoteDisplayViewController::~NoteDisplayViewController() = default;

void NoteDisplayViewController::loadView()
{
    auto root = ColoredView::createWithLayouter(PlatformColor::white(),
                                                std::dynamic_pointer_cast<Layouter>(shared_from_this()));
    root->setFrame(Rect(0, 120, Width, Height));
    setView(root);
}

void NoteDisplayViewController::prepareForPresentation()
{
    loadViewIfNeeded();
    if (mPreparedOnce)
        return;
    mPreparedOnce = true;
    mNoteScrollView = NoteDisplayScrollView::create();
    view()->addSubview(mNoteScrollView);
    mNoteView = ReadOnlyTextView::create();
    mNoteView->setTextContainerInset(kNoteInset);
    mNoteView->setTextStorage(AttributedString(
        mNoteText, PlatformFont::fontWithName(QStringLiteral("HelveticaNeue"), kNotePointSize),
        PlatformColor::black()));
    mNoteScrollView->setDocumentView(mNoteView);
}

void NoteDisplayViewController::popoverWillShow(Popover&)
{
    prepareForPresentation();
}

void NoteDisplayViewController::popoverDidShow(Popover&)
{
    updateFrameWithHeight(float(Height));
}

void NoteDisplayViewController::updateFrameWithHeight(float height)
{
    Transaction::begin();
    Transaction::setDisableActions(true);
    const Rect frame = view()->frame();
    view()->setFrame(Rect(frame.origin.x, frame.origin.y, Width, double(height)));
    if (mPopover)
        mPopover->setContentSize(Size(Width, double(height)));
    if (auto root = std::dynamic_pointer_cast<ColoredView>(view()))
        root->forceDirtyLayout();
    Transaction::commit();
}

void NoteDisplayViewController::applyLayout()
{
    if (!mNoteScrollView)
        return;
    mNoteScrollView->setFrame(view()->bounds());
    ensureNoteViewSize();
}

void NoteDisplayViewController::ensureNoteViewSize()
{
    const double width = mNoteScrollView->contentSize().width;
    mNoteView->setFrame(Rect(0, 0, width, mNoteView->frame().size.height));
    mNoteView->setTextContainerSize(Size(width - 2 * kNoteInset.width, ReadOnlyTextView::UnlimitedExtent));
    const Rect used = mNoteView->usedRect();
    mNoteView->setFrame(Rect(0, 0, width, used.size.height + 2 * kNoteInset.height));
    mNoteView->setTextContainerSize(Size(width - 2 * kNoteInset.width, ReadOnlyTextView::UnlimitedExtent));
    mNoteScrollView->reflectScrolledClipView();
    mNoteScrollView->tile();
}

void NoteDisplayViewController::popoverDidClose(Popover&)
{
    if (auto delegate = mDelegate.lock())
        delegate->noteDisplayViewDidClose();
}

void NoteDisplayViewController::dismissView()
{
    if (mPopover)
        mPopover->performClose();
}

} // namespace corvex
