#pragma once
// Helpers shared by the analytics tests (one unity batch may hold several of them).

#include "kit/core/BBXUserDefaults.h"
#include "kit/core/Loom.h"
#include "platform/core/JsonText.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Zlib.h"
#include "tallykit/TLYFileOperations.h"
#include "tallykit/TLYTallyController.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <memory>

namespace corvex::test {

inline QVariantMap tallyTestInfo()
{
    QVariantMap loom;
    loom.insert(QStringLiteral("APIKey"), QStringLiteral("tally-test-key"));
    loom.insert(QStringLiteral("Kits"), QVariantList());
    QVariantMap info;
    info.insert(QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.tallowfen.corvex"));
    info.insert(QStringLiteral("CFBundleVersion"), QStringLiteral("42"));
    info.insert(QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.6.0"));
    info.insert(QStringLiteral("Loom"), loom);
    return info;
}

// A registry of its own (defaults under the test folder) for one controller run.
struct TallyRegistry
{
    BBXUserDefaults store{testDir() + QStringLiteral("/support"), QStringLiteral("com.tallowfen.corvex"),
                          nullptr};
    Loom loom{store, [] { return tallyTestInfo(); }};
};

inline QString tallyRoot()
{
    return testDir() + QStringLiteral("/analytics/v2");
}

inline QString tallyEventDir()
{
    return tallyRoot() + QStringLiteral("/events");
}

inline QStringList tallyFiles(const QString& extension = QString())
{
    const QString dir = tallyEventDir();
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    if (extension.isEmpty())
        return names;
    QStringList matching;
    for (const QString& name : names) {
        if (name.endsWith(u'.' + extension))
            matching.append(name);
    }
    return matching;
}

inline QByteArray tallyRead(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void tallyWrite(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

// Settings arriving as the kit core delivers them: published, then announced.
inline void tallyDeliverSettings(Loom& loom, const QByteArray& json)
{
    Result<Value> parsed = JsonText::parse(json);
    loom.publishSettings(parsed ? parsed.value() : Value());
    NotificationCenter::defaultCenter().post(QStringLiteral("LOMSettingsAvailableNotification"));
}

// Every event id the service received, each with the boundaries it came in.
inline QHash<QString, QSet<QByteArray>> tallyReceivedIds(const VendorServiceStandIn& vendor)
{
    QHash<QString, QSet<QByteArray>> ids;
    for (const auto& upload : vendor.eventsUploads()) {
        for (const QString& id : upload.eventIds)
            ids[id].insert(upload.boundary);
    }
    return ids;
}

inline QString tallyScript(const char* name)
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QString::fromLatin1(name));
}

// Runs the log checker over a folder of logs and packages: its exit code and output.
inline std::pair<int, QByteArray> tallyCheckLogs(const QString& folder, const QStringList& extra = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{tallyScript("check_event_logs.py"), folder} + extra);
    if (!process.waitForFinished(60000))
        return {-1, QByteArray("timed out")};
    return {process.exitCode(), process.readAll()};
}

} // namespace corvex::test
