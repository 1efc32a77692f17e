#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Completion.h"
#include "platform/core/Error.h"
#include "platform/core/Result.h"
#include "storage/IdeaProxy.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class JSONDecoder;

// The index file of the Dropbox location: the location's document list as IdeaProxy
// summaries in display order, as JSON without a wrapper key:
//   {"fileFormatVersion":1,"appInstance":"<writing instance>","proxies":[...]}
// Read back with "proxies" decoded as IdeaProxy and "iconImage" as IconImage.
//
// The list is the main thread's: writing serialises it on the calling thread (the main
// thread), and only the finished bytes go to the persistence queue, which replaces the file
// atomically (a temporary file, synced and renamed; on any failure the old file stays and
// the answer is NO). Reading reads and decodes on the persistence queue and takes the list
// on the main thread. Completions always answer on the main queue.
//
// Errors of the format: domain "document", code 100 for a version below 1 (a missing one
// reads as 0), 150 for one above 1. A failed read leaves the list as it was.
class IndexJSONDocument final : public Codable, public std::enable_shared_from_this<IndexJSONDocument>
{
public:
    using BoolCompletion = corvex::Completion<bool>;

    static const QString ClassName;            // "IndexJSONDocument"
    static const QString FileFormatVersionKey; // "fileFormatVersion"
    static const QString AppInstanceKey;       // "appInstance"
    static const QString ProxiesKey;           // "proxies"
    static const QString IconImageKey;         // "iconImage"
    static constexpr qint32 CurrentFileFormatVersion = 1;
    // The largest index file read; a larger one is refused before it is read, as unreadable.
    static constexpr qint64 MaxFileSize = qint64(1) << 30;

    static std::shared_ptr<IndexJSONDocument> initWithFileURL(const QUrl& url);
    // An index without a file: logs the assertion line of a plain init.
    static std::shared_ptr<IndexJSONDocument> init();

    const QUrl& fileURL() const { return mFileURL; }
    // Empty until set or read.
    const std::vector<IdeaProxyPtr>& ideaProxyList() const { return mIdeaProxyList; }
    void setIdeaProxyList(std::vector<IdeaProxyPtr> list) { mIdeaProxyList = std::move(list); }

    // writeToLocalFileAt.
    void saveJSONToURL(const QUrl& url, BoolCompletion completion);
    // A URL without a local path: Globals::raiseCorvexURLError and NO. Otherwise the JSON
    // is made now and written on the persistence queue (see above).
    void writeToLocalFileAt(const QUrl& url, BoolCompletion completion);
    // Reads the file and decodes it: YES when read and decoded, NO otherwise (also without a
    // file URL, which is raised through Globals::raiseCorvexURLError).
    void readJSONWithCompletionHandler(BoolCompletion completion);
    // Why the last read answered NO (a version error of the format, or the reader's); null
    // after a read that succeeded. Set before the read's completion runs.
    const Error& lastReadError() const { return mLastReadError; }

    // The JSON text of the three keys; an error when the list cannot be encoded.
    Result<QByteArray> contentsAsJSONData() const;
    // Version check, then the list: each proxy with a document identifier moves to location 3
    // (Dropbox); one without is logged and skipped. Sets the list and answers YES.
    bool decodeFromJSON(JSONDecoder& decoder, Error* error);
    // The same without touching the document: the list, or nothing (with the error). Any
    // thread.
    static std::optional<std::vector<IdeaProxyPtr>> decodeProxies(JSONDecoder& decoder, Error* error);
    // A decoder for the bytes with the two aliases.
    static std::unique_ptr<JSONDecoder> makeDecoder(const QByteArray& json);

    // Codable: the three keys.
    QString className() const override;
    void encodeWithCoder(Encoder& coder) const override;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use the factories; public only for std::make_shared.
    IndexJSONDocument(Private, QUrl url);

private:
    QUrl mFileURL;
    std::vector<IdeaProxyPtr> mIdeaProxyList;
    Error mLastReadError;
};

} // namespace corvex
