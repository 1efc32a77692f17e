#include "editor/EditIdeaViewController.h"

#include "editor/ColorSelectionTabView.h"
#include "editor/EditViewTabBar.h"
#include "editor/IconImageTabView.h"
#include "editor/IdeaTextEditTabView.h"
#include "model/IdeaMembers.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Transaction.h"
#include "toolkit/ColoredView.h"

namespace corvex {

EditIdeaViewController::EditIdeaViewController() = default;
EditIdeaViewController::~EditIdeaViewController() = default;

std::shared_ptr<EditIdeaViewController>
EditIdeaViewController::initForPopover(const std::shared_ptr<Popover>& popover)
{
    auto controller = std::make_shared<EditIdeaViewController>();
    controller->mPopover = popover;
    if (popover) {
        popover->setAnimates(true);
        popover->setContentViewController(controller);
        popover->setDelegate(std::static_pointer_cast<PopoverDelegate>(controller));
    }
    return controller;
}

bool EditIdeaViewController::textEquality(const QString& a, const QString& b)
{
    return IdeaMembers::sameForEditor(IdeaMemberType::Text, a, b);
}

bool EditIdeaViewController::didChange() const
{
    return mDidRecolor || mValues.differsFrom(mOriginalValues);
}

void EditIdeaViewController::showRelativeToRect(const Rect& anchor, View& view)
{
    if (mPopover)
        mPopover->showRelativeToRect(anchor, view, Popover::Edge::MaxY);
}

void EditIdeaViewController::prepareForPresentation()
{
    mDidRecolor = false;
    mOriginalValues = mValues;
    if (!mPreparedOnce) {
        mPreparedOnce = true;
        (void)view();
    }
}

void EditIdeaViewController::loadView()
{
    mView = ColoredView::createWithLayouter(
        PlatformColor::white(), std::static_pointer_cast<Layouter>(
                                    std::static_pointer_cast<EditIdeaViewController>(shared_from_this())));
    // Tabs and popover change size at once; the grid's slide is driven frame by frame.
    mView->setDisableAnimations(true);
    setView(mView);
    mEditViewTabBar = EditViewTabBar::create();
    mEditViewTabBar->setDelegate(std::static_pointer_cast<EditViewTabBarDelegate>(
        std::static_pointer_cast<EditIdeaViewController>(shared_from_this())));
    mView->addSubview(mEditViewTabBar);
    mView->setFrame(Rect(0, 0, Width, 360));
}

void EditIdeaViewController::applyLayout()
{
    if (!mView)
        return;
    const Rect bounds = mView->bounds();
    const double barHeight = EditViewTabBar::desiredHeight();
    if (mEditViewTabBar)
        mEditViewTabBar->setFrame(Rect(0, 0, bounds.size.width, barHeight));
    if (mCurrentTabView)
        mCurrentTabView->setFrame(Rect(0, barHeight, bounds.size.width, bounds.size.height - barHeight));
}

void EditIdeaViewController::updateFrameWithHeight(double height)
{
    Transaction::begin();
    Transaction::setDisableActions(true);
    if (mView)
        mView->setFrameSize(Size(Width, height));
    if (mPopover)
        mPopover->setContentSize(Size(Width, height));
    if (mView)
        mView->forceDirtyLayout();
    Transaction::commit();
}

void EditIdeaViewController::switchToView(const Tab& tab)
{
    if (mCurrentTab)
        mCurrentTab->deactivate();
    if (mCurrentTabView)
        mCurrentTabView->removeFromSuperview();
    mCurrentTabView = tab.view;
    mCurrentTab = tab.subordinate;
    if (mView && mCurrentTabView)
        mView->addSubview(mCurrentTabView, View::Ordering::Below, mEditViewTabBar.get());
    if (mCurrentTab)
        mCurrentTab->activate();
    if (mView)
        mView->forceDirtyLayout();
}

void EditIdeaViewController::reloadDataFromSubViews()
{
    const EditIdeaViewSubordinate* tabs[] = {mTextTabView.get(), mColorTabView.get(),
                                             mIconImageTabView.get()};
    for (const EditIdeaViewSubordinate* tab : tabs) {
        if (tab)
            tab->storeValues(mValues);
    }
    if (mColorTabView)
        mDidRecolor = mColorTabView->didRecolor();
}

void EditIdeaViewController::pleaseUpdateIdeaTextEditTabViewHeight()
{
    if (mTextTabView && mEditViewTabBar)
        updateFrameWithHeight(mTextTabView->currentPreferredHeight() + mEditViewTabBar->frame().size.height);
}

void EditIdeaViewController::dismissView()
{
    if (mPopover)
        mPopover->performClose();
}

EditIdeaViewController::Tab EditIdeaViewController::tabFor(qint64 item, bool make, bool& made)
{
    made = false;
    const auto self = std::static_pointer_cast<EditIdeaViewController>(shared_from_this());
    if (item == 0) {
        if (!mTextTabView && make) {
            mTextTabView = IdeaTextEditTabView::create();
            mTextTabView->setDelegate(std::static_pointer_cast<IdeaTextEditTabViewDelegate>(self));
            made = true;
        }
        return {mTextTabView, mTextTabView.get()};
    }
    if (item == 1) {
        if (!mColorTabView && make) {
            mColorTabView = ColorSelectionTabView::create();
            mColorTabView->setDelegate(std::static_pointer_cast<EditIdeaTabDelegate>(self));
            made = true;
        }
        return {mColorTabView, mColorTabView.get()};
    }
    if (!mIconImageTabView && make) {
        mIconImageTabView = IconImageTabView::create();
        mIconImageTabView->setDelegate(std::static_pointer_cast<EditIdeaTabDelegate>(self));
        made = true;
    }
    return {mIconImageTabView, mIconImageTabView.get()};
}

void EditIdeaViewController::editViewTabBarUserSelectedItem(EditViewTabBar&, qint64 item)
{
    reloadDataFromSubViews();
    if (!mView)
        return;
    mView->beginLayout();
    bool made = false;
    Tab tab = tabFor(item, false, made);
    if (tab.view && tab.view == mCurrentTabView) {
        mView->endLayout();
        return;
    }
    tab = tabFor(item, true, made);
    tab.subordinate->reloadFrom(*this, made);
    updateFrameWithHeight(tab.subordinate->currentPreferredHeight() + mEditViewTabBar->frame().size.height);
    switchToView(tab);
    mView->endLayout();
}

void EditIdeaViewController::popoverWillShow(Popover&)
{
    prepareForPresentation();
    if (mTextTabView)
        mTextTabView->reloadFrom(*this, true);
    if (mColorTabView)
        mColorTabView->reloadFrom(*this, true);
    if (mIconImageTabView)
        mIconImageTabView->reloadFrom(*this, true);
    if (mCurrentTabView)
        mCurrentTabView->removeFromSuperview();
    mCurrentTabView.reset();
    mCurrentTab = nullptr;
    if (mEditViewTabBar)
        mEditViewTabBar->setCurrentSelection(0);
    // Queued, so that the text tab is made and shown just after the popover starts showing;
    // the block keeps the controller alive until it runs.
    const auto self = std::static_pointer_cast<EditIdeaViewController>(shared_from_this());
    MainQueue::post([self] {
        if (self->mEditViewTabBar)
            self->editViewTabBarUserSelectedItem(*self->mEditViewTabBar, 0);
    });
}

void EditIdeaViewController::popoverDidShow(Popover&)
{
    if (mCurrentTab)
        mCurrentTab->activate();
}

void EditIdeaViewController::popoverDidClose(Popover&)
{
    reloadDataFromSubViews();
    if (const auto delegate = mDelegate.lock())
        delegate->editIdeaViewDidClose();
}

} // namespace corvex
