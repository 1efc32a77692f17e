#include "shell/AboutWindow.h"

#include "shell/AboutView.h"

namespace corvex {

AboutWindow::AboutWindow() : AboutWindow(AboutView::create()) {}

AboutWindow::AboutWindow(std::shared_ptr<AboutView> view)
    : FixedContentWindow(ContentSize, view), mAboutView(std::move(view))
{
    setContentMinSize(ContentSize);
}

AboutWindow::~AboutWindow() = default;

std::shared_ptr<AboutWindow> AboutWindow::show()
{
    return showOnce<AboutWindow>();
}

std::shared_ptr<AboutWindow> AboutWindow::shared()
{
    return slotOf<AboutWindow>();
}

} // namespace corvex
