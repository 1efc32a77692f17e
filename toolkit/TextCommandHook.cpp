#include "toolkit/TextCommandHook.h"

#include <QEvent>
#include <QKeyEvent>

namespace corvex {

const QString TextCommandHook::InsertNewline = QStringLiteral("insertNewline:");
const QString TextCommandHook::InsertTab = QStringLiteral("insertTab:");

TextCommandHook::TextCommandHook(QObject& widget, Handler handler)
    : QObject(&widget), mHandler(std::move(handler))
{
    widget.installEventFilter(this);
}

TextCommandHook* TextCommandHook::install(QObject& widget, Handler handler)
{
    return new TextCommandHook(widget, std::move(handler));
}

bool TextCommandHook::eventFilter(QObject* watched, QEvent* event)
{
    // Tab is handled as a focus move in QWidget::event, before any key handler sees it: the
    // filter runs first.
    if (!mHandler || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    QString command;
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier)
        command = InsertNewline;
    else if (key->key() == Qt::Key_Tab && mods == Qt::NoModifier)
        command = InsertTab;
    if (command.isEmpty())
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Keep the key from any shortcut, so that the key press comes here.
        event->accept();
        return true;
    }
    return mHandler(command);
}

} // namespace corvex
