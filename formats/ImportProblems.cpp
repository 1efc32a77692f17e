#include "formats/ImportProblems.h"

#include "formats/ExportImport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/JSONDecoder.h"
#include "platform/core/JsonText.h"
#include "platform/core/RegularFile.h"
#include "platform/core/Zlib.h"

#include <QLocale>
#include <cerrno>

namespace corvex {

const QString ImportProblems::ErrorDomain = QStringLiteral("com.tallowfen.corvex.import");

namespace {

QString sizeText(qint64 bytes)
{
    return QLocale(QLocale::English).formattedDataSize(bytes, 0, QLocale::DataSizeIecFormat);
}

QString tooDeepReason()
{
    return QStringLiteral("The document's ideas are nested deeper than %1 levels, more than Corvex opens.")
        .arg(QLocale(QLocale::English).toString(Idea::MaxDepth));
}

QString payloadTooLargeReason()
{
    return QStringLiteral("The document is larger than %1 once unpacked, more than Corvex opens.")
        .arg(sizeText(IdeaDocumentDataObject::MaxPayloadBytes));
}

// The bound passed and which one: the reason says both in numbers.
QString tooManyIdeasReason(const Error& error)
{
    const QLocale english(QLocale::English);
    const QVariantMap& info = error.userInfo();
    const QString bound =
        english.toString(info.value(IdeaDocumentDataObject::TooManyIdeasBoundKey).toLongLong());
    if (info.value(IdeaDocumentDataObject::TooManyIdeasChildrenKey).toBool())
        return QStringLiteral("An idea of the document has more than %1 ideas directly below it, more than "
                              "Corvex opens: one idea may have at most %1.")
            .arg(bound);
    return QStringLiteral("The document has more than %1 ideas, more than Corvex opens: a document may "
                          "have at most %1 ideas.")
        .arg(bound);
}

Error fromPosix(const Error& error)
{
    switch (error.code()) {
    case ENOENT:
    case ENOTDIR:
        return ImportProblems::make(ImportProblems::Unreadable, QStringLiteral("The file does not exist."),
                                    error);
    case EACCES:
    case EPERM:
        return ImportProblems::make(ImportProblems::Unreadable,
                                    QStringLiteral("Corvex is not allowed to read the file."), error);
    case EFBIG:
        return ImportProblems::make(ImportProblems::TooLarge,
                                    QStringLiteral("The file is larger than %1, more than Corvex opens.")
                                        .arg(sizeText(ExportImport::MaxWholeFileSize)),
                                    error);
    case EINVAL:
    case EISDIR:
    case ELOOP: {
        // The file reader says what the file is; a reader that found the fault itself gets
        // the same words.
        const QString reason = error.localizedFailureReason();
        return ImportProblems::make(ImportProblems::Unreadable,
                                    reason.isEmpty() ? RegularFile::reasonFor(error.code()) : reason, error);
    }
    default:
        return ImportProblems::make(ImportProblems::Unreadable, QStringLiteral("The file cannot be read."),
                                    error);
    }
}

Error fromZlib(const Error& error)
{
    switch (error.code()) {
    case Zlib::TruncatedData:
        return ImportProblems::make(
            ImportProblems::CutOff,
            QStringLiteral("The document's data ends early, as if the file were cut off."), error);
    case Zlib::LimitExceeded:
        return ImportProblems::make(ImportProblems::TooLarge, payloadTooLargeReason(), error);
    default:
        return ImportProblems::make(ImportProblems::Damaged,
                                    QStringLiteral("The document's data is damaged."), error);
    }
}

Error fromPayload(const Error& error)
{
    switch (error.code()) {
    case IdeaDocumentDataObject::TooShort:
        return ImportProblems::make(ImportProblems::NotADocument,
                                    QStringLiteral("The file is too short to be a document."), error);
    case IdeaDocumentDataObject::TooLarge:
        return ImportProblems::make(ImportProblems::TooLarge, payloadTooLargeReason(), error);
    case IdeaDocumentDataObject::TooManyIdeas:
        return ImportProblems::make(ImportProblems::TooManyIdeas, tooManyIdeasReason(error), error);
    case IdeaDocumentDataObject::NoteTooLong:
        return ImportProblems::make(
            ImportProblems::TooLarge,
            QStringLiteral("An idea of the document has a note longer than %1 characters, more than Corvex "
                           "opens: a note may hold at most %1.")
                .arg(QLocale(QLocale::English).toString(qint64(IdeaDocumentDataObject::MaxNoteLength))),
            error);
    case IdeaDocumentDataObject::UnreadableVersion:
        return ImportProblems::make(
            ImportProblems::UnreadableVersion,
            QStringLiteral("The document is in a file format this version of Corvex does not read."), error);
    case IdeaDocumentDataObject::NoRootIdea:
        return ImportProblems::make(ImportProblems::Damaged, QStringLiteral("The document holds no ideas."),
                                    error);
    case IdeaDocumentDataObject::NoOutline: {
        const QString reason = error.localizedFailureReason();
        return ImportProblems::make(ImportProblems::NotADocument,
                                    reason.isEmpty() ? QStringLiteral("The file holds no outline.") : reason,
                                    error);
    }
    default:
        return ImportProblems::make(ImportProblems::Damaged,
                                    QStringLiteral("The document's data is damaged."), error);
    }
}

Error fromJson(const Error& error)
{
    // A parse failure carries the text reader's error as text ("<domain> <code>: ...").
    const QString underlying = error.userInfo().value(Error::UnderlyingErrorKey).toString();
    const bool textTooDeep = underlying.startsWith(
        QStringLiteral("%1 %2:").arg(JsonText::ErrorDomain).arg(int(JsonText::TooDeep)));
    if (error.code() == JSONDecoder::TooDeep || (error.code() == JSONDecoder::ParseFailed && textTooDeep))
        return ImportProblems::make(ImportProblems::TooDeep, tooDeepReason(), error);
    return ImportProblems::make(ImportProblems::Damaged, QStringLiteral("The document's data is damaged."),
                                error);
}

} // namespace

Error ImportProblems::make(Code code, const QString& reason, const Error& underlying)
{
    QVariantMap info{{Error::FailureReasonKey, reason}};
    if (!underlying.isNull()) {
        info.insert(Error::UnderlyingErrorKey, underlying.toString());
        const QString path = underlying.userInfo().value(Error::FilePathKey).toString();
        if (!path.isEmpty())
            info.insert(Error::FilePathKey, path);
    }
    return Error(ErrorDomain, code, reason, info);
}

Error ImportProblems::fromReaderError(const Error& error)
{
    const QString& domain = error.domain();
    if (domain == ErrorDomain)
        return error;
    if (domain == Error::PosixDomain)
        return fromPosix(error);
    if (domain == Zlib::ErrorDomain)
        return fromZlib(error);
    if (domain == IdeaDocumentDataObject::ErrorDomain)
        return fromPayload(error);
    if (domain == JSONDecoder::ErrorDomain)
        return fromJson(error);
    if (domain == JsonText::ErrorDomain && error.code() == JsonText::TooDeep)
        return make(TooDeep, tooDeepReason(), error);
    return make(Damaged, QStringLiteral("The document's data is damaged."), error);
}

} // namespace corvex
