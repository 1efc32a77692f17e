#pragma once

#include "storage/DocumentImporter.h"

namespace corvex {

// The storage facade's importer: every import of a document file goes through
// ExportImport::importDocument (archives, OPML, older documents).
class DocumentFileImporter final : public DocumentImporter
{
public:
    void importDocument(const QUrl& url, AttachmentHandler attachmentHandler, Completion completion) override;
};

} // namespace corvex
