#include "platform/core/Error.h"

#include <cstring>

namespace corvex {

const QString Error::DescriptionKey = QStringLiteral("NSLocalizedDescription");
const QString Error::FailureReasonKey = QStringLiteral("NSLocalizedFailureReason");
const QString Error::RecoverySuggestionKey = QStringLiteral("NSLocalizedRecoverySuggestion");
const QString Error::UnderlyingErrorKey = QStringLiteral("NSUnderlyingError");
const QString Error::FilePathKey = QStringLiteral("NSFilePath");
const QString Error::PosixDomain = QStringLiteral("NSPOSIXErrorDomain");

Error::Error(QString domain, int code, QString description, QVariantMap userInfo)
    : mDomain(std::move(domain)), mCode(code), mUserInfo(std::move(userInfo))
{
    if (!description.isEmpty())
        mUserInfo.insert(DescriptionKey, description);
}

QString Error::localizedDescription() const
{
    const QString text = mUserInfo.value(DescriptionKey).toString();
    if (!text.isEmpty())
        return text;
    return QStringLiteral("The operation couldn\u2019t be completed. (%1 error %2.)").arg(mDomain).arg(mCode);
}

QString Error::localizedFailureReason() const
{
    return mUserInfo.value(FailureReasonKey).toString();
}

QString Error::localizedRecoverySuggestion() const
{
    return mUserInfo.value(RecoverySuggestionKey).toString();
}

QString Error::toString() const
{
    if (isNull())
        return QStringLiteral("no error");
    return QStringLiteral("%1 %2: %3").arg(mDomain).arg(mCode).arg(localizedDescription());
}

Error Error::posix(int errnoValue, const QString& operation, const QString& path)
{
    QVariantMap info;
    if (!path.isEmpty())
        info.insert(FilePathKey, path);
    QString text = operation + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errnoValue));
    if (!path.isEmpty())
        text += QStringLiteral(" (") + path + QLatin1Char(')');
    return Error(PosixDomain, errnoValue, text, info);
}

Exception::Exception(QString name, QString reason, QVariantMap userInfo)
    : mName(std::move(name)), mReason(std::move(reason)), mUserInfo(std::move(userInfo)),
      mWhat((mName + QStringLiteral(": ") + mReason).toStdString())
{}

} // namespace corvex
