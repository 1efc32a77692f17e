#include "shell/PreferencesWindowController.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/ScreenFacade.h"
#include "shell/PreferencesViewController.h"

#include <QAction>
#include <QActionGroup>
#include <QRegularExpression>
#include <QToolBar>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// The largest side a stored pane size may ask for without a screen to measure against.
constexpr double PaneSideWithoutScreen = 10000;

bool preferencesCanGrow(QSizePolicy::Policy policy)
{
    return (policy & QSizePolicy::ExpandFlag) != 0;
}

// Whether the point lies on a screen's visible area; a window's top-left corner may sit on
// the top edge.
bool preferencesPointOnAScreen(Point point)
{
    for (const ScreenInfo& screen : ScreenFacade::screens()) {
        const Rect& area = screen.visibleFrame;
        if (point.x >= area.minX() && point.x < area.maxX() && point.y > area.minY() &&
            point.y <= area.maxY())
            return true;
    }
    return false;
}

} // namespace

PreferencesWindowController::PreferencesWindowController(std::vector<Pane> panes, QString title)
    : mViewControllers(std::move(panes)), mTitle(std::move(title))
{}

PreferencesWindowController::~PreferencesWindowController()
{
    if (mWindow) {
        mWindow->setDelegate(nullptr);
        // The shown pane keeps its widget; the window lets it go before it is deleted.
        mWindow->setContentView(nullptr);
        for (QAction* action : mWindow->toolbar()->actions())
            QObject::disconnect(action, nullptr, nullptr, nullptr);
    }
}

QString PreferencesWindowController::frameKeyForIdentifier(const QString& identifier)
{
    return QStringLiteral("Preferences %1 Frame").arg(identifier);
}

// ---- Panes ----

void PreferencesWindowController::addViewController(const Pane& pane)
{
    mViewControllers.push_back(pane);
    if (mWindow)
        insertToolbarItem(pane);
}

QStringList PreferencesWindowController::toolbarItemIdentifiers() const
{
    QStringList identifiers;
    for (const Pane& pane : mViewControllers)
        identifiers.append(pane ? pane->identifier() : FlexibleSpaceIdentifier);
    return identifiers;
}

PreferencesWindowController::Pane
PreferencesWindowController::viewControllerForIdentifier(const QString& identifier) const
{
    for (const Pane& pane : mViewControllers) {
        if (pane && pane->identifier() == identifier)
            return pane;
    }
    return nullptr;
}

PreferencesWindowController::Pane PreferencesWindowController::firstViewController() const
{
    for (const Pane& pane : mViewControllers) {
        if (pane)
            return pane;
    }
    return nullptr;
}

qsizetype PreferencesWindowController::indexOfSelectedController() const
{
    if (!mSelectedViewController)
        return -1;
    return toolbarItemIdentifiers().indexOf(mSelectedViewController->identifier());
}

void PreferencesWindowController::selectControllerAtIndex(qsizetype index)
{
    if (index < 0 || index >= qsizetype(mViewControllers.size()) || !mViewControllers[std::size_t(index)])
        return;
    setSelectedViewController(mViewControllers[std::size_t(index)]);
}

void PreferencesWindowController::selectControllerWithIdentifier(const QString& identifier)
{
    if (Pane pane = viewControllerForIdentifier(identifier))
        setSelectedViewController(pane);
}

void PreferencesWindowController::goNextTab()
{
    const qsizetype count = qsizetype(mViewControllers.size());
    qsizetype index = std::max<qsizetype>(indexOfSelectedController(), 0);
    // At most one round: a list of placeholders only has nothing to select.
    for (qsizetype step = 0; step < count; ++step) {
        index = (index + 1) % count;
        if (mViewControllers[std::size_t(index)]) {
            selectControllerAtIndex(index);
            return;
        }
    }
}

void PreferencesWindowController::goPreviousTab()
{
    const qsizetype count = qsizetype(mViewControllers.size());
    qsizetype index = std::max<qsizetype>(indexOfSelectedController(), 0);
    for (qsizetype step = 0; step < count; ++step) {
        index = (index - 1 + count) % count;
        if (mViewControllers[std::size_t(index)]) {
            selectControllerAtIndex(index);
            return;
        }
    }
}

