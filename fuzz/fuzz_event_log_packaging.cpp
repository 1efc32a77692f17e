// The analytics files read back when a log is packaged, on arbitrary bytes: the input as an
// event log to compress (a torn last line is dropped), as a ".gz" an earlier run left
// beside its log (used only when it holds exactly that log), and as the ".gz" packaged into
// a multipart body (carried byte for byte).

#include "fuzz/FuzzSupport.h"
#include "platform/core/Zlib.h"
#include "tallykit/TLYFileOperations.h"

#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* why)
{
    std::fprintf(stderr, "fuzz_event_log_packaging: %s\n", why);
    std::abort();
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines a log holds once a torn last line is left out.
QByteArray completeLines(const QByteArray& log)
{
    return log.left(log.lastIndexOf('\n') + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::fuzz::silenceLog();
    const std::optional<QDir> folder = corvex::fuzz::emptyScratchFolder();
    if (!folder)
        return 0;
    const QDir& events = *folder;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    constexpr qint64 Limit = 64 * 1024 * 1024;

    // The input as a log.
    const QString log = events.filePath(QStringLiteral("L.log"));
    const QString gz = events.filePath(QStringLiteral("L.gz"));
    write(log, bytes);
    corvex::TLYCompressLogOperation compress(log, gz);
    compress.main();
    if (compress.success()) {
        const corvex::Result<QByteArray> inflated = corvex::Zlib::gunzip(read(gz), Limit);
        if (!inflated || inflated.value() != completeLines(bytes))
            fail("the compressed log does not hold the log's complete lines");
    }

    // The input as the ".gz" an earlier run left beside a log.
    const QString leftLog = events.filePath(QStringLiteral("G.log"));
    const QString leftGz = events.filePath(QStringLiteral("G.gz"));
    const QByteArray lines =
        QByteArrayLiteral("1767000000000\tmetadata\t2\t{}\n1767000000001\tapp_launched\t2\t{}\n");
    write(leftLog, lines);
    write(leftGz, bytes);
    corvex::TLYCompressLogOperation again(leftLog, leftGz);
    again.main();
    const corvex::Result<QByteArray> leftInflated = corvex::Zlib::gunzip(bytes, Limit);
    if (again.success() != (leftInflated && leftInflated.value() == lines))
        fail("a left \".gz\" was taken for a log it does not hold, or refused though it holds it");
    if (read(leftGz) != bytes)
        fail("a left \".gz\" was changed");

    // The input as the ".gz" to package.
    const QString package = events.filePath(QStringLiteral("P.multipartmime"));
    corvex::TLYPackageLogOperation packaging(leftGz, package, QStringLiteral("P"));
    packaging.main();
    if (packaging.success() && !read(package).contains(bytes))
        fail("the package does not carry the \".gz\" whole");
    return 0;
}
