#include "platform/ui/EmbeddedWidgetView.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerAction.h"
#include "platform/ui/LayerOcclusion.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/Window.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QWidget>
#include <cmath>
#include <functional>
#include <vector>

namespace corvex {

namespace {

constexpr const char* kPassName = "corvex_embedded_widget_pass";

void collect(View& view, std::vector<std::shared_ptr<EmbeddedWidgetView>>& found)
{
    if (auto* embedded = dynamic_cast<EmbeddedWidgetView*>(&view))
        found.push_back(embedded->sharedAs<EmbeddedWidgetView>());
    for (const auto& subview : view.subviews())
        collect(*subview, found);
}

bool sameGeometry(const LayerProperties& a, const LayerProperties& b)
{
    return a.bounds == b.bounds && a.position == b.position && a.anchorPoint == b.anchorPoint &&
           a.transform == b.transform && a.opacity == b.opacity;
}

QRect widgetGeometry(Window& window, const Rect& baseRect)
{
    const QPointF topLeft =
        window.convertPointToWidget(Point(baseRect.origin.x, baseRect.origin.y + baseRect.size.height));
    return QRect(int(std::lround(topLeft.x())), int(std::lround(topLeft.y())),
                 int(std::lround(baseRect.size.width)), int(std::lround(baseRect.size.height)));
}

} // namespace

// Runs the embedded widgets' pass of a window before Qt paints the window: on the update
// request of the host's top-level widget, so that widgets shown, hidden or moved by the pass
// are painted in the same frame. A child of the host made before any embedded widget joins
// it, so that when the host goes it goes first and takes the widgets out before the host
// deletes its children.
class EmbeddedWidgetView::HostPass final : public QObject
{
public:
    HostPass(Window& window, QWidget* host) : QObject(host), mWindow(&window), mWindowLife(window.lifeToken())
    {
        setObjectName(QLatin1String(kPassName));
        host->window()->installEventFilter(this);
    }

    ~HostPass() override
    {
        // A window let go inside its host's close event leaves the host to a later turn: by
        // then the window, and the hold of its views on their widgets, are gone.
        if (mWindowLife.expired())
            return;
        std::vector<std::shared_ptr<EmbeddedWidgetView>> views;
        if (const auto& content = mWindow->contentView())
            collect(*content, views);
        for (const auto& view : views)
            view->releaseWidget();
    }

    static void ensure(Window& window)
    {
        QWidget* host = window.hostWidget();
        if (host && !host->findChild<HostPass*>(QLatin1String(kPassName), Qt::FindDirectChildrenOnly))
            new HostPass(window, host);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest && !mRunning && !mWindowLife.expired()) {
            mRunning = true;
            EmbeddedWidgetView::updatePresentations(*mWindow);
            mRunning = false;
        }
        return false;
    }

private:
    Window* mWindow; // owns the host, which owns this object, unless the host outlives it
    std::weak_ptr<const int> mWindowLife;
    bool mRunning = false;
};

// Tells the view what happens to its widget: focus, and changes that make the grab stale.
class EmbeddedWidgetView::WidgetWatcher final : public QObject
{
public:
    WidgetWatcher(EmbeddedWidgetView& view, QWidget& widget) : mView(view)
    {
        widget.installEventFilter(this);
        // Changes of a hidden widget's text send it no event.
        auto stale = [this] { mView.invalidateGrab(); };
        if (auto* line = qobject_cast<QLineEdit*>(&widget))
            connect(line, &QLineEdit::textChanged, this, stale);
        else if (auto* text = qobject_cast<QTextEdit*>(&widget))
            connect(text, &QTextEdit::textChanged, this, stale);
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(&widget))
            connect(plain, &QPlainTextEdit::textChanged, this, stale);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override { return mView.widgetEvent(event); }

private:
    EmbeddedWidgetView& mView;
};

