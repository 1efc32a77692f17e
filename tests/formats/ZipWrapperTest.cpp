// The zip wrapper: archives made by Python's zipfile (tests/data/zip, written by
// tests/data/gen/make_zip_fixtures.py) extract with ours as listed, hostile entries write
// nothing outside the destination, damage returns NO with an error naming the entry and the
// reason, inner archives lose nothing, passwords travel to and from Info-ZIP's zip and
// unzip, and our archives pass `unzip -t` and are replaced only when complete.

#include "formats/ZipWrapper.h"
#include "formats/ZipWrapperDelegate.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvex;

namespace {

QString zipDir()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../data/zip"));
}

QString fixture(const QString& name)
{
    return zipDir() + QLatin1Char('/') + name + QStringLiteral(".zip");
}

QJsonObject expectations()
{
    QFile file(zipDir() + QStringLiteral("/expected.json"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object();
}

using corvex::test::filePermissions;
using corvex::test::readFile;
using corvex::test::ScopedUmask;
using corvex::test::writeFile;

QString inTest(const QString& relative)
{
    return test::testDir() + QLatin1Char('/') + relative;
}

mode_t modeOf(const QString& path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

bool isSymLink(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool exists(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Every path below `folder` with its size and content hash (links by their text), except
// below `skip`: what the test folder looked like, to tell that nothing was written outside
// the destination.
std::map<QString, QByteArray> snapshot(const QString& folder, const QString& skip)
{
    std::map<QString, QByteArray> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == skip || path.startsWith(skip + QLatin1Char('/')))
            continue;
        const QFileInfo info(path);
        QByteArray state;
        if (info.isSymLink())
            state = "link:" + QFile::encodeName(info.symLinkTarget());
        else if (info.isDir())
            state = "folder";
        else
            state = QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex() + " " +
                    QByteArray::number(modeOf(path), 8);
        out[QDir(folder).relativeFilePath(path)] = state;
    }
    return out;
}

class ScopedLimits
{
public:
    explicit ScopedLimits(const ZipWrapper::Limits& limits) : mPrevious(ZipWrapper::limits())
    {
        ZipWrapper::setLimits(limits);
    }
    ~ScopedLimits() { ZipWrapper::setLimits(mPrevious); }

private:
    ZipWrapper::Limits mPrevious;
};

int fileCount(const QString& folder)
{
    int count = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

struct ToolRun
{
    int exitCode = -1;
    QString output;
};

ToolRun runTool(const QString& program, const QStringList& arguments, const QString& folder = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

// Our archives are checked by Info-ZIP's own reader; only a machine without it skips.
#define SKIP_WITHOUT_UNZIP()                                                                                 \
    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty())                                   \
    GTEST_SKIP() << "the unzip program is not installed"
#define SKIP_WITHOUT_ZIP()                                                                                   \
    if (QStandardPaths::findExecutable(QStringLiteral("zip")).isEmpty())                                     \
    GTEST_SKIP() << "the zip program is not installed"

// The entry names of an archive as Info-ZIP lists them.
QStringList entryNames(const QString& archive)
{
    const ToolRun run = runTool(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    QStringList names = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    return names;
}

} // namespace

// ---- Python-made archives

TEST(ZipUnpacking, EveryPythonMadeArchiveExtractsAsListedAndWritesNothingOutsideTheDestination)
{
    ScopedUmask mask(022);
    const QJsonObject archives = expectations().value(QStringLiteral("archives")).toObject();
    ASSERT_GE(archives.size(), 15);
    for (auto it = archives.begin(); it != archives.end(); ++it) {
        const QString name = it.key();
        const QJsonObject want = it.value().toObject();
        SCOPED_TRACE(name.toStdString());
        const QString root = inTest(QStringLiteral("run-") + name);
        const QString destination = root + QStringLiteral("/out");
        QDir().mkpath(destination);
        writeFile(root + QStringLiteral("/outside/target.txt"), "outside\n");
        const auto before = snapshot(test::testDir(), destination);

        Error error;
        const bool ok = ZipWrapper::unzipFileAtPath(
            fixture(name), destination, true, want.value(QStringLiteral("password")).toString(), &error);
        EXPECT_EQ(ok, want.value(QStringLiteral("succeeds")).toBool());
        EXPECT_EQ(error.code() == ZipWrapper::CrcCheckFailed, want.value(QStringLiteral("crcError")).toBool())
            << error.toString().toStdString();
        if (want.value(QStringLiteral("openError")).toBool()) {
            EXPECT_EQ(error.code(), ZipWrapper::FailedToOpenZipFile) << error.toString().toStdString();
        }

        const QJsonObject files = want.value(QStringLiteral("files")).toObject();
        for (auto file = files.begin(); file != files.end(); ++file) {
            const QString path = destination + QLatin1Char('/') + file.key();
            const QJsonObject entry = file.value().toObject();
            SCOPED_TRACE(file.key().toStdString());
            ASSERT_TRUE(QFileInfo(path).isFile() && !isSymLink(path));
            const QByteArray content = readFile(path);
            EXPECT_EQ(content.size(), entry.value(QStringLiteral("size")).toInteger());
            EXPECT_EQ(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex(),
                      entry.value(QStringLiteral("sha1")).toString().toLatin1());
            if (entry.contains(QStringLiteral("mode"))) {
                EXPECT_EQ(modeOf(path), mode_t(entry.value(QStringLiteral("mode")).toInt()))
                    << std::oct << modeOf(path);
            }
            if (entry.contains(QStringLiteral("mtime"))) {
                EXPECT_EQ(QFileInfo(path).lastModified().toString(Qt::ISODate),
                          entry.value(QStringLiteral("mtime")).toString());
            }
        }
        for (const QJsonValue& folder : want.value(QStringLiteral("folders")).toArray())
            EXPECT_TRUE(QFileInfo(destination + QLatin1Char('/') + folder.toString()).isDir())
                << folder.toString().toStdString();
        for (const QJsonValue& absent : want.value(QStringLiteral("absent")).toArray())
            EXPECT_FALSE(exists(destination + QLatin1Char('/') + absent.toString()))
                << absent.toString().toStdString();
        if (want.contains(QStringLiteral("fileCount"))) {
            EXPECT_EQ(fileCount(destination), want.value(QStringLiteral("fileCount")).toInt());
        } else {
            EXPECT_EQ(fileCount(destination), files.size()) << "files beyond the listed ones were written";
        }

        const auto after = snapshot(test::testDir(), destination);
        EXPECT_TRUE(before == after) << "something changed outside the destination";
        EXPECT_FALSE(exists(QStringLiteral("/abs"))) << "an absolute entry name was followed";
    }
}

TEST(ZipUnpacking, AStoredLinkWhoseTargetPathIsAnExistingLinkIsRefusedAndTheLinkTargetStaysUntouched)
{
    const QString destination = inTest(QStringLiteral("out"));
    QDir().mkpath(destination);
    const QString outside = inTest(QStringLiteral("outside/target.txt"));
    writeFile(outside, "the user's file\n");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(destination + QStringLiteral("/link")).constData()),
              0);
    const auto before = snapshot(test::testDir(), destination);

    test::LogCapture log;
    EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("symlink_entry")), destination));
    EXPECT_EQ(readFile(outside), QByteArrayLiteral("the user's file\n"));
    EXPECT_TRUE(isSymLink(destination + QStringLiteral("/link")));
    EXPECT_EQ(modeOf(outside), mode_t(0644)) << "the link's target kept its mode";
    EXPECT_TRUE(snapshot(test::testDir(), destination) == before);
    EXPECT_TRUE(log.contains(QStringLiteral("cannot create link")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(ZipUnpacking, AFolderOnTheWayThatIsALinkIsRefused)
{
    const QString destination = inTest(QStringLiteral("out"));
    const QString outside = inTest(QStringLiteral("outside"));
    QDir().mkpath(destination);
    QDir().mkpath(outside);
    // plain.zip writes docs/guide.md: "docs" leads elsewhere.
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(destination + QStringLiteral("/docs")).constData()),
              0);
    EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), destination));
    EXPECT_TRUE(QDir(outside).isEmpty()) << "an entry was written through the link";
    EXPECT_TRUE(QFileInfo(destination + QStringLiteral("/readme.txt")).isFile()) << "entries before it stay";
}

