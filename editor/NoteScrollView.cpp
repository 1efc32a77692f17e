#include "editor/NoteScrollView.h"

#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "toolkit/EditableTextView.h"

namespace corvex {

NoteScrollView::NoteScrollView() = default;
NoteScrollView::~NoteScrollView() = default;

std::shared_ptr<NoteScrollView> NoteScrollView::create()
{
    auto view = BaseView::make<NoteScrollView>();
    view->setNeedsDisplay(true);
    return view;
}

QString NoteScrollView::className() const
{
    return QStringLiteral("NoteScrollView");
}

void NoteScrollView::setDocumentView(const std::shared_ptr<EditableTextView>& view)
{
    if (mDocumentView)
        mDocumentView->removeFromSuperview();
    mDocumentView = view;
    if (view)
        addSubview(view);
    forceDirtyLayout();
}

void NoteScrollView::applyLayout()
{
    BaseView::applyLayout();
    if (mDocumentView)
        mDocumentView->setFrame(bounds().insetBy(1, 1));
    setNeedsDisplay(true);
}

void NoteScrollView::drawRect(const Rect&, GraphicsContext& context)
{
    Path outline;
    outline.addRoundedRect(bounds(), 3, 3);
    context.saveGState();
    context.setStrokeColor(Globals::colorLightGray());
    context.setLineWidth(2);
    context.beginPath();
    context.addPath(outline);
    context.strokePath();
    context.restoreGState();
}

} // namespace corvex
