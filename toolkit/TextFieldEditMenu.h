#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

class QLineEdit;
class QTextEdit;

namespace corvex {

class EmbeddedWidgetView;
class Event;
class Menu;

// The context menu of the system's one-line fields, before and around its reduction
// (CustomTextField::createTextFieldMenuFrom).
//
// standardMenu is Qt's standard menu of a line edit (QLineEdit::createStandardContextMenu)
// converted into a Menu: each item keeps its title without the mnemonic mark, its shortcut as
// key equivalent (Ctrl as the Command key) and its enabled state, and runs Qt's own action
// on the line edit; the known commands carry the platform's action names (CutAction and so
// on), found by Qt's object names or, where Qt gives none, by Qt's translated titles. A
// "Transformations" submenu follows with the three case changes. The converted menu keeps
// Qt's menu alive for as long as any item made from it exists, unless the line edit (its Qt
// parent) goes first; the items of a field that is gone do nothing.
//
// attach makes a field's live line edit show, on a right click, the menu the view's
// menuForEvent returns, through the menu runner in use (Runners), at the click's place in
// the window; a right click on the view while its widget is grabbed takes the view's own
// path (View::rightMouseDown) to the same menu. Main thread only.
class TextFieldEditMenu
{
public:
    TextFieldEditMenu() = delete;

    // The platform's action names.
    static const QString UndoAction;           // "undo:"
    static const QString RedoAction;           // "redo:"
    static const QString CutAction;            // "cut:"
    static const QString CopyAction;           // "copy:"
    static const QString PasteAction;          // "paste:"
    static const QString DeleteAction;         // "delete:"
    static const QString SelectAllAction;      // "selectAll:"
    static const QString UppercaseWordAction;  // "uppercaseWord:"
    static const QString LowercaseWordAction;  // "lowercaseWord:"
    static const QString CapitalizeWordAction; // "capitalizeWord:"

    // The submenu's and the case items' titles.
    static const QString TransformationsTitle; // "Transformations"
    static const QString UppercaseTitle;       // "Make Upper Case"
    static const QString LowercaseTitle;       // "Make Lower Case"
    static const QString CapitalizeTitle;      // "Capitalize"

    enum class CaseChange
    {
        Upper,
        Lower,
        Capitalize, // each word's first letter upper case, the rest lower case
    };

    static std::shared_ptr<Menu> standardMenu(QLineEdit& edit);
    // Qt's standard menu of a multi-line text edit in the model's form.
    static std::shared_ptr<Menu> standardMenu(QTextEdit& edit);
    // The "Transformations" submenu's item, its items acting on `edit`.
    static std::shared_ptr<Menu> transformationsMenu(QLineEdit& edit);

    static QString changeCase(const QString& text, CaseChange change);
    // Changes the case of the selection or, without one, of the word around the cursor
    // (letters and digits), as one undoable edit, and selects the changed text. Nothing
    // happens when the cursor touches no word or the field is read-only.
    static void changeCaseOfWord(QLineEdit& edit, CaseChange change);

    // The index of the character boundary nearest the event's location in the view's line
    // edit (0 without one).
    static qsizetype characterIndexAt(const EmbeddedWidgetView& view, const Event& event);

    // Routes the line edit's context-menu requests to the view's menuForEvent (see above).
    static void attach(EmbeddedWidgetView& view);
    // Shows the view's menuForEvent menu for a right click at `event` (in window base
    // coordinates); returns whether a menu was shown.
    static bool popUpMenu(EmbeddedWidgetView& view, const Event& event);
};

} // namespace corvex
