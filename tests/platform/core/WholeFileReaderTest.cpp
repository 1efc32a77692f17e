#include "platform/core/WholeFileReader.h"
#include "platform/core/SysCalls.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvex;
using corvex::test::FaultShim;

namespace {

QString readerFile(const QString& name, const QByteArray& bytes)
{
    const QString path = test::testDir() + QStringLiteral("/") + name;
    test::writeFile(path, bytes);
    return path;
}

QByteArray readerBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) & 0xFF);
    return bytes;
}

// The descriptors this process holds now.
int readerOpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

std::string readerErrorText(const Error& error)
{
    return error.toString().toStdString();
}

} // namespace

TEST(WholeFileReader, ReadsTheWholeFileAndAnEmptyFileAsEmptyNonNullBytes)
{
    const QByteArray bytes = readerBytes(300 * 1024 + 17);
    // A name the file system stores as UTF-8, whatever the locale.
    auto read =
        WholeFileReader::read(readerFile(QStringLiteral("bild-\u00fc\u00df.bin"), bytes), bytes.size());
    ASSERT_TRUE(read.ok()) << readerErrorText(read.error());
    EXPECT_TRUE(read.value() == bytes);

    auto empty = WholeFileReader::read(readerFile(QStringLiteral("empty.bin"), QByteArray()), 10);
    ASSERT_TRUE(empty.ok()) << readerErrorText(empty.error());
    EXPECT_TRUE(empty.value().isEmpty());
    EXPECT_FALSE(empty.value().isNull()) << "read, and empty: not the null bytes of a failure";
}

TEST(WholeFileReader, RefusesWhatItShouldNotReadBeforeReadingAByte)
{
    const QString folder = test::testDir() + QStringLiteral("/a-folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString pipe = test::testDir() + QStringLiteral("/a-pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString big = readerFile(QStringLiteral("big.bin"), readerBytes(4097));
    const struct
    {
        const char* what;
        QString path;
        int errnoValue;
        QString description;
        int closes;
    } cases[] = {
        {"larger than the bound", big, EFBIG, QStringLiteral("Cannot read the thing"), 1},
        {"a folder", folder, EINVAL, QStringLiteral("Cannot read the thing"), 1},
        // Opened without waiting for a writer, then refused.
        {"a pipe", pipe, EINVAL, QStringLiteral("Cannot read the thing"), 1},
        {"missing", test::testDir() + QStringLiteral("/missing.bin"), ENOENT,
         QStringLiteral("Cannot open the thing"), 0},
        {"no path at all", QString(), ENOENT, QStringLiteral("Cannot open the thing"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FaultShim shim; // counts the calls
        auto read = WholeFileReader::read(c.path, 4096, QStringLiteral("Cannot open the thing"),
                                          QStringLiteral("Cannot read the thing"));
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().domain(), Error::PosixDomain);
        EXPECT_EQ(read.error().code(), c.errnoValue) << readerErrorText(read.error());
        EXPECT_TRUE(read.error().localizedDescription().startsWith(c.description))
            << readerErrorText(read.error());
        EXPECT_EQ(shim.callCount(FaultShim::Op::Read), 0) << "nothing is read of a refused file";
        EXPECT_EQ(shim.callCount(FaultShim::Op::Close), c.closes) << "every descriptor opened is closed";
    }
}

TEST(WholeFileReader, ATooLargeFileSaysItsSizeAndTheBound)
{
    const QString path = readerFile(QStringLiteral("big.bin"), readerBytes(5000));
    auto read = WholeFileReader::read(path, 4096, QStringLiteral("Cannot open the document"),
                                      QStringLiteral("Cannot read the document"));
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code(), EFBIG);
    EXPECT_EQ(read.error().localizedDescription(),
              QStringLiteral("Cannot read the document: File too large (%1)").arg(path));
    EXPECT_EQ(read.error().localizedFailureReason(),
              QStringLiteral("The file holds 5000 bytes or more; at most 4096 are read."));
    EXPECT_EQ(read.error().userInfo().value(Error::FilePathKey).toString(), path);
    EXPECT_TRUE(WholeFileReader::read(path, 5000).ok()) << "exactly at the bound is fine";
}

TEST(WholeFileReader, FailedCallsAnswerTheirErrnoAndNeverLeakTheDescriptor)
{
    const QByteArray bytes = readerBytes(200 * 1024);
    const QString path = readerFile(QStringLiteral("data.bin"), bytes);
    const struct
    {
        FaultShim::Op op;
        int k;
        int errnoValue;
        const char* description;
    } cases[] = {
        {FaultShim::Op::Open, 1, EACCES, "Cannot open the thing"},
        {FaultShim::Op::Fstat, 1, EIO, "Cannot read the thing"},
        {FaultShim::Op::Read, 1, EIO, "Cannot read the thing"},
        {FaultShim::Op::Read, 2, EIO, "Cannot read the thing"}, // after part of the file arrived
    };
    const int descriptorsBefore = readerOpenDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << int(c.op) << " call " << c.k);
        FaultShim shim;
        shim.failAt(c.op, c.k, c.errnoValue);
        auto read = WholeFileReader::read(path, bytes.size(), QStringLiteral("Cannot open the thing"),
                                          QStringLiteral("Cannot read the thing"));
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().code(), c.errnoValue) << readerErrorText(read.error());
        EXPECT_TRUE(read.error().localizedDescription().startsWith(QLatin1String(c.description)))
            << readerErrorText(read.error());
        EXPECT_EQ(readerOpenDescriptors(), descriptorsBefore);
    }
}

TEST(WholeFileReader, AFailedCloseLosesNothingThatWasRead)
{
    const QByteArray bytes = readerBytes(70 * 1024);
    const QString path = readerFile(QStringLiteral("data.bin"), bytes);
    const int descriptorsBefore = readerOpenDescriptors();
    FaultShim shim;
    shim.failAt(FaultShim::Op::Close, 1, EIO);
    auto read = WholeFileReader::read(path, bytes.size());
    ASSERT_TRUE(read.ok()) << readerErrorText(read.error());
    EXPECT_TRUE(read.value() == bytes);
    EXPECT_EQ(shim.callCount(FaultShim::Op::Close), 1);
    EXPECT_EQ(readerOpenDescriptors(), descriptorsBefore) << "the descriptor is released anyway";
}

namespace {

// fstat as the kernel answers it, but a file seen 100 bytes smaller: it then grows while it is
// read.
int fstatBeforeGrowth(int fd, struct stat* info)
{
    const int rc = ::fstat(fd, info);
    if (rc == 0 && S_ISREG(info->st_mode))
        info->st_size = std::max<off_t>(0, info->st_size - 100);
    return rc;
}

} // namespace

TEST(WholeFileReader, AFileThatGrowsWhileReadIsReadToItsEndWithinTheBoundOnly)
{
    const QByteArray bytes = readerBytes(1000);
    const QString path = readerFile(QStringLiteral("growing.bin"), bytes);
    SysCalls::Hooks hooks;
    hooks.fstat = &fstatBeforeGrowth;
    SysCalls::installHooks(hooks);
    auto whole = WholeFileReader::read(path, 1000);
    auto over = WholeFileReader::read(path, 950);
    SysCalls::removeHooks();
    ASSERT_TRUE(whole.ok()) << readerErrorText(whole.error());
    EXPECT_TRUE(whole.value() == bytes) << "read past the size it had to its end";
    ASSERT_FALSE(over.ok()) << "900 bytes at the start are within 950, the 1000 read are not";
    EXPECT_EQ(over.error().code(), EFBIG);
}
