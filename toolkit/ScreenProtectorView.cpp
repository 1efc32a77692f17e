#include "toolkit/ScreenProtectorView.h"

#include "toolkit/ScreenProtectorViewDelegate.h"

namespace corvex {

ScreenProtectorView::ScreenProtectorView() = default;

ScreenProtectorView::~ScreenProtectorView() = default;

std::shared_ptr<ScreenProtectorView> ScreenProtectorView::createWithScreenshot(const QVImage& screenshot)
{
    return makeWithScreenshot<ScreenProtectorView>(screenshot);
}

bool ScreenProtectorView::acceptsFirstResponder() const
{
    return true;
}

void ScreenProtectorView::mouseDown(const Event&)
{
    if (const auto delegate = mDelegate.lock())
        delegate->screenProtectorWasClicked();
}

} // namespace corvex
