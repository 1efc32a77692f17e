// ZipWrapper's unzip on arbitrary bytes, written to a file and unpacked into a folder three
// levels below a scratch root that is emptied after each input. Whatever the archive says,
// nothing may appear outside the destination (the levels above it must hold nothing but the
// input and the way down) and nothing extracted may be a symbolic link.

#include "formats/ZipWrapper.h"
#include "platform/core/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <unistd.h>

namespace {

QString gRoot;

[[noreturn]] void fail(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "fuzz_zip: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

void expectOnly(const QString& folder, const QStringList& names)
{
    QStringList found =
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    found.sort();
    QStringList wanted = names;
    wanted.sort();
    if (found != wanted)
        fail("something was written outside the destination:",
             folder + QStringLiteral(": ") + found.join(QLatin1Char(' ')));
}

// Walks byte paths, not QStrings: archives may name files in bytes that are no UTF-8.
int visitExtracted(const char* path, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_SL || type == FTW_SLN)
        fail("an extracted path is a symbolic link:", QString::fromLocal8Bit(path));
    return 0;
}

int removeOne(const char* path, const struct stat*, int type, struct FTW*)
{
    return (type == FTW_DP ? ::rmdir(path) : ::unlink(path)) == 0 ? 0 : -1;
}

bool removeTree(const QString& path)
{
    return ::nftw(QFile::encodeName(path).constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

void removeRoot()
{
    if (!gRoot.isEmpty())
        removeTree(gRoot);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvex::Log::setSink([](corvex::LogLevel, const QString&) {});
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/corvex-fuzz-zip-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        fail("cannot make a scratch folder");
    gRoot = QFile::decodeName(pattern);
    std::atexit(removeRoot);
    // Inputs stay quick: a few megabytes and a few thousand entries per unzip are plenty to
    // reach every bound.
    corvex::ZipWrapper::Limits limits;
    limits.maxTotalBytes = 8 * 1024 * 1024;
    limits.maxEntries = 2000;
    corvex::ZipWrapper::setLimits(limits);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = gRoot + QStringLiteral("/input.zip");
    const QString destination = gRoot + QStringLiteral("/a/b/out");
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            fail("cannot write the input");
    }
    if (!QDir().mkpath(destination))
        fail("cannot make the destination");

    corvex::Error error;
    (void)corvex::ZipWrapper::unzipFileAtPath(input, destination, true, QString(), &error);

    expectOnly(gRoot, {QStringLiteral("input.zip"), QStringLiteral("a")});
    expectOnly(gRoot + QStringLiteral("/a"), {QStringLiteral("b")});
    expectOnly(gRoot + QStringLiteral("/a/b"), {QStringLiteral("out")});
    if (::nftw(QFile::encodeName(destination).constData(), visitExtracted, 16, FTW_PHYS) != 0)
        fail("cannot walk the destination");
    if (!removeTree(gRoot + QStringLiteral("/a")) || !QFile::remove(input))
        fail("cannot clean the scratch folder");
    return 0;
}
