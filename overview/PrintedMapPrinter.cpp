#include "overview/PrintedMapPrinter.h"

#include "overview/PrintedView.h"
#include "platform/ui/PrintOperation.h"

namespace corvex {

PrintedMapPrinter::PrintedMapPrinter(IdeaPtr root, const QDateTime& lastModified)
    : mRoot(std::move(root)), mLastModified(lastModified)
{}

void PrintedMapPrinter::runPrintOperation(Window* window)
{
    const auto view = std::make_shared<PrintedView>(mRoot, mLastModified);
    PrintOperation::printOperationWithView(view)->runOperation(window);
}

void registerMapPrinter()
{
    MapPrinter::setFactory(
        [](const IdeaPtr& root, const QDateTime& lastModified) -> std::shared_ptr<MapPrinter> {
            if (!root)
                return nullptr;
            return std::make_shared<PrintedMapPrinter>(root, lastModified);
        });
}

} // namespace corvex
