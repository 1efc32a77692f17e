#include "toolkit/HorizontalSelector.h"

#include "platform/core/Log.h"
#include "toolkit/HorizontalSelectorButton.h"
#include "toolkit/HorizontalSelectorDelegate.h"
#include "toolkit/ViewExtensions.h"

#include <cmath>

namespace corvex {

namespace {

// The assertion line of an index out of range.
constexpr int SelectElementLine = 118;
constexpr const char* SelectElementMethod = "-[HorizontalSelector selectElement:]";

} // namespace

class HorizontalSelector::ButtonForwarder : public HorizontalSelectorButtonDelegate
{
public:
    explicit ButtonForwarder(std::weak_ptr<HorizontalSelector> selector) : mSelector(std::move(selector)) {}

    void selectorButtonPressed(HorizontalSelectorButton& button) override
    {
        if (auto selector = mSelector.lock())
            selector->selectorButtonPressed(button);
    }

private:
    std::weak_ptr<HorizontalSelector> mSelector;
};

HorizontalSelector::HorizontalSelector() = default;

HorizontalSelector::~HorizontalSelector() = default;

std::shared_ptr<HorizontalSelector> HorizontalSelector::create()
{
    auto selector = BaseView::make<HorizontalSelector>();
    selector->prepareHorizontalSelector();
    return selector;
}

void HorizontalSelector::prepareHorizontalSelector()
{
    mElements.clear();
    mForwarder = std::make_shared<ButtonForwarder>(sharedAs<HorizontalSelector>());
}

void HorizontalSelector::addElement(const QString& title)
{
    auto button = HorizontalSelectorButton::createWithDelegate(mForwarder);
    button->setButtonTitle(title);
    mElements.push_back(button);
    addSubview(button);
    selectElement(0);
    forceDirtyLayout();
}

void HorizontalSelector::selectElement(qint64 k)
{
    const qint64 n = qint64(mElements.size());
    if (k < 0 || k >= n) {
        Log::assertionFailure(SelectElementLine, SelectElementMethod);
        return;
    }
    // A copy: bringing a view to the front goes through the hierarchy hooks.
    const auto elements = mElements;
    for (qint64 i = 0; i < n; ++i) {
        const auto& element = elements[std::size_t(i)];
        if (i != 1)
            ViewExtensions::bringSubviewToFront(*this, element);
        const bool selected = n >= 2 && i == k;
        if (selected && !element->toggled())
            element->setToggled(true);
        else if (!selected && element->toggled())
            element->setToggled(false);
    }
    ViewExtensions::bringSubviewToFront(*this, elements[std::size_t(k)]);
}

void HorizontalSelector::reset()
{
    const auto subviewsCopy = subviews();
    for (const auto& subview : subviewsCopy)
        subview->removeFromSuperview();
    mElements.clear();
    forceDirtyLayout();
}

qint32 HorizontalSelector::elementIndexFor(const HorizontalSelectorButton& button) const
{
    for (std::size_t i = 0; i < mElements.size(); ++i) {
        if (mElements[i].get() == &button)
            return qint32(i);
    }
    return -1;
}

void HorizontalSelector::selectorButtonPressed(HorizontalSelectorButton& button)
{
    const qint64 index = elementIndexFor(button);
    if (index < 0 || index >= qint64(mElements.size())) {
        // Not one of the elements: nothing to select, and no index to report.
        Log::assertionFailure(SelectElementLine, SelectElementMethod);
        return;
    }
    // The delegate may drop the selector while it is told.
    auto self = sharedAs<HorizontalSelector>();
    selectElement(index);
    if (auto delegate = mDelegate.lock())
        delegate->horizontalSelectorSelectedElementAtIndex(*this, index);
}

double HorizontalSelector::columnVisibleWidth() const
{
    const qint64 n = qint64(mElements.size());
    if (n == 0)
        return 0;
    const double raw = (frame().size.width + Overlap * double(n - 1)) / double(n);
    if (!std::isfinite(raw))
        return 0;
    const qint64 whole = qint64(std::trunc(raw));
    return double(whole - whole % 2);
}

double HorizontalSelector::centerForColumn(qint64 i) const
{
    const double w = columnVisibleWidth();
    const qint64 n = qint64(mElements.size());
    // The step divides by n - 1: only there for a second column.
    if (i == 0 || n < 2)
        return std::trunc(w * 0.5);
    const double step = std::trunc((frame().size.width - w) / double(n - 1));
    const float sum = float(step * double(i)) + float(w * 0.5);
    return std::trunc(double(sum));
}

qint64 HorizontalSelector::columnRealWidth() const
{
    const qint64 n = qint64(mElements.size());
    if (n == 0)
        return 0;
    const double width = std::trunc(frame().size.width / double(n));
    return std::isfinite(width) ? qint64(width) : 0;
}

void HorizontalSelector::layoutMyButton(HorizontalSelectorButton& button)
{
    const qint32 i = elementIndexFor(button);
    if (i < 0)
        return;
    const double w = columnVisibleWidth();
    const float x = float(centerForColumn(i)) - float(w * 0.5);
    button.setFrame(Rect(double(x), 0, w, frame().size.height));
    button.setNeedsLayout(true);
    ViewExtensions::ensureIntegralFrame(button);
}

void HorizontalSelector::applyLayout()
{
    BaseView::applyLayout();
    const auto elements = mElements;
    for (const auto& element : elements)
        layoutMyButton(*element);
}

} // namespace corvex
