#pragma once

// Helpers shared by the kit's test files (one unity batch may hold several of them).

#include "platform/core/Value.h"
#include "tests/support/HelperProcess.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace corvex::test {

inline QString kitDataDir()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../data/kit"));
}

inline QString kitScriptDir()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../data/gen"));
}

// The tagged JSON the fixture scripts write ({"t": type, "v": value}) as a Value.
inline Value kitValueFromTagged(const QJsonValue& tagged)
{
    const QJsonObject object = tagged.toObject();
    const QString type = object.value(QStringLiteral("t")).toString();
    const QJsonValue value = object.value(QStringLiteral("v"));
    if (type == QLatin1String("bool"))
        return Value(value.toBool());
    if (type == QLatin1String("integer"))
        return Value(value.toString().toLongLong());
    if (type == QLatin1String("real"))
        return Value(value.toString().toDouble());
    if (type == QLatin1String("string"))
        return Value(value.toString());
    if (type == QLatin1String("data"))
        return Value(QByteArray::fromBase64(value.toString().toLatin1()));
    if (type == QLatin1String("date"))
        return Value(QDateTime::fromString(value.toString(), Qt::ISODate).toUTC());
    if (type == QLatin1String("array")) {
        ValueArray array;
        for (const QJsonValue& element : value.toArray())
            array.push_back(kitValueFromTagged(element));
        return Value(std::move(array));
    }
    if (type == QLatin1String("dict")) {
        ValueDictionary dictionary;
        for (const QJsonValue& entry : value.toArray())
            dictionary.insert(entry.toArray().at(0).toString(), kitValueFromTagged(entry.toArray().at(1)));
        return Value(std::move(dictionary));
    }
    return Value();
}

inline QJsonDocument kitJsonFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonDocument();
    return QJsonDocument::fromJson(file.readAll());
}

} // namespace corvex::test