TEST(ZipUnpacking, ADestinationThatIsALinkIsRefused)
{
    const QString real = inTest(QStringLiteral("real"));
    QDir().mkpath(real);
    const QString destination = inTest(QStringLiteral("out"));
    ASSERT_EQ(::symlink(QFile::encodeName(real).constData(), QFile::encodeName(destination).constData()), 0);
    EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), destination));
    EXPECT_TRUE(QDir(real).isEmpty());
}

TEST(ZipUnpacking, AMissingDestinationIsMadeWithItsParents)
{
    const QString destination = inTest(QStringLiteral("a/b/c"));
    EXPECT_TRUE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("symlink_entry")), destination));
    EXPECT_EQ(readFile(destination + QStringLiteral("/link")), QByteArrayLiteral("../outside/target.txt"));
}

TEST(ZipUnpacking, ErrorsCarryTheirDomainAndCodeToTheOutArgumentAndTheCompletionHandler)
{
    struct Case
    {
        QString archive;
        int code;
        bool pathGiven;
    };
    // minizip opens an archive whose central directory starts wrong, and then cannot go to
    // its first entry.
    QByteArray garbled = readFile(fixture(QStringLiteral("plain")));
    const qsizetype central = garbled.indexOf(QByteArrayLiteral("PK\x01\x02"));
    ASSERT_GT(central, 0);
    garbled[central + 3] = '\x09';
    const QString garbledArchive = inTest(QStringLiteral("garbled.zip"));
    writeFile(garbledArchive, garbled);
    for (const Case& c : {Case{inTest(QStringLiteral("missing.zip")), ZipWrapper::FailedToOpenZipFile, false},
                          Case{fixture(QStringLiteral("truncated")), ZipWrapper::FailedToOpenZipFile, false},
                          Case{garbledArchive, ZipWrapper::FailedToOpenFirstFile, false},
                          Case{fixture(QStringLiteral("bad_crc")), ZipWrapper::CrcCheckFailed, true}}) {
        SCOPED_TRACE(c.archive.toStdString());
        Error error;
        int completions = 0;
        Error reported;
        QString reportedPath = QStringLiteral("unset");
        bool reportedOk = true;
        const bool ok = ZipWrapper::unzipFileAtPath(c.archive, inTest(QStringLiteral("out")), true, QString(),
                                                    &error, nullptr, {},
                                                    [&](const QString& path, bool succeeded, const Error& e) {
                                                        ++completions;
                                                        reportedPath = path;
                                                        reportedOk = succeeded;
                                                        reported = e;
                                                    });
        // The completion is answered on the next turn, after the unzip returned.
        test::runUntil([&] { return completions > 0; });
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.domain(), QStringLiteral("ZipWrapperErrorDomain"));
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(completions, 1);
        EXPECT_FALSE(reportedOk);
        EXPECT_EQ(reported, error);
        EXPECT_EQ(reportedPath.isEmpty(), !c.pathGiven) << reportedPath.toStdString();
    }
    Error error;
    EXPECT_TRUE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), inTest(QStringLiteral("ok")),
                                            true, QString(), &error));
    EXPECT_TRUE(error.isNull());
}

TEST(ZipUnpacking, OverwriteNoKeepsExistingFilesAndNeitherCountsNorReportsThem)
{
    const QString destination = inTest(QStringLiteral("out"));
    writeFile(destination + QStringLiteral("/readme.txt"), "mine\n");
    QStringList reported;
    EXPECT_TRUE(ZipWrapper::unzipFileAtPath(
        fixture(QStringLiteral("plain")), destination, false, QString(),
        [&](const QString& entry, const ZipWrapper::FileInfo&, qint64, qint64) { reported.append(entry); },
        {}));
    EXPECT_EQ(readFile(destination + QStringLiteral("/readme.txt")), QByteArrayLiteral("mine\n"));
    EXPECT_FALSE(reported.contains(QStringLiteral("readme.txt")));
    EXPECT_EQ(reported.size(), 7);

    EXPECT_TRUE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), destination));
    EXPECT_EQ(readFile(destination + QStringLiteral("/readme.txt")).left(15),
              QByteArrayLiteral("Corvex zip test"));
}

