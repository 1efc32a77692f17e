#pragma once

#include "cloud/dropbox/DocumentInfo.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>

namespace corvex {

// The text of the status file "corvex.local.status": compact UTF-8 JSON
//   {"dropboxFolderManagerState":{"fileFormatVersion":"1","index":{...},
//    "documents":[{"key":"dropbox:/a.crvx","val":{"input":{},"current":{"name":...,"rev":...}}}]}}
// A record's slots and a file version's "name" and "rev" are written only when set, so the
// EMPTY marker is {} and a deletion {"rev":...}; records holding nothing are left out.
//
// Reading takes any member order and escape, a later "documents" element with the same key
// wins, and damage costs only what it touches: an element without a string "key" and an
// object "val" is skipped, a member of an unexpected type counts as absent. Text that is no
// JSON, or that lacks the top member, is no status file.
class DropboxStatusCoding
{
public:
    struct Persisted
    {
        std::optional<QString> fileFormatVersion;
        DocumentInfo::Ref index;
        std::map<QString, DocumentInfo::Ref> docs;
    };

    static QByteArray encode(const Persisted& persisted);
    // Logs "NSJSONSerialization: Error <details>" for text that is no JSON.
    static std::optional<Persisted> decode(const QByteArray& bytes);
};

} // namespace corvex
