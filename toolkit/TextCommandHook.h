#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace corvex {

// Hands a text widget's editing commands to its owner by their command names: Return and
// Enter as "insertNewline:", Tab as "insertTab:". It filters the widget's events, so Tab
// reaches the owner before Qt's focus chain takes it. A handler answering true has taken the
// command; false leaves the key to the widget. Main thread only.
class TextCommandHook : public QObject
{
public:
    static const QString InsertNewline; // "insertNewline:"
    static const QString InsertTab;     // "insertTab:"

    using Handler = std::function<bool(const QString& command)>;

    // Installs itself on `widget` as its event filter and is owned by it.
    static TextCommandHook* install(QObject& widget, Handler handler);

    void setHandler(Handler handler) { mHandler = std::move(handler); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TextCommandHook(QObject& widget, Handler handler);
    Handler mHandler;
};

} // namespace corvex
