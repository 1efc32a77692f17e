#pragma once

#include "platform/core/Error.h"

#include <QString>

namespace corvex {

// Why a document file could not be opened, in words for the person who opened it. Every
// failed import answers an Error of this domain whose failure reason
// (localizedFailureReason) is one or two sentences about the file, never about the code;
// the reader's own error, when there was one, rides along as the underlying error.
class ImportProblems
{
public:
    ImportProblems() = delete;

    static const QString ErrorDomain; // "com.tallowfen.corvex.import"
    enum Code
    {
        Unreadable = 1,           // the file cannot be read (missing, not allowed, not a file)
        TooLarge = 2,             // the file, or its document once unpacked, passes a bound
        NotADocument = 3,         // neither an archive, an older document nor an outline
        Damaged = 4,              // the document's data does not decode
        CutOff = 5,               // the file ends before its content does
        TooDeep = 6,              // ideas nested deeper than the model's maximum depth
        UnsafeAttachmentName = 7, // an attachment named as no file may be
        UnreadableVersion = 8,    // a file format version this program does not read
        NotStored = 9,            // the file was read, but its pictures could not be stored
        Changed = 10,             // the file changed while it was being read
        TooManyIdeas = 11,        // more ideas than a document may hold, in all or below one idea
    };

    // An error of the domain with the reason as its failure reason and description.
    static Error make(Code code, const QString& reason, const Error& underlying = Error());

    // A reader's error (the file reader's POSIX errors, zlib, JSON, the payload and OPML
    // readers) in the words above; an error of this domain is answered as it is.
    static Error fromReaderError(const Error& error);
};

} // namespace corvex
