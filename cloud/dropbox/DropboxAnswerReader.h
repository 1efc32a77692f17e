#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace corvex {

// Readers of what the Dropbox routes answer. Every one takes untrusted bytes and answers
// nothing for anything that is not the expected shape.
class DropboxAnswerReader
{
public:
    // One entry of a listing, or the metadata of get_metadata and "Dropbox-API-Result".
    struct Entry
    {
        QString tag; // "file", "folder", "deleted"
        QString pathLower;
        QString rev; // files only
        // Files only, when the answer gives them: the byte count ("size", -1 without one) and
        // "content_hash" (empty without one).
        qint64 size = -1;
        QString contentHash;
    };
    struct ListPage
    {
        // The page's file and "deleted" entries in order; folders are dropped.
        std::vector<Entry> entries;
        QString cursor;
        bool hasMore = false;
    };

    // {"entries":[...],"cursor":"...","has_more":bool}; a file entry without a string
    // "path_lower" and "rev", or a deleted one without "path_lower", is dropped.
    static std::optional<ListPage> listPage(const QByteArray& body);
    // A metadata object of the Metadata union ({".tag":"file",...}), as get_metadata answers;
    // with `wrapped`, inside {"metadata":{...}}. A file without "path_lower" or "rev" is no
    // answer.
    static std::optional<Entry> metadata(const QByteArray& json, bool wrapped = false);
    // The FileMetadata struct an upload answers and a download's "Dropbox-API-Result" holds:
    // no ".tag", as the routes name the file type itself (one that carries "file" is taken
    // too); its "path_lower" and "rev" as for metadata().
    static std::optional<Entry> fileMetadata(const QByteArray& json);
    // The tags down an error body's "error" union: {"error":{".tag":"path","path":{".tag":
    // "not_found"}}} gives ["path", "not_found"]; an upload's "reason" is followed too.
    static QStringList errorTags(const QByteArray& body);
    // Whether the error tags begin with `prefix` ("path/not_found").
    static bool errorIs(const QByteArray& body, const QString& prefix);
};

} // namespace corvex
