#pragma once

#include "platform/core/Error.h"

#include <QString>
#include <QUrl>

namespace corvex {

// Why an export was not written, in words that name the file. Every failed export answers an
// Error of this domain whose description is "Cannot export to "<file>": <reason>", with the
// file under FilePathKey; the writer's own error, when there was one, rides along as the
// underlying error and gives the reason.
class ExportProblems
{
public:
    ExportProblems() = delete;

    static const QString ErrorDomain; // "com.tallowfen.corvex.export"
    enum Code
    {
        NothingToExport = 1,   // no tree to write
        NotALocalFile = 2,     // the destination is no file on this computer
        NotWritten = 3,        // the file could not be written (the underlying error says why)
        MissingAttachment = 4, // an attachment of the tree has no data
        TooLarge = 5,          // the data passes what the format can describe
        NotMade = 6,           // the content itself could not be made
    };

    static Error make(Code code, const QString& file, const QString& reason,
                      const Error& underlying = Error());
    // A writer's error (SaveFile, the zip packer, ...) for `file`: NotWritten, its description
    // as the reason.
    static Error notWritten(const QString& file, const Error& writerError);
    // NotALocalFile for a destination that is no file on this computer, named by its URL.
    static Error notALocalFile(const QUrl& url);
};

} // namespace corvex
