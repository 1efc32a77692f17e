#include "platform/ui/MenuBar.h"

#include "platform/core/Log.h"
#include "platform/ui/MenuShortcut_p.h"
#include "platform/ui/Window.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <map>

namespace corvex {

namespace {

ActionTarget* gApplicationTarget = nullptr;

std::map<const Window*, MenuBar*>& installedMenuBars()
{
    static std::map<const Window*, MenuBar*> bars;
    return bars;
}

const char* const kMenuItemProperty = "corvexMenuItem";

// The item behind a shown action, held weakly so that a model change never leaves a
// dangling pointer in the bar.
struct MenuItemHandle
{
    std::weak_ptr<MenuItem> item;
};

} // namespace
} // namespace corvex

Q_DECLARE_METATYPE(corvex::MenuItemHandle)

namespace corvex {

namespace {

std::shared_ptr<MenuItem> menuItemOf(const QAction* action)
{
    if (!action)
        return nullptr;
    const QVariant value = action->property(kMenuItemProperty);
    if (!value.canConvert<MenuItemHandle>())
        return nullptr;
    return value.value<MenuItemHandle>().item.lock();
}

// The focused Qt text widget of a window, as the first responder of the text actions.
class TextWidgetTarget final : public ActionTarget
{
public:
    void setWidget(QWidget* widget) { mWidget = widget; }

    bool respondsToAction(const QString& id) const override
    {
        static const QStringList handled{QStringLiteral("qvUndo:"), QStringLiteral("qvRedo:"),
                                         QStringLiteral("undo:"),   QStringLiteral("redo:"),
                                         QStringLiteral("cut:"),    QStringLiteral("copy:"),
                                         QStringLiteral("paste:"),  QStringLiteral("selectAll:")};
        return mWidget && handled.contains(id);
    }

    bool validateAction(const QString& id, const MenuItem&) override
    {
        const bool undo = id == QLatin1String("qvUndo:") || id == QLatin1String("undo:");
        const bool redo = id == QLatin1String("qvRedo:") || id == QLatin1String("redo:");
        if (auto* line = qobject_cast<QLineEdit*>(mWidget)) {
            if (undo)
                return line->isUndoAvailable();
            if (redo)
                return line->isRedoAvailable();
            if (id == QLatin1String("cut:"))
                return line->hasSelectedText() && !line->isReadOnly();
            if (id == QLatin1String("copy:"))
                return line->hasSelectedText();
            if (id == QLatin1String("paste:"))
                return !line->isReadOnly();
            return true;
        }
        QTextDocument* document = nullptr;
        bool readOnly = true;
        bool selection = false;
        if (auto* text = qobject_cast<QTextEdit*>(mWidget)) {
            document = text->document();
            readOnly = text->isReadOnly();
            selection = text->textCursor().hasSelection();
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(mWidget)) {
            document = plain->document();
            readOnly = plain->isReadOnly();
            selection = plain->textCursor().hasSelection();
        }
        if (!document)
            return false;
        if (undo)
            return !readOnly && document->isUndoAvailable();
        if (redo)
            return !readOnly && document->isRedoAvailable();
        if (id == QLatin1String("cut:"))
            return selection && !readOnly;
        if (id == QLatin1String("copy:"))
            return selection;
        if (id == QLatin1String("paste:"))
            return !readOnly;
        return true;
    }

    void performAction(const QString& id, MenuItem&) override
    {
        QWidget* widget = mWidget;
        if (!widget)
            return;
        const char* slot = nullptr;
        if (id == QLatin1String("qvUndo:") || id == QLatin1String("undo:"))
            slot = "undo";
        else if (id == QLatin1String("qvRedo:") || id == QLatin1String("redo:"))
            slot = "redo";
        else if (id == QLatin1String("cut:"))
            slot = "cut";
        else if (id == QLatin1String("copy:"))
            slot = "copy";
        else if (id == QLatin1String("paste:"))
            slot = "paste";
        else if (id == QLatin1String("selectAll:"))
            slot = "selectAll";
        if (slot)
            QMetaObject::invokeMethod(widget, slot, Qt::DirectConnection);
    }

private:
    QPointer<QWidget> mWidget;
};

TextWidgetTarget& textWidgetTarget()
{
    static TextWidgetTarget target;
    return target;
}

QWidget* focusedTextWidget(Window* window)
{
    if (!window || !window->hasHostWidget() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    QWidget* focus = QApplication::focusWidget();
    QWidget* host = window->hostWidget();
    if (!focus || !host || !host->isAncestorOf(focus))
        return nullptr;
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) ||
        qobject_cast<QPlainTextEdit*>(focus))
        return focus;
    return nullptr;
}

} // namespace

ActionTarget::~ActionTarget() = default;

bool ActionTarget::validateAction(const QString&, const MenuItem&)
{
    return true;
}

// ---- ActionRouter ----

void ActionRouter::setApplicationTarget(ActionTarget* target)
{
    gApplicationTarget = target;
}

