#pragma once

#include <QByteArray>

namespace corvex {

// The JSON of a content route's "Dropbox-API-Arg" header made safe for a header line: every
// UTF-16 unit of 0x7F and above becomes a \uXXXX escape (non-ASCII characters as escaped
// surrogate pairs), which any JSON reader turns back into the same text. Raw bytes above
// 0x7E in a header are refused by the service.
class DropboxApiArg
{
public:
    static QByteArray headerSafe(const QByteArray& utf8Json);
};

} // namespace corvex
