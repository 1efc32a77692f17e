#include "toolkit/TextFieldEditMenu.h"

#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/MenuRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"

#include <QAction>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTextEdit>
#include <cmath>
#include <tuple>
#include <utility>

namespace corvex {

const QString TextFieldEditMenu::UndoAction = QStringLiteral("undo:");
const QString TextFieldEditMenu::RedoAction = QStringLiteral("redo:");
const QString TextFieldEditMenu::CutAction = QStringLiteral("cut:");
const QString TextFieldEditMenu::CopyAction = QStringLiteral("copy:");
const QString TextFieldEditMenu::PasteAction = QStringLiteral("paste:");
const QString TextFieldEditMenu::DeleteAction = QStringLiteral("delete:");
const QString TextFieldEditMenu::SelectAllAction = QStringLiteral("selectAll:");
const QString TextFieldEditMenu::UppercaseWordAction = QStringLiteral("uppercaseWord:");
const QString TextFieldEditMenu::LowercaseWordAction = QStringLiteral("lowercaseWord:");
const QString TextFieldEditMenu::CapitalizeWordAction = QStringLiteral("capitalizeWord:");

const QString TextFieldEditMenu::TransformationsTitle = QStringLiteral("Transformations");
const QString TextFieldEditMenu::UppercaseTitle = QStringLiteral("Make Upper Case");
const QString TextFieldEditMenu::LowercaseTitle = QStringLiteral("Make Lower Case");
const QString TextFieldEditMenu::CapitalizeTitle = QStringLiteral("Capitalize");

namespace {

QString plainTitle(const QString& text);

// Qt names the standard actions after their freedesktop icons from 6.5 on; before that only
// their titles, made with QLineEdit's translations of fixed source texts, tell them apart.
QString actionIdFor(const QAction& action)
{
    struct Known
    {
        const char* objectName;
        const char* sourceTitle;
        const QString* id;
    };
    static const Known kKnown[] = {
        {"edit-undo", "&Undo", &TextFieldEditMenu::UndoAction},
        {"edit-redo", "&Redo", &TextFieldEditMenu::RedoAction},
        {"edit-cut", "Cu&t", &TextFieldEditMenu::CutAction},
        {"edit-copy", "&Copy", &TextFieldEditMenu::CopyAction},
        {"edit-paste", "&Paste", &TextFieldEditMenu::PasteAction},
        {"edit-delete", "Delete", &TextFieldEditMenu::DeleteAction},
        {"select-all", "Select All", &TextFieldEditMenu::SelectAllAction},
    };
    const QString name = action.objectName();
    if (!name.isEmpty()) {
        for (const Known& known : kKnown) {
            if (name == QLatin1String(known.objectName))
                return *known.id;
        }
        return QString();
    }
    const QString title = plainTitle(action.text());
    for (const Known& known : kKnown) {
        if (title == plainTitle(QLineEdit::tr(known.sourceTitle)))
            return *known.id;
    }
    return QString();
}

// "Cu&t\tCtrl+X" -> "Cut": the mnemonic mark goes ("&&" is a literal "&"), and so does the
// shortcut text Qt appends after a tab.
QString plainTitle(const QString& text)
{
    const QString title = text.section(QLatin1Char('\t'), 0, 0);
    QString result;
    result.reserve(title.size());
    for (qsizetype i = 0; i < title.size(); ++i) {
        if (title[i] == QLatin1Char('&')) {
            if (i + 1 < title.size() && title[i + 1] == QLatin1Char('&'))
                result += QLatin1Char('&');
            ++i;
            if (i < title.size() && title[i] != QLatin1Char('&'))
                result += title[i];
            continue;
        }
        result += title[i];
    }
    return result;
}

// The shortcut as the platform's key equivalent: one lower-case character with the modifier
// mask (Ctrl is the Command key). False when it has no such form.
bool keyEquivalentFor(const QAction& action, QString& key, unsigned& mask)
{
    QKeySequence sequence = action.shortcut();
    if (sequence.isEmpty()) {
        const QString shown = action.text().section(QLatin1Char('\t'), 1);
        sequence = QKeySequence::fromString(shown, QKeySequence::NativeText);
    }
    if (sequence.count() != 1)
        return false;
    const QKeyCombination combination = sequence[0];
    const int qtKey = int(combination.key());
    if (qtKey < 0x20 || qtKey > 0x7e)
        return false;
    key = QString(QChar(qtKey)).toLower();
    mask = 0;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::ControlModifier)
        mask |= Event::CommandKeyMask;
    if (modifiers & Qt::ShiftModifier)
        mask |= Event::ShiftKeyMask;
    if (modifiers & Qt::AltModifier)
        mask |= Event::OptionKeyMask;
    if (modifiers & Qt::MetaModifier)
        mask |= Event::ControlKeyMask;
    return true;
}

std::shared_ptr<Menu> convert(const QMenu& qmenu, const std::shared_ptr<QMenu>& owner, int depth)
{
    auto menu = Menu::create(plainTitle(qmenu.title()));
    for (QAction* action : qmenu.actions()) {
        if (!action->isVisible())
            continue;
        if (action->isSeparator()) {
            menu->addItem(MenuItem::separator());
            continue;
        }
        auto item = MenuItem::create(plainTitle(action->text()));
        // A bounded depth: Qt's menus are one level deep.
        if (const QMenu* sub = QMenu::menuInAction(action); sub && depth < 8) {
            item->setSubmenu(convert(*sub, owner, depth + 1));
        } else {
            item->setActionId(actionIdFor(*action));
            QString key;
            unsigned mask = 0;
            if (keyEquivalentFor(*action, key, mask)) {
                item->setKeyEquivalent(key);
                item->setKeyEquivalentModifierMask(mask);
            }
            QPointer<QAction> target(action);
            item->setAction([target, owner](MenuItem&) {
                if (target)
                    target->trigger();
            });
        }
        item->setEnabled(action->isEnabled());
        menu->addItem(item);
    }
    return menu;
}

bool isWordCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

bool isApostrophe(char32_t c)
{
    return c == U'\'' || c == U'\u2019';
}

// The code point at i and its length in UTF-16 units.
char32_t codePointAt(const QString& text, qsizetype i, qsizetype& length)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        length = 2;
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    length = 1;
    return c.unicode();
}

