#include "editor/WebPageView.h"

namespace corvex {

namespace {

WebPageView::Factory& webPageViewFactorySlot()
{
    static WebPageView::Factory factory;
    return factory;
}

} // namespace

WebPageViewClient::~WebPageViewClient() = default;
WebPageView::~WebPageView() = default;

void WebPageView::setFactory(Factory factory)
{
    webPageViewFactorySlot() = std::move(factory);
}

bool WebPageView::hasFactory()
{
    return bool(webPageViewFactorySlot());
}

std::shared_ptr<WebPageView> WebPageView::create()
{
    const Factory& factory = webPageViewFactorySlot();
    return factory ? factory() : nullptr;
}

} // namespace corvex
