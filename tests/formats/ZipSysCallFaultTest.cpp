// ZipWrapper reaches the kernel through SysCalls for reading, seeking and checking files:
// each of those calls made to fail turns into a failed pack or unzip, never into an archive
// or a file that only looks complete.

#include "formats/ZipWrapper.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::FaultShim;

namespace {

QString zipFaultPath(const QString& name)
{
    return test::testDir() + QLatin1Char('/') + name;
}

void makeZipFaultSource()
{
    test::writeFile(zipFaultPath(QStringLiteral("source/big.bin")), QByteArray(300000, 'b'));
    test::writeFile(zipFaultPath(QStringLiteral("source/sub/small.txt")), "small\n");
}

struct ZipCallFault
{
    const char* name;
    FaultShim::Op op;
};

} // namespace

TEST(ZipSysCallFaults, APackWhoseReadSeekOrCheckFailsAnswersNoAndKeepsTheOldArchive)
{
    makeZipFaultSource();
    const QString archive = zipFaultPath(QStringLiteral("out/site.zip"));
    test::writeFile(archive, "the old archive");
    for (const ZipCallFault& fault : {ZipCallFault{"read of a source", FaultShim::Op::Read},
                                      ZipCallFault{"fstat of a source", FaultShim::Op::Fstat},
                                      ZipCallFault{"lseek in the archive", FaultShim::Op::Lseek},
                                      ZipCallFault{"stat of the archive", FaultShim::Op::Stat}}) {
        SCOPED_TRACE(fault.name);
        bool packed = true;
        {
            FaultShim shim;
            shim.failFrom(fault.op, 1, EIO);
            packed = ZipWrapper::createZipFileAtPathWithContentsOfDirectory(
                archive, zipFaultPath(QStringLiteral("source")));
            EXPECT_GE(shim.callCount(fault.op), 1) << "the pack never made the call";
        }
        EXPECT_FALSE(packed);
        EXPECT_EQ(test::readFile(archive), QByteArrayLiteral("the old archive"));
        EXPECT_EQ(test::folderEntries(zipFaultPath(QStringLiteral("out"))),
                  QStringList{QStringLiteral("site.zip")});
    }
}

TEST(ZipSysCallFaults, AnUnzipWhoseReadSeekOrCheckFailsAnswersNo)
{
    makeZipFaultSource();
    const QString archive = zipFaultPath(QStringLiteral("site.zip"));
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(
        archive, zipFaultPath(QStringLiteral("source"))));
    for (const ZipCallFault& fault : {ZipCallFault{"read of the archive", FaultShim::Op::Read},
                                      ZipCallFault{"lseek in the archive", FaultShim::Op::Lseek},
                                      ZipCallFault{"fstat of an extracted file", FaultShim::Op::Fstat}}) {
        SCOPED_TRACE(fault.name);
        const QString destination = zipFaultPath(QStringLiteral("unpacked-%1").arg(int(fault.op)));
        bool unzipped = true;
        {
            FaultShim shim;
            shim.failFrom(fault.op, 1, EIO);
            unzipped = ZipWrapper::unzipFileAtPath(archive, destination);
            EXPECT_GE(shim.callCount(fault.op), 1) << "the unzip never made the call";
        }
        EXPECT_FALSE(unzipped);
        EXPECT_NE(test::readFile(destination + QStringLiteral("/big.bin")), QByteArray(300000, 'b'));
    }
    // Without faults the same archive unpacks whole.
    ASSERT_TRUE(ZipWrapper::unzipFileAtPath(archive, zipFaultPath(QStringLiteral("whole"))));
    EXPECT_EQ(test::readFile(zipFaultPath(QStringLiteral("whole/big.bin"))), QByteArray(300000, 'b'));
}
