#pragma once

#include "model/Idea.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/Rect.h"

#include <QDateTime>

namespace corvex {

class GraphicsContext;

// The map page of printing and PDF export: the date and the root's title at the top, below
// them the whole tree as the overview draws it, centred in the rest and never enlarged.
// Draws into a y-up context; reads the tree it was given on the calling thread only.
class SimpleGraphPrintRenderer
{
public:
    // An invalid date means the current one.
    SimpleGraphPrintRenderer(IdeaPtr idea, const QDateTime& lastModified);

    bool showNoteNumbers() const { return mShowNoteNumbers; }
    void setShowNoteNumbers(bool show) { mShowNoteNumbers = show; }

    void renderInContext(GraphicsContext& context, const Rect& pageRect) const;
    void drawHeader(const QDateTime& date, const QString& title, GraphicsContext& context,
                    const Rect& innerBox) const;

    // The date as the locale writes the template "yyyyMMdd   HHmm".
    static AttributedString newAttributedDateTime(const QDateTime& date);
    static AttributedString newAttributedNoteTitle(const QString& title);

private:
    IdeaPtr mIdea;
    QDateTime mLastModified;
    bool mShowNoteNumbers = false;
};

} // namespace corvex