EmbeddedWidgetView::EmbeddedWidgetView(std::unique_ptr<QWidget> widget, const Rect& frame)
    : View(frame), mWidget(widget.release()), mGrabLayer(Layer::create())
{
    mGrabLayer->setName(QStringLiteral("embeddedWidgetGrab"));
    mGrabLayer->setHidden(true);
    // The grab follows the widget's rectangle at once, never with an implicit animation.
    for (const char* key : {"position", "bounds", "anchorPoint", "opacity", "transform"})
        mGrabLayer->setAction(QLatin1String(key), LayerAction::null());
    if (mWidget) {
        mWidget->hide();
        mWatcher = std::make_unique<WidgetWatcher>(*this, *mWidget);
    }
}

EmbeddedWidgetView::~EmbeddedWidgetView()
{
    mWatcher.reset();
    delete mWidget.data();
    mGrabLayer->removeFromSuperlayer();
}

std::shared_ptr<EmbeddedWidgetView> EmbeddedWidgetView::create(std::unique_ptr<QWidget> widget,
                                                               const Rect& frame)
{
    return std::make_shared<EmbeddedWidgetView>(std::move(widget), frame);
}

std::shared_ptr<EmbeddedWidgetView> EmbeddedWidgetView::createLineEdit(const Rect& frame)
{
    return create(std::make_unique<QLineEdit>(), frame);
}

QString EmbeddedWidgetView::className() const
{
    return QStringLiteral("EmbeddedWidgetView");
}

QLineEdit* EmbeddedWidgetView::lineEdit() const
{
    return qobject_cast<QLineEdit*>(mWidget.data());
}

bool EmbeddedWidgetView::takeKeyEvent(const QKeyEvent& event)
{
    if (!mWidget || !mWidget->isEnabled())
        return false;
    QWidget* target = mWidget->focusProxy() ? mWidget->focusProxy() : mWidget.data();
    QKeyEvent forwarded(event.type(), event.key(), event.modifiers(), event.text(), event.isAutoRepeat(),
                        event.count());
    QApplication::sendEvent(target, &forwarded);
    return true;
}

Rect EmbeddedWidgetView::widgetRect() const
{
    return mWidgetRect ? *mWidgetRect : bounds();
}

void EmbeddedWidgetView::setWidgetRect(std::optional<Rect> rect)
{
    mWidgetRect = rect;
    requestPass();
}

bool EmbeddedWidgetView::hasKeyboardFocus() const
{
    return mFirstResponder || (mWidget && mWidget->hasFocus());
}

QImage EmbeddedWidgetView::grabImage() const
{
    return mGrabLayer->contents();
}

void EmbeddedWidgetView::invalidateGrab()
{
    if (mGrabStale)
        return;
    mGrabStale = true;
    if (mState == State::Grabbed)
        requestPass();
}

bool EmbeddedWidgetView::isFlipped() const
{
    return true;
}

// ---- The pass ----

void EmbeddedWidgetView::updatePresentations(Window& window)
{
    View::runUpdateCycle();
    std::vector<std::shared_ptr<EmbeddedWidgetView>> views;
    if (const auto& content = window.contentView())
        collect(*content, views);
    for (const auto& view : views)
        view->updatePresentation();
}

void EmbeddedWidgetView::requestPass()
{
    Window* win = window();
    if (!win)
        return;
    win->rootLayer()->requestFrame();
    // The frame's own pass may never come: a request made while the host was hidden is
    // dropped, and a paint for the window's exposure takes the place of the update request
    // that runs the pass. So a pass runs on the next turn too, else the field would keep the
    // last pass's state (hidden, before its first layout) until something else changed.
    if (mPassQueued || !win->hasHostWidget())
        return;
    mPassQueued = true;
    QMetaObject::invokeMethod(
        win->hostWidget(),
        [win, life = win->lifeToken()] {
            if (!life.expired())
                EmbeddedWidgetView::updatePresentations(*win);
        },
        Qt::QueuedConnection);
}

void EmbeddedWidgetView::attachGrabLayer()
{
    const auto& own = layer();
    if (mGrabLayer->superlayer() != own)
        own->insertSublayer(mGrabLayer, 0);
}

