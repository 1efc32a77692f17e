#pragma once

#include "toolkit/BaseView.h"
#include "toolkit/HorizontalSelectorButtonDelegate.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <vector>

namespace corvex {

class HorizontalSelectorButton;
class HorizontalSelectorDelegate;

// A row of overlapping pill-shaped text segments (HorizontalSelectorButtons) of which exactly
// one is selected once there are two or more; a one-element selector shows no selection and
// acts as a push button. Every press is reported to the delegate with the element's index,
// also when that element was already selected.
//
// Layout: the elements share the width, each overlapping its neighbours by about 24 points;
// the selected element lies above all others, and the middle one of three beneath both of its
// neighbours. Refilled with reset, addElement calls and selectElement.
//
// Indexes out of range (an owner's mistake, or a button that is not an element) log the
// assertion line and change nothing. Construction is in two phases: use create. Main thread
// only.
class HorizontalSelector : public BaseView, public HorizontalSelectorButtonDelegate
{
public:
    // How much neighbouring elements overlap, in points.
    static constexpr double Overlap = 24.0;

    // Unprepared: use create.
    HorizontalSelector();
    ~HorizontalSelector() override;

    static std::shared_ptr<HorizontalSelector> create();

    // A new element with the title, appended (on the right) and added as a subview; then the
    // first element is selected and the selector laid out.
    void addElement(const QString& title);
    quint64 numElements() const { return quint64(mElements.size()); }
    // Index 0 leftmost.
    const std::vector<std::shared_ptr<HorizontalSelectorButton>>& elements() const { return mElements; }
    // Orders the elements (each to the front, but element 1, then element k) and shows k as
    // the selected one when there are two or more. k must be below the element count.
    void selectElement(qint64 k);
    // Removes every subview and element.
    void reset();
    // The button's position among the elements; -1 for a button that is not one.
    qint32 elementIndexFor(const HorizontalSelectorButton& button) const;

    // Held weakly.
    std::shared_ptr<HorizontalSelectorDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<HorizontalSelectorDelegate>& delegate) { mDelegate = delegate; }

    // ---- Layout ----
    // The width each element gets: (W + 24 (n - 1)) / n truncated, then down to an even
    // number; 0 without elements.
    double columnVisibleWidth() const;
    // The centre x of element i: half the visible width for the first, the first centre
    // plus i steps of (W - w) / (n - 1) (truncated) for the others.
    double centerForColumn(qint64 i) const;
    // The width divided by the element count, truncated; 0 without elements. Not used by
    // the layout.
    qint64 columnRealWidth() const;
    // Places the element in its column, the selector's height high, with an integral frame.
    void layoutMyButton(HorizontalSelectorButton& button);
    // The base layout, then every element in order.
    void applyLayout() override;

    // HorizontalSelectorButtonDelegate: selects the pressed element and reports its index.
    void selectorButtonPressed(HorizontalSelectorButton& button) override;

private:
    class ButtonForwarder;

    void prepareHorizontalSelector();

    std::vector<std::shared_ptr<HorizontalSelectorButton>> mElements;
    std::weak_ptr<HorizontalSelectorDelegate> mDelegate;
    // The buttons' delegate: it holds the selector weakly, so the selector and the buttons
    // it owns do not keep each other alive.
    std::shared_ptr<ButtonForwarder> mForwarder;
};

} // namespace corvex
