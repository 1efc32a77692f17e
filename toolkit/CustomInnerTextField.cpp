#include "toolkit/CustomInnerTextField.h"

#include "model/Globals.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Menu.h"
#include "toolkit/LineEditColorEmoji.h"
#include "toolkit/TextCommandHook.h"
#include "toolkit/TextFieldEditMenu.h"

#include <QLineEdit>
#include <QPalette>

namespace corvex {

CustomInnerTextField::CustomInnerTextField() : EmbeddedWidgetView(std::make_unique<QLineEdit>())
{
    QLineEdit* edit = lineEdit();
    edit->setFrame(false);
    // No focus ring: the owner's outline is the field's only frame.
    edit->setAttribute(Qt::WA_MacShowFocusRect, false);
    edit->setFont(PlatformFont::systemFont(13.0).qfont());
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, Globals::colorBlack().toQColor());
    edit->setPalette(palette);
    LineEditColorEmoji::attach(*edit);
    TextFieldEditMenu::attach(*this);
}

CustomInnerTextField::~CustomInnerTextField() = default;

std::shared_ptr<CustomInnerTextField> CustomInnerTextField::create()
{
    return std::make_shared<CustomInnerTextField>();
}

QString CustomInnerTextField::className() const
{
    return QStringLiteral("CustomInnerTextField");
}

QString CustomInnerTextField::text() const
{
    return lineEdit() ? lineEdit()->text() : QString();
}

void CustomInnerTextField::setText(const QString& text)
{
    if (lineEdit())
        lineEdit()->setText(text);
}

void CustomInnerTextField::setCommandHandler(CommandHandler handler)
{
    QLineEdit* edit = lineEdit();
    if (!edit)
        return;
    if (mCommandHook)
        mCommandHook->setHandler(std::move(handler));
    else
        mCommandHook = TextCommandHook::install(*edit, std::move(handler));
}

std::shared_ptr<Menu> CustomInnerTextField::menuForEvent(const Event& event)
{
    QLineEdit* edit = lineEdit();
    if (!edit)
        return nullptr;
    auto menu = TextFieldEditMenu::standardMenu(*edit);
    if (!mMenuHandler)
        return menu;
    return mMenuHandler(menu, event, TextFieldEditMenu::characterIndexAt(*this, event));
}

} // namespace corvex
