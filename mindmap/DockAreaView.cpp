#include "mindmap/DockAreaView.h"

#include "graphics/ImageExtensions.h"
#include "mindmap/DockAreaViewDelegate.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Idea.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

constexpr double kDockSide = 40;
constexpr quint64 kDockedIdeaRole = 3;
constexpr float kDockedViewEnlargement = 1.2f;

} // namespace

DockAreaView::DockAreaView() : BaseImageView(Rect(0, 0, kDockSide, kDockSide)) {}

DockAreaView::~DockAreaView() = default;

std::shared_ptr<DockAreaView> DockAreaView::create()
{
    auto dock = BaseImageView::make<DockAreaView>();
    dock->prepareDockAreaView();
    return dock;
}

QString DockAreaView::className() const
{
    return QStringLiteral("DockAreaView");
}

void DockAreaView::prepareDockAreaView()
{
    mUserInteractionEnabled = true;
    setImage(ImageExtensions::scaleToSize(ImageExtensions::deviceImageNamed(QStringLiteral("dock")),
                                          Size(kDockSide, kDockSide)));
    setFrame(Rect(0, 0, kDockSide, kDockSide));
}

void DockAreaView::takeIdeaInside(const Idea* idea, const QString& docIdentifier)
{
    if (!idea) {
        takeIdeaViewInside(nullptr);
        return;
    }
    auto view = SimpleIdeaView::create(kDockedIdeaRole);
    view->updateWithIdea(idea, docIdentifier);
    takeIdeaViewInside(view);
}

void DockAreaView::takeIdeaViewInside(const std::shared_ptr<SimpleIdeaView>& ideaView)
{
    if (mIdeaView)
        mIdeaView->removeFromSuperview();
    mIdeaView = ideaView;
    if (!mIdeaView)
        return;
    addSubview(mIdeaView);
    ViewExtensions::setCenter(*mIdeaView, ViewExtensions::centerPoint(*this));
    mIdeaView->layer()->setZPosition(1.0);
    // Scaled about its centre whatever its layer's anchor point: the planet layer backing
    // the view is anchored in its middle, where a transform made for an anchor at the
    // origin would push the docked planet half its size out of the dock.
    ViewExtensions::setScale(*mIdeaView, scaleForView(*mIdeaView));
}

float DockAreaView::scaleForView(const View& view) const
{
    const double height = view.frame().size.height;
    if (!(height > 0))
        return 0;
    return float(bounds().size.height / height) * kDockedViewEnlargement;
}

void DockAreaView::mouseDown(const Event& event)
{
    if (!mUserInteractionEnabled) {
        BaseImageView::mouseDown(event);
        return;
    }
    if (!mIdeaView)
        return;
    // The view leaves the dock before the delegate hears of it, so the dock is empty
    // whatever the delegate does.
    std::shared_ptr<SimpleIdeaView> taken = std::move(mIdeaView);
    mIdeaView.reset();
    taken->removeFromSuperview();
    if (auto delegate = mDelegate.lock())
        delegate->dragFromDockAreaWithIdeaView(taken, event);
}

void DockAreaView::mouseDragged(const Event&) {}

void DockAreaView::mouseUp(const Event&) {}

} // namespace corvex
