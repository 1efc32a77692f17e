#include "shell/TopBarView.h"

#include "model/Globals.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Window.h"
#include "toolkit/ButtonView.h"
#include "toolkit/SearchTextField.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>
#include <QPointer>

namespace corvex {

namespace {

// Focus that comes and goes with the window's activation or a pop-up menu: the field stays
// the window's first responder meanwhile, and the typing goes on once the window is back.
bool focusStaysWithField(const QEvent& event)
{
    const Qt::FocusReason reason = static_cast<const QFocusEvent&>(event).reason();
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

// Turns the line edit's focus and Escape into the bar's begin/end editing and cancel: the
// field itself reports only edits and Return.
class TopBarFieldWatcher final : public QObject
{
public:
    TopBarFieldWatcher(std::weak_ptr<TopBarView> bar, QLineEdit& edit) : mBar(std::move(bar)), mEdit(&edit)
    {
        edit.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto bar = mBar.lock();
        if (!bar || watched != mEdit.data())
            return false;
        switch (event->type()) {
        case QEvent::FocusIn:
            if (!focusStaysWithField(*event))
                bar->searchDidBeginEditing();
            break;
        case QEvent::FocusOut:
            if (!focusStaysWithField(*event))
                bar->searchDidEndEditing();
            break;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
                bar->cancelOperation();
            break;
        default:
            break;
        }
        return false;
    }

private:
    std::weak_ptr<TopBarView> mBar;
    QPointer<QLineEdit> mEdit;
};

QLineEdit* topBarLineEdit(const SearchTextField& field)
{
    return qobject_cast<QLineEdit*>(field.widget());
}

} // namespace

TopBarView::TopBarView() = default;
TopBarView::~TopBarView() = default;

std::shared_ptr<TopBarView> TopBarView::create()
{
    auto bar = BaseView::make<TopBarView>();
    bar->prepareTopBar();
    return bar;
}

QString TopBarView::className() const
{
    return QStringLiteral("TopBarView");
}

void TopBarView::prepareTopBar()
{
    setFrame(Rect(0, 0, 0, preferredHeight()));
    mSearchTextField = SearchTextField::createWithStyle(0);
    std::weak_ptr<TopBarView> weak = std::static_pointer_cast<TopBarView>(shared_from_this());
    mSearchTextField->setTextDidChangeHandler([weak](SearchTextField&) {
        if (auto bar = weak.lock())
            bar->searchTextDidChange();
    });
    if (QLineEdit* edit = topBarLineEdit(*mSearchTextField))
        new TopBarFieldWatcher(weak, *edit); // owned by the line edit
    addSubview(mSearchTextField);
    setNeedsDisplay(true);
}

std::shared_ptr<ButtonView> TopBarView::addButton(const QString& image, const QString& activeImage)
{
    auto button =
        ButtonView::createWithImage(PlatformImage::imageNamed(image), PlatformImage::imageNamed(activeImage));
    button->setFrame(Rect(0, 0, ButtonSide, ButtonSide));
    button->setDelegate(std::static_pointer_cast<TopBarView>(shared_from_this()));
    addSubview(button);
    return button;
}

void TopBarView::setHomeAction(bool shown)
{
    if (shown && !mHomeButton) {
        mHomeButton = addButton(QStringLiteral("home_icon"), QStringLiteral("home_icon_active"));
    } else if (!shown && mHomeButton) {
        mHomeButton->removeFromSuperview();
        mHomeButton.reset();
    }
    setNeedsLayout(true);
}

void TopBarView::setContentAction(bool shown)
{
    if (shown && !mContentButton) {
        mContentButton = addButton(QStringLiteral("add_image_icon"), QStringLiteral("add_image_icon_active"));
    } else if (!shown && mContentButton) {
        mContentButton->removeFromSuperview();
        mContentButton.reset();
    }
    setNeedsLayout(true);
}

void TopBarView::setMindmapToggleAction(bool shown, bool toggled)
{
    if (shown) {
        if (!mMindmapToggleButton)
            mMindmapToggleButton =
                addButton(QStringLiteral("mindmap_icon"), QStringLiteral("mindmap_icon_active"));
        mMindmapToggleButton->setIsToggleButton(true);
        mMindmapToggleButton->setToggled(toggled);
        updateToggleVisibility();
    } else if (mMindmapToggleButton) {
        mMindmapToggleButton->removeFromSuperview();
        mMindmapToggleButton.reset();
    }
    setNeedsLayout(true);
    setNeedsDisplay(true);
}

QString TopBarView::currentSearchText() const
{
    return mSearchTextField ? mSearchTextField->text() : QString();
}

void TopBarView::setCurrentSearchText(const QString& text)
{
    mPrevCommunicatedSearchText = text.isNull() ? QStringLiteral("") : text;
    if (mSearchTextField)
        mSearchTextField->setText(mPrevCommunicatedSearchText);
    updateToggleVisibility();
    setNeedsDisplay(true);
}

bool TopBarView::isEditingSearchText() const
{
    if (!mIsEditing || !mSearchTextField)
        return false;
    const QLineEdit* edit = topBarLineEdit(*mSearchTextField);
    Window* host = window();
    return (edit && edit->hasFocus()) || (host && host->firstResponder() == mSearchTextField.get());
}

void TopBarView::startEditingSearchText()
{
    if (!mSearchTextField)
        return;
    if (QLineEdit* edit = topBarLineEdit(*mSearchTextField)) {
        edit->selectAll();
        edit->setCursorPosition(int(edit->text().size()));
        edit->deselect();
    }
    if (Window* host = window())
        host->makeFirstResponder(mSearchTextField.get());
    mIsEditing = true;
}

void TopBarView::updateToggleVisibility()
{
    if (mMindmapToggleButton)
        mMindmapToggleButton->setHidden(hasSearchContent());
}

void TopBarView::searchDidBeginEditing()
{
    mIsEditing = true;
    updateToggleVisibility();
    setNeedsDisplay(true);
}

void TopBarView::searchTextDidChange()
{
    mIsEditing = true;
    updateToggleVisibility();
    setNeedsLayout(true);
    std::weak_ptr<TopBarView> weak = std::static_pointer_cast<TopBarView>(shared_from_this());
    MainQueue::post([weak] {
        if (auto bar = weak.lock())
            bar->notifyDelegate();
    });
}

void TopBarView::searchDidEndEditing()
{
    if (mIsEditing)
        stopEditing();
}

void TopBarView::cancelOperation()
{
    std::weak_ptr<TopBarView> weak = std::static_pointer_cast<TopBarView>(shared_from_this());
    MainQueue::post([weak] {
        if (auto bar = weak.lock())
            bar->stopEditing();
    });
}

void TopBarView::stopEditing()
{
    mIsEditing = false;
    updateToggleVisibility();
    setNeedsLayout(true);
    setNeedsDisplay(true);
    notifyDelegate();
}

void TopBarView::notifyDelegate()
{
    const QString current = currentSearchText();
    const bool changed = current != mPrevCommunicatedSearchText;
    mPrevCommunicatedSearchText = current;
    if (auto delegate = mDelegate.lock())
        delegate->topBarSearchStatusDidChange(changed);
}

void TopBarView::buttonPressed(ButtonView& button)
{
    mLastEvent = button.lastEvent();
    int code = 0;
    if (&button == mHomeButton.get())
        code = HomeAction;
    else if (&button == mMindmapToggleButton.get())
        code = MindmapToggleAction;
    else if (&button == mContentButton.get())
        code = ContentAction;
    if (code == 0)
        return;
    if (code == MindmapToggleAction)
        setNeedsDisplay(true);
    if (auto delegate = mDelegate.lock())
        delegate->topBarAction(code, button.frame());
}

void TopBarView::applyLayout()
{
    BaseView::applyLayout();
    const Rect b = bounds();
    const double width = b.size.width;
    const double height = b.size.height;
    if (mSearchTextField) {
        const Size size = mSearchTextField->frame().size;
        mSearchTextField->setFrame(Rect(b.origin.x + width / 2 - size.width / 2,
                                        b.origin.y + height / 2 - size.height / 2, size.width, size.height)
                                       .integral());
    }
    if (mHomeButton) {
        const Size size = mHomeButton->frame().size;
        mHomeButton->setFrame(
            Rect(EdgeInset, height / 2 - size.height / 2, size.width, size.height).integral());
    }
    double x = width - EdgeInset;
    if (mMindmapToggleButton && !mMindmapToggleButton->isHidden()) {
        const Size size = mMindmapToggleButton->frame().size;
        mMindmapToggleButton->setFrame(
            Rect(x - size.width, height / 2 - size.height / 2, size.width, size.height).integral());
        x = mMindmapToggleButton->frame().origin.x - ButtonGap;
    }
    if (mContentButton) {
        const Size size = mContentButton->frame().size;
        mContentButton->setFrame(
            Rect(x - size.width, height / 2 - size.height / 2, size.width, size.height).integral());
    }
    setNeedsDisplay(true);
}

void TopBarView::drawRect(const Rect& dirtyRect, GraphicsContext& context)
{
    const bool tinted = hasSearchContent() || (mMindmapToggleButton && mMindmapToggleButton->toggled());
    context.setFillColor(tinted ? Globals::colorGrayD7DEE4() : Globals::colorGray91());
    context.fillRect(dirtyRect);
}

// ---- TopBarServicesAdapter ----

TopBarServicesAdapter::TopBarServicesAdapter() : mBar(TopBarView::create()) {}

void TopBarServicesAdapter::setDelegate(std::weak_ptr<TopBarServicesDelegate> delegate)
{
    mBar->setDelegate(std::move(delegate));
}

QString TopBarServicesAdapter::currentSearchText() const
{
    return mBar->currentSearchText();
}

void TopBarServicesAdapter::setCurrentSearchText(const QString& text)
{
    mBar->setCurrentSearchText(text);
}

bool TopBarServicesAdapter::isEditingSearchText() const
{
    return mBar->isEditingSearchText();
}

void TopBarServicesAdapter::startEditingSearchText()
{
    mBar->startEditingSearchText();
}

void TopBarServicesAdapter::setContentAction(bool shown)
{
    mBar->setContentAction(shown);
}

void TopBarServicesAdapter::setMindmapToggleAction(bool shown, bool toggled)
{
    mBar->setMindmapToggleAction(shown, toggled);
}

void TopBarServicesAdapter::setHomeAction(bool shown)
{
    mBar->setHomeAction(shown);
}

void registerTopBar()
{
    TopBarServices::setFactory([] { return std::make_shared<TopBarServicesAdapter>(); });
}

} // namespace corvex
