#include "crash/beta/BBXBetaUpdate.h"

#include "platform/core/JsonText.h"

namespace corvex {

std::optional<BBXBetaUpdate> BBXBetaUpdate::betaUpdateWithDictionary(const Value& dictionary, Error* error)
{
    const Value& url = dictionary.isDictionary() ? dictionary.value(QStringLiteral("url")) : Value();
    const QUrl parsed = url.isString() ? QUrl(url.toString(), QUrl::StrictMode) : QUrl();
    if (!parsed.isValid() || parsed.isEmpty() || parsed.scheme().isEmpty()) {
        if (error)
            *error =
                Error(QStringLiteral("NSURLErrorDomain"), -1017, QStringLiteral("cannot parse response"));
        return std::nullopt;
    }
    BBXBetaUpdate update;
    update.mUrl = parsed;
    const Value& version = dictionary.value(QStringLiteral("version_string"));
    update.mVersion = version.isString() ? version.toString() : QString();
    return update;
}

std::optional<BBXBetaUpdate> BBXBetaUpdate::updateWithData(const QByteArray& data, Error* error)
{
    const Result<Value> parsed = JsonText::parse(data);
    if (!parsed) {
        if (error)
            *error = parsed.error();
        return std::nullopt;
    }
    return betaUpdateWithDictionary(parsed.value(), error);
}

QString BBXBetaUpdate::promptTitle()
{
    return QStringLiteral("New Build Available");
}

QString BBXBetaUpdate::promptMessage(const QString& applicationName)
{
    return QStringLiteral("A new version of %1 is available for testing.").arg(applicationName);
}

QString BBXBetaUpdate::cancelLabel()
{
    return QStringLiteral("Cancel");
}

QString BBXBetaUpdate::installLabel()
{
    return QStringLiteral("Install");
}

} // namespace corvex
