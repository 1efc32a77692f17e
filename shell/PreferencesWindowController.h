#pragma once

#include "platform/gfx/Rect.h"
#include "shell/PreferencesWindow.h"

#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;

namespace corvex {

class PreferencesViewController;

// The preferences window's controller: a toolbar item per pane (a null pane stands for a
// flexible space), one pane shown at a time with the window sized to it, and the window's
// top-left corner, the selected pane and each pane's size remembered in the user defaults.
// The window is made on first need (window(), showWindow()) and kept: closing hides it.
// Sizes and positions are in bottom-left screen coordinates (ScreenFacade). Main thread only.
class PreferencesWindowController final : public PreferencesWindow::Delegate
{
public:
    using Pane = std::shared_ptr<PreferencesViewController>;

    static inline const QString FrameTopLeftKey = QStringLiteral("Preferences Frame Top Left");
    static inline const QString SelectedIdentifierKey =
        QStringLiteral("Preferences Selected Identifier View");
    // Posted (sender: the controller) after each pane switch.
    static inline const QString DidChangeViewNotification =
        QStringLiteral("PreferencesWindowControllerDidChangeViewNotification");
    // What a placeholder's toolbar item is called.
    static inline const QString FlexibleSpaceIdentifier = QStringLiteral("NSToolbarFlexibleSpaceItem");

    // The panes in toolbar order; the title (empty: the selected pane's label) names the
    // window.
    explicit PreferencesWindowController(std::vector<Pane> panes, QString title = QString());
    ~PreferencesWindowController() override;
    PreferencesWindowController(const PreferencesWindowController&) = delete;
    PreferencesWindowController& operator=(const PreferencesWindowController&) = delete;

    // "Preferences <identifier> Frame".
    static QString frameKeyForIdentifier(const QString& identifier);

    const std::vector<Pane>& viewControllers() const { return mViewControllers; }
    const QString& title() const { return mTitle; }

    // ---- Panes ----
    void addViewController(const Pane& pane);
    const Pane& selectedViewController() const { return mSelectedViewController; }
    // Switches to the pane (see the rules in the source); null only takes the current one
    // away. A pane that refuses to commit its editing stays.
    void setSelectedViewController(const Pane& pane);
    // Ignored when the index is not below the number of panes, or names a placeholder.
    void selectControllerAtIndex(qsizetype index);
    void selectControllerWithIdentifier(const QString& identifier);
    // The next (previous) pane, cyclically, placeholders skipped.
    void goNextTab();
    void goPreviousTab();
    // The selected pane's place among toolbarItemIdentifiers(); -1 without one.
    qsizetype indexOfSelectedController() const;
    QStringList toolbarItemIdentifiers() const;
    // The first pane with that identifier, or null.
    Pane viewControllerForIdentifier(const QString& identifier) const;
    Pane firstViewController() const;
    // The size each pane had when first shown, as a rectangle string, by identifier.
    const std::map<QString, QString>& minimumViewRects() const { return mMinimumViewRects; }

    // ---- Window ----
    // The window, made and set up on first call.
    PreferencesWindow* window();
    bool isWindowLoaded() const { return mWindow != nullptr; }
    // Shows the window (made on first need), raises it and makes it active.
    void showWindow();
    // The toolbar item of a pane (a click on it selects the pane); null for none.
    QAction* toolbarItemForIdentifier(const QString& identifier) const;

    // ---- PreferencesWindow::Delegate ----
    bool windowShouldClose() override;
    void windowDidMove() override;
    void windowDidResize() override;

private:
    void windowDidLoad();
    void insertToolbarItem(const Pane& pane);
    void checkToolbarItem(const QString& identifier);
    // The stored top-left corner when it is a point string on some screen.
    static std::optional<Point> storedTopLeft();
    // The stored size of a pane when it is a usable size, held within the main screen.
    std::optional<Size> storedPaneSize(const QString& identifier) const;
    void focusInitialKeyView(PreferencesViewController& pane);

    std::vector<Pane> mViewControllers;
    std::map<QString, QString> mMinimumViewRects;
    QString mTitle;
    Pane mSelectedViewController;
    std::unique_ptr<PreferencesWindow> mWindow;
    QActionGroup* mToolbarGroup = nullptr; // the window's
    // Moves and resizes are written to the defaults only once the window is set up.
    bool mObservingFrame = false;
};

} // namespace corvex
