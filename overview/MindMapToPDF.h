#pragma once

#include "model/Idea.h"
#include "platform/core/Completion.h"
#include "platform/core/Result.h"
#include "platform/gfx/Rect.h"

#include <QByteArray>
#include <QDateTime>
#include <QUrl>
#include <functional>

namespace corvex {

// An idea tree as an A4 PDF: the map page, then, with showNotes, the note pages. Every page
// shows the platonic inner rectangle scaled into the page less an 18-point margin, centred
// horizontally and aligned with the top.
//
// The tree is copied (identifiers kept) when the exporter is made, on the thread that owns
// the tree, the main thread; generation reads only the copy, so the asynchronous forms run
// on a low-priority global queue while the user goes on editing. Their completions run on
// the main queue. A file is written through SaveFile: a failed write completes with an
// ExportProblems error naming the file and why, and leaves an existing file as it was.
class MindMapToPDF
{
public:
    using WriteCompletion = Completion<const Status&>;
    using DataCompletion = Completion<const QByteArray&>;

    // An invalid date means the current one.
    MindMapToPDF(const IdeaPtr& idea, const QDateTime& lastModified);

    bool showNotes() const { return mShowNotes; }
    void setShowNotes(bool show) { mShowNotes = show; }

    // The whole PDF, on the calling thread.
    QByteArray generatePDF() const;
    void writePDFIntoURL(const QUrl& url, WriteCompletion completion) const;
    void generatePDFData(DataCompletion completion) const;

    // "temp.pdf" in the system's temporary folder.
    static QUrl defaultTemporaryPDFFileURL();

    static Rect pageRect();
    static Rect pageInnerRect();

private:
    IdeaPtr mIdea; // the copy
    QDateTime mLastModified;
    bool mShowNotes = false;
};

} // namespace corvex