TEST(ZipUnpacking, ProgressAndDelegateSeeEveryEntryInOrderAndTheDelegateCanCancel)
{
    std::vector<std::pair<QString, qint64>> progress;
    qint64 totalSeen = 0;
    EXPECT_TRUE(ZipWrapper::unzipFileAtPath(
        fixture(QStringLiteral("plain")), inTest(QStringLiteral("a")),
        [&](const QString& entry, const ZipWrapper::FileInfo&, qint64 n, qint64 total) {
            progress.emplace_back(entry, n);
            totalSeen = total;
        },
        {}));
    ASSERT_EQ(progress.size(), 8u);
    EXPECT_EQ(totalSeen, 8);
    EXPECT_EQ(progress[0], std::make_pair(QStringLiteral("readme.txt"), qint64(1)));
    EXPECT_EQ(progress[4], std::make_pair(QStringLiteral("a/b.txt"), qint64(5)))
        << "backslashes shown as slashes";
    EXPECT_EQ(progress[7].second, 8);

    ZipWrapperDelegate delegate;
    std::vector<QString> events;
    delegate.zipArchiveWillUnzipArchiveAtPath = [&](const QString&, const ZipWrapper::GlobalInfo& info) {
        events.push_back(QStringLiteral("will archive %1").arg(info.numberOfEntries));
    };
    delegate.zipArchiveShouldUnzipFileAtIndex = [&](qint64 index, qint64, const QString&,
                                                    const ZipWrapper::FileInfo&) { return index < 2; };
    delegate.zipArchiveWillUnzipFileAtIndex = [&](qint64 index, qint64, const QString&,
                                                  const ZipWrapper::FileInfo&) {
        events.push_back(QStringLiteral("will %1").arg(index));
    };
    delegate.zipArchiveDidUnzipFileAtIndexToPath = [&](qint64 index, qint64, const QString&,
                                                       const QString& path) {
        events.push_back(QStringLiteral("did %1 %2").arg(index).arg(QFileInfo(path).fileName()));
    };
    delegate.zipArchiveDidUnzipArchiveAtPath = [&](const QString&, const ZipWrapper::GlobalInfo&,
                                                   const QString&) {
        events.push_back(QStringLiteral("did archive"));
    };
    EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), inTest(QStringLiteral("b")),
                                             &delegate));
    EXPECT_EQ(events, (std::vector<QString>{QStringLiteral("will archive 8"), QStringLiteral("will 0"),
                                            QStringLiteral("did 0 readme.txt"), QStringLiteral("will 1"),
                                            QStringLiteral("did 1 docs")}))
        << "the third entry was refused by the delegate, and a cancelled unzip never reports the archive "
           "done";
    EXPECT_FALSE(exists(inTest(QStringLiteral("b/docs/guide.md"))));
}

TEST(ZipUnpacking, InnerArchivesAreUnpackedWhereTheyLieToTheBoundAndDeeperOnesStayFiles)
{
    EXPECT_EQ(ZipWrapper::MaxNestingDepth, expectations().value(QStringLiteral("nestingBound")).toInt());
    test::LogCapture log;
    const QString destination = inTest(QStringLiteral("out"));
    EXPECT_TRUE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("nested_past_bound")), destination));
    EXPECT_EQ(log.count(QStringLiteral("Unzipping nested .zip file:  level")), 3);
    EXPECT_TRUE(log.contains(QStringLiteral("Not unpacking nested .zip file level4.zip")));
    EXPECT_TRUE(QFileInfo(destination + QStringLiteral("/l1/l2/l3/l4/level4.zip")).isFile());
    EXPECT_FALSE(exists(destination + QStringLiteral("/l1/l2/l3/l4/bottom.txt")));
}

TEST(ZipUnpacking, TheBoundsOnEntriesAndBytesHoldAcrossNestedArchives)
{
    {
        ScopedLimits limits({ZipWrapper::MaxNestingDepth, ZipWrapper::MaxTotalBytes, 100});
        EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("many_entries")),
                                                 inTest(QStringLiteral("a"))));
        EXPECT_EQ(fileCount(inTest(QStringLiteral("a"))), 100) << "entries up to the bound are written";
    }
    {
        // Entries are met depth first: l1/level1.zip, l2/level2.zip, l3/level3.zip, then
        // bottom.txt inside the innermost archive is the fourth, one too many.
        ScopedLimits limits({ZipWrapper::MaxNestingDepth, ZipWrapper::MaxTotalBytes, 3});
        EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("nested_at_bound")),
                                                 inTest(QStringLiteral("b"))));
        EXPECT_FALSE(exists(inTest(QStringLiteral("b/l1/l2/l3/bottom.txt"))));
    }
    {
        ScopedLimits limits({ZipWrapper::MaxNestingDepth, 1024 * 1024, ZipWrapper::MaxEntries});
        test::LogCapture log;
        EXPECT_FALSE(
            ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("zeros_2mb")), inTest(QStringLiteral("c"))));
        EXPECT_FALSE(exists(inTest(QStringLiteral("c/zeros.bin"))));
        EXPECT_TRUE(log.contains(QStringLiteral("more than the unzip may write")));
    }
    EXPECT_TRUE(
        ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("zeros_2mb")), inTest(QStringLiteral("d"))));
}

TEST(ZipUnpacking, AFailedWriteDuringExtractionReturnsNoAndRemovesThePartialFile)
{
    const QString destination = inTest(QStringLiteral("out"));
    bool ok = true;
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Write, 2, ENOSPC);
        ok = ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("zeros_2mb")), destination);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(exists(destination + QStringLiteral("/zeros.bin")));

    // Writes that move only part of the data are completed, not mistaken for failures.
    {
        test::FaultShim shim;
        shim.limitWriteSize(1000);
        ok = ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), inTest(QStringLiteral("short")));
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(inTest(QStringLiteral("short/readme.txt"))).size(), 16 * 200);
}

TEST(ZipUnpacking, DosDatesConvertAsLocalTimeAndNonsenseFieldsGiveNoDate)
{
    // 2021-05-17 14:33:20: year 41, month 5, day 17, 14:33, 10 two-second units.
    const quint32 packed = (41u << 25) | (5u << 21) | (17u << 16) | (14u << 11) | (33u << 5) | 10u;
    const QDateTime date = ZipWrapper::dateWithMSDOSFormat(packed);
    EXPECT_EQ(date.toString(Qt::ISODate), QStringLiteral("2021-05-17T14:33:20"));
    EXPECT_EQ(date.timeSpec(), Qt::LocalTime);
    EXPECT_FALSE(ZipWrapper::dateWithMSDOSFormat(0).isValid());
    EXPECT_FALSE(ZipWrapper::dateWithMSDOSFormat((41u << 25) | (13u << 21) | (1u << 16)).isValid())
        << "month 13";
}

// ---- Packing

