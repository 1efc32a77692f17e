#include "platform/ui/WindowCompositor.h"

#include "platform/core/AfterFirstFrame.h"
#include "platform/core/StartupTrace.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/FrameTrace.h"
#include "platform/ui/Layer.h"
#include "platform/ui/RenderingScope.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <cmath>
#include <optional>

namespace corvex {

namespace {

// The host widget: paints the compositor's frames. It paints every pixel itself.
class HostWidget final : public QWidget
{
public:
    explicit HostWidget(WindowCompositor& compositor) : mCompositor(compositor)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        // Off screen a widget paints only for QWidget::grab or render: a rendering, which
        // shows what the screen would.
        std::optional<RenderingScope> rendering;
        if (!isVisible() && mCompositor.rootLayer())
            rendering.emplace(*mCompositor.rootLayer());
        QPainter painter(this);
        mCompositor.paintFrame(painter, Size(width(), height()));
        if (!rendering && !mFrameDrawn) {
            mFrameDrawn = true;
            if (StartupTrace::enabled())
                StartupTrace::mark("frame drawn", (QByteArray::number(quintptr(window()), 16) + ' ' +
                                                   window()->windowTitle().toUtf8())
                                                      .constData());
            // The launch's held work runs once the frame is on its way to the screen.
            AfterFirstFrame::release();
        }
    }

private:
    WindowCompositor& mCompositor;
    bool mFrameDrawn = false;
};

} // namespace

WindowCompositor::WindowCompositor() = default;

WindowCompositor::~WindowCompositor()
{
    if (mRoot)
        mRoot->setFrameRequestHandler(nullptr);
    delete mWidget.data();
}

void WindowCompositor::setRootLayer(std::shared_ptr<Layer> root)
{
    if (mRoot)
        mRoot->setFrameRequestHandler(nullptr);
    mRoot = std::move(root);
    if (mRoot)
        mRoot->setFrameRequestHandler([this] { frameRequested(); });
    frameRequested();
}

void WindowCompositor::setBackgroundColor(const PlatformColor& color)
{
    mBackground = color;
    frameRequested();
}

QWidget* WindowCompositor::widget()
{
    if (!mWidget)
        mWidget = new HostWidget(*this);
    return mWidget.data();
}

void WindowCompositor::frameRequested()
{
    FrameTrace::frameRequested();
    ++mFrameRequests;
    mFramePending = true;
    if (mWidget)
        mWidget->update();
}

void WindowCompositor::paintFrame(QPainter& painter, Size windowSize)
{
    const FrameTrace::Scope tracing(FrameTrace::Phase::Composite);
    mFramePending = false;
    ++mFramesPainted;
    Compositor::Options options;
    options.background = mBackground;
    if (!mRoot) {
        painter.fillRect(QRectF(0, 0, windowSize.width, windowSize.height), mBackground.toBrush());
        return;
    }
    Compositor::prepareFrame(*mRoot);
    Compositor::paint(painter, *mRoot, Compositor::windowBase(windowSize.height), options);
    FrameTrace::framePainted();
}

QImage WindowCompositor::renderFrame(Size windowSize, double scale)
{
    const double wide = std::ceil(windowSize.width * scale - 1e-6);
    const double high = std::ceil(windowSize.height * scale - 1e-6);
    if (!(scale > 0) || !(wide >= 1) || !(high >= 1) || wide > 16384 || high > 16384)
        return {};
    QImage image(int(wide), int(high), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(scale);
    // paintFrame fills an opaque background over every pixel: no need to clear them first.
    if (mBackground.isPattern() || mBackground.alphaComponent() < 1)
        image.fill(Qt::transparent);
    std::optional<RenderingScope> rendering;
    if (mRoot)
        rendering.emplace(*mRoot);
    QPainter painter(&image);
    paintFrame(painter, windowSize);
    return image;
}

} // namespace corvex
