#include "overview/PrintedView.h"

#include "model/Globals.h"
#include "overview/NoteRenderer.h"
#include "overview/PlatonicPage.h"
#include "overview/SimpleGraphPrintRenderer.h"
#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/PrintOperation.h"

namespace corvex {

PrintedView::PrintedView(IdeaPtr idea, const QDateTime& lastModified)
    : mIdea(std::move(idea)), mLastModified(lastModified.isValid() ? lastModified : Globals::currentDate())
{}

PrintedView::~PrintedView() = default;

bool PrintedView::knowsPageRange(PageRange& range)
{
    const PrintOperation* operation = PrintOperation::currentOperation();
    mPageRect = operation ? operation->printInfo().imageablePageBounds : Rect();
    const qint64 notePages = ensureNotePDF();
    const Size paper = operation ? operation->printInfo().paperSize : Size();
    setFrame(Rect(0, 0, paper.width, paper.height));
    range.location = 1;
    range.length = 1 + notePages;
    return true;
}

Rect PrintedView::rectForPage(qint64 page)
{
    mCurrentPage = page - 1;
    return mPageRect;
}

qint64 PrintedView::ensureNotePDF()
{
    if (mNotePagesBuilt)
        return notePageCount();
    const bool landscape = PlatonicPage::isLandscapeFor(mPageRect.size);
    mPlatonicRect = PlatonicPage::page(landscape);
    mPlatonicInnerRect = PlatonicPage::innerRect(landscape);
    mNotePagesBuilt = true;
    if (!mIdea || !NoteRenderer::hasNotes(*mIdea))
        return 0;
    NoteRenderer renderer(this);
    renderer.renderIdeaNotesRecursively(mIdea, 1);
    renderer.finishRendering();
    return notePageCount();
}

GraphicsContext* PrintedView::startNotePage(Rect* pageRect)
{
    *pageRect = mPlatonicInnerRect;
    mRecording = QPicture();
    if (!mRecorder.begin(&mRecording)) {
        Log::error(QStringLiteral("Printing: a note page cannot be recorded"));
        return nullptr;
    }
    mRecorder.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                             QPainter::SmoothPixmapTransform);
    // Recorded y-up in platonic inner coordinates; the picture itself is y-down.
    mRecorder.setWorldTransform(QTransform(1, 0, 0, -1, 0, mPlatonicInnerRect.size.height));
    mRecordingContext = std::make_unique<GraphicsContext>(&mRecorder, false);
    mRecordingContext->saveGState();
    return mRecordingContext.get();
}

void PrintedView::endNotePage()
{
    if (!mRecordingContext)
        return;
    mRecordingContext->restoreGState();
    mRecordingContext.reset();
    mRecorder.end();
    mNotePages.push_back(mRecording);
}

void PrintedView::drawRect(const Rect&, GraphicsContext& context)
{
    context.saveGState();
    PlatonicPage::scaleContext(context, mPlatonicInnerRect.size, mPageRect);
    if (mCurrentPage == 0) {
        SimpleGraphPrintRenderer map(mIdea, mLastModified);
        map.setShowNoteNumbers(notePageCount() > 0);
        map.renderInContext(context, mPlatonicInnerRect);
    } else if (mCurrentPage >= 1 && mCurrentPage <= notePageCount()) {
        QPainter* painter = context.painter();
        if (painter) {
            painter->save();
            // Back from the y-up platonic space into the picture's y-down one.
            painter->translate(0, mPlatonicInnerRect.size.height);
            painter->scale(1, -1);
            const QPicture& picture = mNotePages[std::size_t(mCurrentPage - 1)];
            // A picture plays itself scaled by the device's resolution over its own; the
            // transform already maps its units onto the page.
            const QPaintDevice* device = painter->device();
            if (device && device->logicalDpiX() > 0 && device->logicalDpiY() > 0)
                painter->scale(double(picture.logicalDpiX()) / device->logicalDpiX(),
                               double(picture.logicalDpiY()) / device->logicalDpiY());
            painter->drawPicture(0, 0, picture);
            painter->restore();
        }
    }
    context.restoreGState();
}

} // namespace corvex
