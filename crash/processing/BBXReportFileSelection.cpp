#include "crash/processing/BBXReportFileSelection.h"

#include "crash/runtime/BBXFileReader.h"
#include "platform/core/Log.h"
#include "platform/core/RegularFile.h"
#include "platform/core/WholeFileReader.h"

#include <QFileInfo>
#include <algorithm>
#include <numeric>

namespace corvex {
namespace {

const QString kOpenFailure = QStringLiteral("Cannot open the report file");
const QString kReadFailure = QStringLiteral("Cannot read the report file");

QString reasonOf(const Error& error)
{
    const QString reason = error.localizedFailureReason();
    return reason.isEmpty() ? error.localizedDescription() : reason;
}

} // namespace

QList<BBXReportFileSelection::Entry> BBXReportFileSelection::select(const QStringList& paths,
                                                                    qint64 maximumReportBytes)
{
    QList<Entry> entries;
    for (const QString& path : paths) {
        const Result<RegularFile> file = RegularFile::open(path, BBXFileReadMaximumBytes, kOpenFailure,
                                                           kReadFailure, RegularFile::Links::NoFollow);
        if (!file.ok()) {
            logLeftOut(path, reasonOf(file.error()));
            continue;
        }
        entries.push_back({path, file->size()});
    }
    qint64 total = std::accumulate(entries.cbegin(), entries.cend(), qint64(0),
                                   [](qint64 sum, const Entry& entry) { return sum + entry.size; });
    while (total > maximumReportBytes) {
        const auto largest = std::max_element(entries.begin(), entries.end(),
                                              [](const Entry& a, const Entry& b) { return a.size < b.size; });
        logLeftOut(largest->path, QStringLiteral("The report's files hold %1 bytes; at most %2 are sent, the "
                                                 "largest files left out first.")
                                      .arg(total)
                                      .arg(maximumReportBytes));
        total -= largest->size;
        entries.erase(largest);
    }
    return entries;
}

std::optional<QByteArray> BBXReportFileSelection::read(const Entry& entry)
{
    Result<QByteArray> bytes = WholeFileReader::read(entry.path, entry.size, kOpenFailure, kReadFailure,
                                                     RegularFile::Links::NoFollow);
    if (!bytes.ok()) {
        logLeftOut(entry.path, reasonOf(bytes.error()));
        return std::nullopt;
    }
    return std::move(bytes.value());
}

void BBXReportFileSelection::logLeftOut(const QString& path, const QString& reason)
{
    Log::error(
        QStringLiteral("Error: %1 is left out of the report: %2").arg(QFileInfo(path).fileName(), reason));
}

} // namespace corvex
