#include "editor/PageCapture.h"

#include "editor/WebPageView.h"

#include <algorithm>
#include <cmath>

namespace corvex {

Size PageCapture::topSquareOf(Size contents)
{
    if (!(contents.width > 0) || !(contents.height > 0) || !std::isfinite(contents.width) ||
        !std::isfinite(contents.height))
        return Size();
    return Size(contents.width, std::min(contents.width, contents.height));
}

QVImage PageCapture::pictureFromDrawing(const QImage& drawing)
{
    if (drawing.isNull() || drawing.width() <= 0 || drawing.height() <= 0)
        return QVImage();
    const int height = std::max(1, int(std::lround(drawing.height() * PictureWidth / drawing.width())));
    return QVImage(
        drawing.scaled(int(PictureWidth), height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

void PageCapture::captureTopSquare(WebPageView& page, Completion completion)
{
    const Size area = topSquareOf(page.contentsSize());
    if (area.width <= 0) {
        // Answered later all the same, as every capture is.
        completion(QVImage());
        return;
    }
    page.renderTopOfPage(area, [completion = std::move(completion)](const QImage& drawing) mutable {
        completion(pictureFromDrawing(drawing));
    });
}

} // namespace corvex
