#pragma once

#include "graphics/QVImage.h"

namespace corvex {

class View;

// Screenshots of views as QVImages. Lives here rather than with QVImage because it needs the
// view and layer tree, which the display-free graphics library does not know.
class QVImageScreenshot
{
public:
    QVImageScreenshot() = delete;

    // The view's layer tree (model values, current contents: marked views are drawn first;
    // text fields with their text) rendered into a bitmap of the view's bounds size, upright:
    // the image's top row is the top of the view, flipped or not. A null view, or bounds
    // below one pixel, give an image that holds nothing (0 x 0), after the bitmap's assertion
    // line.
    static QVImage initByCapturingScreenshot(View* view);
};

} // namespace corvex
