#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace corvex::test {

// A small sync tool for tests: keeps the "Documents" folders of two containers in step the
// way Syncthing does. Each pass compares every file of both folders (the top level and
// "attachments", leaving out hidden and temporary files) with its content at the last
// pass: a change on one side is copied to the other (written to a hidden temporary, then
// renamed into place), a deletion deleted; when both sides changed a file differently, the
// newer content (modification time; ties to the first folder) takes the name on both sides
// and the other stays beside it, on both sides, as "X.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.ext"
// named after the device whose change lost. A file changed on one side and deleted on the
// other comes back with the change.
class TestSyncTool
{
public:
    TestSyncTool(QString documentsA, QString deviceA, QString documentsB, QString deviceB);

    // One pass; answers the conflict copies it made.
    QStringList sync();

private:
    struct Side
    {
        QString folder;
        QString device;
    };

    static QStringList filesOf(const QString& folder);
    static bool readSide(const QString& path, QByteArray& bytes, qint64& mtimeMs);
    static void put(const QString& folder, const QString& relative, const QByteArray& bytes, qint64 mtimeMs);
    static void remove(const QString& folder, const QString& relative);

    Side mA;
    Side mB;
    QMap<QString, QByteArray> mBase; // the content of each file at the last pass
};

} // namespace corvex::test
