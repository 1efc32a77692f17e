#include "editor/NoteDisplayScrollView.h"

#include "toolkit/ClipView.h"

namespace corvex {

std::shared_ptr<NoteDisplayScrollView> NoteDisplayScrollView::create()
{
    auto view = BaseScrollView::make<NoteDisplayScrollView>();
    view->setBorderType(NoBorder);
    view->setHasVerticalScroller(true);
    view->setHasHorizontalScroller(false);
    return view;
}

void NoteDisplayScrollView::tile()
{
    BaseScrollView::tile();
    const std::shared_ptr<ClipView>& clip = contentView();
    if (clip)
        clip->setFrame(clip->frame().insetBy(1, 1));
}

} // namespace corvex