EmbeddedWidgetView::State EmbeddedWidgetView::decideState(const Rect& rect) const
{
    Window* win = window();
    if (!mWidget || !win)
        return State::Detached;
    if (isHiddenOrHasHiddenAncestor() || !(rect.size.width > 0) || !(rect.size.height > 0))
        return State::Hidden;

    // Up the layer chain: hidden layers, opacity, transforms and animations.
    double alpha = 1;
    bool untransformed = true;
    bool moving = mGrabLayer->hasAnimations() || layer()->hasAnimations();
    for (const Layer* current = layer().get(); current;) {
        if (current->isHidden())
            return State::Hidden;
        const LayerProperties presented = current->presentationProperties();
        alpha *= std::clamp(double(presented.opacity), 0.0, 1.0);
        untransformed = untransformed && presented.transform.isIdentity();
        // An ancestor's animation matters only while it moves or fades this view.
        if (current->hasAnimations() && !sameGeometry(presented, current->modelProperties()))
            moving = true;
        const auto super = current->superlayer();
        current = super.get();
    }
    if (!(alpha > 0))
        return State::Hidden;
    // A widget in a host that is not on screen shows nothing: renderings need the grab.
    if (!win->hasHostWidget() || !win->hostWidget()->isVisible())
        return State::Grabbed;
    if (hasKeyboardFocus())
        return State::Live;
    if (alpha < 1 || !untransformed || moving)
        return State::Grabbed;
    const QRectF local = rect.toQRectF();
    if (!LayerOcclusion::isUnclipped(*mGrabLayer, QRectF(QPointF(0, 0), local.size())))
        return State::Grabbed;
    const QRectF area =
        LayerOcclusion::presentedTransformToBase(*mGrabLayer).mapRect(QRectF(QPointF(0, 0), local.size()));
    if (LayerOcclusion::isCoveredAfter(*win->rootLayer(), *mGrabLayer, area))
        return State::Grabbed;
    return State::Live;
}

void EmbeddedWidgetView::placeGrabLayer(const Rect& rect)
{
    attachGrabLayer();
    if (mGrabLayer->frame() != rect)
        mGrabLayer->setFrame(rect);
    if (mWidget) {
        // Sized also while hidden, so that a grab comes out at the right size (a hidden
        // widget hears of its new size only when shown).
        const QSize size(int(std::lround(std::max(rect.size.width, 0.0))),
                         int(std::lround(std::max(rect.size.height, 0.0))));
        if (mWidget->size() != size) {
            mWidget->resize(size);
            mGrabStale = true;
        }
    }
}

