#pragma once

// The few calls between a window and its views that belong to neither one's public
// interface. Each side opens exactly these to the other through a small class that only the
// other can use, so that neither reaches into the other's state.

namespace corvex {

class View;
class Window;

// What a Window asks of its views.
class WindowToViewLink
{
    friend class Window;

    // The view becomes the window's content view (`window`) or stops being it (null): the
    // window status of its tree changes with the usual hooks.
    static void setContentViewWindow(View& view, Window* window);
    // The window's backing scale factor changed: the view's layer follows it.
    static void backingScaleChanged(View& view);
};

// What a View tells its window.
class ViewToWindowLink
{
    friend class View;

    // The view is leaving the window: a first responder gives its place to the window.
    static void viewWillLeave(Window& window, View& view);
};

} // namespace corvex
