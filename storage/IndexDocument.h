#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Completion.h"
#include "platform/core/Error.h"
#include "platform/core/FilePresenter.h"
#include "platform/core/Result.h"
#include "storage/IdeaProxy.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class KeyedUnarchiver;
class SerialQueue;

// The index file of the iCloud location ("corvex.index"): the location's document list as
// IdeaProxy summaries in display order, kept as a keyed archive whose top-level keys are
//   "fileFormatVersion"  integer 1
//   "appInstance"        the writing instance (Globals::appInstance)
//   "proxyList"          the IdeaProxy list
// so that the list can be shown before any document is read.
//
// It is a file presenter from construction to destruction: when another writer changes the
// file, it reads itself again on the main thread and, when the list was written by another
// instance, posts ChangedNotification with itself as sender.
//
// Reads and writes run synchronously on the calling thread (the main thread) inside file
// coordination; a write replaces the file atomically (a temporary file, synced and renamed),
// so a failed write answers NO and leaves the old file as it was. Completions may be empty;
// they answer later on the main queue, never inside the call.
//
// Errors of the format: domain "document", code 100 for a version below 1 (a missing one
// reads as 0), 150 for one above 1. A failed read leaves the list as it was.
class IndexDocument final : public Codable,
                            public FilePresenter,
                            public std::enable_shared_from_this<IndexDocument>
{
public:
    using BoolCompletion = corvex::Completion<bool>;

    static const QString ClassName;            // "IndexDocument"
    static const QString FileFormatVersionKey; // "fileFormatVersion"
    static const QString AppInstanceKey;       // "appInstance"
    static const QString ProxyListKey;         // "proxyList"
    static const QString ChangedNotification;  // "IndexDocumentChangedNotification"
    static const QString ErrorDomain;          // "document"
    static constexpr int VersionTooOldErrorCode = 100;
    static constexpr int VersionTooNewErrorCode = 150;
    static constexpr qint32 CurrentFileFormatVersion = 1;
    // The largest index file read; a larger one is refused before it is read, as unreadable.
    static constexpr qint64 MaxFileSize = qint64(1) << 30;

    // "corvex.index".
    static QString standardFileName();
    // The name is exactly standardFileName().
    static bool fileNamingSchemeMatches(const QString& fileName);

    // Presents the file (registered with the file coordinator until destroyed). Main thread.
    static std::shared_ptr<IndexDocument> initWithFileURL(const QUrl& url);
    // An index without a file: logs the assertion line of a plain init; reads fail.
    static std::shared_ptr<IndexDocument> init();
    ~IndexDocument() override;

    const std::vector<IdeaProxyPtr>& ideaProxyList() const { return mIdeaProxyList; }
    void setIdeaProxyList(std::vector<IdeaProxyPtr> list) { mIdeaProxyList = std::move(list); }
    // The presented file; empty without one.
    const QUrl& presentedItemURL() const { return mFileURL; }
    bool fileIsBlocked() const { return mFileIsBlocked.load(); }

    // doSaveToURL.
    void saveBinaryToURL(const QUrl& url, BoolCompletion completion);
    // Writes contentsAsBinaryData to the URL under coordinated writing (for replacing, 8)
    // made for this presenter; the completion answers whether the new file is in place.
    void doSaveToURL(const QUrl& url, BoolCompletion completion);
    // readBinaryWithCompletionHandler(completion, false).
    void readBinaryWithCompletionHandler(BoolCompletion completion);
    // Reads the presented file under coordinated reading (without changes, 1) and loads it.
    // With `onlyIfChanged`, a file this instance wrote answers NO and keeps the list.
    // Without a file: Globals::raiseCorvexURLError and NO.
    void readBinaryWithCompletionHandler(BoolCompletion completion, bool onlyIfChanged);

    // The archive of the three keys; an error when the list cannot be archived.
    Result<QByteArray> contentsAsBinaryData() const;
    Result<QByteArray> contentsForType(const QString& typeName) const;
    // Loads the archive bytes (decodeFromBinary); bytes that are no keyed archive answer NO.
    bool loadFromContents(const QByteArray& data, Error* error, bool onlyIfChanged);
    // Version check, the instance test with `onlyIfChanged`, then the list: each proxy with a
    // document identifier moves to location 2 (iCloud); one without is logged and skipped.
    bool decodeFromBinary(KeyedUnarchiver& unarchiver, Error* error, bool onlyIfChanged);

    // Codable: the three keys, written at the top of the coder.
    QString className() const override;
    void encodeWithCoder(Encoder& coder) const override;

    // FilePresenter
    QString presentedItemPath() const override;
    SerialQueue* presentedItemQueue() override;
    // Marks the file blocked and hands it over at once; the reacquirer clears the mark.
    void relinquishPresentedItemToWriter(RelinquishBlock block) override;
    // On the main queue: readBinaryWithCompletionHandler(..., true); a successful read posts
    // ChangedNotification.
    void presentedItemDidChange() override;
    // Index files have no conflicts to resolve.
    void resolvePotentialConflict() {}

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use the factories; public only for std::make_shared.
    IndexDocument(Private, QUrl url);

private:
    // The change notice's read finished (main thread).
    void changeReadFinished(bool ok);

    QUrl mFileURL;
    std::unique_ptr<SerialQueue> mPresentedItemOperationQueue;
    std::atomic<bool> mFileIsBlocked{false};
    std::vector<IdeaProxyPtr> mIdeaProxyList;
};

} // namespace corvex
