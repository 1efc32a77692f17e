#pragma once

#include <memory>

namespace corvex {

class AlertRunner;
class FilePanelRunner;
class MenuRunner;

// The process-wide runners for alerts, pop-up menus and open panels. Without an installed
// one each answers the Qt default (made on first use); tests install scripted runners. A
// runner in use stays alive while it runs even when another is installed meanwhile. Main
// thread only.
class Runners
{
public:
    static std::shared_ptr<AlertRunner> alertRunner();
    static std::shared_ptr<MenuRunner> menuRunner();
    static std::shared_ptr<FilePanelRunner> filePanelRunner();

    // Install a runner (null goes back to the Qt default) and answer the one installed before
    // (null when it was the default).
    static std::shared_ptr<AlertRunner> setAlertRunner(std::shared_ptr<AlertRunner> runner);
    static std::shared_ptr<MenuRunner> setMenuRunner(std::shared_ptr<MenuRunner> runner);
    static std::shared_ptr<FilePanelRunner> setFilePanelRunner(std::shared_ptr<FilePanelRunner> runner);
    // Back to the Qt defaults for all three.
    static void reset();

    // Makes the views' default right-click show their menuForEvent menu through the menu
    // runner in use at the time of the click, at the click's location in its window. The
    // application calls it once at start-up.
    static void installContextMenuPresenter();
};

} // namespace corvex
