#pragma once

// Helpers shared by the kit's test files (one unity batch may hold several of them).

#include "platform/core/Value.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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

struct KitProcessResult
{
    bool ran = false;
    int exitCode = -1;
    QByteArray output;
};

// Runs a program to its end (at most a minute): its exit code and its merged output.
inline KitProcessResult runKitProgram(const QString& program, const QStringList& arguments)
{
    KitProcessResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return result;
    result.ran = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAll();
    return result;
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
