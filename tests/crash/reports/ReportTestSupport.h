#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace corvex::test {

// Writes `bytes` to `path`, making its folder; false when it cannot.
inline bool writeReportFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A report directory as a run leaves it: metadata and, when asked, a non-fatal error.
inline void writeMinimalReport(const QString& directory, const QByteArray& identifier, bool withError)
{
    writeReportFile(directory + QStringLiteral("/metadata.bbxrecord"),
                    "{\"identity\":{\"api_key\":\"key\",\"started_at\":1767000000,\"session_id\":\"" +
                        identifier +
                        "\"}}\n{\"host\":{\"os_display_version\":\"6.1.0\"}}\n"
                        "{\"application\":{\"build_version\":\"7\",\"display_version\":\"1.0\"}}\n");
    if (withError)
        writeReportFile(
            directory + QStringLiteral("/errors_a.bbxrecord"),
            "{\"error\":{\"domain\":\"6162\",\"code\":-1500,\"time\":1767000001,\"stacktrace\":[]}}\n");
}

} // namespace corvex::test
