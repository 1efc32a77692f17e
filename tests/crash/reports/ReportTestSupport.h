#pragma once

#include "platform/core/Zlib.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <map>

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

// The parts of an uploaded report's multipart body by field name, gzip parts inflated; empty
// when it does not parse.
inline std::map<QByteArray, QByteArray> reportParts(const QByteArray& body, const QByteArray& boundary)
{
    std::map<QByteArray, QByteArray> parts;
    const QByteArray marker = "--" + boundary;
    if (!body.startsWith("MIME-Version: 1.0\r\n") || !body.endsWith(marker + "--\r\n"))
        return parts;
    qsizetype at = body.indexOf(marker);
    while (at >= 0) {
        const qsizetype next = body.indexOf(marker, at + marker.size());
        if (next < 0)
            break;
        const QByteArray chunk = body.mid(at + marker.size() + 2, next - at - marker.size() - 4);
        const qsizetype split = chunk.indexOf("\r\n\r\n");
        const QByteArray head = chunk.left(split);
        QByteArray content = chunk.mid(split + 4);
        const qsizetype nameAt = head.indexOf("name=\"") + 6;
        const QByteArray name = head.mid(nameAt, head.indexOf('"', nameAt) - nameAt);
        if (head.contains("application/x-gzip")) {
            const Result<QByteArray> inflated = Zlib::gunzip(content);
            content = inflated ? inflated.value() : QByteArray("<not gzip>");
        }
        parts[name] = content;
        at = next;
    }
    return parts;
}

} // namespace corvex::test