ActionTarget* ActionRouter::applicationTarget()
{
    return gApplicationTarget;
}

ActionTarget* ActionRouter::targetFor(Window* window, const QString& actionId)
{
    if (actionId.isEmpty())
        return nullptr;
    if (window) {
        if (QWidget* text = focusedTextWidget(window)) {
            textWidgetTarget().setWidget(text);
            if (textWidgetTarget().respondsToAction(actionId))
                return &textWidgetTarget();
        }
        textWidgetTarget().setWidget(nullptr);
        // The responder chain from the first responder; it ends at the window. The bound
        // only guards against a chain made circular by mistake.
        int steps = 0;
        bool sawWindow = false;
        for (Responder* responder = window->firstResponder(); responder && steps < 10000;
             responder = responder->nextResponder(), ++steps) {
            sawWindow = sawWindow || responder == window;
            if (auto* target = dynamic_cast<ActionTarget*>(responder);
                target && target->respondsToAction(actionId))
                return target;
        }
        if (!sawWindow) {
            if (auto* target = dynamic_cast<ActionTarget*>(window);
                target && target->respondsToAction(actionId))
                return target;
        }
    }
    if (gApplicationTarget && gApplicationTarget->respondsToAction(actionId))
        return gApplicationTarget;
    return nullptr;
}

bool ActionRouter::validate(Window* window, const MenuItem& item)
{
    if (item.isSeparator() || !item.isEnabled())
        return false;
    if (item.actionId().isEmpty())
        return bool(item.action()) || item.hasSubmenu();
    ActionTarget* target = targetFor(window, item.actionId());
    return target && target->validateAction(item.actionId(), item);
}

bool ActionRouter::perform(Window* window, MenuItem& item)
{
    if (!validate(window, item)) {
        Log::info(QStringLiteral("Menu action not available now: ") +
                  (item.actionId().isEmpty() ? item.title() : item.actionId()));
        return false;
    }
    if (item.actionId().isEmpty())
        return item.performAction();
    const auto keep = item.shared_from_this();
    ActionTarget* target = targetFor(window, item.actionId());
    if (!target)
        return false;
    target->performAction(item.actionId(), item);
    return true;
}

// ---- MenuBar ----

MenuBar* MenuBar::install(Window& window, std::shared_ptr<Menu> mainMenu)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || !mainMenu || !window.hostWidget())
        return nullptr;
    auto* bar = new QMenuBar();
    // The bar belongs to this window alone, never to a platform menu bar elsewhere.
    bar->setNativeMenuBar(false);
    auto* menuBar = new MenuBar(window, std::move(mainMenu), bar);
    menuBar->rebuild();
    window.setMenuBarWidget(bar);
    return menuBar;
}

MenuBar* MenuBar::of(const Window& window)
{
    const auto found = installedMenuBars().find(&window);
    return found == installedMenuBars().end() ? nullptr : found->second;
}

MenuBar::MenuBar(Window& window, std::shared_ptr<Menu> mainMenu, QMenuBar* bar)
    : QObject(bar), mWindow(&window), mMainMenu(std::move(mainMenu)), mBar(bar)
{
    installedMenuBars()[&window] = this;
    // Validation before a shortcut is matched and when the window becomes active.
    qApp->installEventFilter(this);
}

MenuBar::~MenuBar()
{
    const auto found = installedMenuBars().find(mWindow);
    if (found != installedMenuBars().end() && found->second == this)
        installedMenuBars().erase(found);
}

QMenuBar* MenuBar::widget() const
{
    return mBar.data();
}

QAction* MenuBar::actionFor(const MenuItem* item) const
{
    if (!mBar || !item)
        return nullptr;
    const QList<QMenu*> menus = mBar->findChildren<QMenu*>();
    for (QMenu* menu : menus) {
        for (QAction* action : menu->actions()) {
            if (menuItemOf(action).get() == item)
                return action;
        }
    }
    return nullptr;
}

void MenuBar::rebuild()
{
    if (!mBar)
        return;
    QWidget* host = mWindow->hasHostWidget() ? mWindow->hostWidget() : nullptr;
    if (host) {
        for (QAction* action : host->actions()) {
            if (action->property(kMenuItemProperty).isValid())
                host->removeAction(action);
        }
    }
    mBar->clear();
    for (const auto& top : mMainMenu->items()) {
        if (!top || top->isHidden() || !top->submenu())
            continue;
        QMenu* qmenu = mBar->addMenu(top->title());
        fillMenu(qmenu, top->submenu());
    }
    refresh();
}

