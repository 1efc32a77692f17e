#pragma once

#include "platform/gfx/Rect.h"

#include <QtGlobal>
#include <memory>

class QPrinter;

namespace corvex {

class PrintableView;
class Window;

// The platform's print operation for one view: runs the print panel (PrintPanelRunner), then
// paginates the view once and draws the chosen pages in one loop over the panel's printer.
//
// Geometry: the print info gives the paper and its imageable area in points, y up from the
// paper's bottom-left corner (from the printer's page layout: fullRectPoints and
// paintRectPoints). Each page's rectangle, in the view's (unflipped) coordinates, is drawn
// with its top-left corner at the imageable area's top-left corner and clipped to its size.
// The panel's from and to pages, when set, narrow the view's range.
//
// Main thread only; runOperation is modal and returns when printing has ended.
class PrintOperation
{
public:
    struct PrintInfo
    {
        Size paperSize;
        Rect imageablePageBounds;
    };

    static std::unique_ptr<PrintOperation> printOperationWithView(std::shared_ptr<PrintableView> view);
    ~PrintOperation();
    PrintOperation(const PrintOperation&) = delete;
    PrintOperation& operator=(const PrintOperation&) = delete;

    // Shows the panel modal to the window (to the application without one) and prints. False
    // when the panel was cancelled, the view knows no pages or the printer could not start.
    bool runOperation(Window* window = nullptr);

    // The operation running now (during runOperation), else null.
    static PrintOperation* currentOperation();
    const PrintInfo& printInfo() const { return mPrintInfo; }
    // Pages drawn by the last run.
    qint64 pagesPrinted() const { return mPagesPrinted; }

    // The print info of a printer's page layout (public for tests).
    static PrintInfo printInfoForPrinter(const QPrinter& printer);

private:
    explicit PrintOperation(std::shared_ptr<PrintableView> view);
    bool printPages(QPrinter& printer);

    std::shared_ptr<PrintableView> mView;
    PrintInfo mPrintInfo;
    qint64 mPagesPrinted = 0;
};

} // namespace corvex
