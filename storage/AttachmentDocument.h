#pragma once

#include "platform/core/Completion.h"
#include "storage/AttachmentFilePresenterDelegate.h"

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

class AttachmentFilePresenter;

// Reads and writes the bytes of one attachment file under file coordination, through an
// AttachmentFilePresenter of its own (closed when the document is destroyed).
//
// The file's name must be an attachment name ("<40 lower-case hex digits>.<extension>",
// AttachmentNames): any other name is refused and nothing is read or written. A document
// without a file URL (the empty QUrl) raises Globals::raiseCorvexURLError with
// "AttachmentDocument:<operation>".
//
// Completions: a write runs on the calling thread inside the coordination; a read runs on a
// global queue. Both answer later on the main queue, never inside the call, also for the
// failures found before any work (no URL, a refused name).
class AttachmentDocument final : public AttachmentFilePresenterDelegate,
                                 public std::enable_shared_from_this<AttachmentDocument>
{
public:
    using SaveCompletion = corvex::Completion<bool>;
    // The file's bytes; null bytes when it cannot be read (an empty file answers empty,
    // non-null bytes).
    using ReadCompletion = corvex::Completion<const QByteArray&>;

    // The largest attachment read: the bound of one inflated document or attachment.
    static constexpr qint64 MaxFileSize = qint64(1) << 30;

    static std::shared_ptr<AttachmentDocument> initWithFileURL(const QUrl& url);
    // A document without a file: logs the assertion line (127) of a plain init. Its
    // operations fail.
    static std::shared_ptr<AttachmentDocument> init();
    ~AttachmentDocument() override;

    // The presenter's URL (empty without a file).
    QUrl presentedItemURL() const;
    const std::shared_ptr<AttachmentFilePresenter>& presenter() const { return mPresenter; }

    // doSaveToURL with presentedItemURL().
    void saveBinaryData(const QByteArray& data, SaveCompletion completion);
    // Coordinates writing the URL (writing for replacing, option 8) for this document's
    // presenter and replaces the file atomically (a temporary file, synced and renamed; the
    // old file stays on any failure). Null data is refused (answers NO).
    void doSaveToURL(const QUrl& url, const QByteArray& data, SaveCompletion completion);
    // Coordinates reading the presenter's URL (reading without changes, option 1) on a
    // global queue and reads the whole file; a file larger than MaxFileSize is refused
    // (logged) before it is read and answers null bytes.
    void readBinaryWithCompletionHandler(ReadCompletion completion);
    // Attachments have no conflicts to resolve.
    void resolvePotentialConflict() {}

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use the factories; public only for std::make_shared.
    explicit AttachmentDocument(Private) {}

private:
    std::shared_ptr<AttachmentFilePresenter> mPresenter;
};

} // namespace corvex
