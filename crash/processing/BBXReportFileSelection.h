#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvex {

// Chooses which files of a report folder go into its package and reads them. Other hands can
// leave anything in the folder (a damaged disk, another program, a mistaken copy), so a file
// is taken only as a regular file of at most BBXFileReadMaximumBytes, opened without following
// a link and without blocking; and the files taken hold together at most MaximumReportBytes,
// the largest left out first. Each file left out is logged once, with its name and why.
class BBXReportFileSelection
{
public:
    // A crashed run's records, their symbol names and logs come to a few megabytes even for a
    // process with hundreds of threads and images; a package beyond this would not go up
    // within the upload's time-out anyway.
    static constexpr qint64 MaximumReportBytes = 16 * 1024 * 1024;

    struct Entry
    {
        QString path;
        qint64 size = 0;
    };

    // The files to read, in the order given.
    static QList<Entry> select(const QStringList& paths, qint64 maximumReportBytes = MaximumReportBytes);
    // A selected file's bytes, read again as select() took it and no larger than it was then;
    // nothing (and the log line) when that fails.
    static std::optional<QByteArray> read(const Entry& entry);
    // The one line that tells a file was left out of its report.
    static void logLeftOut(const QString& path, const QString& reason);
};

} // namespace corvex
