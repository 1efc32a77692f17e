#pragma once

#include "platform/ui/Window.h"

#include <memory>
#include <mutex>

namespace corvex {

class ContainerView;

// What the about and legal notices windows share: a window of a fixed content size, made
// once per process and centred on the main screen's full frame, whose one view fills a
// ContainerView (with the example picture "example_about" beneath). Closing only hides it;
// showing it again brings back the same window with its content as it was. Main thread
// only.
class FixedContentWindow : public Window
{
public:
    static inline const QString ExampleImageName = QStringLiteral("example_about");

    // The content rectangle on a main screen of that full frame: half the screen's size
    // less half the content size (the screen's origin not added).
    static Rect centredContentRect(const Rect& screenFrame, Size contentSize);

    FixedContentWindow(Size contentSize, const std::shared_ptr<View>& view);
    ~FixedContentWindow() override;

    const std::shared_ptr<ContainerView>& container() const { return mContainerView; }

    // Escape and Ctrl+W close the window, as its close button does; other keys go on as usual.
    void keyDown(const Event& event) override;

protected:
    // The one window of class T: made on the first call (once, even from two threads) and
    // centred, then brought to the front and made key.
    template <class T> static std::shared_ptr<T> showOnce()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            auto window = std::make_shared<T>();
            window->placeCentred();
            slotOf<T>() = std::move(window);
        });
        const std::shared_ptr<T>& window = slotOf<T>();
        if (window)
            window->makeKeyAndOrderFront();
        return window;
    }
    // Where the window of class T is kept: to the end of the process and never destroyed, as
    // its widgets must not outlive the application object at exit.
    template <class T> static std::shared_ptr<T>& slotOf()
    {
        static auto* window = new std::shared_ptr<T>();
        return *window;
    }

private:
    void placeCentred();

    std::shared_ptr<ContainerView> mContainerView;
};

} // namespace corvex
