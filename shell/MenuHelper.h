#pragma once

#include <QString>
#include <memory>

namespace corvex {

class Menu;
class RecentDocumentsMenu;
class Window;

// Menu upkeep of the shell: re-validating menus, and the main menu model every main window
// shows as its menu bar. Main thread only.
class MenuHelper
{
public:
    // Validates every item of the menu and its submenus again for the window's responder
    // chain (its menu bar; without a window every bar). A null menu does nothing.
    static void updateMenuRecursively(Menu* menu, Window* window);
    // Every main window's menu bar validated again.
    static void menuUpdateMainMenu();

    // The main menu: File (new, new cloud and Dropbox windows, open, Open Recent, import,
    // save, save as, export, print, close), Edit (undo, redo, cut, copy, paste, select all),
    // View (mind map toggle, zoom, new element), Window (minimise), Help (about, user guide,
    // support), and the application's preferences and quit in File. Items carry action ids
    // ("qvNewLocalFile:"); shortcuts with Ctrl: N, O, S, W, Q, Z.
    static std::shared_ptr<Menu> createMainMenu(const std::shared_ptr<Menu>& openRecentMenu);

    static inline const QString QuitAction = QStringLiteral("terminate:");
    static inline const QString CloseAction = QStringLiteral("performClose:");
    static inline const QString MinimizeAction = QStringLiteral("performMiniaturize:");
};

} // namespace corvex
