#pragma once

#include "model/ColorMatrix.h"
#include "toolkit/BaseView.h"

#include <memory>

namespace corvex {

class Color;
class ColorMatrixViewDelegate;

// A grid of colour discs (one row per theme, one column per colour), 25 points wide, the
// highlighted colour (matched by name) inside a grey ring. A click picks the cell of the even
// division of the bounds it falls in. A grid of fewer than two columns or of no rows is
// sized but draws and picks nothing. Construction in two phases: use create(). Main thread
// only.
class ColorMatrixView : public BaseView
{
public:
    static constexpr double FirstYPos = 33.0;
    static constexpr double DiscDiameter = 25.0;
    static constexpr double RingDiameter = 30.0;

    explicit ColorMatrixView(ColorMatrix matrix);
    ~ColorMatrixView() override;
    static std::shared_ptr<ColorMatrixView> create(const ColorMatrix& matrix);
    QString className() const override;

    const ColorMatrix& matrix() const { return mMatrix; }
    void setDelegate(const std::shared_ptr<ColorMatrixViewDelegate>& delegate) { mDelegate = delegate; }
    double centerToCenter() const { return mCenterToCenter; }
    const std::shared_ptr<Color>& highlightedColor() const { return mSelectedColor; }

    // Width w: d = (w - 56) / (columns - 1); the height (rows - 1) d + 66.
    void setFrameSizeForWidth(double width);
    void selectColor(const std::shared_ptr<Color>& color);
    // The centre of a cell's disc in the view's coordinates.
    Point discCentre(std::size_t row, std::size_t column) const;
    // Whether the grid can be drawn and clicked at all.
    bool isDrawable() const;

    void mouseDown(const Event& event) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    ColorMatrix mMatrix;
    std::weak_ptr<ColorMatrixViewDelegate> mDelegate;
    std::shared_ptr<Color> mSelectedColor;
    double mCenterToCenter = 0;
};

} // namespace corvex
