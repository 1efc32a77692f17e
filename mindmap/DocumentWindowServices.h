#pragma once

#include <memory>

namespace corvex {

class View;

// What the mind map uses of the document window that shows it, for the window class of the
// application shell to adopt beside Window (class DocumentWindow : public Window, public
// DocumentWindowServices). A view finds it through its window; a window that does not adopt
// it offers none. Main thread only.
class DocumentWindowServices
{
public:
    virtual ~DocumentWindowServices();

    // The view that holds the window's current screen and anything laid over it (alerts,
    // slide-up screens).
    virtual std::shared_ptr<View> containerView() const = 0;

    // The services of the window `view` is in; null when it is in no window or in one that
    // does not offer them.
    static DocumentWindowServices* forView(const View& view);
};

} // namespace corvex
