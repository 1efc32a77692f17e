// The zip wrapper: archives made by Python's zipfile (tests/data/zip, written by
// tests/data/gen/make_zip_fixtures.py) extract with ours as listed, hostile entries write
// nothing outside the destination, damage returns NO, and our archives pass `unzip -t` and
// are replaced only when complete.

#include "formats/ZipWrapper.h"
#include "formats/ZipWrapperDelegate.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
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

using corvex::test::readFile;
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

// The umask the expected modes assume.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t mask) : mPrevious(::umask(mask)) {}
    ~ScopedUmask() { ::umask(mPrevious); }

private:
    mode_t mPrevious;
};

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

ToolRun runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
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
        const bool ok = ZipWrapper::unzipFileAtPath(fixture(name), destination, true, QString(), &error);
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
    ASSERT_EQ(::chmod(QFile::encodeName(source + QStringLiteral("/x/y.js")).constData(), 0755), 0);

    const QString archive = inTest(QStringLiteral("site.zip"));
    ASSERT_TRUE(ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source));
    const ToolRun check = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), archive});
    EXPECT_EQ(check.exitCode, 0) << check.output.toStdString();
    EXPECT_TRUE(check.output.contains(QStringLiteral("No errors detected"))) << check.output.toStdString();
    EXPECT_EQ(entryNames(archive),
              (QStringList{QStringLiteral(".hidden"), QStringLiteral("E/.DS_Store"),
                           QStringLiteral("Z\u00fcrich \u2615.txt"), QStringLiteral("index.html"),
                           QStringLiteral("outer/inner/.DS_Store"), QStringLiteral("x/y.js")}))
        << "names relative to the folder; an empty folder as a .DS_Store entry and no entry of its own";

    const QString back = inTest(QStringLiteral("back"));
    ASSERT_TRUE(ZipWrapper::unzipFileAtPath(archive, back));
    EXPECT_EQ(readFile(back + QStringLiteral("/x/y.js")), QByteArrayLiteral("console.log(1);\n"));
    EXPECT_EQ(modeOf(back + QStringLiteral("/x/y.js")), mode_t(0755));
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
        {
            test::FaultShim shim;
            shim.failFrom(fault.op, fault.k, ENOSPC);
            ok = ZipWrapper::createZipFileAtPathWithContentsOfDirectory(archive, source);
            EXPECT_GE(shim.callCount(fault.op), fault.k) << fault.label << " was never reached";
        }
        EXPECT_FALSE(ok) << fault.label;
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
