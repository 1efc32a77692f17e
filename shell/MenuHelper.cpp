#include "shell/MenuHelper.h"

#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/MenuItem.h"

namespace corvex {

void MenuHelper::updateMenuRecursively(Menu* menu, Window* window)
{
    if (!menu)
        return;
    // The model's own enabled flags are the author's; what validation decides lives in the
    // bar's actions, which refresh() sets for every item and submenu, depth first.
    if (MenuBar* bar = window ? MenuBar::of(*window) : nullptr)
        bar->refresh();
    else
        MenuBar::refreshAll();
}

void MenuHelper::menuUpdateMainMenu()
{
    MenuBar::refreshAll();
}

namespace {

std::shared_ptr<MenuItem> shellMenuItem(Menu& menu, const QString& title, const QString& actionId,
                                        const QString& key = QString(),
                                        unsigned modifiers = Event::CommandKeyMask)
{
    auto item = MenuItem::create(title, {}, key);
    item->setActionId(actionId);
    if (!key.isEmpty())
        item->setKeyEquivalentModifierMask(modifiers);
    menu.addItem(item);
    return item;
}

std::shared_ptr<Menu> shellSubmenu(Menu& bar, const QString& title)
{
    auto menu = Menu::create(title);
    auto item = MenuItem::create(title);
    item->setSubmenu(menu);
    bar.addItem(item);
    return menu;
}

} // namespace

std::shared_ptr<Menu> MenuHelper::createMainMenu(const std::shared_ptr<Menu>& openRecentMenu)
{
    auto bar = Menu::create(QStringLiteral("Main Menu"));
    const unsigned commandShift = Event::CommandKeyMask | Event::ShiftKeyMask;

    auto file = shellSubmenu(*bar, QStringLiteral("&File"));
    shellMenuItem(*file, QStringLiteral("New Mind Map"), QStringLiteral("qvNewLocalFile:"),
                  QStringLiteral("n"));
    shellMenuItem(*file, QStringLiteral("New iCloud Window"), QStringLiteral("qvNewCloudWindow:"));
    shellMenuItem(*file, QStringLiteral("New Dropbox Window"), QStringLiteral("qvNewDropboxWindow:"));
    shellMenuItem(*file, QStringLiteral("Open..."), QStringLiteral("qvOpenLocalFile:"), QStringLiteral("o"));
    if (openRecentMenu) {
        auto recent = MenuItem::create(QStringLiteral("Open Recent"));
        recent->setSubmenu(openRecentMenu);
        file->addItem(recent);
    }
    file->addItem(MenuItem::separator());
    shellMenuItem(*file, QStringLiteral("Import..."), QStringLiteral("qvImport:"));
    shellMenuItem(*file, QStringLiteral("Save"), QStringLiteral("qvSaveLocalFile:"), QStringLiteral("s"));
    shellMenuItem(*file, QStringLiteral("Save As..."), QStringLiteral("qvSaveLocalFileAs:"),
                  QStringLiteral("S"), commandShift);
    shellMenuItem(*file, QStringLiteral("Export..."), QStringLiteral("qvExport:"));
    shellMenuItem(*file, QStringLiteral("Print..."), QStringLiteral("qvPrintIdea:"), QStringLiteral("p"));
    file->addItem(MenuItem::separator());
    shellMenuItem(*file, QStringLiteral("Preferences..."), QStringLiteral("qvOpenPreferences:"));
    file->addItem(MenuItem::separator());
    shellMenuItem(*file, QStringLiteral("Close Window"), CloseAction, QStringLiteral("w"));
    shellMenuItem(*file, QStringLiteral("Quit Corvex"), QuitAction, QStringLiteral("q"));

    auto edit = shellSubmenu(*bar, QStringLiteral("&Edit"));
    shellMenuItem(*edit, QStringLiteral("Undo"), QStringLiteral("qvUndo:"), QStringLiteral("z"));
    shellMenuItem(*edit, QStringLiteral("Redo"), QStringLiteral("qvRedo:"), QStringLiteral("Z"),
                  commandShift);
    edit->addItem(MenuItem::separator());
    shellMenuItem(*edit, QStringLiteral("Cut"), QStringLiteral("cut:"), QStringLiteral("x"));
    shellMenuItem(*edit, QStringLiteral("Copy"), QStringLiteral("copy:"), QStringLiteral("c"));
    shellMenuItem(*edit, QStringLiteral("Paste"), QStringLiteral("paste:"), QStringLiteral("v"));
    shellMenuItem(*edit, QStringLiteral("Select All"), QStringLiteral("selectAll:"), QStringLiteral("a"));

    auto view = shellSubmenu(*bar, QStringLiteral("&View"));
    shellMenuItem(*view, QStringLiteral("Toggle Mind Map"), QStringLiteral("qvToggleMindmap:"));
    shellMenuItem(*view, QStringLiteral("Zoom In"), QStringLiteral("qvZoomIn:"), QStringLiteral("+"));
    shellMenuItem(*view, QStringLiteral("Zoom Out"), QStringLiteral("qvZoomOut:"), QStringLiteral("-"));
    shellMenuItem(*view, QStringLiteral("Zoom to Fit"), QStringLiteral("qvActualSize:"), QStringLiteral("9"));
    shellMenuItem(*view, QStringLiteral("Add New Element"), QStringLiteral("qvAddNewElement:"));

    auto window = shellSubmenu(*bar, QStringLiteral("&Window"));
    shellMenuItem(*window, QStringLiteral("Minimize"), MinimizeAction, QStringLiteral("m"));

    auto help = shellSubmenu(*bar, QStringLiteral("&Help"));
    shellMenuItem(*help, QStringLiteral("About Corvex"), QStringLiteral("qvOpenAboutDialog:"));
    shellMenuItem(*help, QStringLiteral("User Guide"), QStringLiteral("qvOpenUserGuide:"));
    shellMenuItem(*help, QStringLiteral("Contact Support"), QStringLiteral("qvContactSupport:"));
    return bar;
}

} // namespace corvex
