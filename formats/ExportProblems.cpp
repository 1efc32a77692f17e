#include "formats/ExportProblems.h"

namespace corvex {

const QString ExportProblems::ErrorDomain = QStringLiteral("com.tallowfen.corvex.export");

Error ExportProblems::make(Code code, const QString& file, const QString& reason, const Error& underlying)
{
    QVariantMap info{{Error::FailureReasonKey, reason}, {Error::FilePathKey, file}};
    if (!underlying.isNull())
        info.insert(Error::UnderlyingErrorKey, underlying.toString());
    return Error(ErrorDomain, code, QStringLiteral("Cannot export to \"%1\": %2").arg(file, reason), info);
}

Error ExportProblems::notWritten(const QString& file, const Error& writerError)
{
    const QString reason = writerError.isNull() ? QStringLiteral("the file could not be written.")
                                                : writerError.localizedDescription();
    return make(NotWritten, file, reason, writerError);
}

Error ExportProblems::notALocalFile(const QUrl& url)
{
    return make(NotALocalFile, url.toString(), QStringLiteral("it is not a file on this computer."));
}

} // namespace corvex
