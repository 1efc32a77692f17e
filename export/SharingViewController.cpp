#include "export/SharingViewController.h"

#include "export/CorvexShareTypeView.h"
#include "export/ImageShareTypeView.h"
#include "export/OPMLShareTypeView.h"
#include "export/PDFShareTypeView.h"
#include "export/PresentationShareTypeView.h"
#include "export/TabItem.h"
#include "export/TextShareTypeView.h"
#include "export/WebShareTypeView.h"
#include "model/Globals.h"
#include "platform/ui/Event.h"
#include "platform/ui/Window.h"
#include "toolkit/ColoredView.h"

namespace corvex {

std::shared_ptr<SharingViewController> SharingViewController::initWithIdea(const IdeaPtr& idea,
                                                                           StorageLocation location,
                                                                           const QDateTime& lastModified)
{
    return std::make_shared<SharingViewController>(idea, location, lastModified);
}

SharingViewController::SharingViewController(IdeaPtr idea, StorageLocation location, QDateTime lastModified)
    : mIdea(std::move(idea)), mLocation(location), mLastModified(std::move(lastModified))
{}

SharingViewController::~SharingViewController() = default;

void SharingViewController::loadView()
{
    auto self = std::static_pointer_cast<SharingViewController>(shared_from_this());
    auto root =
        ColoredView::createWithLayouter(Globals::colorWhite(), std::static_pointer_cast<Layouter>(self));
    root->setEatMouseEvents(true);
    setView(root);
    mTopAreaView = ColoredView::create(Globals::colorGray91());
    root->addSubview(mTopAreaView);
    mTabButtons.clear();
    mShareTypes.clear();
    const std::weak_ptr<ShareTypeViewDelegate> delegate =
        std::static_pointer_cast<ShareTypeViewDelegate>(self);
    addShareType(ShareTypeView::makePane<CorvexShareTypeView>(delegate));
    addShareType(ShareTypeView::makePane<PDFShareTypeView>(delegate));
    addShareType(ShareTypeView::makePane<PresentationShareTypeView>(delegate));
    addShareType(ShareTypeView::makePane<TextShareTypeView>(delegate));
    addShareType(ShareTypeView::makePane<ImageShareTypeView>(delegate));
    addShareType(ShareTypeView::makePane<WebShareTypeView>(delegate));
    addShareType(ShareTypeView::makePane<OPMLShareTypeView>(delegate));
    selectShareType(ExportScreen::PDF);
}

void SharingViewController::addShareType(const std::shared_ptr<ShareTypeView>& pane)
{
    const std::shared_ptr<View>& root = view();
    mShareTypes.push_back(pane);
    root->addSubview(pane);
    std::shared_ptr<TabItem> tab = pane->createTabItem();
    if (!tab)
        return;
    tab->setDelegate(std::static_pointer_cast<SharingViewController>(shared_from_this()));
    mTabButtons.push_back(tab);
    root->addSubview(tab);
}

qint64 SharingViewController::indexOfShareType(quint64 shareType) const
{
    for (std::size_t i = 0; i < mTabButtons.size(); ++i) {
        if (mTabButtons[i]->shareType() == shareType)
            return qint64(i);
    }
    return NotFound;
}

std::shared_ptr<ShareTypeView> SharingViewController::shareTypeView(quint64 shareType) const
{
    const qint64 index = indexOfShareType(shareType);
    return index == NotFound || std::size_t(index) >= mShareTypes.size() ? nullptr
                                                                         : mShareTypes[std::size_t(index)];
}

void SharingViewController::selectShareType(quint64 shareType)
{
    loadViewIfNeeded();
    mCurrentShareTypeIdx = indexOfShareType(shareType);
    for (std::size_t i = 0; i < mTabButtons.size(); ++i)
        mTabButtons[i]->setToggled(qint64(i) == mCurrentShareTypeIdx);
    for (std::size_t i = 0; i < mShareTypes.size(); ++i)
        mShareTypes[i]->setHidden(qint64(i) != mCurrentShareTypeIdx);
}

void SharingViewController::setDelegate(std::weak_ptr<ExportScreenDelegate> delegate)
{
    mDelegate = std::move(delegate);
}

void SharingViewController::buttonPressed(ButtonView& button)
{
    if (auto* tab = dynamic_cast<TabItem*>(&button))
        selectShareType(tab->shareType());
}

void SharingViewController::applyLayout()
{
    const std::shared_ptr<View>& root = viewIfLoaded();
    if (!root || !mTopAreaView)
        return;
    const Rect bounds = root->bounds();
    const double strip = std::min(TopAreaHeight, bounds.size.height);
    mTopAreaView->setFrame(Rect(bounds.origin.x, bounds.origin.y, bounds.size.width, strip));
    const double count = double(mTabButtons.size());
    const double width = bounds.size.width < count * TabWidth ? bounds.size.width / count : TabWidth;
    for (std::size_t i = 0; i < mTabButtons.size(); ++i)
        mTabButtons[i]->setFrame(Rect(bounds.origin.x + double(i) * width, bounds.origin.y, width, strip));
    for (const auto& pane : mShareTypes)
        pane->setFrame(
            Rect(bounds.origin.x, bounds.origin.y + strip, bounds.size.width, bounds.size.height - strip));
}

// ---- Closing

void SharingViewController::pleaseClose()
{
    handleDismissal();
}

void SharingViewController::cancelOperation()
{
    handleDismissal();
}

void SharingViewController::screenProtectorWasClicked()
{
    handleDismissal();
}

void SharingViewController::handleDismissal()
{
    // Asked once: a write that ends after Escape closed the dialog must not dismiss it again.
    if (mDismissalAsked)
        return;
    const auto delegate = mDelegate.lock();
    if (!delegate)
        return;
    mDismissalAsked = true;
    delegate->pleaseDismissSharingView(*this);
}

void SharingViewController::keyDown(const Event& event)
{
    if (event.keyCode() == Event::KeyCodeEscape) {
        cancelOperation();
        return;
    }
    ExportScreen::keyDown(event);
}

void SharingViewController::viewDidAppear()
{
    ExportScreen::viewDidAppear();
    if (Window* window = myWindow())
        window->makeFirstResponder(this);
}

void SharingViewController::showExportAlert(const QString& title, const QString& message)
{
    showNonblockingAlertViewWithTitle(title, message);
}

// ---- Registration

void registerExportScreen()
{
    ExportScreen::setFactory(
        [](const IdeaPtr& root, StorageLocation location, const QDateTime& lastModified) {
            return std::static_pointer_cast<ExportScreen>(
                SharingViewController::initWithIdea(root, location, lastModified));
        });
}

} // namespace corvex
