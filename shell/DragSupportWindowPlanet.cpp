// What a window shows of a drag: the overlay for files from outside and its own copy of a
// dragged planet, which follows the pointer, shrinks near a target, settles on it at the
// drop and flies back when a drag inside the window fails.

#include "graphics/Geometry.h"
#include "mindmap/IdeaView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TimingFunction.h"
#include "platform/ui/Transaction.h"
#include "shell/DragOverlayView.h"
#include "shell/DragSupportWindow.h"
#include "toolkit/LayerExtensions.h"
#include "toolkit/Logger.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

double planetFit(Size copySize, const Rect& area)
{
    const double maxOwnSide = std::max(copySize.height, copySize.width);
    const double maxAreaSide = std::max(area.height(), area.width());
    if (!(maxOwnSide > 0))
        return DragSupportWindow::PlanetCopyScale;
    return std::min(float(DragSupportWindow::PlanetCopyScale), float(maxAreaSide / maxOwnSide));
}

// Moves and scales without implicit animation.
void placePlanet(IdeaView& copy, Point centre, double scale)
{
    Transaction::begin();
    Transaction::setDisableActions(true);
    ViewExtensions::setCenter(copy, centre);
    copy.setScale(scale);
    Transaction::commit();
}

} // namespace

double DragSupportWindow::planetScaleFor(Size copySize, const DragTarget& target, Point location)
{
    if (target.object == DragTarget::None)
        return PlanetCopyScale;
    const Point centre(target.area.midX(), target.area.midY());
    const float distance = float(std::hypot(location.x - centre.x, location.y - centre.y));
    if (!(target.gravityRadius > distance) || !(target.gravityRadius > 0))
        return PlanetCopyScale;
    const double fit = planetFit(copySize, target.area);
    const double progress = std::clamp(double(distance) / target.gravityRadius, 0.0, 1.0);
    return Geometry::interpolateLinearlyFrom(float(fit), float(PlanetCopyScale), float(progress));
}

Point DragSupportWindow::inContainer(Point windowPoint) const
{
    const std::shared_ptr<View> container = containerView();
    return container ? container->convertPointFromView(windowPoint, nullptr) : windowPoint;
}

void DragSupportWindow::addOverlay(bool accept)
{
    const std::shared_ptr<View> container = containerView();
    if (!container)
        return;
    const QVImage screenshot = QVImageScreenshot::initByCapturingScreenshot(container.get());
    mDragTargetOverlay = DragOverlayView::initWithScreenshot(screenshot, accept);
    container->addSubview(mDragTargetOverlay);
}

void DragSupportWindow::showPlanetCopy(Point location)
{
    const std::shared_ptr<View> container = containerView();
    if (!mDragExampleView || !container)
        return;
    std::shared_ptr<IdeaView> copy = mDragExampleView->copyForDragging();
    mDragTargetIdeaView = copy ? copy : mDragExampleView;
    if (mDragTargetIdeaView->superview())
        mDragTargetIdeaView->removeFromSuperview();
    mDragTargetIdeaView->layer()->setOpacity(1);
    mDragTargetIdeaView->setNeedsDisplay(true);
    container->addSubview(mDragTargetIdeaView);
    placePlanet(*mDragTargetIdeaView, inContainer(location), PlanetCopyScale);
}

void DragSupportWindow::movePlanetCopy(Point location, const DragTarget& target)
{
    if (!mDragTargetIdeaView)
        return;
    const double scale = planetScaleFor(mDragTargetIdeaView->bounds().size, target, location);
    placePlanet(*mDragTargetIdeaView, inContainer(location), scale);
    // Every movement comes here: the line is only made when the window is traced.
    if (Logger::canLog(this))
        Logger::writeTrace(
            __LINE__, "-[DragSupportWindow draggingUpdated:]",
            QStringLiteral("planet at %1, %2, scale %3").arg(location.x).arg(location.y).arg(scale));
}

void DragSupportWindow::snapPlanetCopy(const DragTarget& target, Point location)
{
    if (!mDragTargetIdeaView)
        return;
    const Point centre(target.area.midX(), target.area.midY());
    double scale = PlanetCopyScale;
    const double distance = std::hypot(location.x - centre.x, location.y - centre.y);
    if (target.gravityRadius > 0 && distance < target.gravityRadius)
        scale = planetFit(mDragTargetIdeaView->bounds().size, target.area);
    placePlanet(*mDragTargetIdeaView, inContainer(centre), scale);
}

void DragSupportWindow::removeTargetIdeaViewAndOverlays()
{
    if (mDragTargetIdeaView) {
        mDragTargetIdeaView->removeFromSuperview();
        mDragTargetIdeaView.reset();
    }
    if (mDragTargetOverlay) {
        mDragTargetOverlay->removeFromSuperview();
        mDragTargetOverlay.reset();
    }
}

void DragSupportWindow::animateReturnDraggedViewAndRemoveIt(const DragInfo* info)
{
    std::shared_ptr<IdeaView> copy = mDragTargetIdeaView;
    View* superview = copy ? copy->superview() : nullptr;
    if (!copy || !superview || !info || info->source != DragInfo::Source::ThisWindow ||
        info->returnTarget.object == DragTarget::None) {
        removeTargetIdeaViewAndOverlays();
        return;
    }
    copy->setScale(PlanetCopyScale);
    const Rect& area = info->returnTarget.area;
    const Point destination = superview->convertPointFromView(Point(area.midX(), area.midY()), nullptr);
    const double fit = planetFit(copy->bounds().size, area);
    // The flight belongs to its animation alone: a new drag may start meanwhile.
    mDragTargetIdeaView.reset();
    if (mDragTargetOverlay) {
        mDragTargetOverlay->removeFromSuperview();
        mDragTargetOverlay.reset();
    }
    Transaction::begin();
    Transaction::setAnimationDuration(ReturnFlightDuration);
    Transaction::setAnimationTimingFunction(TimingFunction::easeInEaseOut());
    Transaction::setCompletionBlock([copy] { copy->removeFromSuperview(); });
    LayerExtensions::transformToPointAnimated(*copy->layer(), destination, fit, true);
    Transaction::commit();
}

} // namespace corvex
