#pragma once

#include "platform/ui/EmbeddedWidgetView.h"
#include "toolkit/TextCommandHook.h"

#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <utility>

namespace corvex {

class Event;
class Menu;

// The editable one-line field inside a CustomTextField: an embedded line edit without a
// border, a focus frame or a background of its own look, in black text (colorBlack) of the
// system font, 13 points. Its right-click menu is Qt's standard line-edit menu in the model's
// form (TextFieldEditMenu::standardMenu), passed through the menu handler when one is set
// (the owning CustomTextField sets one that reduces it). Main thread only.
class CustomInnerTextField : public EmbeddedWidgetView
{
public:
    // Returns the menu to show for the standard menu of a right click, the click, and the
    // character index under the pointer.
    using MenuHandler = std::function<std::shared_ptr<Menu>(const std::shared_ptr<Menu>& menu,
                                                            const Event& event, qsizetype index)>;

    CustomInnerTextField();
    ~CustomInnerTextField() override;
    static std::shared_ptr<CustomInnerTextField> create();

    QString className() const override;

    QString text() const;
    void setText(const QString& text);

    void setMenuHandler(MenuHandler handler) { mMenuHandler = std::move(handler); }
    // The field's editing commands ("insertNewline:", "insertTab:") go to the handler first
    // (TextCommandHook); answering true takes them. An empty handler leaves every key to the
    // field.
    using CommandHandler = std::function<bool(const QString& command)>;
    void setCommandHandler(CommandHandler handler);
    std::shared_ptr<Menu> menuForEvent(const Event& event) override;

private:
    MenuHandler mMenuHandler;
    // Owned by the line edit.
    QPointer<TextCommandHook> mCommandHook;
};

} // namespace corvex