void PreferencesWindowController::setSelectedViewController(const Pane& pane)
{
    if (pane == mSelectedViewController)
        return;
    PreferencesWindow* win = window();
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (mSelectedViewController) {
        if (!mSelectedViewController->commitEditing()) {
            checkToolbarItem(mSelectedViewController->identifier());
            return;
        }
        win->setContentView(nullptr);
        const Pane leaving = std::exchange(mSelectedViewController, nullptr);
        leaving->viewDidDisappear();
    }
    if (!pane)
        return;

    const QString identifier = pane->identifier();
    if (mTitle.isEmpty())
        win->setWindowTitle(pane->toolbarItemLabel());
    checkToolbarItem(identifier);
    defaults.setString(SelectedIdentifierKey, identifier);

    QWidget* view = pane->view();
    if (!view) {
        Log::error(QStringLiteral("The preferences pane %1 has no view").arg(identifier));
        return;
    }
    const std::optional<Size> stored = storedPaneSize(identifier);
    auto minimum = mMinimumViewRects.find(identifier);
    if (minimum == mMinimumViewRects.end())
        minimum =
            mMinimumViewRects.emplace(identifier, toString(Rect(0, 0, view->width(), view->height()))).first;
    const Size minimumSize = rectFromString(minimum->second).size;

    const QSizePolicy policy = view->sizePolicy();
    const bool resizableWidth =
        pane->hasResizableWidth().value_or(preferencesCanGrow(policy.horizontalPolicy()));
    const bool resizableHeight =
        pane->hasResizableHeight().value_or(preferencesCanGrow(policy.verticalPolicy()));
    Size size = minimumSize;
    if (resizableWidth && stored)
        size.width = std::max(minimumSize.width, stored->width);
    if (resizableHeight && stored)
        size.height = std::max(minimumSize.height, stored->height);

    // The window keeps its left and top edges.
    const Rect old = win->frame();
    Rect frame = win->frameRectForContentRect(Rect(Point(), size));
    frame.origin = Point(old.minX(), old.maxY() - frame.size.height);
    win->setContentMinSize(minimumSize);
    win->setContentMaxSize(Size(resizableWidth ? double(QWIDGETSIZE_MAX) : size.width,
                                resizableHeight ? double(QWIDGETSIZE_MAX) : size.height));
    win->setResizable(resizableWidth || resizableHeight);
    win->setFrame(frame);

    mSelectedViewController = pane;
    pane->viewWillAppear();
    win->setContentView(view);
    focusInitialKeyView(*pane);
    NotificationCenter::defaultCenter().post(DidChangeViewNotification, this);
}

