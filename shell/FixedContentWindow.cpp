#include "shell/FixedContentWindow.h"

#include "platform/ui/Event.h"
#include "platform/ui/ScreenFacade.h"
#include "shell/ContainerView.h"

namespace corvex {

Rect FixedContentWindow::centredContentRect(const Rect& screenFrame, Size contentSize)
{
    return Rect(screenFrame.size.width / 2 - contentSize.width / 2,
                screenFrame.size.height / 2 - contentSize.height / 2, contentSize.width, contentSize.height);
}

FixedContentWindow::FixedContentWindow(Size contentSize, const std::shared_ptr<View>& view)
    : Window(contentSize)
{
    mContainerView = ContainerView::createWithNamedView(ExampleImageName);
    setContentView(mContainerView);
    if (view)
        mContainerView->addHostedView(view);
    mContainerView->setNeedsLayout(true);
    makeFirstResponder(mContainerView.get());
}

FixedContentWindow::~FixedContentWindow() = default;

void FixedContentWindow::keyDown(const Event& event)
{
    const bool closeKey =
        (event.modifierFlags() & Event::CommandKeyMask) &&
        event.charactersIgnoringModifiers().compare(QStringLiteral("w"), Qt::CaseInsensitive) == 0;
    if (event.keyCode() == Event::KeyCodeEscape || closeKey) {
        performClose();
        return;
    }
    Window::keyDown(event);
}

void FixedContentWindow::placeCentred()
{
    const Rect content = centredContentRect(ScreenFacade::mainScreen().frame, contentSize());
    setFrame(frameRectForContentRect(content));
}

} // namespace corvex
