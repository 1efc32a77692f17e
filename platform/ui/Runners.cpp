#include "platform/ui/Runners.h"

#include "platform/ui/Event.h"
#include "platform/ui/QtAlertRunner.h"
#include "platform/ui/QtFilePanelRunner.h"
#include "platform/ui/QtMenuRunner.h"
#include "platform/ui/View.h"

namespace corvex {

namespace {

template <class Interface, class Default> struct Slot
{
    std::shared_ptr<Interface> installed;
    std::shared_ptr<Interface> fallback;

    std::shared_ptr<Interface> current()
    {
        if (installed)
            return installed;
        if (!fallback)
            fallback = std::make_shared<Default>();
        return fallback;
    }

    std::shared_ptr<Interface> replace(std::shared_ptr<Interface> runner)
    {
        std::swap(installed, runner);
        return runner;
    }
};

Slot<AlertRunner, QtAlertRunner>& alerts()
{
    static Slot<AlertRunner, QtAlertRunner> slot;
    return slot;
}

Slot<MenuRunner, QtMenuRunner>& menus()
{
    static Slot<MenuRunner, QtMenuRunner> slot;
    return slot;
}

Slot<FilePanelRunner, QtFilePanelRunner>& filePanels()
{
    static Slot<FilePanelRunner, QtFilePanelRunner> slot;
    return slot;
}

} // namespace

std::shared_ptr<AlertRunner> Runners::alertRunner()
{
    return alerts().current();
}

std::shared_ptr<MenuRunner> Runners::menuRunner()
{
    return menus().current();
}

std::shared_ptr<FilePanelRunner> Runners::filePanelRunner()
{
    return filePanels().current();
}

std::shared_ptr<AlertRunner> Runners::setAlertRunner(std::shared_ptr<AlertRunner> runner)
{
    return alerts().replace(std::move(runner));
}

std::shared_ptr<MenuRunner> Runners::setMenuRunner(std::shared_ptr<MenuRunner> runner)
{
    return menus().replace(std::move(runner));
}

std::shared_ptr<FilePanelRunner> Runners::setFilePanelRunner(std::shared_ptr<FilePanelRunner> runner)
{
    return filePanels().replace(std::move(runner));
}

void Runners::reset()
{
    alerts().replace(nullptr);
    menus().replace(nullptr);
    filePanels().replace(nullptr);
}

void Runners::installContextMenuPresenter()
{
    View::setContextMenuPresenter([](const std::shared_ptr<Menu>& menu, const Event& event, View& view) {
        Window* window = event.window() ? event.window() : view.window();
        menuRunner()->popUpMenu(menu, nullptr, event.locationInWindow(), window);
    });
}

} // namespace corvex
