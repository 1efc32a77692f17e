#include "editor/ColorMatrixView.h"

#include "editor/ColorMatrixViewDelegate.h"
#include "model/Color.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Event.h"

#include <algorithm>
#include <cmath>

namespace corvex {

ColorMatrixView::ColorMatrixView(ColorMatrix matrix) : mMatrix(std::move(matrix)) {}
ColorMatrixView::~ColorMatrixView() = default;

std::shared_ptr<ColorMatrixView> ColorMatrixView::create(const ColorMatrix& matrix)
{
    auto view = BaseView::make<ColorMatrixView>(matrix);
    view->setNeedsDisplay(true);
    return view;
}

QString ColorMatrixView::className() const
{
    return QStringLiteral("ColorMatrixView");
}

bool ColorMatrixView::isDrawable() const
{
    return mMatrix.columns() >= 2 && mMatrix.rows() >= 1;
}

void ColorMatrixView::setFrameSizeForWidth(double width)
{
    // One column has no distance between centres: the grid keeps a single row's height.
    mCenterToCenter = mMatrix.columns() >= 2 ? (width - 56) / double(mMatrix.columns() - 1) : 0;
    const double rows = double(std::max<std::size_t>(mMatrix.rows(), 1));
    setFrameSize(Size(width, (rows - 1) * mCenterToCenter + 66));
    setNeedsDisplay(true);
}

void ColorMatrixView::selectColor(const std::shared_ptr<Color>& color)
{
    mSelectedColor = color;
    setNeedsDisplay(true);
}

Point ColorMatrixView::discCentre(std::size_t row, std::size_t column) const
{
    const double d = mCenterToCenter;
    const double x0 = (bounds().size.width - double(mMatrix.columns() - 1) * d) / 2;
    return Point(std::trunc(double(column) * d + x0), std::trunc(double(row) * d + FirstYPos));
}

void ColorMatrixView::drawRect(const Rect&, GraphicsContext& context)
{
    if (!isDrawable())
        return;
    const QString highlighted = mSelectedColor ? mSelectedColor->name() : QString();
    for (std::size_t r = 0; r < mMatrix.rows(); ++r) {
        for (std::size_t c = 0; c < mMatrix.columns(); ++c) {
            const ColorMatrixItem* item = mMatrix.itemAtRow(r, c);
            if (!item || !item->color())
                continue;
            const Point centre = discCentre(r, c);
            if (!highlighted.isEmpty() && item->color()->name() == highlighted) {
                context.setFillColor(PlatformColor::deviceWhite(0.3, 1.0));
                context.fillEllipseInRect(Rect(centre.x - RingDiameter / 2, centre.y - RingDiameter / 2,
                                               RingDiameter, RingDiameter));
            }
            context.setFillColor(item->color()->uiColor());
            context.fillEllipseInRect(
                Rect(centre.x - DiscDiameter / 2, centre.y - DiscDiameter / 2, DiscDiameter, DiscDiameter));
        }
    }
}

void ColorMatrixView::mouseDown(const Event& event)
{
    BaseView::mouseDown(event);
    if (!isDrawable())
        return;
    const Point p = convertPointFromView(event.locationInWindow(), nullptr);
    const auto columnWidth = float(bounds().size.width / double(mMatrix.columns()));
    const auto rowHeight = float(bounds().size.height / double(mMatrix.rows()));
    if (!(columnWidth > 0) || !(rowHeight > 0))
        return;
    const auto clampIndex = [](double value, std::size_t count) {
        const double truncated = std::trunc(value);
        if (!(truncated > 0))
            return std::size_t(0);
        return std::min(std::size_t(truncated), count - 1);
    };
    const std::size_t column = clampIndex(p.x / columnWidth, mMatrix.columns());
    const std::size_t row = clampIndex(p.y / rowHeight, mMatrix.rows());
    const ColorMatrixItem* item = mMatrix.itemAtRow(row, column);
    if (!item || !item->color())
        return;
    selectColor(item->color());
    if (const auto delegate = mDelegate.lock())
        delegate->handleColorSelection(item->color());
}

} // namespace corvex
