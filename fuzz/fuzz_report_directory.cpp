// The report reader over hostile report directories: metadata, crash files, image lists,
// key-value stores and rotating logs a crashed run left behind, read at the next launch. One
// input packs a directory: pieces "--FILE <n>\n<bytes>", where <n> picks the file's name
// from the record names a report holds and the companions a half-done launch leaves. Each
// input is unpacked into a fresh folder, read as a report, symbolicated, its key-value stores
// merged and packaged.

#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/capture/BBXUserLogging.h"
#include "crash/processing/BBXPackageReportOperation.h"
#include "crash/processing/BBXProcessReportOperation.h"
#include "crash/processing/BBXSymbolResolver.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

using namespace corvex;

const char* const kNames[] = {"metadata.bbxrecord", "binary_images.bbxrecord", "signal.bbxrecord",
                              "exception.bbxrecord", "mach_exception.bbxrecord", "errors_a.bbxrecord",
                              "user_incremental_kv.bbxrecord", "user_compacted_kv.bbxrecord",
                              "internal_incremental_kv.bbxrecord", "internal_compacted_kv.bbxrecord",
                              "custom_exception_a.bbxrecord", "log_a.bbxrecord",
                              // what a launch that could not finish leaves beside the records
                              "signal.bbxrecord.symbolicated", "errors_a.bbxrecord.gz"};
constexpr int kNameCount = int(sizeof kNames / sizeof kNames[0]);

QString gRoot;

void unpack(const QByteArray& input, const QString& directory)
{
    const QList<QByteArray> pieces = input.split('\x1e'); // a record separator between files
    for (const QByteArray& piece : pieces) {
        if (!piece.startsWith("--FILE "))
            continue;
        const qsizetype end = piece.indexOf('\n');
        if (end < 0)
            continue;
        const int index = piece.mid(7, end - 7).toInt();
        if (index < 0 || index >= kNameCount)
            continue;
        QFile file(directory + QLatin1Char('/') + QLatin1String(kNames[index]));
        if (file.open(QIODevice::WriteOnly))
            file.write(piece.mid(end + 1));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/fuzz_report_directory.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        std::abort();
    gRoot = QString::fromLatin1(pattern);
    std::atexit([] { QDir(gRoot).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto tree = std::make_shared<BBXFileManager>(gRoot);
    if (!tree->prepareForNewLaunch())
        std::abort();
    const QString directory = tree->processingPath() + QStringLiteral("/report");
    QDir().mkpath(directory);
    unpack(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), directory);

    if (std::shared_ptr<BBXInternalReport> report = BBXInternalReport::reportWithPath(directory)) {
        (void)report->APIKey();
        (void)report->dateCreated();
        (void)report->OSVersion();
        (void)report->bundleShortVersionString();
        (void)report->crashedOnDate();
        (void)report->needsToBeSubmitted();
        // A report taken up again first, as the next launch does, then processed whole.
        std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>(),
                                                    BBXProcessReportOperation::Scope::MissingRecords)
            ->start();
        std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();
        std::make_shared<BBXPackageReportOperation>(report, tree)->start();
    }
    const QByteArray incremental =
        QFile::encodeName(directory + QStringLiteral("/user_incremental_kv.bbxrecord"));
    const QByteArray compacted =
        QFile::encodeName(directory + QStringLiteral("/user_compacted_kv.bbxrecord"));
    BBXUserLoggingKVStorage store;
    store.incrementalPath = incremental.constData();
    store.compactedPath = compacted.constData();
    store.maxEntries = 16;
    (void)BBXUserLoggingGetCompactedKVEntries(&store, true);
    tree->removeContentsOfAllPaths();
    return 0;
}
