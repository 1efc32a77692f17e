#pragma once

#include <QString>

namespace corvex {

class ObjectID;

// The one rule for names that come from stored data and become file names in the storage
// layer. Attachment identifiers are read from documents ("att") and from imported archives;
// joined to a folder unchecked, a crafted one ("../../x", "/home/u/.bashrc") would name a
// file anywhere. Every attachment store and read, and every path of the temporary location,
// asks here first and refuses what fails.
class AttachmentNames
{
public:
    AttachmentNames() = delete;

    // "<40 lower-case hex digits>.<extension>": the extension is not empty and holds no
    // "/", "\\", NUL or "..", and the whole name fits a file name (255 bytes of UTF-8).
    static bool isAcceptableAttachmentName(const QString& name);
    // The string form of the identifier is acceptable (never the null identifier).
    static bool isAcceptable(const ObjectID& attachment);

    // One plain component of a path: not empty, not "." or "..", no "/", "\\" or NUL, at
    // most 255 bytes of UTF-8. For document and scratch file names.
    static bool isSafeFileName(const QString& name);

    // The name for a log line: control characters (NUL among them) as "\xNN".
    static QString printable(const QString& name);
};

} // namespace corvex
