#include "overview/NoteRenderer.h"

#include "model/Globals.h"
#include "overview/NoteRendererDelegate.h"
#include "overview/PageTextLine.h"
#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvex {

namespace {

constexpr double kColumnPitch = 240;
constexpr double kTextWidth = 190;
constexpr double kTextLeftMargin = 34;
constexpr double kColumnAreaLeftInset = 8;
constexpr double kHeaderBand = 50;
constexpr double kHeaderBaselineBelowTop = 8;
constexpr double kEntryRoom = 100;
constexpr double kNumberLine = 14;
constexpr double kTitleLine = 20;
constexpr double kSpaceAfterEntry = 14;
// Letter spacing of the note numbers, in points.
constexpr double kNumberKern = 1.0;

// The ideas of a subtree in pre-order, children in their stored order; link ideas' subtrees
// are not entered (a link has no children of its own). Stops when `visit` answers false.
template <class Visit> void visitPreOrder(const Idea& root, Visit visit)
{
    std::vector<const Idea*> stack{&root};
    while (!stack.empty()) {
        const Idea* idea = stack.back();
        stack.pop_back();
        if (!visit(*idea))
            return;
        if (idea->isLink())
            continue;
        const auto& children = idea->ideas();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (*it)
                stack.push_back(it->get());
    }
}

} // namespace

NoteRenderer::NoteRenderer(NoteRendererDelegate* delegate) : mDelegate(delegate) {}

NoteRenderer::~NoteRenderer() = default;

bool NoteRenderer::hasNotes(const Idea& idea)
{
    bool found = false;
    visitPreOrder(idea, [&found](const Idea& each) {
        found = each.hasNote();
        return !found;
    });
    return found;
}

qint64 NoteRenderer::renderIdeaNotesRecursively(const IdeaPtr& idea, qint64 nextNoteNumber)
{
    if (!idea)
        return nextNoteNumber;
    visitPreOrder(*idea, [this, &nextNoteNumber](const Idea& each) {
        if (each.hasNote()) {
            renderNote(nextNoteNumber, each.note(), each.isLink() ? each.exportTitle() : each.text());
            ++nextNoteNumber;
        }
        return true;
    });
    return nextNoteNumber;
}

AttributedString NoteRenderer::newAttributedHeaderString()
{
    return AttributedString(Globals::normalUppercaseStringForKey(QString(), QStringLiteral("Notes")),
                            Globals::fontAvenirHeavy(7), Globals::colorGray46());
}

AttributedString NoteRenderer::newAttributedNoteNumber(qint64 number)
{
    AttributedString string(QString::asprintf("%03lld", static_cast<long long>(number)),
                            Globals::fontAvenirHeavy(14), Globals::colorBlack());
    string.setKern(kNumberKern, 0, string.length());
    return string;
}

AttributedString NoteRenderer::newAttributedNoteTitle(const QString& title)
{
    return AttributedString(title, Globals::fontAvenirMedium(16), Globals::colorBlack());
}

AttributedString NoteRenderer::newAttributedNoteString(const QString& note)
{
    AttributedString string(note, Globals::fontAvenirMedium(12), Globals::colorBlack());
    ParagraphStyle style;
    style.lineHeightMultiple = 1.0;
    string.setParagraphStyle(style, 0, string.length());
    return string;
}