TEST(ZipPacking, AFolderPacksIntoAnArchiveThatUnzipAcceptsAndThatUnpacksToTheSameFiles)
{
    SKIP_WITHOUT_UNZIP();
    ScopedUmask mask(022);
    const QString source = inTest(QStringLiteral("F"));
    writeFile(source + QStringLiteral("/x/y.js"), "console.log(1);\n");
    writeFile(source + QStringLiteral("/index.html"), QByteArray(50000, 'h'));
    writeFile(source + QStringLiteral("/Z\u00fcrich \u2615.txt"), "unicode\n");
    writeFile(source + QStringLiteral("/.hidden"), "hidden\n");
    QDir().mkpath(source + QStringLiteral("/E"));
    QDir().mkpath(source + QStringLiteral("/outer/inner"));
    // Staged files of any mode become entries everyone may read, and nothing more.
    ASSERT_EQ(::chmod(QFile::encodeName(source + QStringLiteral("/x/y.js")).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(source + QStringLiteral("/index.html")).constData(), 0600), 0);

    const QString archive = inTest(QStringLiteral("site.zip"));
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source));
    EXPECT_EQ(filePermissions(archive), mode_t(0644)) << "a new archive takes the umask";
    const ToolRun check = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), archive});
    EXPECT_EQ(check.exitCode, 0) << check.output.toStdString();
    EXPECT_TRUE(check.output.contains(QStringLiteral("No errors detected"))) << check.output.toStdString();
    const ToolRun listing =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-Z"), QStringLiteral("-s"), archive});
    ASSERT_EQ(listing.exitCode, 0) << listing.output.toStdString();
    int entries = 0;
    for (const QString& line : listing.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1Char('-')) && !line.startsWith(QLatin1Char('d')))
            continue;
        ++entries;
        EXPECT_TRUE(line.startsWith(QStringLiteral("-rw-r--r--"))) << line.toStdString();
    }
    EXPECT_EQ(entries, 6);
    EXPECT_EQ(entryNames(archive),
              (QStringList{QStringLiteral(".hidden"), QStringLiteral("E/.DS_Store"),
                           QStringLiteral("Z\u00fcrich \u2615.txt"), QStringLiteral("index.html"),
                           QStringLiteral("outer/inner/.DS_Store"), QStringLiteral("x/y.js")}))
        << "names relative to the folder; an empty folder as a .DS_Store entry and no entry of its own";

    const QString back = inTest(QStringLiteral("back"));
    ASSERT_TRUE(ZipWrapper::unzipFileAtPath(archive, back));
    EXPECT_EQ(readFile(back + QStringLiteral("/x/y.js")), QByteArrayLiteral("console.log(1);\n"));
    EXPECT_EQ(modeOf(back + QStringLiteral("/x/y.js")), mode_t(0644));
    EXPECT_EQ(modeOf(back + QStringLiteral("/index.html")), mode_t(0644));
    EXPECT_EQ(readFile(back + QStringLiteral("/index.html")), QByteArray(50000, 'h'));
    EXPECT_EQ(readFile(back + QStringLiteral("/Z\u00fcrich \u2615.txt")), QByteArrayLiteral("unicode\n"));
    EXPECT_EQ(QFileInfo(back + QStringLiteral("/E/.DS_Store")).size(), 0);
    EXPECT_EQ(QFileInfo(back + QStringLiteral("/x/y.js")).lastModified().toSecsSinceEpoch() / 2,
              QFileInfo(source + QStringLiteral("/x/y.js")).lastModified().toSecsSinceEpoch() / 2)
        << "dates survive to the two seconds of the format";
}

TEST(ZipPacking, KeepingTheParentFolderPutsItsNameInFrontAndFileListsUseLastPathComponents)
{
    SKIP_WITHOUT_UNZIP();
    const QString source = inTest(QStringLiteral("site"));
    writeFile(source + QStringLiteral("/a.txt"), "a\n");
    writeFile(source + QStringLiteral("/sub/b.txt"), "b\n");
    const QString withParent = inTest(QStringLiteral("with-parent.zip"));
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(withParent, source, true));
    EXPECT_EQ(entryNames(withParent),
              (QStringList{QStringLiteral("site/a.txt"), QStringLiteral("site/sub/b.txt")}));

    const QString list = inTest(QStringLiteral("list.zip"));
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithFilesAtPaths(
        list, {source + QStringLiteral("/a.txt"), source + QStringLiteral("/sub/b.txt")}));
    EXPECT_EQ(entryNames(list), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
    EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), list}).exitCode, 0);
}

TEST(ZipPacking, AnArchiveInsideTheFolderItPacksDoesNotPackItself)
{
    SKIP_WITHOUT_UNZIP();
    const QString source = inTest(QStringLiteral("site"));
    writeFile(source + QStringLiteral("/a.txt"), "a\n");
    const QString archive = source + QStringLiteral("/site.zip");
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source));
    EXPECT_EQ(entryNames(archive), QStringList{QStringLiteral("a.txt")});
}

TEST(ZipPacking, AnyFailureReturnsNoRemovesTheHalfWrittenArchiveAndKeepsAnOldOne)
{
    SKIP_WITHOUT_UNZIP();
    const QString source = inTest(QStringLiteral("site"));
    writeFile(source + QStringLiteral("/big.bin"), QByteArray(200000, 'b'));
    writeFile(source + QStringLiteral("/small.txt"), "small\n");
    const QString archive = inTest(QStringLiteral("out/site.zip"));
    writeFile(archive, "the old archive");
    struct Fault
    {
        const char* label;
        test::FaultShim::Op op;
        int k;
    };
    for (const Fault& fault :
         {Fault{"first write", test::FaultShim::Op::Write, 1},
          Fault{"a later write", test::FaultShim::Op::Write, 4}, Fault{"sync", test::FaultShim::Op::Fsync, 1},
          Fault{"close", test::FaultShim::Op::Close, 1}, Fault{"rename", test::FaultShim::Op::Rename, 1},
          Fault{"open", test::FaultShim::Op::Open, 1}}) {
        bool ok = true;
        Error error;
        {
            test::FaultShim shim;
            shim.failFrom(fault.op, fault.k, ENOSPC);
            ok = ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source, false, QString(),
                                                                        &error);
            EXPECT_GE(shim.callCount(fault.op), fault.k) << fault.label << " was never reached";
        }
        EXPECT_FALSE(ok) << fault.label;
        // The error names the archive (or, for a temporary file that cannot be made, its
        // folder) and the cause.
        EXPECT_TRUE(error.localizedDescription().contains(QFileInfo(archive).absolutePath()))
            << fault.label << ": " << error.toString().toStdString();
        EXPECT_EQ(error.code(), ENOSPC) << fault.label << ": " << error.toString().toStdString();
        EXPECT_EQ(readFile(archive), QByteArrayLiteral("the old archive")) << fault.label;
        EXPECT_EQ(QDir(inTest(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("site.zip")})
            << fault.label << ": a temporary file was left";
    }
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source));
    EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}).exitCode, 0);
}

