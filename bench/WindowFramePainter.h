#pragma once

#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowCompositor.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace corvex::bench {

// A window's frames as its host widget paints them on screen (WindowHost runs a pending
// update cycle before the paint event): the window's compositor painting into one backing
// image, which lives as long as this painter, never into a fresh one. For the interface
// benchmarks; main thread only.
class WindowFramePainter
{
public:
    explicit WindowFramePainter(Window& window)
        : mWindow(window), mSurface(int(window.contentSize().width * window.backingScaleFactor()),
                                    int(window.contentSize().height * window.backingScaleFactor()),
                                    QImage::Format_ARGB32_Premultiplied)
    {
        mSurface.setDevicePixelRatio(window.backingScaleFactor());
    }

    void paint()
    {
        if (View::isUpdateCyclePending())
            View::runUpdateCycle();
        QPainter painter(&mSurface);
        mWindow.compositor().paintFrame(painter, mWindow.contentSize());
        painter.end();
        benchmark::DoNotOptimize(mSurface.constBits());
        benchmark::ClobberMemory();
    }

    const QImage& surface() const { return mSurface; }

private:
    Window& mWindow;
    QImage mSurface;
};

} // namespace corvex::bench
