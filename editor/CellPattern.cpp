#include "editor/CellPattern.h"

#include "platform/gfx/PlatformImage.h"
#include "platform/ui/View.h"
#include "toolkit/BaseImageView.h"

#include <QImage>

namespace corvex {

PlatformColor CellPattern::rowBackground()
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("row_background_pattern_ipad"));
    if (image.isNull())
        return PlatformColor::white();
    // The pattern tiles in points: the representation drawn at one pixel per point.
    for (const QImage& representation : image.representations()) {
        if (representation.width() == qRound(image.size().width))
            return PlatformColor::patternImage(representation);
    }
    return PlatformColor::patternImage(image.representations().front());
}

std::shared_ptr<ButtonView> CellPattern::rowButton(const QString& image, const QString& activeImage,
                                                   bool atRight)
{
    auto button = ButtonView::create();
    const auto place = [atRight](View& view, const Rect& bounds) {
        const double x = atRight ? bounds.maxX() - 26 : bounds.minX();
        view.setFrame(Rect(x, bounds.midY() - 13, 26, 26).integral());
    };
    button->addView(BaseImageView::createWithImage(PlatformImage::imageNamed(image)), 1, place);
    button->addView(BaseImageView::createWithImage(PlatformImage::imageNamed(activeImage)), 2, place);
    return button;
}

Point CellPattern::centreIn(const View& row, const View& table)
{
    const Rect frame = row.frame();
    const Point centre(frame.midX(), frame.midY());
    return row.superview() ? table.convertPointFromView(centre, row.superview()) : centre;
}

} // namespace corvex
