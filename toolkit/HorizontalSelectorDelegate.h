#pragma once

#include <QtGlobal>

namespace corvex {

class HorizontalSelector;

// Told of every press on an element of a HorizontalSelector, also when the element was
// already selected. Main thread only.
class HorizontalSelectorDelegate
{
public:
    virtual ~HorizontalSelectorDelegate();

    virtual void horizontalSelectorSelectedElementAtIndex(HorizontalSelector& selector, qint64 index) = 0;
};

} // namespace corvex
