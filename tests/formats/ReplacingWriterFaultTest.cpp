// Every writer that replaces a file, with a kernel call of its save made to fail: the
// writer answers failure, and the old file stays byte for byte with its permissions.

#include "tests/formats/ReplacingWritersTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <tuple>

using namespace corvex;
using corvex::test::FaultShim;
using corvex::test::writers::Writer;
using corvex::test::writers::WriterCase;

namespace {

constexpr int kWriterSize = 40;
constexpr mode_t kOldMode = 0640;

mode_t permissionsOf(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QString writerFolder(const WriterCase& writer)
{
    const QString folder = test::testDir() + QStringLiteral("/out-") + QLatin1String(writer.name);
    QDir().mkpath(folder);
    return folder;
}

struct SaveFault
{
    const char* name;
    FaultShim::Op op;
    int k;
    bool throughLink; // the writer is given a symbolic link to the old file
};

const SaveFault kSaveFaults[] = {
    {"stat of the file", FaultShim::Op::Stat, 1, false},
    {"stat of its folder", FaultShim::Op::Stat, 2, false},
    {"lstat of the file", FaultShim::Op::Lstat, 1, false},
    {"fchmod of the temporary", FaultShim::Op::Fchmod, 1, false},
    {"rename over the file", FaultShim::Op::Rename, 1, false},
    {"realpath of a linked file", FaultShim::Op::Realpath, 1, true},
    {"rename over a linked file", FaultShim::Op::Rename, 1, true},
};

void PrintTo(const SaveFault& fault, std::ostream* out)
{
    *out << fault.name;
}

} // namespace

class ReplacingWriterFault : public ::testing::TestWithParam<std::tuple<WriterCase, SaveFault>>
{};

TEST_P(ReplacingWriterFault, AnswersFailureAndKeepsTheOldFileByteForByteWithItsMode)
{
    const auto& [writer, fault] = GetParam();
    const QString folder = writerFolder(writer);
    const QString real = folder + QLatin1Char('/') + QLatin1String(writer.fileName);
    // The link has the file's own name (attachments take only names of their form), in a
    // folder beside it.
    const QString link = folder + QStringLiteral("/linked/") + QLatin1String(writer.fileName);
    QDir().mkpath(folder + QStringLiteral("/linked"));
    const QString path = fault.throughLink ? link : real;
    ASSERT_TRUE(test::writers::saveWith(writer.writer, real, 1, kWriterSize));
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), kOldMode), 0);
    if (fault.throughLink) {
        ASSERT_TRUE(QFile::link(real, link));
    }
    const QByteArray old = test::readFile(real);
    ASSERT_FALSE(old.isEmpty());

    bool saved = true;
    {
        FaultShim shim;
        shim.failAt(fault.op, fault.k, EIO);
        saved = test::writers::saveWith(writer.writer, path, 2, kWriterSize);
        EXPECT_GE(shim.callCount(fault.op), fault.k) << "the save never made the failing call";
    }
    EXPECT_FALSE(saved) << "the writer reported success";
    EXPECT_TRUE(test::readFile(real) == old) << "the old file changed";
    EXPECT_EQ(permissionsOf(real), kOldMode);
    if (fault.throughLink) {
        EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link was replaced";
    }
    EXPECT_EQ(test::writers::temporariesOf(folder, QLatin1String(writer.fileName)), QStringList());

    // The same save without the fault goes through, and still keeps the mode and the link.
    EXPECT_TRUE(test::writers::saveWith(writer.writer, path, 3, kWriterSize));
    EXPECT_FALSE(test::readFile(real) == old);
    EXPECT_EQ(permissionsOf(real), kOldMode);
    if (fault.throughLink) {
        EXPECT_TRUE(QFileInfo(link).isSymLink());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWriterAndSaveStep, ReplacingWriterFault,
                         ::testing::Combine(::testing::ValuesIn(test::writers::allWriters()),
                                            ::testing::ValuesIn(kSaveFaults)),
                         [](const ::testing::TestParamInfo<std::tuple<WriterCase, SaveFault>>& info) {
                             return test::writers::testNameOf(std::string(std::get<0>(info.param).name) +
                                                              "_" + std::get<1>(info.param).name);
                         });
