#pragma once

#include "model/Idea.h"
#include "platform/core/Completion.h"
#include "platform/core/Promise.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class ObjectID;
class SerialQueue;

// The files of a web export written one by one: pages and data on the exporter's serial
// queue, pictures of the tree, and the attachments fetched from the document's storage.
// Every file is written atomically (SaveFile): a failed write leaves nothing half-written,
// and rejects the promise or answers false.
class WebExportFiles
{
public:
    WebExportFiles() = delete;

    // The bytes of one attachment, empty when there are none: answered once, on the main
    // queue.
    using AttachmentData = Completion<const QByteArray&>;
    // Where attachments come from: asked on the main thread, once per attachment.
    using AttachmentSource =
        std::function<void(const ObjectID& attachment, quint64 location, AttachmentData answer)>;

    // The serial queue "corvex.webexporter", made on first use and kept for the process.
    static const std::shared_ptr<SerialQueue>& queue();

    // On the queue, writes the data to the path; fulfilled (null value) when written,
    // rejected (null reason) when not.
    static PromisePtr writeData(const QByteArray& data, const QString& path);
    // The string's UTF-8 through writeData.
    static PromisePtr saveString(const QString& text, const QString& path);

    // On the calling thread: for each idea of the subtree, parents first, its small picture
    // as PNG and its big picture bytes into the folder under WebExportNames' names. False at
    // the first file that cannot be written.
    static bool exportIdeaImages(const Idea& idea, const QString& directory);

    // The attachments of the subtree, one at a time, parents first, each written into the
    // folder under its identifier's string. Rejected when an attachment has no data or an
    // unacceptable name, or cannot be written. Call on the main thread.
    static PromisePtr exportAttachments(const IdeaPtr& idea, quint64 location, const QString& directory,
                                        const AttachmentSource& source);
    // The storage facade's attachments.
    static AttachmentSource storageAttachmentSource();
};

} // namespace corvex
