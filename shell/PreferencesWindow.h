#pragma once

#include "platform/gfx/Rect.h"

#include <QWidget>

class QToolBar;
class QVBoxLayout;

namespace corvex {

// The preferences window: a toolbar across the top and below it the content area that
// shows one pane's widget. Frames are in bottom-left screen coordinates (ScreenFacade) and
// hold the toolbar; the content is what lies below it. Moves, resizes and close requests go
// to the delegate (not owned; the controller that owns the window clears it before it goes).
// Main thread only.
class PreferencesWindow final : public QWidget
{
public:
    class Delegate
    {
    public:
        virtual ~Delegate();
        // False refuses the close; the window stays.
        virtual bool windowShouldClose() = 0;
        virtual void windowDidMove() = 0;
        virtual void windowDidResize() = 0;
    };

    PreferencesWindow();
    ~PreferencesWindow() override;

    void setDelegate(Delegate* delegate) { mDelegate = delegate; }
    QToolBar* toolbar() const { return mToolbar; }

    // The pane's widget in the content area, filling it; null empties the area. The widget
    // shown before leaves the window (no parent, hidden) and is not deleted.
    void setContentView(QWidget* view);
    QWidget* contentView() const { return mContentView; }

    // The toolbar's height: what a frame holds above the content.
    double toolbarHeight() const;
    Rect frame() const;
    // Moves and resizes the window (whole points) so that its frame is `frame`.
    void setFrame(const Rect& frame);
    Rect frameRectForContentRect(const Rect& contentRect) const;
    Size contentSize() const;
    // Sizes of the content area; a side of QWIDGETSIZE_MAX or more is unbounded.
    void setContentMinSize(Size size);
    void setContentMaxSize(Size size);
    // The resize handle and the maximise button.
    void setResizable(bool resizable);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape that no field took closes the window, as its close button does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    Delegate* mDelegate = nullptr;
    QToolBar* mToolbar = nullptr;
    QWidget* mContentArea = nullptr;
    QVBoxLayout* mContentLayout = nullptr;
    QWidget* mContentView = nullptr;
};

} // namespace corvex
