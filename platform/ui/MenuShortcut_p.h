#pragma once

// The key sequence of a menu item's key equivalent, shared by the menu bar and pop-up menus.

#include "platform/ui/Event.h"
#include "platform/ui/MenuItem.h"

#include <QKeySequence>

namespace corvex {

// Ctrl stands for Event::CommandKeyMask, Meta for Event::ControlKeyMask and Alt for
// Event::OptionKeyMask; an upper-case letter implies Shift.
inline QKeySequence menuShortcutFor(const MenuItem& item)
{
    const QString key = item.keyEquivalent();
    if (key.isEmpty())
        return {};
    const unsigned mask = item.keyEquivalentModifierMask();
    Qt::KeyboardModifiers modifiers;
    if (mask & Event::CommandKeyMask)
        modifiers |= Qt::ControlModifier;
    if (mask & Event::ControlKeyMask)
        modifiers |= Qt::MetaModifier;
    if (mask & Event::OptionKeyMask)
        modifiers |= Qt::AltModifier;
    if ((mask & Event::ShiftKeyMask) || (key.size() == 1 && key.at(0).isUpper()))
        modifiers |= Qt::ShiftModifier;
    const QKeySequence base(key.toUpper());
    if (base.isEmpty())
        return {};
    return QKeySequence(QKeyCombination(modifiers, base[0].key()));
}

} // namespace corvex
