#pragma once

#include <QString>
#include <QVariantMap>
#include <exception>
#include <string>

namespace corvex {

// An error value with a domain, a code and user information: the storage layer, the cloud
// back ends and the reporting kit hand these to completions and delegates. A default-made
// Error is "no error".
class Error
{
public:
    Error() = default;
    Error(QString domain, int code, QString description = QString(), QVariantMap userInfo = {});

    bool isNull() const { return mDomain.isEmpty(); }
    explicit operator bool() const { return !isNull(); }

    const QString& domain() const { return mDomain; }
    int code() const { return mCode; }
    const QVariantMap& userInfo() const { return mUserInfo; }

    // The well-known user-information keys.
    static const QString DescriptionKey;        // "NSLocalizedDescription"
    static const QString FailureReasonKey;      // "NSLocalizedFailureReason"
    static const QString RecoverySuggestionKey; // "NSLocalizedRecoverySuggestion"
    static const QString UnderlyingErrorKey;    // "NSUnderlyingError"
    static const QString FilePathKey;           // "NSFilePath"

    // The description from the user information, else "The operation couldn't be completed.
    // (<domain> error <code>.)".
    QString localizedDescription() const;
    QString localizedFailureReason() const;
    QString localizedRecoverySuggestion() const;

    // One line for logs: "<domain> <code>: <description>".
    QString toString() const;

    // An error of the POSIX domain for errno, with the path and the operation in its text.
    static Error posix(int errnoValue, const QString& operation, const QString& path = QString());
    static const QString PosixDomain; // "NSPOSIXErrorDomain"

    friend bool operator==(const Error& a, const Error& b)
    {
        return a.mDomain == b.mDomain && a.mCode == b.mCode && a.mUserInfo == b.mUserInfo;
    }

private:
    QString mDomain;
    int mCode = 0;
    QVariantMap mUserInfo;
};

// A named exception with a reason ("Circular Reference Not Allowed", "LOMException").
// Thrown only inside a component and caught at its boundary; nothing throws across the
// storage facade or a Qt signal.
class Exception : public std::exception
{
public:
    Exception(QString name, QString reason, QVariantMap userInfo = {});

    const QString& name() const { return mName; }
    const QString& reason() const { return mReason; }
    const QVariantMap& userInfo() const { return mUserInfo; }
    const char* what() const noexcept override { return mWhat.c_str(); }

private:
    QString mName;
    QString mReason;
    QVariantMap mUserInfo;
    std::string mWhat;
};

} // namespace corvex
