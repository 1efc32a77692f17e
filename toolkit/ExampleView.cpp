#include "toolkit/ExampleView.h"

namespace corvex {

ExampleView::ExampleView() = default;

ExampleView::~ExampleView() = default;

std::shared_ptr<ExampleView> ExampleView::createWithNamedImage(const QString& name)
{
    auto view = make<ExampleView>();
    const PlatformImage image = PlatformImage::imageNamed(name);
    view->setImage(image);
    view->setImageAlignment(AlignTopLeft);
    view->setImageScaling(ScaleNone);
    view->setAlphaValue(0.5);
    view->setFrame(Rect(Point(0, 0), image.isNull() ? Size() : image.size()));
    return view;
}

} // namespace corvex
