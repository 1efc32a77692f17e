#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Size.h"

#include <QImage>
#include <QPointer>
#include <memory>

class QPainter;
class QWidget;

namespace corvex {

class Layer;

// Shows a window's layer tree in one host QWidget: the tree's changes and running
// animations ask for a frame (QWidget::update), and each paint event runs the display pass
// (Compositor::prepareFrame) and paints the tree with presentation values over the
// background, the window's base coordinates being y-up from the widget's bottom left, in
// points (the widget's device pixel ratio gives the scale). A paint while the widget is not
// on screen (a grab) is a rendering (RenderingScope). The host widget is made on first
// use of widget() (it needs a QApplication); without it the frame logic works the same
// through renderFrame. Main thread only.
class WindowCompositor
{
public:
    WindowCompositor();
    ~WindowCompositor();
    WindowCompositor(const WindowCompositor&) = delete;
    WindowCompositor& operator=(const WindowCompositor&) = delete;

    // The root takes this compositor's frame requests (replacing any other's).
    void setRootLayer(std::shared_ptr<Layer> root);
    const std::shared_ptr<Layer>& rootLayer() const { return mRoot; }
    // Filled under the tree; opaque white by default.
    void setBackgroundColor(const PlatformColor& color);
    const PlatformColor& backgroundColor() const { return mBackground; }

    // The host widget, owned by this compositor (deleted with it unless its parent deleted it
    // first). Made on first call.
    QWidget* widget();
    bool hasWidget() const { return !mWidget.isNull(); }

    // Whether the tree asked for a frame that has not been painted yet.
    bool isFramePending() const { return mFramePending; }
    int frameRequestCount() const { return mFrameRequests; }
    int framesPainted() const { return mFramesPainted; }

    // One frame, as the paint event makes it: the display pass, then the tree, into a painter
    // over a window of `windowSize` points.
    void paintFrame(QPainter& painter, Size windowSize);
    // One frame as an image of windowSize x scale pixels, in a RenderingScope: what is shown
    // above the surface (live embedded widgets) is in the image too.
    QImage renderFrame(Size windowSize, double scale);

private:
    void frameRequested();

    std::shared_ptr<Layer> mRoot;
    PlatformColor mBackground = PlatformColor::white();
    QPointer<QWidget> mWidget;
    bool mFramePending = false;
    int mFrameRequests = 0;
    int mFramesPainted = 0;
};

} // namespace corvex