TEST(ZipPacking, ASourceThatCannotBeReadFailsThePackingInsteadOfBeingLeftOut)
{
    const QString archive = inTest(QStringLiteral("list.zip"));
    writeFile(inTest(QStringLiteral("a.txt")), "a\n");
    EXPECT_FALSE(ZipWrapper::createZipFileAtPathWithFilesAtPaths(
        archive, {inTest(QStringLiteral("a.txt")), inTest(QStringLiteral("missing.txt"))}));
    EXPECT_FALSE(exists(archive));
    EXPECT_EQ(QDir(test::testDir()).entryList({QStringLiteral("*corvex-tmp*")}, QDir::Files | QDir::Hidden),
              QStringList());
}

TEST(ZipPacking, TheInstanceInterfaceWritesFilesFoldersAndDataAndRefusesWorkWhenNotOpen)
{
    SKIP_WITHOUT_UNZIP();
    writeFile(inTest(QStringLiteral("src/file.txt")), "file\n");
    const QString path = inTest(QStringLiteral("made.zip"));
    {
        ZipWrapper zip(path);
        EXPECT_FALSE(zip.writeData("x", QStringLiteral("x.txt"))) << "not open yet";
        EXPECT_FALSE(zip.close());
        ASSERT_TRUE(zip.open());
        EXPECT_FALSE(exists(path)) << "the archive appears only when it is complete";
        EXPECT_TRUE(zip.writeFile(inTest(QStringLiteral("src/file.txt"))));
        EXPECT_TRUE(
            zip.writeFileAtPath(inTest(QStringLiteral("src/file.txt")), QStringLiteral("renamed/file.txt")));
        EXPECT_TRUE(zip.writeFolderAtPath(inTest(QStringLiteral("src")), QStringLiteral("folder")));
        EXPECT_TRUE(zip.writeData("data\n", QStringLiteral("data.txt")));
        EXPECT_FALSE(zip.writeData(QByteArray(), QStringLiteral("null.txt")));
        EXPECT_TRUE(zip.close());
    }
    EXPECT_EQ(entryNames(path), (QStringList{QStringLiteral("data.txt"), QStringLiteral("file.txt"),
                                             QStringLiteral("folder/"), QStringLiteral("renamed/file.txt")}));
    EXPECT_EQ(runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), path}).exitCode, 0);

    // An archive abandoned without close leaves nothing.
    const QString abandoned = inTest(QStringLiteral("abandoned.zip"));
    {
        ZipWrapper zip(abandoned);
        ASSERT_TRUE(zip.open());
        EXPECT_TRUE(zip.writeData("data\n", QStringLiteral("data.txt")));
    }
    EXPECT_FALSE(exists(abandoned));
    EXPECT_EQ(QDir(test::testDir()).entryList({QStringLiteral("*corvex-tmp*")}, QDir::Files | QDir::Hidden),
              QStringList());
}

// ---- Errors: every failure names its entry and its reason

namespace {

int zipErrorCode(const QString& name)
{
    static const std::map<QString, int> codes = {
        {QStringLiteral("FailedToOpenZipFile"), ZipWrapper::FailedToOpenZipFile},
        {QStringLiteral("FailedToOpenFirstFile"), ZipWrapper::FailedToOpenFirstFile},
        {QStringLiteral("CrcCheckFailed"), ZipWrapper::CrcCheckFailed},
        {QStringLiteral("UnsafeEntryName"), ZipWrapper::UnsafeEntryName},
        {QStringLiteral("TargetRefused"), ZipWrapper::TargetRefused},
        {QStringLiteral("LimitExceeded"), ZipWrapper::LimitExceeded},
        {QStringLiteral("DamagedEntry"), ZipWrapper::DamagedEntry},
        {QStringLiteral("WrongPassword"), ZipWrapper::WrongPassword},
        {QStringLiteral("UnsupportedEntry"), ZipWrapper::UnsupportedEntry},
        {QStringLiteral("DamagedArchive"), ZipWrapper::DamagedArchive},
        {QStringLiteral("FileSystemError"), ZipWrapper::FileSystemError},
        {QStringLiteral("Cancelled"), ZipWrapper::Cancelled},
    };
    const auto it = codes.find(name);
    return it == codes.end() ? 0 : it->second;
}

QString entryOf(const Error& error)
{
    return error.userInfo().value(ZipWrapper::EntryNameKey).toString();
}

// The whole error, for failure messages.
std::string shownError(const Error& error)
{
    return (error.toString() + QStringLiteral(" | reason: ") + error.localizedFailureReason() +
            QStringLiteral(" | entry: ") + entryOf(error))
        .toStdString();
}

// An unzip with its out-argument and its completion, which must agree.
struct Unzipped
{
    bool ok = false;
    Error error;
};

Unzipped unzipReporting(const QString& archive, const QString& destination,
                        const QString& password = QString(), bool overwrite = true)
{
    Unzipped out;
    int completions = 0;
    Error reported;
    out.ok = ZipWrapper::unzipFileAtPath(archive, destination, overwrite, password, &out.error, nullptr, {},
                                         [&](const QString&, bool, const Error& e) {
                                             ++completions;
                                             reported = e;
                                         });
    // The completion is answered on the next turn, after the unzip returned.
    test::runUntil([&] { return completions > 0; });
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(reported, out.error) << "the completion and the out-argument disagree";
    return out;
}

// A failed unzip's error: ours, explained, never the bare "couldn't be completed" text.
void expectExplained(const Unzipped& run, const QString& archive)
{
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.domain(), ZipWrapper::ErrorDomain) << shownError(run.error);
    EXPECT_NE(run.error.code(), 0);
    EXPECT_FALSE(run.error.localizedDescription().startsWith(QStringLiteral("The operation couldn")))
        << shownError(run.error);
    EXPECT_FALSE(run.error.localizedFailureReason().isEmpty()) << shownError(run.error);
    EXPECT_EQ(run.error.userInfo().value(Error::FilePathKey).toString(), archive) << shownError(run.error);
}

} // namespace

