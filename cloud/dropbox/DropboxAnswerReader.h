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
    };
    struct ListPage
    {
        std::vector<Entry> files; // the page's file entries in order; others are dropped
        QString cursor;
        bool hasMore = false;
    };

    // {"entries":[...],"cursor":"...","has_more":bool}; a file entry without a string
    // "path_lower" and "rev" is dropped.
    static std::optional<ListPage> listPage(const QByteArray& body);
    // A metadata object ({".tag":"file",...}); with `wrapped`, inside {"metadata":{...}}. A
    // file without "path_lower" or "rev" is no answer.
    static std::optional<Entry> metadata(const QByteArray& json, bool wrapped = false);
    // The tags down an error body's "error" union: {"error":{".tag":"path","path":{".tag":
    // "not_found"}}} gives ["path", "not_found"]; an upload's "reason" is followed too.
    static QStringList errorTags(const QByteArray& body);
    // Whether the error tags begin with `prefix` ("path/not_found").
    static bool errorIs(const QByteArray& body, const QString& prefix);
};

} // namespace corvex