bool isWordUnit(const QString& text, qsizetype i)
{
    qsizetype length = 0;
    return isWordCharacter(codePointAt(text, i, length));
}

} // namespace

std::shared_ptr<Menu> TextFieldEditMenu::transformationsMenu(QLineEdit& edit)
{
    auto submenu = Menu::create(TransformationsTitle);
    QPointer<QLineEdit> target(&edit);
    const std::tuple<QString, QString, CaseChange> items[] = {
        {UppercaseTitle, UppercaseWordAction, CaseChange::Upper},
        {LowercaseTitle, LowercaseWordAction, CaseChange::Lower},
        {CapitalizeTitle, CapitalizeWordAction, CaseChange::Capitalize},
    };
    for (const auto& [title, actionId, change] : items) {
        auto item = submenu->addItem(title, [target, change = change](MenuItem&) {
            if (target)
                changeCaseOfWord(*target, change);
        });
        item->setActionId(actionId);
        item->setEnabled(!edit.isReadOnly());
    }
    return submenu;
}

std::shared_ptr<Menu> TextFieldEditMenu::standardMenu(QLineEdit& edit)
{
    // Qt parents the menu to the line edit, which deletes it when it goes first: the items
    // may outlive the field, so the last of them deletes the menu only if it still exists.
    QMenu* created = edit.createStandardContextMenu();
    const std::shared_ptr<QMenu> owner(created,
                                       [guard = QPointer<QMenu>(created)](QMenu*) { delete guard.data(); });
    auto menu = convert(*owner, owner, 0);
    auto transformations = MenuItem::create(TransformationsTitle);
    transformations->setSubmenu(transformationsMenu(edit));
    menu->addItem(MenuItem::separator());
    menu->addItem(transformations);
    return menu;
}

