#include "editor/IconSelectorView.h"

#include "editor/IconTabDelegates.h"
#include "editor/TitleRowView.h"
#include "model/Globals.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ColoredView.h"

namespace corvex {

IconSelectorView::IconSelectorView() = default;
IconSelectorView::~IconSelectorView() = default;

std::shared_ptr<IconSelectorView>
IconSelectorView::create(const QString& category, const std::vector<IconImagePtr>& icons,
                         const std::shared_ptr<IconSelectorViewDelegate>& delegate)
{
    auto view = BaseView::make<IconSelectorView>();
    view->prepareGrid(category, icons, delegate);
    return view;
}

QString IconSelectorView::className() const
{
    return QStringLiteral("IconSelectorView");
}

void IconSelectorView::prepareGrid(const QString& category, const std::vector<IconImagePtr>& icons,
                                   const std::shared_ptr<IconSelectorViewDelegate>& delegate)
{
    mDelegate = delegate;
    const auto self = std::static_pointer_cast<ButtonViewDelegate>(sharedAs<IconSelectorView>());
    mScrollView = BaseScrollView::create();
    mScrollView->setBackgroundColor(Globals::colorGray93());
    mScrollView->setDrawsBackground(true);
    mScrollView->setHasVerticalScroller(true);
    mScrollView->setHasHorizontalScroller(false);
    mScrollView->setScrollerStyle(1);
    mContentView = BaseView::create();
    mScrollView->setDocumentView(mContentView);
    addSubview(mScrollView);
    mTitleRow = TitleRowView::create(self, category);
    addSubview(mTitleRow);
    const IconImagePtr current = delegate ? delegate->currentIconSelection() : nullptr;
    for (const IconImagePtr& icon : icons) {
        if (!icon)
            continue;
        auto button = ButtonView::create();
        button->setIsToggleButton(true);
        button->setDelegate(self);
        button->setAssociatedObject(icon);
        button->addView(ColoredView::create(PlatformColor::white()), 2);
        auto image = BaseImageView::createWithImage(icon->image());
        image->setImageScaling(BaseImageView::ScaleProportionallyUpOrDown);
        button->addView(image, 0, [](View& view, const Rect& bounds) {
            view.setFrame(Rect(bounds.midX() - 16, bounds.midY() - 16, 32, 32).integral());
        });
        button->setToggled(current && current->name() == icon->name() &&
                           current->category() == icon->category());
        mContentView->addSubview(button);
        mIconButtons.push_back(std::move(button));
    }
}

void IconSelectorView::buttonPressed(ButtonView& button)
{
    const auto delegate = mDelegate.lock();
    if (mTitleRow && &button == mTitleRow->button().get()) {
        if (delegate)
            delegate->pleaseDismissIconSelector();
        return;
    }
    IconImagePtr chosen;
    for (const auto& candidate : mIconButtons) {
        const bool pressed = candidate.get() == &button;
        candidate->setToggled(pressed);
        if (pressed) {
            if (const auto* icon = std::any_cast<IconImagePtr>(&candidate->associatedObject()))
                chosen = *icon;
        }
    }
    if (delegate && chosen)
        delegate->handleIconSelection(chosen);
}

View* IconSelectorView::hitTest(Point pointInSuperview)
{
    View* hit = BaseView::hitTest(pointInSuperview);
    if (!hit && !isHidden() && frame().contains(pointInSuperview))
        return this;
    return hit;
}

void IconSelectorView::applyLayout()
{
    BaseView::applyLayout();
    const double w = bounds().size.width;
    const double h = bounds().size.height;
    mTitleRow->setFrame(Rect(0, 0, w, 48));
    mScrollView->setFrame(Rect(0, 48, w, std::max(0.0, h - 48)));
    const auto step = float((w - 30 - 34) / 6);
    double bottom = 0;
    for (std::size_t i = 0; i < mIconButtons.size(); ++i) {
        const Rect frame =
            Rect(15 + double(i % Columns) * double(step), 20 + double(i / Columns) * 47, 34, 34).integral();
        mIconButtons[i]->setFrame(frame);
        bottom = frame.maxY();
    }
    mContentView->setFrame(Rect(0, 0, w, bottom));
    mScrollView->tile();
}

} // namespace corvex
