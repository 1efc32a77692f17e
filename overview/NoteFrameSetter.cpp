#include "overview/NoteFrameSetter.h"

#include "overview/PageTextLine.h"
#include "platform/gfx/GraphicsContext.h"

#include <QFontMetricsF>
#include <QRegularExpression>
#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Slack for deciding that a line's bottom stays inside its frame.
constexpr double kNoteFitSlack = 1.0e-6;
constexpr double kNoteTabInterval = 28.0;

} // namespace

NoteFrameSetter::NoteFrameSetter(const AttributedString& text, double width)
    : mText(text), mWidth(std::max(1.0, width))
{
    splitParagraphs();
    mLayouts.resize(mParagraphs.size());
}

NoteFrameSetter::~NoteFrameSetter() = default;

void NoteFrameSetter::splitParagraphs()
{
    // Breaks: CR LF as one, then a lone line feed, carriage return or U+2029.
    static const QRegularExpression paragraphBreak(QStringLiteral("\\r\\n|[\\n\\r\\x{2029}]"));
    const QString& string = mText.string();
    qsizetype start = 0;
    QRegularExpressionMatchIterator breaks = paragraphBreak.globalMatch(string);
    while (start < string.size()) {
        const QRegularExpressionMatch match = breaks.hasNext() ? breaks.next() : QRegularExpressionMatch();
        const qsizetype end = match.hasMatch() ? match.capturedStart() : string.size();
        const qsizetype next = match.hasMatch() ? match.capturedEnd() : end;
        const bool rightToLeft = QStringView(string).mid(start, end - start).isRightToLeft();
        mParagraphs.push_back({start, end, next, rightToLeft});
        start = next;
    }
}

bool NoteFrameSetter::atEnd() const
{
    return mParagraph >= mParagraphs.size();
}

void NoteFrameSetter::layOutCurrentParagraph()
{
    if (atEnd() || mLayouts[mParagraph])
        return;
    const Paragraph& paragraph = mParagraphs[mParagraph];
    std::unique_ptr<QTextLayout> layout = mText.createTextLayout(paragraph.start, paragraph.end);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(paragraph.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    // Glyphs start at the line's left end; the frame places right-to-left lines itself.
    option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    option.setTabStopDistance(kNoteTabInterval);
    option.setUseDesignMetrics(true);
    layout->setTextOption(option);
    PageTextLine::avoidLigatures(*layout);
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine())
        line.setLineWidth(mWidth);
    layout->endLayout();
    mLayouts[mParagraph] = std::move(layout);
}

NoteFrameSetter::Frame NoteFrameSetter::nextFrame(double height, bool force)
{
    // Layouts of paragraphs the last frame finished are no longer drawn.
    for (; mKeptFrom < mParagraph; ++mKeptFrom)
        mLayouts[mKeptFrom].reset();
    Frame frame;
    double top = 0; // the next line box's top, downward from the frame's top
    while (!atEnd()) {
        layOutCurrentParagraph();
        const Paragraph& paragraph = mParagraphs[mParagraph];
        QTextLayout& layout = *mLayouts[mParagraph];
        Line placed;
        if (layout.lineCount() > 0) {
            const QTextLine line = layout.lineAt(mLine);
            placed.ascent = line.ascent();
            placed.descent = line.descent();
            placed.leading = line.leading();
            placed.width = line.naturalTextWidth();
            placed.length = line.textLength();
        }
        if (placed.ascent + placed.descent <= 0) {
            // An empty paragraph: as high as a line of its font.
            const QFontMetricsF metrics(mText.attributesAt(paragraph.start).font.qfont(),
                                        PlatformFont::pointDevice());
            placed.ascent = metrics.ascent();
            placed.descent = metrics.descent();
            placed.leading = metrics.leading();
        }
        const bool lastOfParagraph = mLine + 1 >= layout.lineCount();
        if (lastOfParagraph)
            placed.length = (paragraph.next - paragraph.start) -
                            (layout.lineCount() > 0 ? layout.lineAt(mLine).textStart() : 0);
        const bool fits = top + placed.ascent + placed.descent <= height + kNoteFitSlack;
        if (!fits && !(force && frame.lines.empty()))
            break;
        placed.baseline = top + placed.ascent;
        placed.x = paragraph.rightToLeft ? std::max(0.0, mWidth - placed.width) : 0.0;
        placed.paragraph = mParagraph;
        placed.index = mLine;
        top += placed.ascent + placed.descent + placed.leading;
        frame.lines.push_back(placed);
        frame.visibleLength += placed.length;
        mPosition += placed.length;
        if (lastOfParagraph) {
            ++mParagraph;
            mLine = 0;
        } else {
            ++mLine;
        }
    }
    if (!frame.lines.empty()) {
        const Line& first = frame.lines.front();
        const Line& last = frame.lines.back();
        for (const Line& line : frame.lines)
            frame.width = std::max(frame.width, line.width);
        frame.height = std::abs(last.baseline - first.baseline) + first.ascent + first.descent +
                       first.leading + last.ascent + last.descent + last.leading;
    }
    return frame;
}

void NoteFrameSetter::drawFrame(GraphicsContext& context, const Frame& frame, Point topLeft) const
{
    for (const Line& placed : frame.lines) {
        if (placed.paragraph >= mLayouts.size())
            continue;
        const QTextLayout* layout = mLayouts[placed.paragraph].get();
        if (!layout || placed.index >= layout->lineCount())
            continue;
        PageTextLine::drawLine(context, layout->lineAt(placed.index),
                               Point(topLeft.x + placed.x, topLeft.y - placed.baseline));
    }
}

} // namespace corvex
