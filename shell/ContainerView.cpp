#include "shell/ContainerView.h"

#include "toolkit/ExampleView.h"

namespace corvex {

ContainerView::ContainerView() = default;
ContainerView::~ContainerView() = default;

std::shared_ptr<ContainerView> ContainerView::create()
{
    return BaseView::make<ContainerView>();
}

std::shared_ptr<ContainerView> ContainerView::createWithNamedView(const QString& imageName)
{
    auto container = create();
    container->mExampleView = ExampleView::createWithNamedImage(imageName);
    if (container->mExampleView) {
        container->mExampleView->setHidden(true);
        container->addSubview(container->mExampleView);
    }
    return container;
}

QString ContainerView::className() const
{
    return QStringLiteral("ContainerView");
}

void ContainerView::showExampleView()
{
    if (mExampleView)
        mExampleView->setHidden(false);
}

void ContainerView::applyLayout()
{
    if (mExampleView)
        mExampleView->setFrame(bounds());
    BaseView::applyLayout();
}

} // namespace corvex