void EmbeddedWidgetView::refreshGrab()
{
    if (!mWidget || (!mGrabStale && !mGrabLayer->contents().isNull()))
        return;
    // At the window's scale, so that a window drawn at twice the widget's own resolution
    // shows sharp text.
    const double scale = window() ? window()->backingScaleFactor() : mWidget->devicePixelRatioF();
    const QSize size = mWidget->size();
    QImage image(int(std::ceil(size.width() * scale)), int(std::ceil(size.height() * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    if (!image.isNull())
        mWidget->render(&image, QPoint(), QRegion(),
                        QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
    mGrabStale = false;
    // Same pixels: no new contents, so no new frame.
    if (image != mGrabLayer->contents())
        mGrabLayer->setContents(image);
}

void EmbeddedWidgetView::updatePresentation()
{
    mPassQueued = false;
    const Rect rect = widgetRect();
    placeGrabLayer(rect);

    const State state = decideState(rect);
    switch (state) {
    case State::Detached:
    case State::Hidden:
        if (mWidget && !mWidget->isHidden())
            mWidget->hide();
        if (!mGrabLayer->isHidden())
            mGrabLayer->setHidden(true);
        break;
    case State::Live:
        showLive(rect);
        break;
    case State::Grabbed:
        showGrab(rect);
        break;
    }
    mState = state;
}

void EmbeddedWidgetView::showLive(const Rect& rect)
{
    Window* win = window();
    QWidget* host = win->hostWidget();
    if (mWidget->parentWidget() != host) {
        // Not joined yet: shown once it has.
        if (mJoinsWindowLater)
            return;
        mWidget->setParent(host);
    }
    const QRect geometry = widgetGeometry(*win, convertRectToView(rect, nullptr));
    if (mWidget->geometry() != geometry)
        mWidget->setGeometry(geometry);
    if (mState != State::Live || mWidget->isHidden()) {
        mWidget->raise();
        mWidget->show();
    }
    // The first responder of a window that was not on screen when it became one.
    if (mFirstResponder && !mWidget->hasFocus() && mWidget->isActiveWindow()) {
        mSyncingFocus = true;
        mWidget->setFocus(Qt::OtherFocusReason);
        mSyncingFocus = false;
    }
    if (!mGrabLayer->isHidden())
        mGrabLayer->setHidden(true);
}

void EmbeddedWidgetView::showGrab(const Rect&)
{
    if (!mWidget->isHidden())
        mWidget->hide();
    refreshGrab();
    if (mGrabLayer->isHidden())
        mGrabLayer->setHidden(false);
}

// ---- Renderings ----

void EmbeddedWidgetView::layerWillBeRendered(Layer& rendered)
{
    if (&rendered != layer().get() || mRenderings++ > 0)
        return;
    mGrabShownForRendering = false;
    const Rect rect = widgetRect();
    if (!mWidget || !(rect.size.width > 0) || !(rect.size.height > 0))
        return;
    // Model changes no animation may follow: the grab comes and goes at once.
    Transaction::begin();
    Transaction::setDisableActions(true);
    placeGrabLayer(rect);
    refreshGrab();
    if (mGrabLayer->isHidden()) {
        mGrabLayer->setHidden(false);
        mGrabShownForRendering = true;
    }
    Transaction::commit();
}

void EmbeddedWidgetView::layerWasRendered(Layer& rendered)
{
    if (&rendered != layer().get() || mRenderings == 0 || --mRenderings > 0 || !mGrabShownForRendering)
        return;
    mGrabShownForRendering = false;
    // A pass made meanwhile may have chosen the grab for the screen too.
    if (mState == State::Grabbed)
        return;
    Transaction::begin();
    Transaction::setDisableActions(true);
    mGrabLayer->setHidden(true);
    Transaction::commit();
}

// ---- Window and focus ----

void EmbeddedWidgetView::viewWillMoveToWindow(Window* newWindow)
{
    View::viewWillMoveToWindow(newWindow);
    if (newWindow != window())
        releaseWidget();
}

void EmbeddedWidgetView::releaseWidget()
{
    mPassQueued = false;
    mFirstResponder = false;
    mState = State::Detached;
    if (!mWidget)
        return;
    mWidget->hide();
    // Out of the old host before it can take the widget down with it.
    mWidget->setParent(nullptr);
}

void EmbeddedWidgetView::viewDidMoveToWindow()
{
    View::viewDidMoveToWindow();
    Window* win = window();
    if (!win || !mWidget)
        return;
    attachGrabLayer();
    HostPass::ensure(*win);
    if (!mJoinsWindowLater) {
        joinWindow(*win);
        return;
    }
    std::weak_ptr<View> weak = weak_from_this();
    MainQueue::post([weak, win] {
        const auto self = std::static_pointer_cast<EmbeddedWidgetView>(weak.lock());
        // Still in that window: it may have moved on meanwhile.
        if (self && self->mWidget && self->window() == win)
            self->joinWindow(*win);
    });
}

void EmbeddedWidgetView::joinWindow(Window& window)
{
    QWidget* host = window.hostWidget();
    if (mWidget->parentWidget() != host) {
        // A widget drawn through the graphics stack makes the window's native window anew,
        // which the window system does not make active again: the keys would go nowhere.
        const bool active = host->isActiveWindow();
        mWidget->setParent(host);
        if (active && !host->isActiveWindow())
            host->activateWindow();
    }
    mWidget->hide();
    mGrabStale = true;
    requestPass();
}

bool EmbeddedWidgetView::acceptsFirstResponder() const
{
    return mWidget && mWidget->isEnabled() && mWidget->focusPolicy() != Qt::NoFocus;
}

bool EmbeddedWidgetView::becomeFirstResponder()
{
    mFirstResponder = true;
    Window* win = window();
    if (mWidget && win && win->hasHostWidget()) {
        // Live first: a hidden widget cannot take the focus.
        updatePresentation();
        if (!mWidget->hasFocus()) {
            mSyncingFocus = true;
            mWidget->setFocus(Qt::OtherFocusReason);
            mSyncingFocus = false;
        }
    }
    requestPass();
    return true;
}

bool EmbeddedWidgetView::resignFirstResponder()
{
    mFirstResponder = false;
    if (mWidget && mWidget->hasFocus()) {
        mSyncingFocus = true;
        mWidget->clearFocus();
        // Keys go to the host again, which hands them to the new first responder.
        if (Window* win = window(); win && win->hasHostWidget())
            win->hostWidget()->setFocus(Qt::OtherFocusReason);
        mSyncingFocus = false;
    }
    requestPass();
    return true;
}

bool EmbeddedWidgetView::widgetEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
    case QEvent::Resize:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
    case QEvent::LayoutDirectionChange:
        invalidateGrab();
        break;
    case QEvent::FocusIn: {
        if (mSyncingFocus)
            break;
        Window* win = window();
        if (!win)
            break;
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason && win->firstResponder() != this) {
            // Qt focuses the first widget of a window that becomes active; the window's first
            // responder keeps the keys, through the host. The widget never hears of that
            // focus: it would start a caret that its loss of focus, sent meanwhile, can no
            // longer stop.
            if (win->hasHostWidget()) {
                mSyncingFocus = true;
                win->hostWidget()->setFocus(Qt::ActiveWindowFocusReason);
                mSyncingFocus = false;
                return true;
            }
            break;
        }
        if (win->firstResponder() != this)
            win->makeFirstResponder(this);
        requestPass();
        break;
    }
    case QEvent::FocusOut: {
        if (mSyncingFocus)
            break;
        // The window going inactive or a pop-up (the context menu) keeps the field's focus.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
            break;
        Window* win = window();
        if (win && win->firstResponder() == this)
            win->makeFirstResponder(nullptr);
        else
            mFirstResponder = false;
        requestPass();
        break;
    }
    default:
        break;
    }
    return false;
}

// ---- Mouse ----

void EmbeddedWidgetView::forwardMouse(const Event& event, int qtType)
{
    Window* win = window();
    if (!win || !mWidget || mWidget->isHidden())
        return;
    const QPointF inHost = win->convertPointToWidget(event.locationInWindow());
    const QPointF local = mWidget->mapFrom(win->hostWidget(), inHost);
    const QPointF global = mWidget->mapToGlobal(local);
    const auto type = static_cast<QEvent::Type>(qtType);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    Qt::KeyboardModifiers modifiers;
    if (event.hasModifier(Event::ShiftKeyMask))
        modifiers |= Qt::ShiftModifier;
    if (event.hasModifier(Event::CommandKeyMask))
        modifiers |= Qt::ControlModifier;
    if (event.hasModifier(Event::OptionKeyMask))
        modifiers |= Qt::AltModifier;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent forwarded(type, local, global, button, buttons, modifiers);
    QApplication::sendEvent(mWidget.data(), &forwarded);
}

void EmbeddedWidgetView::mouseDown(const Event& event)
{
    if (!mWidget || mWidget->isHidden()) {
        View::mouseDown(event);
        return;
    }
    // The second click of a double click selects a word, as Qt's double-click event does.
    forwardMouse(event, event.clickCount() == 2 ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress);
}

void EmbeddedWidgetView::mouseDragged(const Event& event)
{
    if (!mWidget || mWidget->isHidden()) {
        View::mouseDragged(event);
        return;
    }
    forwardMouse(event, QEvent::MouseMove);
}

void EmbeddedWidgetView::mouseUp(const Event& event)
{
    if (!mWidget || mWidget->isHidden()) {
        View::mouseUp(event);
        return;
    }
    forwardMouse(event, QEvent::MouseButtonRelease);
}

} // namespace corvex
