#include "overview/MindMapToPDF.h"

#include "formats/ExportProblems.h"
#include "model/Globals.h"
#include "model/IdeaTreeCopy.h"
#include "overview/NoteRenderer.h"
#include "overview/NoteRendererDelegate.h"
#include "overview/PlatonicPage.h"
#include "overview/SimpleGraphPrintRenderer.h"
#include "platform/core/BackgroundDrawing.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformFont.h"

#include <QBuffer>
#include <QDir>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace corvex {

namespace {

constexpr double kA4Width = 595;
constexpr double kA4Height = 842;
constexpr double kPdfMargin = 18;

// One PDF being written into memory: the writer, its painter and a y-up context over it.
// Note pages come after the map page, each on a new page of the writer.
class PdfPageWriter final : public NoteRendererDelegate
{
public:
    explicit PdfPageWriter(QBuffer* buffer) : mWriter(buffer)
    {
        // The writer works at the resolution text is laid out at, so that text drawn straight
        // with a QFont (the planets' note numbers) keeps its size; the painter's transform
        // below still gives a user space of points.
        const int dpi = PlatformFont::pointDevice()->logicalDpiY();
        mWriter.setResolution(dpi);
        mWriter.setPageSize(QPageSize(QSizeF(kA4Width, kA4Height), QPageSize::Point, QStringLiteral("A4"),
                                      QPageSize::ExactMatch));
        mWriter.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        mWriter.setCreator(QString());
        if (!mPainter.begin(&mWriter))
            return;
        mPainter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                                QPainter::SmoothPixmapTransform);
        // PDF user space: y up from the page's bottom-left corner, one unit a point.
        const double unit = dpi / 72.0;
        mPainter.setWorldTransform(QTransform(unit, 0, 0, -unit, 0, kA4Height * unit));
        mContext = std::make_unique<GraphicsContext>(&mPainter, false);
    }

    ~PdfPageWriter() override { finish(); }
    PdfPageWriter(const PdfPageWriter&) = delete;
    PdfPageWriter& operator=(const PdfPageWriter&) = delete;

    GraphicsContext* context() { return mContext.get(); }

    bool finish()
    {
        mContext.reset();
        return mPainter.isActive() ? mPainter.end() : false;
    }

    GraphicsContext* startNotePage(Rect* pageRect) override
    {
        if (!mContext || !mWriter.newPage())
            return nullptr;
        *pageRect = PlatonicPage::innerRect(false);
        mContext->saveGState();
        PlatonicPage::scaleContext(*mContext, pageRect->size, MindMapToPDF::pageInnerRect());
        return mContext.get();
    }

    void endNotePage() override
    {
        if (mContext)
            mContext->restoreGState();
    }

private:
    QPdfWriter mWriter;
    QPainter mPainter;
    std::unique_ptr<GraphicsContext> mContext;
};

QByteArray generatePdfOf(const IdeaPtr& idea, const QDateTime& lastModified, bool showNotes)
{
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly))
        return {};
    {
        PdfPageWriter writer(&buffer);
        GraphicsContext* context = writer.context();
        if (!context) {
            Log::error(QStringLiteral("PDF export: the PDF cannot be started"));
            return {};
        }
        const Rect inner = PlatonicPage::innerRect(false);
        context->setFillColor(Globals::colorWhite());
        context->fillRect(MindMapToPDF::pageRect());
        context->saveGState();
        PlatonicPage::scaleContext(*context, inner.size, MindMapToPDF::pageInnerRect());
        SimpleGraphPrintRenderer map(idea, lastModified);
        map.setShowNoteNumbers(showNotes);
        map.renderInContext(*context, inner);
        context->restoreGState();
        if (showNotes && idea && NoteRenderer::hasNotes(*idea)) {
            NoteRenderer notes(&writer);
            notes.renderIdeaNotesRecursively(idea, 1);
            notes.finishRendering();
        }
        if (!writer.finish()) {
            Log::error(QStringLiteral("PDF export: the PDF cannot be finished"));
            return {};
        }
    }
    return data;
}

// The same off the main thread: nothing once the application is on its way out (its fonts
// go with it).
QByteArray generateInBackground(const IdeaPtr& idea, const QDateTime& lastModified, bool showNotes)
{
    const BackgroundDrawing::Job drawing;
    return drawing.admitted() ? generatePdfOf(idea, lastModified, showNotes) : QByteArray();
}

} // namespace

MindMapToPDF::MindMapToPDF(const IdeaPtr& idea, const QDateTime& lastModified)
    : mIdea(idea ? IdeaTreeCopy::copyKeepingIdentifiers(*idea) : nullptr),
      mLastModified(lastModified.isValid() ? lastModified : Globals::currentDate())
{}

Rect MindMapToPDF::pageRect()
{
    return Rect(0, 0, kA4Width, kA4Height);
}

Rect MindMapToPDF::pageInnerRect()
{
    return pageRect().insetBy(kPdfMargin, kPdfMargin);
}

QByteArray MindMapToPDF::generatePDF() const
{
    return generatePdfOf(mIdea, mLastModified, mShowNotes);
}

void MindMapToPDF::writePDFIntoURL(const QUrl& url, WriteCompletion completion) const
{
    GlobalQueue::async(
        [idea = mIdea, date = mLastModified, showNotes = mShowNotes, url,
         completion = std::move(completion)]() mutable {
            Status written;
            const QByteArray data = generateInBackground(idea, date, showNotes);
            const QString path = url.isLocalFile() ? url.toLocalFile() : url.toString();
            if (data.isEmpty()) {
                Log::error(QStringLiteral("PDF export: nothing to write"));
                written = ExportProblems::make(ExportProblems::NotMade, path,
                                               QStringLiteral("the PDF could not be made."));
            } else if (!url.isLocalFile()) {
                Log::error(QStringLiteral("PDF export: %1 is no local file").arg(url.toString()));
                written = ExportProblems::notALocalFile(url);
            } else {
                written = SaveFile::writeAtomically(path, data, SaveFile::Kind::UserFile);
                if (!written) {
                    Log::error(QStringLiteral("PDF export: %1 cannot be written: %2")
                                   .arg(path, written.error().localizedDescription()));
                    written = ExportProblems::notWritten(path, written.error());
                }
            }
            completion(written);
        },
        GlobalQueue::Priority::Low);
}

void MindMapToPDF::generatePDFData(DataCompletion completion) const
{
    GlobalQueue::async(
        [idea = mIdea, date = mLastModified, showNotes = mShowNotes,
         completion = std::move(completion)]() mutable {
            const QByteArray data = generateInBackground(idea, date, showNotes);
            completion(data);
        },
        GlobalQueue::Priority::Low);
}

QUrl MindMapToPDF::defaultTemporaryPDFFileURL()
{
    return QUrl::fromLocalFile(QDir::temp().filePath(QStringLiteral("temp.pdf")));
}

} // namespace corvex