TEST(ZipErrors, EveryFailingPythonMadeArchiveNamesTheEntryAndTheReason)
{
    const QJsonObject archives = expectations().value(QStringLiteral("archives")).toObject();
    int checked = 0;
    for (auto it = archives.begin(); it != archives.end(); ++it) {
        const QJsonObject want = it.value().toObject();
        if (!want.contains(QStringLiteral("error")))
            continue;
        ++checked;
        SCOPED_TRACE(it.key().toStdString());
        const QJsonObject expected = want.value(QStringLiteral("error")).toObject();
        const Unzipped run = unzipReporting(fixture(it.key()), inTest(QStringLiteral("out-") + it.key()),
                                            want.value(QStringLiteral("password")).toString());
        expectExplained(run, fixture(it.key()));
        EXPECT_EQ(run.error.code(), zipErrorCode(expected.value(QStringLiteral("code")).toString()))
            << shownError(run.error);
        const QString reason = expected.value(QStringLiteral("reason")).toString();
        EXPECT_TRUE(run.error.localizedFailureReason().contains(reason))
            << "wanted \"" << reason.toStdString() << "\" in " << shownError(run.error);
        if (expected.value(QStringLiteral("entry")).isNull()) {
            EXPECT_FALSE(run.error.userInfo().contains(ZipWrapper::EntryNameKey)) << shownError(run.error);
        } else {
            const QString entry = expected.value(QStringLiteral("entry")).toString();
            EXPECT_EQ(entryOf(run.error), entry) << shownError(run.error);
            EXPECT_TRUE(run.error.localizedFailureReason().contains(entry)) << shownError(run.error);
        }
    }
    EXPECT_GE(checked, 15) << "the fixtures list their errors";
}

TEST(ZipErrors, AnEntryRefusedForLeavingTheDestinationSaysSoInsteadOfErrorZero)
{
    // The report that started this: "The operation couldn't be completed. ( error 0.)".
    const Unzipped run =
        unzipReporting(fixture(QStringLiteral("slip_parent")), inTest(QStringLiteral("out")));
    EXPECT_EQ(
        run.error.localizedDescription().toStdString(),
        "\"../x\" in slip_parent.zip: refused: its name holds \"..\", so it leads outside the destination");
}

TEST(ZipErrors, SymbolicLinksInTheWayAreRefusedWithTheEntryAndTheLinkNamed)
{
    struct Case
    {
        const char* label;
        QString linkAt; // made a link to a folder outside, relative to the test folder
        QString entry;  // the entry the error must name; empty for the destination
        QString reason;
    };
    const QString outside = inTest(QStringLiteral("outside"));
    writeFile(outside + QStringLiteral("/target.txt"), "the user's file\n");
    for (const Case& c : {Case{"a link where the entry goes", QStringLiteral("d1/link"),
                               QStringLiteral("link"), QStringLiteral("cannot create link")},
                          Case{"a link among the folders", QStringLiteral("d2/docs"), QStringLiteral("docs/"),
                               QStringLiteral("the folder docs on its way is a symbolic link")},
                          Case{"the destination is a link", QStringLiteral("d3"), QString(),
                               QStringLiteral("is a symbolic link; refused")}}) {
        SCOPED_TRACE(c.label);
        const QString link = inTest(c.linkAt);
        QDir().mkpath(QFileInfo(link).absolutePath());
        const QString target =
            c.entry == QStringLiteral("link") ? outside + QStringLiteral("/target.txt") : outside;
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
        const QString archive = fixture(c.entry == QStringLiteral("link") ? QStringLiteral("symlink_entry")
                                                                          : QStringLiteral("plain"));
        const QString destination = inTest(c.linkAt.section(QLatin1Char('/'), 0, 0));
        const Unzipped run = unzipReporting(archive, destination);
        expectExplained(run, archive);
        EXPECT_EQ(run.error.code(), ZipWrapper::TargetRefused) << shownError(run.error);
        EXPECT_EQ(entryOf(run.error), c.entry) << shownError(run.error);
        EXPECT_TRUE(run.error.localizedFailureReason().contains(c.reason)) << shownError(run.error);
        EXPECT_EQ(readFile(outside + QStringLiteral("/target.txt")), QByteArrayLiteral("the user's file\n"));
    }
}

TEST(ZipErrors, EveryInjectedSystemCallFailureGivesAnErrorNamingTheEntryOrTheArchive)
{
    // Each call of each kind made while plain.zip unpacks fails once, in turn: whatever
    // fails, the unzip either still succeeds (a failed chmod is only logged) or explains.
    const QString archive = fixture(QStringLiteral("plain"));
    for (const test::FaultShim::Op op :
         {test::FaultShim::Op::Open, test::FaultShim::Op::Read, test::FaultShim::Op::Lseek,
          test::FaultShim::Op::Write, test::FaultShim::Op::Close, test::FaultShim::Op::Fstat,
          test::FaultShim::Op::Stat}) {
        int calls = 0;
        {
            test::FaultShim counter;
            ASSERT_TRUE(ZipWrapper::unzipFileAtPath(archive, inTest(QStringLiteral("count"))));
            calls = counter.callCount(op);
        }
        for (int k = 1; k <= calls; ++k) {
            SCOPED_TRACE(testing::Message() << "operation " << int(op) << ", call " << k << " of " << calls);
            const QString destination = inTest(QStringLiteral("out-%1-%2").arg(int(op)).arg(k));
            test::LogCapture quiet;
            Unzipped run;
            {
                test::FaultShim shim;
                shim.failAt(op, k, EIO);
                run = unzipReporting(archive, destination);
            }
            if (run.ok) {
                EXPECT_TRUE(run.error.isNull()) << shownError(run.error);
                continue;
            }
            expectExplained(run, archive);
            const bool aboutTheArchive = run.error.code() == ZipWrapper::FailedToOpenZipFile ||
                                         run.error.code() == ZipWrapper::FailedToOpenFirstFile ||
                                         !run.error.userInfo().contains(ZipWrapper::EntryNameKey);
            if (aboutTheArchive) {
                EXPECT_TRUE(run.error.localizedFailureReason().contains(archive) ||
                            run.error.localizedFailureReason().contains(QStringLiteral("plain.zip")) ||
                            run.error.localizedFailureReason().contains(QStringLiteral("destination")))
                    << shownError(run.error);
            } else {
                EXPECT_FALSE(entryOf(run.error).isEmpty());
                EXPECT_TRUE(run.error.localizedFailureReason().contains(entryOf(run.error)))
                    << shownError(run.error);
            }
        }
    }
}

