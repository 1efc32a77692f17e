#pragma once

#include "model/MyResult.h"
#include "platform/core/Error.h"

#include <QString>

namespace corvex {

// What a person is told about a document file they opened or imported: why one could not
// be opened, and that one was read only in part. The readers' errors carry their reasons
// in words for that person (the failure reason); this only puts them in the alert.
class FileOpeningMessages
{
public:
    FileOpeningMessages() = delete;

    // "Failed to open file" ("mac:Error:FailedToOpenFile"), then the error's failure reason.
    static MyResultPtr failedToOpen(const Error& why);

    // "Only part of “<file>” could be read: the <n> ideas before the damage are open.", then
    // why reading stopped.
    static QString partlyRead(const QString& fileName, qint64 ideasRead, const QString& why);
    // Shows partlyRead in an alert.
    static void showPartlyRead(const QString& fileName, qint64 ideasRead, const QString& why);
};

} // namespace corvex
