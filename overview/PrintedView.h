#pragma once

#include "model/Idea.h"
#include "overview/NoteRendererDelegate.h"
#include "platform/ui/PrintableView.h"

#include <QDateTime>
#include <QPainter>
#include <QPicture>
#include <memory>
#include <vector>

namespace corvex {

// The view a print operation prints a tree with: page 1 the map, every further page one note
// page. The note pages are laid out once, at the first pagination, in the platonic inner
// rectangle (upright when the imageable area is taller than wide, else on its side), each
// recorded as a picture in those coordinates; each printed page, the map as well, shows the
// platonic inner rectangle under the platonic-to-page transform into the imageable area, so
// no note line is cut off by a page box. Later paginations (another paper) keep the
// recorded pages and the orientation. Unflipped (y up). Main thread only.
class PrintedView final : public PrintableView, private NoteRendererDelegate
{
public:
    // An invalid date means the time of making the view.
    PrintedView(IdeaPtr idea, const QDateTime& lastModified);
    ~PrintedView() override;

    bool isFlipped() const override { return false; }
    // Refreshes the imageable area from the current print operation (a zero rectangle
    // without one), builds the note pages on the first call, takes the paper's size as the
    // frame and answers pages 1 to 1 + the note pages.
    bool knowsPageRange(PageRange& range) override;
    Rect rectForPage(qint64 page) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

    // Builds the note pages once; their count (0 without notes).
    qint64 ensureNotePDF();
    qint64 notePageCount() const { return qint64(mNotePages.size()); }
    const Rect& platonicInnerRect() const { return mPlatonicInnerRect; }

private:
    GraphicsContext* startNotePage(Rect* pageRect) override;
    void endNotePage() override;

    IdeaPtr mIdea;
    QDateTime mLastModified;
    Rect mPlatonicRect;
    Rect mPlatonicInnerRect;
    Rect mPageRect;
    qint64 mCurrentPage = 0;
    bool mNotePagesBuilt = false;
    std::vector<QPicture> mNotePages;
    // The page being recorded.
    QPicture mRecording;
    QPainter mRecorder;
    std::unique_ptr<GraphicsContext> mRecordingContext;
};

} // namespace corvex
