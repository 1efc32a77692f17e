#include "mindmap/DeleteAreaView.h"

#include "graphics/ImageExtensions.h"

namespace corvex {

namespace {

constexpr double kDeleteAreaSide = 40;

} // namespace

DeleteAreaView::DeleteAreaView() : BaseImageView(Rect(0, 0, kDeleteAreaSide, kDeleteAreaSide)) {}

DeleteAreaView::~DeleteAreaView() = default;

std::shared_ptr<DeleteAreaView> DeleteAreaView::create()
{
    auto view = BaseImageView::make<DeleteAreaView>();
    view->setImage(ImageExtensions::deviceImageNamed(QStringLiteral("blackhole")));
    view->setFrame(Rect(0, 0, kDeleteAreaSide, kDeleteAreaSide));
    return view;
}

QString DeleteAreaView::className() const
{
    return QStringLiteral("DeleteAreaView");
}

} // namespace corvex