void NoteRenderer::startNewPage()
{
    if (mHasStartedPage)
        endPage();
    if (mStopped)
        return;
    Rect page;
    mCtx = mDelegate ? mDelegate->startNotePage(&page) : nullptr;
    if (!mCtx) {
        Log::error(QStringLiteral("Note pages: no page to draw on; the remaining notes are left out"));
        mStopped = true;
        return;
    }
    mPageRect = page;
    mHasStartedPage = true;
    ++mPagesStarted;
    mCtx->saveGState();
    mColumnW = kColumnPitch;
    mTextLeftMargin = kTextLeftMargin;
    mColumnArea = Rect(mPageRect.origin.x + kColumnAreaLeftInset, mPageRect.origin.y,
                       mPageRect.size.width - kColumnAreaLeftInset, mPageRect.size.height - kHeaderBand);
    // At least one column, and text no wider than a page narrower than a column leaves.
    mMaxColumns = std::max<qint64>(1, qint64(std::trunc(mColumnArea.size.width)) / qint64(kColumnPitch));
    mTextW = std::clamp(mColumnArea.size.width - kTextLeftMargin, 1.0, kTextWidth);
    mCtx->setFillColor(Globals::colorWhite());
    mCtx->fillRect(mPageRect);
    mCurrentLine = 0;
    mCurrentCol = 0;
    const PageTextLine header(newAttributedHeaderString(), 0);
    header.drawAtBaseline(*mCtx, Point(mPageRect.origin.x + 1, mPageRect.maxY() - kHeaderBaselineBelowTop));
}

void NoteRenderer::endPage()
{
    if (!mHasStartedPage)
        return;
    mCtx->restoreGState();
    mDelegate->endNotePage();
    mCtx = nullptr;
    mHasStartedPage = false;
}

void NoteRenderer::ensureAtLeast(double height)
{
    if (mColumnArea.size.height - mCurrentLine > height)
        return;
    moveToNextColumn();
}

void NoteRenderer::moveToNextColumn()
{
    if (mCurrentCol >= mMaxColumns - 1) {
        startNewPage();
        return;
    }
    ++mCurrentCol;
    mCurrentLine = 0;
}

double NoteRenderer::columnX() const
{
    return mColumnArea.origin.x + double(mCurrentCol) * mColumnW;
}

double NoteRenderer::lineBaselineY() const
{
    return mColumnArea.origin.y + mColumnArea.size.height - mCurrentLine;
}

void NoteRenderer::renderNumberAtCurrentLine(qint64 number)
{
    const PageTextLine line(newAttributedNoteNumber(number), 0);
    line.drawAtBaseline(*mCtx, Point(columnX(), lineBaselineY() + 1));
}

void NoteRenderer::renderTitleAtCurrentLine(const QString& title)
{
    const PageTextLine line(newAttributedNoteTitle(title), mTextW);
    line.drawAtBaseline(*mCtx, Point(columnX() + mTextLeftMargin, lineBaselineY()));
}

void NoteRenderer::renderNote(qint64 number, const QString& text, const QString& title)
{
    if (!mHasStartedPage)
        startNewPage();
    if (mStopped)
        return;
    ensureAtLeast(kEntryRoom);
    if (mStopped)
        return;
    mCurrentLine += kNumberLine;
    renderNumberAtCurrentLine(number);
    if (!title.isEmpty())
        renderTitleAtCurrentLine(title);
    mCurrentLine += kTitleLine;
    if (!text.isEmpty())
        renderNoteText(text);
    mCurrentLine += kSpaceAfterEntry;
}

void NoteRenderer::renderNoteText(const QString& text)
{
    NoteFrameSetter setter(newAttributedNoteString(text), mTextW);
    bool first = true;
    bool movedForEmptyFrame = false;
    while (!setter.atEnd() && !mStopped) {
        if (!first)
            ensureAtLeast(kEntryRoom);
        first = false;
        if (mStopped)
            break;
        const double height = mColumnArea.size.height - mCurrentLine;
        // A frame that places nothing moves on once; after that a line is placed regardless.
        NoteFrameSetter::Frame frame = setter.nextFrame(height, movedForEmptyFrame);
        if (frame.lines.empty()) {
            movedForEmptyFrame = true;
            moveToNextColumn();
            continue;
        }
        movedForEmptyFrame = false;
        setter.drawFrame(*mCtx, frame, Point(columnX() + mTextLeftMargin, lineBaselineY()));
        mCurrentLine += frame.height;
    }
}

void NoteRenderer::finishRendering()
{
    endPage();
}

} // namespace corvex
