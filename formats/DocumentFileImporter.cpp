#include "formats/DocumentFileImporter.h"

#include "formats/ExportImport.h"

namespace corvex {

void DocumentFileImporter::importDocument(const QUrl& url, AttachmentHandler attachmentHandler,
                                          Completion completion)
{
    ExportImport::importDocument(url, std::move(attachmentHandler), std::move(completion));
}

} // namespace corvex
