#include "model/LocalizedStrings.h"

#include "platform/core/Log.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

// Resources compiled into a static library are registered only when their init function
// runs; it has to be named from the global namespace.
static void initModelResources()
{
    Q_INIT_RESOURCE(model);
}

namespace corvex {

const LocalizedStrings& LocalizedStrings::mainTable()
{
    // Never destroyed: texts may be looked up from other statics' destructors at exit.
    static const LocalizedStrings* const table = new LocalizedStrings();
    return *table;
}

LocalizedStrings::LocalizedStrings()
{
    initModelResources();
    const QString path = QLatin1String(ResourcePath);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Log::error(QStringLiteral("The string table %1 is missing: %2").arg(path, file.errorString()));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        Log::error(QStringLiteral("The string table %1 cannot be read: %2").arg(path, error.errorString()));
        return;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isString())
            mTexts.insert(it.key(), it.value().toString());
        else
            Log::error(QStringLiteral("The string table %1 has no text for \"%2\"").arg(path, it.key()));
    }
}

QString LocalizedStrings::stringForKey(const QString& key, const QString& defaultText) const
{
    if (key.isEmpty())
        return defaultText;
    const auto found = mTexts.constFind(key);
    if (found != mTexts.constEnd())
        return *found;
    return defaultText.isEmpty() ? key : defaultText;
}

} // namespace corvex
