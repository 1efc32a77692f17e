#pragma once

#include "platform/gfx/AttributedString.h"

#include <QTextLayout>
#include <memory>
#include <vector>

namespace corvex {

class GraphicsContext;

// Sets a note, frame after frame, into a column of fixed width: each frame takes the lines
// that follow the previous frame's, from the top, until the next line would pass the frame's
// height. Paragraphs end at line feed, carriage return (CR LF counts once) and U+2029; a line
// breaks at word boundaries, inside a word wider than the column anywhere. A line's text
// includes the break that ends its paragraph, so a frame's visible length is the sum of its
// lines' and the frames' lengths add up to the note's.
//
// Each paragraph is laid out when the first frame reaches it; one setter serves one note on
// one thread.
class NoteFrameSetter
{
public:
    struct Line
    {
        double baseline = 0; // below the frame's top, positive
        double ascent = 0;
        double descent = 0;
        double leading = 0;
        double width = 0; // typographic width
        double x = 0;     // from the frame's left edge: right-to-left lines end at its right one
        qsizetype length = 0;
        std::size_t paragraph = 0;
        int index = 0; // in the paragraph's layout
    };

    struct Frame
    {
        std::vector<Line> lines;
        qsizetype visibleLength = 0;
        // The frame's measure: the widest line, and the distance from the first line's
        // baseline to the last one's plus both lines' full heights.
        double width = 0;
        double height = 0;
    };

    NoteFrameSetter(const AttributedString& text, double width);
    ~NoteFrameSetter();
    NoteFrameSetter(const NoteFrameSetter&) = delete;
    NoteFrameSetter& operator=(const NoteFrameSetter&) = delete;

    bool atEnd() const;
    // Where the next frame starts in the text.
    qsizetype position() const { return mPosition; }

    // The next frame of `height` points; with `force` it takes at least one line even when
    // that line passes the height (so that a column too short for any line still moves on).
    Frame nextFrame(double height, bool force);
    // Draws a frame whose top-left corner is `topLeft`, in a y-up user space.
    void drawFrame(GraphicsContext& context, const Frame& frame, Point topLeft) const;

private:
    struct Paragraph
    {
        qsizetype start = 0;
        qsizetype end = 0;  // without the break
        qsizetype next = 0; // after the break
        bool rightToLeft = false;
    };

    void splitParagraphs();
    // Lays out the paragraph mParagraph when it has no layout yet.
    void layOutCurrentParagraph();

    AttributedString mText;
    double mWidth;
    std::vector<Paragraph> mParagraphs;
    std::vector<std::unique_ptr<QTextLayout>> mLayouts; // by paragraph, made on demand
    std::size_t mParagraph = 0;
    std::size_t mKeptFrom = 0; // the first paragraph whose layout the last frame may draw
    int mLine = 0;
    qsizetype mPosition = 0;
};

} // namespace corvex
