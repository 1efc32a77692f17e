#include "model/MyResult.h"

#include "model/LocalizedStrings.h"
#include "platform/core/Log.h"

namespace corvex {

MyResult::MyResult(Private, QString message) : mErrorString(std::move(message)) {}

MyResultPtr MyResult::OK()
{
    // Never destroyed: completions may still run during static destruction.
    static const MyResultPtr* const instance =
        new MyResultPtr(std::make_shared<const MyResult>(Private{}, QStringLiteral("No error")));
    return *instance;
}

MyResultPtr MyResult::USER_CANCEL()
{
    static const MyResultPtr* const instance =
        new MyResultPtr(std::make_shared<const MyResult>(Private{}, QStringLiteral("User canceled")));
    return *instance;
}

MyResultPtr MyResult::error(const QString& key, const QString& defaultText)
{
    if (defaultText.isNull())
        Log::assertionFailure(QStringLiteral("+[MyResult error:desc:]"));
    return withKey(key, defaultText);
}

MyResultPtr MyResult::error(const QString& key, const QString& defaultText, const QString& reason)
{
    const MyResultPtr plain = error(key, defaultText);
    if (reason.isEmpty())
        return plain;
    return std::make_shared<const MyResult>(Private{},
                                            plain->description() + QStringLiteral("\n\n") + reason);
}

MyResultPtr MyResult::withKey(const QString& key, const QString& defaultText)
{
    QString message = LocalizedStrings::mainTable().stringForKey(key, defaultText);
    if (message.isNull())
        message = QStringLiteral("Sorry, an error occurred during operation");
    return std::make_shared<const MyResult>(Private{}, std::move(message));
}

bool MyResult::isOK() const
{
    return this == OK().get();
}

bool MyResult::isError() const
{
    return this != OK().get() && this != USER_CANCEL().get();
}

} // namespace corvex
