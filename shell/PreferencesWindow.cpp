#include "shell/PreferencesWindow.h"

#include "platform/ui/ScreenFacade.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

int preferencesPixels(double points)
{
    if (!std::isfinite(points) || points >= QWIDGETSIZE_MAX)
        return QWIDGETSIZE_MAX;
    return std::clamp(int(std::lround(points)), 0, QWIDGETSIZE_MAX);
}

} // namespace

PreferencesWindow::Delegate::~Delegate() = default;

PreferencesWindow::PreferencesWindow() : QWidget(nullptr, Qt::Window)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint);
    // Ctrl+W closes it as it closes every window of Corvex, whichever of its fields has the keys.
    auto* closeKey = new QAction(this);
    closeKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(closeKey, &QAction::triggered, this, &QWidget::close);
    addAction(closeKey);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The controller decides the sizes; the layout only places the two parts.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    mToolbar = new QToolBar(this);
    mToolbar->setMovable(false);
    mToolbar->setFloatable(false);
    mToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    mToolbar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(mToolbar);
    mContentArea = new QWidget(this);
    mContentLayout = new QVBoxLayout(mContentArea);
    mContentLayout->setContentsMargins(0, 0, 0, 0);
    mContentLayout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(mContentArea, 1);
}

PreferencesWindow::~PreferencesWindow()
{
    // The pane owns its widget.
    setContentView(nullptr);
}

void PreferencesWindow::setContentView(QWidget* view)
{
    if (view == mContentView)
        return;
    if (mContentView) {
        mContentLayout->removeWidget(mContentView);
        mContentView->hide();
        mContentView->setParent(nullptr);
    }
    mContentView = view;
    if (mContentView) {
        mContentLayout->addWidget(mContentView);
        mContentView->show();
    }
}

double PreferencesWindow::toolbarHeight() const
{
    return mToolbar->isHidden() ? 0.0 : double(mToolbar->sizeHint().height());
}

Rect PreferencesWindow::frame() const
{
    // As Window does: the top-left corner is where the window system puts the window, the
    // size is the area below the title bar (decorations are the window manager's).
    const QPoint topLeft = pos();
    return ScreenFacade::fromQtRect(QRectF(topLeft.x(), topLeft.y(), width(), height()));
}

void PreferencesWindow::setFrame(const Rect& frame)
{
    const Rect r = frame.standardized();
    if (!std::isfinite(r.origin.x) || !std::isfinite(r.origin.y) || !std::isfinite(r.size.width) ||
        !std::isfinite(r.size.height))
        return;
    const QRectF qt = ScreenFacade::toQtRect(r);
    resize(preferencesPixels(qt.width()), preferencesPixels(qt.height()));
    move(int(std::lround(qt.x())), int(std::lround(qt.y())));
}

Rect PreferencesWindow::frameRectForContentRect(const Rect& contentRect) const
{
    return Rect(contentRect.origin.x, contentRect.origin.y, contentRect.size.width,
                contentRect.size.height + toolbarHeight());
}

Size PreferencesWindow::contentSize() const
{
    return Size(width(), std::max(0.0, height() - toolbarHeight()));
}

void PreferencesWindow::setContentMinSize(Size size)
{
    setMinimumSize(preferencesPixels(size.width), preferencesPixels(size.height + toolbarHeight()));
}

void PreferencesWindow::setContentMaxSize(Size size)
{
    setMaximumSize(preferencesPixels(size.width), preferencesPixels(size.height + toolbarHeight()));
}

void PreferencesWindow::setResizable(bool resizable)
{
    if (bool(windowFlags() & Qt::WindowMaximizeButtonHint) == resizable)
        return;
    // Changing the flags takes a shown window off the screen: show it again where it was.
    const bool visible = isVisible();
    const QRect where = geometry();
    setWindowFlag(Qt::WindowMaximizeButtonHint, resizable);
    if (visible) {
        setGeometry(where);
        show();
    }
}

void PreferencesWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (mDelegate)
        mDelegate->windowDidMove();
}

void PreferencesWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (mDelegate)
        mDelegate->windowDidResize();
}

void PreferencesWindow::closeEvent(QCloseEvent* event)
{
    if (mDelegate && !mDelegate->windowShouldClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

void PreferencesWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace corvex