std::shared_ptr<Menu> TextFieldEditMenu::standardMenu(QTextEdit& edit)
{
    QMenu* created = edit.createStandardContextMenu();
    const std::shared_ptr<QMenu> owner(created,
                                       [guard = QPointer<QMenu>(created)](QMenu*) { delete guard.data(); });
    return convert(*owner, owner, 0);
}

QString TextFieldEditMenu::changeCase(const QString& text, CaseChange change)
{
    switch (change) {
    case CaseChange::Upper:
        return text.toUpper();
    case CaseChange::Lower:
        return text.toLower();
    case CaseChange::Capitalize:
        break;
    }
    QString result;
    result.reserve(text.size());
    char32_t previous = 0;
    char32_t beforePrevious = 0;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype length = 0;
        const char32_t c = codePointAt(text, i, length);
        const QString piece = text.mid(i, length);
        // An apostrophe between letters ("don't") stays inside its word.
        const bool continues =
            isWordCharacter(previous) || (isApostrophe(previous) && isWordCharacter(beforePrevious));
        if (isWordCharacter(c) && !continues)
            result += piece.toUpper();
        else
            result += piece.toLower();
        beforePrevious = previous;
        previous = c;
        i += length;
    }
    return result;
}

void TextFieldEditMenu::changeCaseOfWord(QLineEdit& edit, CaseChange change)
{
    if (edit.isReadOnly())
        return;
    const QString text = edit.text();
    qsizetype start = 0;
    qsizetype length = 0;
    if (edit.hasSelectedText()) {
        start = edit.selectionStart();
        length = edit.selectedText().size();
    } else {
        qsizetype begin = edit.cursorPosition();
        qsizetype end = begin;
        while (begin > 0 && (isWordUnit(text, begin - 1) || text[begin - 1].isLowSurrogate()))
            --begin;
        while (end < text.size() && (isWordUnit(text, end) || text[end].isLowSurrogate()))
            ++end;
        if (begin == end)
            return;
        start = begin;
        length = end - begin;
    }
    const QString changed = changeCase(text.mid(start, length), change);
    edit.setSelection(int(start), int(length));
    if (changed != text.mid(start, length))
        edit.insert(changed);
    edit.setSelection(int(start), int(changed.size()));
}

qsizetype TextFieldEditMenu::characterIndexAt(const EmbeddedWidgetView& view, const Event& event)
{
    QLineEdit* edit = view.lineEdit();
    if (!edit)
        return 0;
    const Point local = view.convertPointFromView(event.locationInWindow(), nullptr);
    const Rect area = view.widgetRect();
    const QPoint inWidget(int(std::lround(local.x - area.minX())), int(std::lround(local.y - area.minY())));
    return edit->cursorPositionAt(inWidget);
}

bool TextFieldEditMenu::popUpMenu(EmbeddedWidgetView& view, const Event& event)
{
    const std::shared_ptr<Menu> menu = view.menuForEvent(event);
    if (!menu || menu->numberOfItems() == 0)
        return false;
    Window* window = event.window() ? event.window() : view.window();
    Runners::menuRunner()->popUpMenu(menu, nullptr, event.locationInWindow(), window);
    return true;
}

void TextFieldEditMenu::attach(EmbeddedWidgetView& view)
{
    QWidget* edit = view.widget();
    if (!edit)
        return;
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    // The view owns the widget, so the connection (whose context is the widget) never
    // outlives the view.
    QObject::connect(
        edit, &QWidget::customContextMenuRequested, edit, [target = &view, edit](const QPoint& pos) {
            Window* window = target->window();
            if (!window)
                return;
            const Point location = window->convertPointFromGlobal(QPointF(edit->mapToGlobal(pos)));
            Event event = Event::rightMouseDown(location);
            event.setWindow(window);
            popUpMenu(*target, event);
        });
}

} // namespace corvex
