#include "export/CorvexShareTypeView.h"

#include "export/ShareTypeViewDelegate.h"
#include "formats/ExportImport.h"
#include "storage/IdeaDocument.h"

namespace corvex {

CorvexShareTypeView::CorvexShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate)
    : ShareTypeView(std::move(delegate),
                    Form{0, QStringLiteral("corvex_icon_inactive"), QStringLiteral("Corvex"),
                         QStringLiteral("Export as Corvex document."), QStringLiteral("corvex")})
{}

void CorvexShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    const IdeaPtr root = exportedRoot();
    if (!root) {
        ShareTypeView::saveToFileAtURL(url, std::move(completion));
        return;
    }
    // The carrier belongs to the document's location: the archive's attachments are fetched
    // from there, and a cloud document's pictures are not in the temporary location.
    const auto carrier = IdeaDocument::initWithFileName(QString(), delegate()->location());
    carrier->setIdea(root);
    ExportImport::exportDocument(carrier, url, std::move(completion));
}

} // namespace corvex
