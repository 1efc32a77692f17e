#include "toolkit/CustomTextField.h"

#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/TextFieldEditMenu.h"

// The embedded field's inline widget accessors need the complete widget class.
#include <QWidget>
#include <algorithm>

namespace corvex {

namespace {

bool isKeptAction(const QString& actionId)
{
    return actionId == TextFieldEditMenu::CutAction || actionId == TextFieldEditMenu::CopyAction ||
           actionId == TextFieldEditMenu::PasteAction || actionId == TextFieldEditMenu::UppercaseWordAction ||
           actionId == TextFieldEditMenu::LowercaseWordAction ||
           actionId == TextFieldEditMenu::CapitalizeWordAction;
}

// A copy of a choice item (items belong to one menu at a time).
std::shared_ptr<MenuItem> copyOf(const MenuItem& item)
{
    auto copy = MenuItem::create(item.title(), item.action(), item.keyEquivalent());
    copy->setKeyEquivalentModifierMask(item.keyEquivalentModifierMask());
    copy->setActionId(item.actionId());
    copy->setRepresentedObject(item.representedObject());
    copy->setTag(item.tag());
    copy->setState(item.state());
    copy->setEnabled(item.isEnabled());
    copy->setHidden(item.isHidden());
    return copy;
}

} // namespace

CustomTextField::CustomTextField() = default;

CustomTextField::~CustomTextField() = default;

std::shared_ptr<CustomTextField> CustomTextField::create()
{
    auto view = BaseView::make<CustomTextField>();
    view->mInnerField = CustomInnerTextField::create();
    std::weak_ptr<CustomTextField> weak = view;
    view->mInnerField->setMenuHandler([weak](const std::shared_ptr<Menu>& menu, const Event& event,
                                             qsizetype index) -> std::shared_ptr<Menu> {
        if (auto owner = weak.lock())
            return owner->textViewMenu(menu, event, index);
        return createTextFieldMenuFrom(menu);
    });
    view->addSubview(view->mInnerField);
    view->setNeedsDisplay(true);
    return view;
}

QString CustomTextField::className() const
{
    return QStringLiteral("CustomTextField");
}

QString CustomTextField::text() const
{
    return mInnerField ? mInnerField->text() : QString();
}

void CustomTextField::setText(const QString& text)
{
    if (mInnerField)
        mInnerField->setText(text);
}

void CustomTextField::applyLayout()
{
    BaseView::applyLayout();
    const Rect area = bounds();
    if (!mInnerField || area.isEmpty())
        return;
    mInnerField->setFrame(Rect(area.minX() + HorizontalInset, area.minY() + VerticalInset,
                               std::max(area.width() - 2 * HorizontalInset, 0.0),
                               std::max(area.height() - 2 * VerticalInset, 0.0)));
}

void CustomTextField::setFrame(const Rect& frame)
{
    const bool resized = !(frame.size == View::frame().size);
    BaseView::setFrame(frame);
    // Contents are redrawn on request only: an outline stretched with the view would be wrong.
    if (resized)
        setNeedsDisplay(true);
}

void CustomTextField::drawRect(const Rect&, GraphicsContext& context)
{
    Path outline;
    outline.addRoundedRect(bounds(), OutlineCornerRadius, OutlineCornerRadius);
    context.saveGState();
    context.setStrokeColor(Globals::colorLightGray());
    context.setLineWidth(OutlineWidth);
    context.beginPath();
    context.addPath(outline);
    context.strokePath();
    context.restoreGState();
}

std::shared_ptr<Menu> CustomTextField::textViewMenu(const std::shared_ptr<Menu>& menu, const Event&,
                                                    qsizetype)
{
    return createTextFieldMenuFrom(menu);
}

std::shared_ptr<Menu> CustomTextField::createTextFieldMenuFrom(const std::shared_ptr<Menu>& menu)
{
    auto result = Menu::create();
    if (menu)
        processMenu(*menu, *result);
    result->addItem(MenuItem::separator());
    return result;
}

bool CustomTextField::processMenu(const Menu& menu, Menu& target)
{
    if (&menu == &target)
        return true;
    // True while nothing was added since the last group (a submenu) began.
    bool nothingAdded = true;
    for (const auto& item : menu.items()) {
        if (isKeptAction(item->actionId())) {
            target.addItem(copyOf(*item));
            nothingAdded = false;
        } else if (const auto submenu = item->submenu()) {
            if (!nothingAdded)
                target.addItem(MenuItem::separator());
            processMenu(*submenu, target);
            nothingAdded = true;
        }
    }
    return true;
}

} // namespace corvex
