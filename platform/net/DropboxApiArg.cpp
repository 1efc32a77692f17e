#include "platform/net/DropboxApiArg.h"

#include <QString>
#include <cstdio> // snprintf

namespace corvex {

QByteArray DropboxApiArg::headerSafe(const QByteArray& utf8Json)
{
    const QString text = QString::fromUtf8(utf8Json);
    QByteArray out;
    out.reserve(utf8Json.size());
    for (const QChar unit : text) {
        const char16_t code = unit.unicode();
        if (code < 0x7F) {
            out.append(char(code));
            continue;
        }
        char escape[7];
        std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(code));
        out.append(escape, 6);
    }
    return out;
}

} // namespace corvex