TEST(ZipErrors, AFailedWriteOrCloseNamesTheEntryAndTheSystemsReason)
{
    const QString archive = fixture(QStringLiteral("plain"));
    struct Case
    {
        test::FaultShim::Op op;
        const char* words;
    };
    for (const Case& c : {Case{test::FaultShim::Op::Write, "cannot write it"},
                          Case{test::FaultShim::Op::Close, "cannot close readme.txt"}}) {
        SCOPED_TRACE(c.words);
        Unzipped run;
        {
            test::FaultShim shim;
            shim.failAt(c.op, 1, ENOSPC);
            run = unzipReporting(archive, inTest(QStringLiteral("out-%1").arg(int(c.op))));
        }
        expectExplained(run, archive);
        EXPECT_EQ(run.error.code(), ZipWrapper::FileSystemError);
        EXPECT_EQ(entryOf(run.error), QStringLiteral("readme.txt"));
        EXPECT_TRUE(run.error.localizedFailureReason().contains(QLatin1String(c.words)))
            << shownError(run.error);
        EXPECT_TRUE(run.error.localizedFailureReason().contains(QString::fromLocal8Bit(::strerror(ENOSPC))))
            << shownError(run.error);
    }
}

TEST(ZipErrors, TheDelegateDecliningAnEntryCancelsWithAnErrorNamingIt)
{
    ZipWrapperDelegate delegate;
    delegate.zipArchiveShouldUnzipFileAtIndex = [](qint64 index, qint64, const QString&,
                                                   const ZipWrapper::FileInfo&) { return index < 2; };
    Error error;
    EXPECT_FALSE(ZipWrapper::unzipFileAtPath(fixture(QStringLiteral("plain")), inTest(QStringLiteral("out")),
                                             true, QString(), &error, &delegate));
    EXPECT_EQ(error.code(), ZipWrapper::Cancelled) << shownError(error);
    EXPECT_EQ(entryOf(error), QStringLiteral("docs/guide.md"));
}

TEST(ZipErrors, BoundsPassedInsideAnInnerArchiveFailTheWholeUnzipNamingTheInnerEntry)
{
    // bottom.txt, inside the innermost archive, is the fourth entry met.
    ScopedLimits limits({ZipWrapper::MaxNestingDepth, ZipWrapper::MaxTotalBytes, 3});
    const QString archive = fixture(QStringLiteral("nested_at_bound"));
    const Unzipped run = unzipReporting(archive, inTest(QStringLiteral("out")));
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.code(), ZipWrapper::LimitExceeded) << shownError(run.error);
    EXPECT_EQ(entryOf(run.error), QStringLiteral("bottom.txt"));
    EXPECT_TRUE(
        run.error.userInfo().value(Error::FilePathKey).toString().endsWith(QStringLiteral("level3.zip")))
        << "the archive the entry lies in: " << shownError(run.error);
    EXPECT_TRUE(run.error.localizedFailureReason().contains(QStringLiteral("more than 3 entries")))
        << shownError(run.error);
}

// ---- Passwords: UTF-8 on both sides, and Info-ZIP on the other side

namespace {

const QString kPassword = QStringLiteral("p\u00e4ssw\u00f6rd");

// A small folder of files to pack: text with non-ASCII characters, bytes, a subfolder.
QString makePasswordSource(const QString& folder)
{
    writeFile(folder + QStringLiteral("/notes.txt"),
              QStringLiteral("Gr\u00fc\u00dfe\n").repeated(300).toUtf8());
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes.append(char((i * 7919) & 0xff));
    writeFile(folder + QStringLiteral("/data/blob.bin"), bytes);
    writeFile(folder + QStringLiteral("/data/empty.txt"), QByteArray(""));
    return folder;
}

void expectSameFiles(const QString& source, const QString& copy)
{
    for (const QString& name :
         {QStringLiteral("notes.txt"), QStringLiteral("data/blob.bin"), QStringLiteral("data/empty.txt")}) {
        EXPECT_TRUE(QFileInfo(copy + QLatin1Char('/') + name).isFile()) << name.toStdString();
        EXPECT_EQ(readFile(copy + QLatin1Char('/') + name), readFile(source + QLatin1Char('/') + name))
            << name.toStdString();
    }
}

} // namespace

TEST(ZipPasswords, AnArchiveInfoZipEncryptedWithANonAsciiPasswordUnpacksWithThatPassword)
{
    SKIP_WITHOUT_ZIP();
    const QString source = makePasswordSource(inTest(QStringLiteral("src")));
    const QString archive = inTest(QStringLiteral("info-zip.zip"));
    const ToolRun packed = runTool(QStringLiteral("zip"),
                                   {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-P"),
                                    kPassword, archive, QStringLiteral("notes.txt"), QStringLiteral("data")},
                                   source);
    ASSERT_EQ(packed.exitCode, 0) << packed.output.toStdString();

    const Unzipped run = unzipReporting(archive, inTest(QStringLiteral("out")), kPassword);
    ASSERT_TRUE(run.ok) << shownError(run.error);
    expectSameFiles(source, inTest(QStringLiteral("out")));

    const Unzipped wrong =
        unzipReporting(archive, inTest(QStringLiteral("wrong")), QStringLiteral("passwoerd"));
    expectExplained(wrong, archive);
    EXPECT_EQ(wrong.error.code(), ZipWrapper::WrongPassword) << shownError(wrong.error);
    EXPECT_TRUE(wrong.error.localizedFailureReason().contains(QStringLiteral("the password is wrong")));
    EXPECT_FALSE(exists(inTest(QStringLiteral("wrong/notes.txt"))))
        << "nothing of a refused entry is written";
}

