#pragma once

#include "platform/ui/View.h"

#include <QtGlobal>

namespace corvex {

// A view that paginates itself for a print operation: the operation asks once for the page
// range (the view may read PrintOperation::currentOperation()'s print info meanwhile), then
// for each page its rectangle in the view's coordinates, and draws that rectangle with
// drawRect. Main thread only.
class PrintableView : public View
{
public:
    // Pages numbered from 1.
    struct PageRange
    {
        qint64 location = 1;
        qint64 length = 0;
    };

    using View::View;

    // False when the view cannot tell its pages; nothing is printed then.
    virtual bool knowsPageRange(PageRange& range) = 0;
    // The view's rectangle shown on page `page` (1-based).
    virtual Rect rectForPage(qint64 page) = 0;
};

} // namespace corvex
