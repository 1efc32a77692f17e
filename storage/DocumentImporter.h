#pragma once

#include "platform/core/Completion.h"

#include "model/IdeaDocumentDataObject.h"
#include "model/ObjectID.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

// Reads a document file from outside the storage layer (the archive format, OPML, an older
// single-payload document) into a payload whose tree has fresh identifiers, handing each
// attachment it carries to the caller's handler. The persistence controller imports through
// the installed importer; the document-files layer installs the real one. With none
// installed every import answers nothing.
class DocumentImporter
{
public:
    using AttachmentStored = corvex::Completion<bool>;
    // Stores one attachment of the file and answers whether it was stored.
    using AttachmentHandler =
        std::function<void(const ObjectID& attachment, const QByteArray& data, AttachmentStored completion)>;
    // The payload (never null), or why the file cannot be opened: the error's failure reason
    // says it in words for the person who opened the file. A payload read only in part says
    // so in its incompleteReading().
    using Read = Result<IdeaDocumentDataObjectPtr>;
    using Completion = corvex::Completion<const Read&>;
    // The payload of a read, nullptr for a failure.
    static IdeaDocumentDataObjectPtr payloadOf(const Read& read)
    {
        return read.ok() ? read.value() : nullptr;
    }

    // The storage layer's own import failures (no importer installed, a location that
    // keeps no attachments, a document read but not stored).
    static const QString ErrorDomain; // "com.tallowfen.corvex.storage"

    virtual ~DocumentImporter();

    // Reads the file; the completion is answered once, on a later turn, after every attachment
    // handed to the handler has been answered.
    virtual void importDocument(const QUrl& url, AttachmentHandler attachmentHandler,
                                Completion completion) = 0;

    // Installs an importer (nullptr removes it) and answers the previous one. Any thread.
    static std::shared_ptr<DocumentImporter> install(std::shared_ptr<DocumentImporter> importer);
    // The installed importer; nullptr when there is none.
    static std::shared_ptr<DocumentImporter> installed();
    static bool isInstalled() { return installed() != nullptr; }

    // importDocument of the installed importer; without one, an error through the main queue
    // (and a log line).
    static void import(const QUrl& url, AttachmentHandler attachmentHandler, Completion completion);
};

} // namespace corvex
