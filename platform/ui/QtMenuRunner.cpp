#include "platform/ui/QtMenuRunner.h"

#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/MenuShortcut_p.h"
#include "platform/ui/Window.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <map>

namespace corvex {

namespace {

using ActionMap = std::map<const QAction*, std::shared_ptr<MenuItem>>;

QString actionText(const QString& title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void fill(QMenu& qmenu, const Menu& menu, ActionMap& actions, int depth)
{
    for (const auto& item : menu.items()) {
        if (item->isHidden())
            continue;
        if (item->isSeparator()) {
            qmenu.addSeparator();
            continue;
        }
        QAction* action = nullptr;
        // A bounded depth: the model refuses cycles, and no real menu is nested this deep.
        if (item->submenu() && depth < 16) {
            QMenu* sub = qmenu.addMenu(actionText(item->title()));
            fill(*sub, *item->submenu(), actions, depth + 1);
            action = sub->menuAction();
        } else {
            action = qmenu.addAction(actionText(item->title()));
            action->setShortcut(menuShortcutFor(*item));
            action->setShortcutVisibleInContextMenu(true);
            if (item->state() != MenuItem::State::Off) {
                action->setCheckable(true);
                action->setChecked(item->state() == MenuItem::State::On);
            }
        }
        action->setEnabled(item->isEnabled());
        actions[action] = item;
    }
}

} // namespace

std::shared_ptr<MenuItem> QtMenuRunner::choose(const Presentation& presentation)
{
    const Menu& menu = *presentation.menu;
    QMenu qmenu(presentation.window ? presentation.window->hostWidget() : nullptr);
    qmenu.setTitle(menu.title());
    ActionMap actions;
    fill(qmenu, menu, actions, 0);
    if (qmenu.actions().isEmpty())
        return nullptr;

    QAction* at = nullptr;
    for (const auto& [action, item] : actions) {
        if (item == presentation.positioningItem)
            at = const_cast<QAction*>(action);
    }
    QAction* chosen = qmenu.exec(presentation.screenPoint.toPoint(), at);
    const auto it = actions.find(chosen);
    return it == actions.end() ? nullptr : it->second;
}

} // namespace corvex
