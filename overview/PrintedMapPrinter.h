#pragma once

#include "mindmap/ExportAndPrintSeams.h"

namespace corvex {

// The mind-map screen's printing: a PrintedView of the tree run through a print operation.
class PrintedMapPrinter final : public MapPrinter
{
public:
    PrintedMapPrinter(IdeaPtr root, const QDateTime& lastModified);

    void runPrintOperation(Window* window) override;

private:
    IdeaPtr mRoot;
    QDateTime mLastModified;
};

// Fills the mind-map screen's printing seam. Called once at start-up (tests call it
// themselves).
void registerMapPrinter();

} // namespace corvex