void PreferencesWindowController::focusInitialKeyView(PreferencesViewController& pane)
{
    QWidget* focused = mWindow->focusWidget();
    if (focused && focused != mWindow.get())
        return;
    if (QWidget* initial = pane.initialKeyView()) {
        initial->setFocus(Qt::OtherFocusReason);
        return;
    }
    QWidget* view = pane.view();
    for (QWidget* next = view->nextInFocusChain(); next && next != view; next = next->nextInFocusChain()) {
        if (view->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) && next->isEnabled()) {
            next->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

// ---- Window ----

PreferencesWindow* PreferencesWindowController::window()
{
    if (!mWindow) {
        mWindow = std::make_unique<PreferencesWindow>();
        windowDidLoad();
    }
    return mWindow.get();
}

void PreferencesWindowController::windowDidLoad()
{
    mToolbarGroup = new QActionGroup(mWindow.get());
    mToolbarGroup->setExclusive(true);
    for (const Pane& pane : mViewControllers)
        insertToolbarItem(pane);
    if (!mTitle.isEmpty())
        mWindow->setWindowTitle(mTitle);

    if (!mViewControllers.empty()) {
        Pane pane = viewControllerForIdentifier(
            UserDefaults::standardUserDefaults().stringForKey(SelectedIdentifierKey));
        setSelectedViewController(pane ? pane : firstViewController());
    }
    // Where the window first stands, sized to its pane: centred on the main screen's visible
    // area, as the platform centres a window (a third of the free height above it).
    const Rect visible = ScreenFacade::mainScreen().visibleFrame;
    const Rect initial = mWindow->frame();
    mWindow->setFrame(Rect(visible.minX() + std::floor((visible.width() - initial.width()) / 2),
                           visible.minY() + std::floor((visible.height() - initial.height()) * 2 / 3),
                           initial.width(), initial.height()));

    if (const std::optional<Point> topLeft = storedTopLeft()) {
        const Rect frame = mWindow->frame();
        mWindow->setFrame(Rect(topLeft->x, topLeft->y - frame.height(), frame.width(), frame.height()));
    }
    mWindow->setDelegate(this);
    mObservingFrame = true;
}

void PreferencesWindowController::showWindow()
{
    PreferencesWindow* win = window();
    win->show();
    win->raise();
    win->activateWindow();
}

void PreferencesWindowController::insertToolbarItem(const Pane& pane)
{
    QToolBar* toolbar = mWindow->toolbar();
    if (!pane) {
        auto* space = new QWidget(toolbar);
        space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(space)->setObjectName(FlexibleSpaceIdentifier);
        return;
    }
    const QString identifier = pane->identifier();
    QAction* item = toolbar->addAction(pane->toolbarItemImage(), pane->toolbarItemLabel());
    item->setObjectName(identifier);
    item->setCheckable(true);
    mToolbarGroup->addAction(item);
    QObject::connect(item, &QAction::triggered, mWindow.get(),
                     [this, identifier] { selectControllerWithIdentifier(identifier); });
    if (mSelectedViewController && mSelectedViewController->identifier() == identifier)
        item->setChecked(true);
}

QAction* PreferencesWindowController::toolbarItemForIdentifier(const QString& identifier) const
{
    if (!mWindow || !mToolbarGroup)
        return nullptr;
    for (QAction* action : mToolbarGroup->actions()) {
        if (action->objectName() == identifier)
            return action;
    }
    return nullptr;
}

void PreferencesWindowController::checkToolbarItem(const QString& identifier)
{
    if (QAction* item = toolbarItemForIdentifier(identifier))
        item->setChecked(true);
}

std::optional<Point> PreferencesWindowController::storedTopLeft()
{
    const QVariant stored = UserDefaults::standardUserDefaults().objectForKey(FrameTopLeftKey);
    if (!stored.isValid())
        return std::nullopt;
    static const QRegularExpression pointString(
        QStringLiteral("^\\s*\\{\\s*([-+]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][-+]?\\d+)?)\\s*,\\s*"
                       "([-+]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][-+]?\\d+)?)\\s*\\}\\s*$"));
    const QRegularExpressionMatch match = stored.typeId() == QMetaType::QString
                                              ? pointString.match(stored.toString())
                                              : QRegularExpressionMatch();
    if (!match.hasMatch()) {
        Log::error(QStringLiteral("\"%1\" is no point; the window keeps its place").arg(FrameTopLeftKey));
        return std::nullopt;
    }
    bool xRead = false;
    bool yRead = false;
    const Point point(match.captured(1).toDouble(&xRead), match.captured(2).toDouble(&yRead));
    // A corner on no screen (a monitor gone, a smaller screen) would put the window out of
    // reach.
    if (!xRead || !yRead || !std::isfinite(point.x) || !std::isfinite(point.y) ||
        !preferencesPointOnAScreen(point)) {
        Log::info(QStringLiteral("The preferences window's stored corner lies on no screen; it is not used"));
        return std::nullopt;
    }
    return point;
}

std::optional<Size> PreferencesWindowController::storedPaneSize(const QString& identifier) const
{
    const QVariant stored =
        UserDefaults::standardUserDefaults().objectForKey(frameKeyForIdentifier(identifier));
    if (stored.typeId() != QMetaType::QString)
        return std::nullopt;
    Size size = rectFromString(stored.toString()).size;
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.width <= 0 || size.height <= 0)
        return std::nullopt;
    // A hand-made size larger than the screen is held to the screen.
    const Rect visible = ScreenFacade::mainScreen().visibleFrame;
    const double toolbar = mWindow ? mWindow->toolbarHeight() : 0.0;
    const double maxWidth = visible.isEmpty() ? PaneSideWithoutScreen : visible.width();
    const double maxHeight =
        visible.isEmpty() ? PaneSideWithoutScreen : std::max(0.0, visible.height() - toolbar);
    size.width = std::min(size.width, maxWidth);
    size.height = std::min(size.height, maxHeight);
    return size;
}

// ---- PreferencesWindow::Delegate ----

bool PreferencesWindowController::windowShouldClose()
{
    return !mSelectedViewController || mSelectedViewController->commitEditing();
}

void PreferencesWindowController::windowDidMove()
{
    if (!mObservingFrame || !mWindow)
        return;
    const Rect frame = mWindow->frame();
    UserDefaults::standardUserDefaults().setString(FrameTopLeftKey,
                                                   toString(Point(frame.minX(), frame.maxY())));
}

void PreferencesWindowController::windowDidResize()
{
    if (!mObservingFrame || !mWindow || !mSelectedViewController || !mWindow->contentView())
        return;
    UserDefaults::standardUserDefaults().setString(
        frameKeyForIdentifier(mSelectedViewController->identifier()),
        toString(Rect(Point(), mWindow->contentSize())));
}

} // namespace corvex
