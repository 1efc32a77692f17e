#pragma once

#include "model/Idea.h"
#include "overview/NoteFrameSetter.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/Rect.h"

#include <QString>

namespace corvex {

class GraphicsContext;
class NoteRendererDelegate;

// Lays out the notes of an idea tree as numbered, titled entries in columns of 240 points,
// page after page, into pages its delegate opens and closes (y-up page rectangles).
//
// Entries are numbered 1, 2, 3 ... in depth-first pre-order, parents before children, as
// the overview numbers its note badges. A link idea counts like any idea with a note: its
// entry shows its export title and its target's note (a link has no children of its own).
//
// Every run ends: there is at least one column per page, and a frame that places no line
// (a column or page too short for one) moves to the next column or page once and then
// places one line regardless. On pages narrower than a column the text narrows to what the
// page leaves.
//
// One renderer per run, on the caller's thread: renderIdeaNotesRecursively from the root
// with 1, then finishRendering. The delegate is not owned and must outlive the run.
class NoteRenderer
{
public:
    explicit NoteRenderer(NoteRendererDelegate* delegate);
    ~NoteRenderer();
    NoteRenderer(const NoteRenderer&) = delete;
    NoteRenderer& operator=(const NoteRenderer&) = delete;

    // Whether the subtree has a note to render.
    static bool hasNotes(const Idea& idea);
    // Renders the subtree's notes from `nextNoteNumber` on and answers the next free number.
    qint64 renderIdeaNotesRecursively(const IdeaPtr& idea, qint64 nextNoteNumber);
    // One entry.
    void renderNote(qint64 number, const QString& text, const QString& title);
    // Closes the open page, if any.
    void finishRendering();

    qint64 pagesStarted() const { return mPagesStarted; }

    static AttributedString newAttributedHeaderString();
    static AttributedString newAttributedNoteNumber(qint64 number);
    static AttributedString newAttributedNoteTitle(const QString& title);
    static AttributedString newAttributedNoteString(const QString& note);

private:
    void startNewPage();
    void endPage();
    void ensureAtLeast(double height);
    // The next column, or a new page after the last one.
    void moveToNextColumn();
    void renderNumberAtCurrentLine(qint64 number);
    void renderTitleAtCurrentLine(const QString& title);
    void renderNoteText(const QString& text);
    double columnX() const;
    double lineBaselineY() const;

    NoteRendererDelegate* mDelegate;
    GraphicsContext* mCtx = nullptr;
    bool mHasStartedPage = false;
    bool mStopped = false; // the delegate made no page: nothing more is drawn
    qint64 mCurrentCol = 0;
    double mCurrentLine = 0;
    Rect mPageRect;
    Rect mColumnArea;
    double mColumnW = 240;
    double mTextW = 190;
    double mTextLeftMargin = 34;
    qint64 mMaxColumns = 1;
    qint64 mPagesStarted = 0;
};

} // namespace corvex
