#include "toolkit/SpinnerProgressView.h"

#include "platform/core/MainQueue.h"
#include "platform/gfx/GraphicsContext.h"

namespace corvex {

SpinnerProgressView::SpinnerProgressView(const Rect& frame) : SpinningProgressIndicator(frame) {}

SpinnerProgressView::~SpinnerProgressView() = default;

std::shared_ptr<SpinnerProgressView> SpinnerProgressView::create(const Rect& frame)
{
    return std::make_shared<SpinnerProgressView>(frame);
}

QString SpinnerProgressView::className() const
{
    return QStringLiteral("SpinnerProgressView");
}

void SpinnerProgressView::drawRect(const Rect& dirtyRect, GraphicsContext& context)
{
    // Off the main thread the base refuses to draw (and says so): nothing is filled either.
    if (!MainQueue::isMainThread()) {
        SpinningProgressIndicator::drawRect(dirtyRect, context);
        return;
    }
    context.saveGState();
    context.setFillColor(PlatformColor::white());
    context.fillRect(dirtyRect);
    context.setBlendMode(BlendMode::SoftLight);
    SpinningProgressIndicator::drawRect(dirtyRect, context);
    context.restoreGState();
}

} // namespace corvex
