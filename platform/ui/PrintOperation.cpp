#include "platform/ui/PrintOperation.h"

#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/PrintPanelRunner.h"
#include "platform/ui/PrintableView.h"

#include <QPainter>
#include <QPrinter>
#include <algorithm>

namespace corvex {

namespace {

PrintOperation* gCurrentPrintOperation = nullptr;

// Marks the operation as the current one for the length of a scope.
class CurrentPrintOperationScope
{
public:
    explicit CurrentPrintOperationScope(PrintOperation* operation) : mPrevious(gCurrentPrintOperation)
    {
        gCurrentPrintOperation = operation;
    }
    ~CurrentPrintOperationScope() { gCurrentPrintOperation = mPrevious; }
    CurrentPrintOperationScope(const CurrentPrintOperationScope&) = delete;
    CurrentPrintOperationScope& operator=(const CurrentPrintOperationScope&) = delete;

private:
    PrintOperation* mPrevious;
};

} // namespace

std::unique_ptr<PrintOperation> PrintOperation::printOperationWithView(std::shared_ptr<PrintableView> view)
{
    return std::unique_ptr<PrintOperation>(new PrintOperation(std::move(view)));
}

PrintOperation::PrintOperation(std::shared_ptr<PrintableView> view) : mView(std::move(view)) {}

PrintOperation::~PrintOperation() = default;

PrintOperation* PrintOperation::currentOperation()
{
    return gCurrentPrintOperation;
}

PrintOperation::PrintInfo PrintOperation::printInfoForPrinter(const QPrinter& printer)
{
    const QPageLayout layout = printer.pageLayout();
    const QRectF full = layout.fullRectPoints();
    const QRectF paint = layout.paintRectPoints();
    PrintInfo info;
    info.paperSize = Size(full.width(), full.height());
    // The layout measures from the top edge; the print info from the bottom one.
    info.imageablePageBounds =
        Rect(paint.left() - full.left(), full.bottom() - paint.bottom(), paint.width(), paint.height());
    return info;
}

bool PrintOperation::runOperation(Window* window)
{
    mPagesPrinted = 0;
    if (!mView) {
        Log::assertionFailure(QStringLiteral("A print operation without a view"));
        return false;
    }
    // At the screen's resolution fonts resolve for the printer as they do on screen: text
    // drawn straight with a QFont keeps its size in points under the transform below.
    QPrinter printer(QPrinter::ScreenResolution);
    if (!PrintPanelRunner::current()->runPrintPanel(printer, window))
        return false;
    const CurrentPrintOperationScope scope(this);
    mPrintInfo = printInfoForPrinter(printer);
    return printPages(printer);
}

bool PrintOperation::printPages(QPrinter& printer)
{
    PrintableView::PageRange range;
    if (!mView->knowsPageRange(range) || range.length < 1) {
        Log::error(QStringLiteral("Printing: the view knows no pages"));
        return false;
    }
    qint64 first = range.location;
    qint64 last = range.location + range.length - 1;
    if (printer.fromPage() > 0)
        first = std::max(first, qint64(printer.fromPage()));
    if (printer.toPage() > 0)
        last = std::min(last, qint64(printer.toPage()));
    if (first > last) {
        Log::error(QStringLiteral("Printing: the chosen pages lie outside the document"));
        return false;
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        Log::error(QStringLiteral("Printing: the printer cannot start"));
        return false;
    }
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    const QPageLayout layout = printer.pageLayout();
    const QRectF full = layout.fullRectPoints();
    const QRectF paint = layout.paintRectPoints();
    // The painter starts at the paintable area's top-left corner in device units.
    const double unit = printer.resolution() / 72.0;
    const Rect imageable = mPrintInfo.imageablePageBounds;
    for (qint64 page = first; page <= last; ++page) {
        if (page > first && !printer.newPage()) {
            Log::error(QStringLiteral("Printing: the printer refused page %1").arg(page));
            break;
        }
        const Rect rect = mView->rectForPage(page);
        // The view's y-up space onto the paper: the page rectangle's top-left corner at the
        // imageable area's, then the paper's y-down points, then the device.
        const double dx = imageable.minX() - rect.minX();
        const double dy = imageable.maxY() - rect.maxY();
        painter.save();
        painter.setWorldTransform(QTransform(unit, 0, 0, -unit, unit * (dx + full.left() - paint.left()),
                                             unit * (full.height() - dy + full.top() - paint.top())));
        painter.setClipRect(rect.toQRectF());
        {
            GraphicsContext context(&painter, false);
            GraphicsContext* previous = GraphicsContext::current();
            GraphicsContext::setCurrent(&context);
            mView->drawRect(rect, context);
            GraphicsContext::setCurrent(previous);
        }
        painter.restore();
        ++mPagesPrinted;
    }
    return painter.end() && mPagesPrinted == last - first + 1;
}

} // namespace corvex
