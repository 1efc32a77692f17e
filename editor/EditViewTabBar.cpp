#include "editor/EditViewTabBar.h"

#include "editor/EditViewTabBarDelegate.h"
#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

std::shared_ptr<TextLabel> tabTitleLabel(const QString& title, const PlatformColor& colour)
{
    auto label = TextLabel::create();
    label->setFontSize(12);
    label->setTextColor(colour);
    label->setText(title);
    label->sizeToFit();
    return label;
}

void centreIn(View& view, const Rect& bounds)
{
    ViewExtensions::setCenter(view, Point(bounds.midX(), bounds.midY()));
    view.setFrame(view.frame().integral());
}

} // namespace

EditViewTabBar::EditViewTabBar() = default;
EditViewTabBar::~EditViewTabBar() = default;

std::shared_ptr<EditViewTabBar> EditViewTabBar::create()
{
    auto bar = BaseView::make<EditViewTabBar>();
    bar->prepareTabBar();
    return bar;
}

QString EditViewTabBar::className() const
{
    return QStringLiteral("EditViewTabBar");
}

void EditViewTabBar::prepareTabBar()
{
    setNeedsDisplay(true);
    addOption(0, Globals::normalLocalizedStringForKey(QStringLiteral("IdeaEditorTab.Text"), QString()));
    addOption(1, Globals::normalLocalizedStringForKey(QStringLiteral("IdeaEditorTab.Color"), QString()));
    addOption(2, Globals::normalLocalizedStringForKey(QStringLiteral("IdeaEditorTab.Icon"), QString()));
    mDoneButton = ButtonView::createWithImage(PlatformImage::imageNamed(QStringLiteral("accept")),
                                              PlatformImage::imageNamed(QStringLiteral("accept_active")));
    mDoneButton->setDelegate(std::static_pointer_cast<ButtonViewDelegate>(sharedAs<EditViewTabBar>()));
    addSubview(mDoneButton);
}

void EditViewTabBar::addOption(qint64, const QString& title)
{
    const QString upper = QLocale().toUpper(title);
    auto button = ButtonView::create();
    button->setDelegate(std::static_pointer_cast<ButtonViewDelegate>(sharedAs<EditViewTabBar>()));
    button->addView(ColoredView::create(Globals::colorGray91()), 1);
    button->addView(tabTitleLabel(upper, Globals::colorGrayDarkText()), 1, centreIn);
    button->addView(ColoredView::create(Globals::colorBrightGreen()), 2);
    button->addView(tabTitleLabel(upper, PlatformColor::white()), 2, centreIn);
    mTabControls.push_back(button);
    addSubview(button);
}

void EditViewTabBar::setCurrentSelection(qint64 selection)
{
    mCurrentSelection = selection;
    for (std::size_t i = 0; i < mTabControls.size(); ++i)
        mTabControls[i]->setToggled(qint64(i) == selection);
}

void EditViewTabBar::applyLayout()
{
    BaseView::applyLayout();
    const double w = buttonWidth();
    for (std::size_t i = 0; i < mTabControls.size(); ++i)
        mTabControls[i]->setFrame(Rect(double(i) * w, 0, w, desiredHeight()).integral());
    if (mDoneButton)
        mDoneButton->setFrame(Rect(3 * w, 12, w, 36));
}

void EditViewTabBar::drawRect(const Rect& dirtyRect, GraphicsContext& context)
{
    context.setFillColor(Globals::colorGray91());
    context.fillRect(dirtyRect);
}

void EditViewTabBar::buttonPressed(ButtonView& button)
{
    const auto delegate = mDelegate.lock();
    if (&button == mDoneButton.get()) {
        if (delegate)
            delegate->pleaseCloseEditView();
        return;
    }
    for (std::size_t i = 0; i < mTabControls.size(); ++i) {
        if (mTabControls[i].get() != &button)
            continue;
        setCurrentSelection(qint64(i));
        if (delegate)
            delegate->editViewTabBarUserSelectedItem(*this, qint64(i));
        return;
    }
}

} // namespace corvex
