#include "platform/core/RegularFile.h"
#include "platform/core/WholeFileReader.h"
#include "tests/support/FaultShim.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace corvex;
using corvex::test::FaultShim;

namespace {

// The open on a thread of its own: a reader that blocks fails the test instead of hanging it
// (the thread is left behind, as a blocked worker would be).
std::optional<Result<RegularFile>> openWithinWatchdog(const QString& path, qint64 maxBytes)
{
    auto promise = std::make_shared<std::promise<Result<RegularFile>>>();
    auto answer = promise->get_future();
    std::thread([promise, path, maxBytes] {
        promise->set_value(RegularFile::open(path, maxBytes));
    }).detach();
    if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
        return std::nullopt;
    return answer.get();
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace

TEST(RegularFile, RefusesEveryFileThatIsNotRegularWithItsReasonWithoutBlockingOrLeakingADescriptor)
{
    for (const test::NonRegularFile& special :
         test::makeNonRegularFiles(test::testDir(), QStringLiteral("x.corvex"))) {
        SCOPED_TRACE(special.kind);
        FaultShim shim; // counts the calls
        const int descriptorsBefore = openDescriptors();
        const auto opened = openWithinWatchdog(special.path, 1024);
        ASSERT_TRUE(opened.has_value()) << "the open blocked";
        ASSERT_FALSE(opened->ok());
        EXPECT_EQ(opened->error().domain(), Error::PosixDomain);
        EXPECT_EQ(opened->error().localizedFailureReason(), special.reason)
            << opened->error().toString().toStdString();
        EXPECT_EQ(shim.callCount(FaultShim::Op::Read), 0) << "nothing is read of a refused file";
        EXPECT_EQ(openDescriptors(), descriptorsBefore) << "every descriptor opened is closed";
        // The whole-file reader says the same.
        const auto read = WholeFileReader::read(special.path, 1024);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().localizedFailureReason(), special.reason);
    }
}

TEST(RegularFile, OpensARegularFileWithinItsBoundAndHandsItsDescriptorOver)
{
    const QString path = test::testDir() + QStringLiteral("/plain.bin");
    test::writeFile(path, QByteArray(100, 'x'));
    auto opened = RegularFile::open(path, 100);
    ASSERT_TRUE(opened.ok()) << opened.error().toString().toStdString();
    EXPECT_EQ(opened->size(), 100);
    char byte = 0;
    EXPECT_EQ(::read(opened->descriptor(), &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    const int fd = opened.value().release();
    EXPECT_EQ(opened->descriptor(), -1);
    EXPECT_EQ(::close(fd), 0) << "released, so still open";

    const auto tooLarge = RegularFile::open(path, 99);
    ASSERT_FALSE(tooLarge.ok());
    EXPECT_EQ(tooLarge.error().code(), EFBIG);
    const auto missing = RegularFile::open(path + QStringLiteral(".missing"), 100);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code(), ENOENT);
    EXPECT_TRUE(missing.error().localizedFailureReason().isEmpty()) << "the reader's own words apply";
}

TEST(RegularFile, WithoutFollowingEveryLinkIsRefusedUnopenedWhileTheDefaultStillFollowsIt)
{
    const QString folder = test::testDir() + QStringLiteral("/links");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString plain = folder + QStringLiteral("/plain.bin");
    test::writeFile(plain, QByteArray(10, 'x'));
    const QString fifo = folder + QStringLiteral("/fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString linkReason = QStringLiteral("The file is not a regular file: it is a symbolic link.");
    for (const QString& target : {plain, QStringLiteral("/dev/zero"), fifo}) {
        SCOPED_TRACE(target.toStdString());
        const QString link = folder + QStringLiteral("/to-") + QFileInfo(target).fileName();
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
        FaultShim shim;
        const auto refused = RegularFile::open(link, 1024, QStringLiteral("open"), QStringLiteral("read"),
                                               RegularFile::Links::NoFollow);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().localizedFailureReason(), linkReason);
        EXPECT_EQ(shim.callCount(FaultShim::Op::Open), 0) << "a link is refused before anything is opened";
        const auto read = WholeFileReader::read(link, 1024, QStringLiteral("open"), QStringLiteral("read"),
                                                RegularFile::Links::NoFollow);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().localizedFailureReason(), linkReason);
    }
    // Documents and launch files keep following links.
    const auto followed = WholeFileReader::read(folder + QStringLiteral("/to-plain.bin"), 1024);
    ASSERT_TRUE(followed.ok());
    EXPECT_EQ(followed.value(), QByteArray(10, 'x'));
    // What is no regular file in itself is refused with its own reason, unopened too.
    for (const test::NonRegularFile& special :
         test::makeNonRegularFiles(folder + QStringLiteral("/kinds"), QStringLiteral("odd"))) {
        SCOPED_TRACE(special.kind);
        FaultShim shim;
        const auto refused = RegularFile::open(special.path, 1024, QStringLiteral("open"),
                                               QStringLiteral("read"), RegularFile::Links::NoFollow);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(shim.callCount(FaultShim::Op::Open), 0);
        EXPECT_EQ(refused.error().localizedFailureReason(),
                  QString::fromLatin1(special.kind) == QLatin1String("a symbolic-link loop")
                      ? linkReason
                      : special.reason);
    }
    EXPECT_TRUE(RegularFile::open(plain, 1024, QStringLiteral("open"), QStringLiteral("read"),
                                  RegularFile::Links::NoFollow)
                    .ok());
}
