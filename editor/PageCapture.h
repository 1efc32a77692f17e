#pragma once

#include "graphics/QVImage.h"
#include "platform/core/Completion.h"

namespace corvex {

class WebPageView;

// The picture of a web page a link keeps: the top square of the page (the whole page when
// it is wider than tall), 64 points wide. Only that part is drawn, so a very tall page costs
// no more than its top square. A page without area gives no picture. Main thread only.
class PageCapture
{
public:
    static constexpr double PictureWidth = 64;

    using Completion = corvex::Completion<const QVImage&>;

    // Calls back once, later, on the main thread; a null picture when the page has no area or
    // could not be drawn.
    static void captureTopSquare(WebPageView& page, Completion completion);
    // The part of a page of `contents` that is drawn: (width, min(width, height)); empty
    // when the page has no area.
    static Size topSquareOf(Size contents);
    // The drawing scaled to the picture width; null for a drawing without area.
    static QVImage pictureFromDrawing(const QImage& drawing);
};

} // namespace corvex
