#include "editor/RemoveIconCell.h"

#include "editor/CellPattern.h"
#include "editor/IconCategoryTableView.h"
#include "model/Globals.h"
#include "platform/gfx/AttributedString.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TableView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

RemoveIconCell::RemoveIconCell() : ColoredView(CellPattern::rowBackground()) {}
RemoveIconCell::~RemoveIconCell() = default;

std::shared_ptr<RemoveIconCell> RemoveIconCell::create(const std::shared_ptr<IconCategoryTableView>& owner)
{
    auto cell = ColoredView::make<RemoveIconCell>();
    cell->prepareCell(owner);
    return cell;
}

QString RemoveIconCell::className() const
{
    return QStringLiteral("RemoveIconCell");
}

void RemoveIconCell::prepareCell(const std::shared_ptr<IconCategoryTableView>& owner)
{
    mOwner = owner;
    mTextLabel = TextLabel::create();
    mTextLabel->setFont(Globals::fontAvenirHeavy(11));
    mTextLabel->setTextColor(Globals::colorGray58());
    const QString text = Globals::normalUppercaseStringForKey(QStringLiteral("Choice.RemoveIcon"),
                                                              QStringLiteral("Remove Icon"));
    AttributedString attributed(text, Globals::fontAvenirHeavy(11), Globals::colorGray58());
    attributed.setKern(1.3, 0, attributed.length());
    mTextLabel->setAttributedText(attributed);
    mTextLabel->setBackgroundColor(PlatformColor::clear());
    mTextLabel->sizeToFit();
    addSubview(mTextLabel);
    mButton =
        CellPattern::rowButton(QStringLiteral("remove_icon"), QStringLiteral("remove_icon_active"), true);
    mButton->setDelegate(std::static_pointer_cast<ButtonViewDelegate>(sharedAs<RemoveIconCell>()));
    addSubview(mButton);
}

void RemoveIconCell::buttonPressed(ButtonView&)
{
    if (const auto owner = mOwner.lock())
        owner->rowPressedAtLocation(CellPattern::centreIn(*this, *owner->tableView()));
}

void RemoveIconCell::applyLayout()
{
    ColoredView::applyLayout();
    const Rect bounds = this->bounds();
    mButton->setFrame(bounds);
    ViewExtensions::setMiddleLeftPosition(*mTextLabel, Point(8, bounds.size.height / 2));
    const Rect label = mTextLabel->frame();
    mTextLabel->setFrame(Rect(8, label.minY(), bounds.size.width - 8, label.size.height).integral());
}

} // namespace corvex
