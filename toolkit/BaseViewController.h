#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Value.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/ViewController.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class Idea;
class MenuItem;
class Window;

// The base of every screen (the home screen, the mind-map screen, the viewers, the sharing
// panel). The window talks to its screen through the hooks below, which this class handles
// in the permissive way; subclasses override what they need.
//
// Screen occupation: at most one named modal operation occupies a screen at a time. The
// first occupation keeps the screen (a second one is ignored without a word: callers that
// must know test screenOccupied first); any liberation frees it, logging an assertion line
// when the screen was free, the name was null or it was not the occupying one, so a screen
// never stays occupied because of a mismatched name. Each change calls reactToStateChange.
// Names are plain strings chosen by the callers; a null QString stands for no name.
//
// Alerts through CustomAlertView (Runners::alertRunner), the import of a local document
// through an open panel (Runners::filePanelRunner) and PersistenceController. Main thread
// only.
class BaseViewController : public ViewController, public ActionTarget
{
public:
    // The operation of a simple alert.
    static const QString ShowingAlertOperation; // "ShowingAlert"

    // The imported root idea and the new document's identifier; null and a null identifier
    // when the import failed.
    using ImportCompletion = Completion<const std::shared_ptr<Idea>&, const QString&>;

    BaseViewController();
    ~BaseViewController() override;
    static std::shared_ptr<BaseViewController> create();

    // ---- Hooks ----
    // A new, empty dictionary: the controller's part of the saved application state.
    virtual ValueDictionary createState();
    // Restores from a dictionary made by createState; true (nothing to restore here).
    virtual bool restoreFromState(const ValueDictionary& state);
    // Menu validation; true. Overrides call this version for items they do not handle.
    virtual bool validateUserInterfaceItem(const MenuItem& item);
    // The menu actions the screen answers: those added with addMenuAction. The window asks
    // its current screen before itself and the application.
    bool respondsToAction(const QString& actionId) const override;
    // An item the screen answers is enabled as validateUserInterfaceItem says, wherever the
    // screen stands in the responder chain.
    bool validateAction(const QString& actionId, const MenuItem& item) override;
    void performAction(const QString& actionId, MenuItem& item) override;
    // Whether the window may close now; true.
    virtual bool startClosingCanCloseNow();
    // Changes of the screen's document that could not be written: the map's name and why
    // (the reason may be empty).
    struct UnsavedChanges
    {
        QString mapName;
        QString reason;
    };
    // None here.
    virtual std::optional<UnsavedChanges> unsavedChanges() const;
    // The window made this controller its top-level controller. Nothing here.
    virtual void becameTopLevelController();
    // Called after every change of occupation; subclasses update their controls. Nothing here.
    virtual void reactToStateChange();
    // Whether the idea (a null identifier: the whole document) may be deleted from the
    // document, as far as this screen knows; true. Asked by identifiers: the document need
    // not be open here, nor its tree loaded.
    virtual bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier);

    // The window of the controller's view; null when the view is in no window (or not loaded).
    Window* myWindow() const;

    // ---- Screen occupation ----
    bool screenOccupied() const { return !mCurrentOccupyingOperation.isNull(); }
    // The occupying operation's name; null when the screen is free.
    const QString& currentOccupyingOperation() const { return mCurrentOccupyingOperation; }
    // Takes the screen for the operation when the name is not null and the screen is free;
    // otherwise does nothing at all.
    void occupyScreen(const QString& operation);
    // Frees the screen, whatever it held, logging "ERROR: Screen is already liberated",
    // "ERROR: operation==nil" or "ERROR: operation!=mCurrentOccupyingOperation" as an
    // assertion line where that applies.
    void liberateScreen(const QString& operation);

    // ---- Alerts ----
    // An alert with a "Choice.Close" button that occupies the screen (ShowingAlert) while it
    // is shown; nothing at all when the screen is occupied already. Returns when the alert
    // has been closed and the screen freed.
    void showSimpleAlertViewWithTitle(const QString& title, const QString& message);
    // The same alert whatever the occupation, and without occupying the screen.
    void showNonblockingAlertViewWithTitle(const QString& title, const QString& message);

    // ---- Import ----
    // Lets the user choose a document file (".corvex" or ".opml", starting on the desktop)
    // in an open panel on myWindow and imports it into the temporary location. The
    // completion runs once, on the main thread, with the imported root idea and the new
    // document's identifier; after a failed import (shown in an alert) with null and a null
    // identifier. A cancelled panel drops it: no answer is meant. An empty completion is
    // allowed.
    void startImportingLocalFileOnCompletion(ImportCompletion completion);

protected:
    // Makes the screen answer the menu action ("qvExport:") by running `perform`.
    void addMenuAction(const QString& actionId, std::function<void()> perform);

private:
    QHash<QString, std::function<void()>> mMenuActions;
    // The alert of the two alert operations; `closed` is the button's block.
    void showCloseAlert(const QString& title, const QString& message, std::function<void()> closed);

    QString mCurrentOccupyingOperation;
};

} // namespace corvex
