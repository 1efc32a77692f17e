#include "toolkit/QVImageScreenshot.h"

#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"

namespace corvex {

QVImage QVImageScreenshot::initByCapturingScreenshot(View* view)
{
    // A missing view has a zero size, and the bitmap for it fails with its assertion line.
    const Size size = view ? view->bounds().size : Size();
    std::unique_ptr<GraphicsContext> bitmap = QVImage::createBitmapContextForSize(size);
    if (!bitmap || !view)
        return QVImage();
    view->displayIfNeeded();
    Layer& layer = *view->layer();
    // renderInContext keeps the orientation the layer has in its tree: it draws the layer's
    // bounds space as y-down exactly when the layer sits in a y-down space (the flags above
    // it make that so). The bitmap is y-up, so the vertical flip (1, 0, 0, -1, 0, height)
    // belongs there and only there; either way the capture comes out upright.
    const bool placedInFlippedSpace = layer.contentsAreFlipped() != layer.isGeometryFlipped();
    if (placedInFlippedSpace)
        bitmap->concatCTM(AffineTransform{1, 0, 0, -1, 0, size.height});
    layer.renderInContext(*bitmap);
    return QVImage(bitmap->makeImage());
}

} // namespace corvex
