#include "tests/cloud/TestSyncTool.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cstdio>
#include <sys/stat.h>

namespace corvex::test {

TestSyncTool::TestSyncTool(QString documentsA, QString deviceA, QString documentsB, QString deviceB)
    : mA{std::move(documentsA), std::move(deviceA)}, mB{std::move(documentsB), std::move(deviceB)}
{}

QStringList TestSyncTool::filesOf(const QString& folder)
{
    QStringList files;
    for (const QString& sub : {QString(), QStringLiteral("attachments/")}) {
        for (const QString& name : QDir(folder + QLatin1Char('/') + sub).entryList(QDir::Files, QDir::Name)) {
            if (!name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1String(".corvex-tmp-")))
                files.append(sub + name);
        }
    }
    return files;
}

bool TestSyncTool::readSide(const QString& path, QByteArray& bytes, qint64& mtimeMs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    mtimeMs = QFileInfo(path).lastModified().toMSecsSinceEpoch();
    return true;
}

void TestSyncTool::put(const QString& folder, const QString& relative, const QByteArray& bytes,
                       qint64 mtimeMs)
{
    const QFileInfo target(folder + QLatin1Char('/') + relative);
    QDir().mkpath(target.absolutePath());
    // As Syncthing does: a hidden temporary beside the file, renamed into place.
    const QString temporary =
        target.absolutePath() + QStringLiteral("/.syncthing.") + target.fileName() + QStringLiteral(".tmp");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return;
    file.close();
    file.open(QIODevice::ReadWrite);
    file.setFileTime(QDateTime::fromMSecsSinceEpoch(mtimeMs), QFileDevice::FileModificationTime);
    file.close();
    std::rename(QFile::encodeName(temporary).constData(),
                QFile::encodeName(target.absoluteFilePath()).constData());
}

void TestSyncTool::remove(const QString& folder, const QString& relative)
{
    QFile::remove(folder + QLatin1Char('/') + relative);
}

QStringList TestSyncTool::sync()
{
    QStringList conflicts;
    QStringList names = filesOf(mA.folder) + filesOf(mB.folder) + mBase.keys();
    names.removeDuplicates();
    names.sort();
    for (const QString& name : std::as_const(names)) {
        QByteArray a, b;
        qint64 aTime = 0, bTime = 0;
        const bool hasA = readSide(mA.folder + QLatin1Char('/') + name, a, aTime);
        const bool hasB = readSide(mB.folder + QLatin1Char('/') + name, b, bTime);
        const bool hasBase = mBase.contains(name);
        const QByteArray base = mBase.value(name);
        const bool aChanged = hasA != hasBase || (hasA && a != base);
        const bool bChanged = hasB != hasBase || (hasB && b != base);
        if (hasA == hasB && (!hasA || a == b)) {
            // Already alike.
        } else if (!bChanged) {
            if (hasA)
                put(mB.folder, name, a, aTime);
            else
                remove(mB.folder, name);
        } else if (!aChanged) {
            if (hasB)
                put(mA.folder, name, b, bTime);
            else
                remove(mA.folder, name);
        } else if (!hasA || !hasB) {
            // Deleted on one side, changed on the other: the change comes back.
            if (hasA)
                put(mB.folder, name, a, aTime);
            else
                put(mA.folder, name, b, bTime);
        } else {
            const bool aWins = aTime >= bTime;
            const QByteArray& winner = aWins ? a : b;
            const QByteArray& loser = aWins ? b : a;
            const qint64 loserTime = aWins ? bTime : aTime;
            const QString device = aWins ? mB.device : mA.device;
            const QFileInfo info(name);
            const QString dir =
                info.path() == QLatin1String(".") ? QString() : info.path() + QLatin1Char('/');
            const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
            const QString stem = info.fileName().left(info.fileName().size() - suffix.size());
            const QString copy = dir + stem + QStringLiteral(".sync-conflict-") +
                                 QDateTime::fromMSecsSinceEpoch(loserTime, Qt::UTC)
                                     .toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                                 QLatin1Char('-') + device + suffix;
            for (const Side* side : {&mA, &mB}) {
                put(side->folder, copy, loser, loserTime);
                put(side->folder, name, winner, aWins ? aTime : bTime);
            }
            mBase.insert(copy, loser);
            conflicts.append(copy);
        }
        QByteArray now;
        qint64 ignored = 0;
        if (readSide(mA.folder + QLatin1Char('/') + name, now, ignored))
            mBase.insert(name, now);
        else
            mBase.remove(name);
    }
    return conflicts;
}

} // namespace corvex::test
