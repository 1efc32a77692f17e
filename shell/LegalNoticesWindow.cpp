#include "shell/LegalNoticesWindow.h"

#include "shell/LegalNoticesView.h"

namespace corvex {

LegalNoticesWindow::LegalNoticesWindow() : LegalNoticesWindow(LegalNoticesView::create()) {}

LegalNoticesWindow::LegalNoticesWindow(std::shared_ptr<LegalNoticesView> view)
    : FixedContentWindow(ContentSize, view), mLegalView(std::move(view))
{
    setContentMinSize(ContentSize);
    setTitle(Title);
}

LegalNoticesWindow::~LegalNoticesWindow() = default;

std::shared_ptr<LegalNoticesWindow> LegalNoticesWindow::show()
{
    return showOnce<LegalNoticesWindow>();
}

std::shared_ptr<LegalNoticesWindow> LegalNoticesWindow::shared()
{
    return slotOf<LegalNoticesWindow>();
}

} // namespace corvex
