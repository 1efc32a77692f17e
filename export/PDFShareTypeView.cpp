#include "export/PDFShareTypeView.h"

#include "export/ShareTypeViewDelegate.h"
#include "overview/MindMapToPDF.h"
#include "toolkit/ButtonView.h"

namespace corvex {

PDFShareTypeView::PDFShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(
          std::move(delegate),
          Form{1,
               QStringLiteral("pdf_icon_inactive"),
               QStringLiteral("PDF"),
               QStringLiteral("Export as PDF document. Can be easily printed or viewed in web browser or "
                              "PDF reader."),
               QStringLiteral("pdf"),
               {{QStringLiteral("Include notes"), true}}})
{}

void PDFShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const IdeaPtr root = exportedRoot();
    if (!root) {
        ShareTypeView::saveToFileAtURL(url, std::move(completion));
        return;
    }
    MindMapToPDF pdf(root, delegate()->lastModified());
    pdf.setShowNotes(notesButton()->toggled());
    // The writer still takes a copyable callback: the answer is shared with it.
    pdf.writePDFIntoURL(url, [answer = std::make_shared<Completion>(std::move(completion))](
                                 const Status& written) { (*answer)(written); });
}

} // namespace corvex