TEST(ZipPasswords, OurPasswordArchivesUnpackWithInfoZipsUnzipWhichRefusesAWrongPassword)
{
    SKIP_WITHOUT_UNZIP();
    const QString source = makePasswordSource(inTest(QStringLiteral("src")));
    const QString archive = inTest(QStringLiteral("ours.zip"));
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source, false, kPassword));
    {
        ZipWrapper zip(inTest(QStringLiteral("instance.zip")));
        ASSERT_TRUE(zip.open());
        ASSERT_TRUE(zip.writeData("written as data\n", QStringLiteral("data.txt"), kPassword));
        ASSERT_TRUE(zip.writeFolderAtPath(source, QStringLiteral("folder"), kPassword));
        ASSERT_TRUE(zip.close());
    }

    const ToolRun tested =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"), kPassword, archive});
    EXPECT_EQ(tested.exitCode, 0) << tested.output.toStdString();
    EXPECT_TRUE(tested.output.contains(QStringLiteral("No errors detected"))) << tested.output.toStdString();
    const ToolRun unpacked =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), QStringLiteral("-P"), kPassword, archive,
                                          QStringLiteral("-d"), inTest(QStringLiteral("by-unzip"))});
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.output.toStdString();
    expectSameFiles(source, inTest(QStringLiteral("by-unzip")));
    const ToolRun instance = runTool(QStringLiteral("unzip"),
                                     {QStringLiteral("-p"), QStringLiteral("-P"), kPassword,
                                      inTest(QStringLiteral("instance.zip")), QStringLiteral("data.txt")});
    EXPECT_EQ(instance.output, QStringLiteral("written as data\n"));
    const ToolRun instanceTested =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"), kPassword,
                                          inTest(QStringLiteral("instance.zip"))});
    EXPECT_EQ(instanceTested.exitCode, 0) << instanceTested.output.toStdString();

    const ToolRun refused = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"),
                                                              QStringLiteral("passwoerd"), archive});
    EXPECT_NE(refused.exitCode, 0) << refused.output.toStdString();
    EXPECT_TRUE(refused.output.contains(QStringLiteral("incorrect password")))
        << refused.output.toStdString();

    // And ours reads ours.
    const Unzipped run = unzipReporting(archive, inTest(QStringLiteral("by-us")), kPassword);
    ASSERT_TRUE(run.ok) << shownError(run.error);
    expectSameFiles(source, inTest(QStringLiteral("by-us")));
}

TEST(ZipPasswords, AReadFailingInTheSecondPassOverAnEncryptedFileFailsThePacking)
{
    // An encrypted entry's file is read once for its CRC and once for its data; a read
    // that fails in the second pass must fail the archive, not write a short entry.
    const QString source = makePasswordSource(inTest(QStringLiteral("src")));
    const QString archive = inTest(QStringLiteral("out.zip"));
    int reads = 0;
    {
        test::FaultShim counter;
        ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithFilesAtPaths(
            archive, {source + QStringLiteral("/data/blob.bin")}, kPassword));
        reads = counter.callCount(test::FaultShim::Op::Read);
    }
    ASSERT_GE(reads, 4);
    QFile::remove(archive);
    bool ok = true;
    {
        test::FaultShim shim;
        shim.failAt(test::FaultShim::Op::Read, reads - 1, EIO);
        ok = ZipWrapper::createZipFileAtPathWithFilesAtPaths(
            archive, {source + QStringLiteral("/data/blob.bin")}, kPassword);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(exists(archive));
}

// ---- Inner archives lose nothing

TEST(ZipNesting, AnInnerArchiveHoldingAnEntryOfItsOwnNameUnpacksEverythingAndLeavesNoCopies)
{
    struct Case
    {
        QString fixture;
        bool overwrite;
    };
    for (const Case& c : {Case{QStringLiteral("nested_own_name_not_zip"), true},
                          Case{QStringLiteral("nested_own_name_not_zip"), false},
                          Case{QStringLiteral("nested_own_name"), true}}) {
        SCOPED_TRACE(c.fixture.toStdString() + (c.overwrite ? " overwriting" : " keeping files"));
        const QString destination =
            inTest(c.fixture + (c.overwrite ? QStringLiteral("-y") : QStringLiteral("-n")));
        test::LogCapture log;
        const Unzipped run = unzipReporting(fixture(c.fixture), destination, QString(), c.overwrite);
        ASSERT_TRUE(run.ok) << shownError(run.error);
        EXPECT_EQ(readFile(destination + QStringLiteral("/after.txt")), QByteArrayLiteral("after\n"));
        if (c.fixture == QStringLiteral("nested_own_name")) {
            EXPECT_EQ(readFile(destination + QStringLiteral("/deepest.txt")), QByteArrayLiteral("deepest\n"));
            EXPECT_FALSE(exists(destination + QStringLiteral("/a.zip")));
        } else {
            // The innermost a.zip is no archive: it stays, in the place of the archive it came
            // from, once that one was read.
            EXPECT_EQ(readFile(destination + QStringLiteral("/a.zip")),
                      QByteArrayLiteral("this a.zip is no archive\n"));
        }
        EXPECT_TRUE(QDir(destination)
                        .entryList({QStringLiteral(".corvex-unzip-*")}, QDir::Files | QDir::Hidden)
                        .isEmpty())
            << "a fresh copy was left behind";
    }
}

TEST(ZipNesting, AnArchiveUnzippedWhereItLiesIsReadWholeBeforeAnEntryTakesItsName)
{
    const QString folder = inTest(QStringLiteral("here"));
    const QString archive = folder + QStringLiteral("/self_named.zip");
    const QByteArray original = readFile(fixture(QStringLiteral("self_named")));

    writeFile(archive, original);
    const Unzipped kept = unzipReporting(archive, folder, QString(), false);
    ASSERT_TRUE(kept.ok) << shownError(kept.error);
    EXPECT_EQ(readFile(archive), original) << "overwrite NO keeps the user's archive";
    EXPECT_EQ(readFile(folder + QStringLiteral("/other.txt")), QByteArrayLiteral("other\n"));

    QFile::remove(folder + QStringLiteral("/other.txt"));
    const Unzipped replaced = unzipReporting(archive, folder);
    ASSERT_TRUE(replaced.ok) << shownError(replaced.error);
    EXPECT_EQ(readFile(folder + QStringLiteral("/other.txt")), QByteArrayLiteral("other\n"))
        << "the entry after the one of the archive's name was still read";
    EXPECT_EQ(readFile(archive), QByteArrayLiteral("the entry, not the archive\n"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(ZipNesting, AnInnerArchiveThatFailsStaysPackedAndItsFailureIsLoggedWithItsEntry)
{
    test::LogCapture log;
    const QString destination = inTest(QStringLiteral("out"));
    const Unzipped run = unzipReporting(fixture(QStringLiteral("nested_damaged")), destination);
    EXPECT_TRUE(run.ok) << "an inner failure is not the outer call's";
    EXPECT_TRUE(run.error.isNull()) << shownError(run.error);
    EXPECT_EQ(readFile(destination + QStringLiteral("/after.txt")), QByteArrayLiteral("after\n"));
    EXPECT_TRUE(QFileInfo(destination + QStringLiteral("/inner.zip")).isFile())
        << "the inner archive stays whole";
    bool logged = false;
    for (const QString& line : log.lines())
        logged =
            logged ||
            (line.contains(QStringLiteral("inner.zip")) && line.contains(QStringLiteral("stays packed")) &&
             line.contains(QStringLiteral("inner-bad.txt")) && line.contains(QStringLiteral("CRC")));
    EXPECT_TRUE(logged) << log.lines().join(QLatin1Char('\n')).toStdString();
}