void MenuBar::fillMenu(QMenu* qmenu, const std::shared_ptr<Menu>& menu)
{
    connect(qmenu, &QMenu::aboutToShow, this, [this, qmenu] { validateMenu(qmenu); });
    QWidget* host = mWindow->hasHostWidget() ? mWindow->hostWidget() : nullptr;
    for (const auto& item : menu->items()) {
        if (!item || item->isHidden())
            continue;
        if (item->isSeparator()) {
            qmenu->addSeparator();
            continue;
        }
        if (item->submenu()) {
            QMenu* sub = qmenu->addMenu(item->title());
            sub->menuAction()->setProperty(kMenuItemProperty, QVariant::fromValue(MenuItemHandle{item}));
            fillMenu(sub, item->submenu());
            continue;
        }
        QAction* action = qmenu->addAction(item->title());
        action->setProperty(kMenuItemProperty, QVariant::fromValue(MenuItemHandle{item}));
        const QKeySequence shortcut = menuShortcutFor(*item);
        if (!shortcut.isEmpty()) {
            action->setShortcut(shortcut);
            action->setShortcutContext(Qt::WindowShortcut);
            // Through the host too, so the shortcut works while no menu of the bar was opened.
            if (host)
                host->addAction(action);
        }
        if (item->state() != MenuItem::State::Off) {
            action->setCheckable(true);
            action->setChecked(item->state() == MenuItem::State::On);
        }
        connect(action, &QAction::triggered, this, [this, action] { trigger(action); });
    }
}

void MenuBar::validateMenu(QMenu* qmenu)
{
    if (!qmenu)
        return;
    for (QAction* action : qmenu->actions()) {
        const std::shared_ptr<MenuItem> item = menuItemOf(action);
        if (!item)
            continue;
        if (item->submenu()) {
            action->setEnabled(item->isEnabled());
            if (QMenu* sub = action->menu())
                validateMenu(sub);
            continue;
        }
        action->setEnabled(ActionRouter::validate(mWindow, *item));
        if (item->state() != MenuItem::State::Off || action->isCheckable()) {
            action->setCheckable(true);
            action->setChecked(item->state() == MenuItem::State::On);
        }
    }
}

void MenuBar::refresh()
{
    if (!mBar)
        return;
    for (QAction* top : mBar->actions())
        validateMenu(top->menu());
}

void MenuBar::refreshAll()
{
    for (const auto& entry : installedMenuBars())
        entry.second->refresh();
}

bool MenuBar::holdsSharedShortcuts(const QWidget& window) const
{
    // Another window (a popover) given this bar's shortcuts: its keys run them too.
    const QList<QAction*> actions = window.actions();
    return !actions.isEmpty() && menuItemOf(actions.front()) &&
           actions.front()->associatedObjects().contains(mBar->window());
}

void MenuBar::trigger(QAction* action)
{
    const std::shared_ptr<MenuItem> item = menuItemOf(action);
    if (!item)
        return;
    // Validated again: a shortcut may fire on a state older than the last validation.
    const QPointer<MenuBar> self(this);
    ActionRouter::perform(mWindow, *item);
    // The action may have closed the window and taken the bar along.
    if (self)
        refresh();
}

bool MenuBar::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::ShortcutOverride || type == QEvent::WindowActivate) && mBar &&
        watched->isWidgetType()) {
        QWidget* window = static_cast<QWidget*>(watched)->window();
        if (window == mBar->window() || holdsSharedShortcuts(*window))
            refresh();
    }
    return QObject::eventFilter(watched, event);
}

// ---- RecentDocumentsMenu ----

RecentDocumentsMenu::RecentDocumentsMenu(int capacity)
    : mMenu(Menu::create(QStringLiteral("Open Recent"))), mCapacity(std::max(1, capacity))
{
    refill();
}

void RecentDocumentsMenu::noteNewRecentDocument(const QString& path)
{
    if (path.isEmpty())
        return;
    QStringList paths = mPaths;
    paths.removeAll(path);
    paths.prepend(path);
    setPaths(paths);
}

void RecentDocumentsMenu::setPaths(const QStringList& newestFirst)
{
    QStringList kept;
    for (const QString& path : newestFirst) {
        if (!path.isEmpty() && !kept.contains(path) && kept.size() < mCapacity)
            kept.append(path);
    }
    if (kept == mPaths)
        return;
    mPaths = kept;
    refill();
    if (mChanged)
        mChanged();
}

void RecentDocumentsMenu::clear()
{
    setPaths({});
}

void RecentDocumentsMenu::refill()
{
    mMenu->removeAllItems();
    for (const QString& path : mPaths) {
        auto item = mMenu->addItem(QFileInfo(path).fileName(), [this, path](MenuItem&) {
            if (mOpen)
                mOpen(path);
        });
        item->setRepresentedObject(path);
    }
    mMenu->addItem(MenuItem::separator());
    auto clearItem = mMenu->addItem(QStringLiteral("Clear Menu"), [this](MenuItem&) { clear(); });
    clearItem->setEnabled(!mPaths.isEmpty());
    // Bars showing the submenu show the new items, once the running action (maybe one of
    // the items being replaced) has returned.
    for (const auto& entry : installedMenuBars())
        QMetaObject::invokeMethod(entry.second, &MenuBar::rebuild, Qt::QueuedConnection);
}

} // namespace corvex
