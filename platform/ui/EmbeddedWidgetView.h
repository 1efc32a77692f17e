#pragma once

#include "platform/ui/View.h"

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class QEvent;
class QKeyEvent;
class QLineEdit;
class QObject;

namespace corvex {

// A view that owns a real Qt widget (a one-line QLineEdit for text fields, a QTextEdit for
// the editor's text) and shows it at the view's place in its window.
//
// A real widget always draws above the composited window, so it is shown (live) only while
// that looks the same: the view is effectively visible (no hidden view or layer up its
// chain, effective opacity 1, identity transforms, no animation moving it or fading it),
// no superlayer that masks to its bounds cuts the widget's rectangle, and nothing painted
// after it in compositing order intersects that rectangle. Otherwise the widget is hidden
// and a grab of it (QWidget::render, at the window's scale) is shown by a sublayer of the
// view, in compositing order, under whatever covers it. While the view has the keyboard
// focus (it is its window's first responder, or the widget has Qt's focus) it stays live
// whenever it is visible at all: the user is typing into it.
//
// The decision is made for every frame of the window: before Qt paints the window host (on
// its update request), after the views' layout and drawing, with the presentation values of
// the layers; updatePresentations does the same on demand. The view is flipped (y down),
// like every text field of the interface. Its first-responder status and the widget's Qt
// focus follow each other. Main thread only; the widget needs a QApplication.
//
// Renderings of the layer tree (window renderings, snapshots, drag images) never see a live
// widget, and a window that is not on screen runs no pass. So while a rendering lasts (a
// RenderingScope) the view shows a grab of the widget as it is then, in its place, whatever
// its state.
class EmbeddedWidgetView : public View
{
public:
    enum class State
    {
        Detached, // in no window (or the widget is gone)
        Hidden,   // not visible at all: nothing shown
        Live,     // the real widget is shown
        Grabbed,  // a grab of the widget is shown in compositing order
    };

    // Owns the widget (a null widget gives a view that shows nothing).
    explicit EmbeddedWidgetView(std::unique_ptr<QWidget> widget, const Rect& frame = Rect());
    ~EmbeddedWidgetView() override;
    static std::shared_ptr<EmbeddedWidgetView> create(std::unique_ptr<QWidget> widget,
                                                      const Rect& frame = Rect());
    // A view owning a new QLineEdit.
    static std::shared_ptr<EmbeddedWidgetView> createLineEdit(const Rect& frame = Rect());

    QString className() const override;

    QWidget* widget() const { return mWidget.data(); }
    // The widget as a QLineEdit, or null.
    QLineEdit* lineEdit() const;

    // The widget's rectangle in the view's coordinates: the bounds unless set (a text field's
    // cell draws its outline around the text area).
    Rect widgetRect() const;
    void setWidgetRect(std::optional<Rect> rect);

    State state() const { return mState; }
    bool isLive() const { return mState == State::Live; }
    // Whether the view holds the keyboard: first responder of its window, or the widget has
    // Qt's focus.
    bool hasKeyboardFocus() const;
    // A key that reached the window while this view is its first responder: the widget takes
    // it. Keys typed while the widget cannot hold Qt's focus yet (shown as a picture during a
    // fade, or before it has joined the window) would otherwise be lost. False when there is
    // no widget to take it.
    bool takeKeyEvent(const QKeyEvent& event);

    // The sublayer showing the grab (hidden unless the state is Grabbed), and its contents.
    const std::shared_ptr<Layer>& grabLayer() const { return mGrabLayer; }
    QImage grabImage() const;
    // The widget changed in a way its own events do not tell (text set on a hidden widget of
    // a kind the view does not know): the next grab is taken afresh.
    void invalidateGrab();

    // For a widget drawn through the graphics stack (a web view): the first time such a widget
    // joins a window, Qt makes the window's native window anew, deleting the window object it
    // may be delivering an event with (a click that opened the widget's screen) and then
    // crashing on it. Such a widget joins its window from the main queue, once the event that
    // moved the view there is over, and stays hidden until then; an active window is made
    // active again. Set before the view moves into a window.
    void setJoinsWindowAfterTheEvent(bool later) { mJoinsWindowLater = later; }

    // Decides the state now and shows the widget or its grab accordingly.
    void updatePresentation();
    // The same for every embedded widget view of the window, after bringing the window's
    // layout and drawing up to date.
    static void updatePresentations(Window& window);

    bool isFlipped() const override;
    // When the widget is enabled and takes focus.
    bool acceptsFirstResponder() const override;
    // The widget goes live and takes Qt's focus.
    bool becomeFirstResponder() override;
    // The widget gives Qt's focus back to the window host.
    bool resignFirstResponder() override;
    // Clicks that reach the view (a grabbed widget, shown live by the click) go on to the
    // widget, so that the caret lands where the user clicked.
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;
    void viewWillMoveToWindow(Window* newWindow) override;
    void viewDidMoveToWindow() override;
    // LayerDelegate: the grab for a rendering.
    void layerWillBeRendered(Layer& layer) override;
    void layerWasRendered(Layer& layer) override;

private:
    class HostPass;
    class WidgetWatcher;
    friend class HostPass;
    friend class WidgetWatcher;

    // True when the event must not reach the widget.
    bool widgetEvent(QEvent* event);
    // Takes the widget out of the host (hidden, without a parent).
    void releaseWidget();
    void requestPass();
    void attachGrabLayer();
    // Puts the widget into the window's host (hidden), the next pass deciding the rest.
    void joinWindow(Window& window);
    State decideState(const Rect& rect) const;
    void showLive(const Rect& rect);
    void showGrab(const Rect& rect);
    // The grab layer takes the widget rectangle, the widget its size.
    void placeGrabLayer(const Rect& rect);
    // A new grab into the grab layer when the widget changed since the last one.
    void refreshGrab();
    void forwardMouse(const Event& event, int qtType);

    QPointer<QWidget> mWidget;
    std::unique_ptr<WidgetWatcher> mWatcher;
    std::shared_ptr<Layer> mGrabLayer;
    std::optional<Rect> mWidgetRect;
    State mState = State::Detached;
    bool mGrabStale = true;
    bool mFirstResponder = false;
    bool mSyncingFocus = false;
    bool mJoinsWindowLater = false;
    bool mPassQueued = false; // a pass asked of the host for the next turn
    // Renderings under way (they nest), and whether the first showed the grab layer.
    int mRenderings = 0;
    bool mGrabShownForRendering = false;
};

} // namespace corvex
