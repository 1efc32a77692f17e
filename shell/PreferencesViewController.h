#pragma once

#include <QIcon>
#include <QString>
#include <QStyle>
#include <optional>

class QWidget;

namespace corvex {

// A pane of the preferences window: what the window's toolbar shows for it and the widget
// it shows. The pane owns its view; while the window shows it the view is a child of the
// window's content area, and the window hands it back (no parent) when another pane takes its
// place. The optional answers have defaults: nothing to do, no initial key view, resizability
// from the view's size policy, editing always committed. Main thread only.
class PreferencesViewController
{
public:
    virtual ~PreferencesViewController();

    virtual QString identifier() const = 0;
    virtual QIcon toolbarItemImage() const = 0;
    virtual QString toolbarItemLabel() const = 0;
    // The pane's widget, made on first call at its designed size.
    virtual QWidget* view() = 0;

    virtual void viewWillAppear() {}
    virtual void viewDidDisappear() {}
    virtual QWidget* initialKeyView() { return nullptr; }
    // Unset: whether the view's size policy lets it grow in that direction.
    virtual std::optional<bool> hasResizableWidth() const { return std::nullopt; }
    virtual std::optional<bool> hasResizableHeight() const { return std::nullopt; }
    // False keeps the pane on screen (the switch or the close is refused).
    virtual bool commitEditing() { return true; }

    // The desktop theme's icon of that name, else the style's standard one (needs a
    // QApplication for the latter).
    static QIcon themeIcon(const QString& name, QStyle::StandardPixmap fallback);
};

} // namespace corvex
