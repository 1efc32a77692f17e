#include "storage/IndexDocument.h"
#include "storage/IndexJSONDocument.h"

#include "model/Globals.h"
#include "model/JSONDecoder.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/JsonText.h"
#include "platform/core/KeyedArchiver.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "storage/StorageQueues.h"
#include "tests/storage/ExpectCompletion.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/storage/WorkspaceTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::CompletionRecorder;
using corvex::test::dumpKeyedArchiveScript;
using corvex::test::expectCompletion;
using corvex::test::FaultShim;
using corvex::test::identifiersOf;
using corvex::test::LogCapture;
using corvex::test::runUntil;

namespace {

QDateTime inDecember2026(int day, int hour, int minute)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute), Qt::UTC);
}

IdeaProxyPtr summary(const QString& docIdentifier, const QString& text, qint64 count)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(docIdentifier);
    proxy->setText(text);
    proxy->setItemCount(count);
    proxy->setIdeaType(IdeaTypeText);
    proxy->setHasNote(count % 2 == 0);
    proxy->setDateCreated(inDecember2026(1, 9, 30));
    proxy->setDateModified(inDecember2026(7, 10, count));
    proxy->setIconImage(IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("Travel & Places"),
                                                QStringLiteral("\U0001F680")));
    return proxy;
}

std::vector<IdeaProxyPtr> threeSummaries(const QString& prefix)
{
    return {summary(prefix + QStringLiteral("id1_1.crvx"), QStringLiteral("Garden"), 3),
            summary(prefix + QStringLiteral("id2_1.crvx"), QStringLiteral("Kitchen"), 12),
            summary(prefix + QStringLiteral("id3_1.crvx"), QStringLiteral("Attic"), 1)};
}

QString indexPath(const QString& folder = QStringLiteral("index"))
{
    const QString dir = test::testDir() + QLatin1Char('/') + folder;
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + IndexDocument::standardFileName();
}

QUrl url(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// An archive of the index's keys as another writer makes it: `version` (none when
// negative), `instance` (none when null), the proxies.
QByteArray keyedIndex(qint64 version, const QString& instance, const std::vector<IdeaProxyPtr>& proxies)
{
    IdeaProxy::registerCodable();
    KeyedArchiver archiver;
    if (version >= 0)
        archiver.encodeInt64(version, IndexDocument::FileFormatVersionKey);
    if (!instance.isNull())
        archiver.encodeString(instance, IndexDocument::AppInstanceKey);
    archiver.encodeObjectList(proxies, IndexDocument::ProxyListKey);
    const Result<QByteArray> data = archiver.encodedData();
    EXPECT_TRUE(data.ok()) << data.error().toString().toStdString();
    return data.valueOr(QByteArray());
}

bool saveKeyed(IndexDocument& index, const QString& path)
{
    CompletionRecorder recorder;
    bool answer = false;
    index.saveBinaryToURL(
        url(path), expectCompletion<bool>(recorder, QStringLiteral("save"), [&](bool ok) { answer = ok; }));
    EXPECT_FALSE(recorder.allCalled()) << "the keyed index answers on the main queue, never inside the call";
    EXPECT_TRUE(recorder.waitAll());
    return answer;
}

bool readKeyed(IndexDocument& index, bool onlyIfChanged = false)
{
    CompletionRecorder recorder;
    bool answer = false;
    index.readBinaryWithCompletionHandler(
        expectCompletion<bool>(recorder, QStringLiteral("read"), [&](bool ok) { answer = ok; }),
        onlyIfChanged);
    EXPECT_FALSE(recorder.allCalled()) << "the keyed index answers on the main queue, never inside the call";
    EXPECT_TRUE(recorder.waitAll());
    return answer;
}

bool saveJSON(IndexJSONDocument& index, const QUrl& target)
{
    CompletionRecorder recorder;
    bool answer = false;
    index.saveJSONToURL(
        target, expectCompletion<bool>(recorder, QStringLiteral("save"), [&](bool ok) { answer = ok; }));
    EXPECT_FALSE(recorder.allCalled()) << "the JSON index answers on the main queue, never inside the call";
    EXPECT_TRUE(recorder.waitAll());
    return answer;
}

bool readJSON(IndexJSONDocument& index)
{
    CompletionRecorder recorder;
    bool answer = false;
    index.readJSONWithCompletionHandler(
        expectCompletion<bool>(recorder, QStringLiteral("read"), [&](bool ok) { answer = ok; }));
    EXPECT_FALSE(recorder.allCalled()) << "the JSON index answers on the main queue, never inside the call";
    EXPECT_TRUE(recorder.waitAll());
    return answer;
}

// "$top" of the archive as plistlib reads it, every reference resolved.
Value plistlibTop(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), {dumpKeyedArchiveScript(), path});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    const auto parsed = JsonText::parse(process.readAllStandardOutput());
    EXPECT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    return parsed.ok() ? parsed->value(QStringLiteral("$top")) : Value();
}

// Files of the index's folder other than the index itself (temporaries left behind).
QStringList leftovers(const QString& path)
{
    return test::otherFiles(QFileInfo(path).absolutePath(), IndexDocument::standardFileName());
}

} // namespace

// ---- Names

TEST(IndexFileNames, OnlyTheStandardNameIsAnIndexFile)
{
    EXPECT_EQ(IndexDocument::standardFileName(), QStringLiteral("corvex.index"));
    EXPECT_TRUE(IndexDocument::fileNamingSchemeMatches(QStringLiteral("corvex.index")));
    EXPECT_FALSE(IndexDocument::fileNamingSchemeMatches(QStringLiteral("Corvex.index")));
    EXPECT_FALSE(IndexDocument::fileNamingSchemeMatches(QStringLiteral("corvex.index.bak")));
    EXPECT_FALSE(IndexDocument::fileNamingSchemeMatches(QStringLiteral("dir/corvex.index")));
    EXPECT_FALSE(IndexDocument::fileNamingSchemeMatches(QString()));
}

TEST(IndexFileNames, IndexesWithoutAFileLogTheirPlainInitLines)
{
    LogCapture log;
    auto keyed = IndexDocument::init();
    auto json = IndexJSONDocument::init();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure, line: 113 -[IndexDocument init]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure, line: 026 -[IndexJSONDocument init]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(keyed->presentedItemURL().isEmpty());
    EXPECT_TRUE(json->fileURL().isEmpty());
}

// ---- The JSON form (Dropbox)

TEST(IndexJSONFile, WrittenWithTheThreeKeysAndNoWrapper)
{
    const QString path = indexPath();
    auto index = IndexJSONDocument::initWithFileURL(url(path));
    index->setIdeaProxyList(threeSummaries(QStringLiteral("dropbox:/")));
    ASSERT_TRUE(saveJSON(*index, url(path)));

    const auto parsed = JsonText::parse(bytesOf(path));
    ASSERT_TRUE(parsed.ok());
    const Value& top = parsed.value();
    EXPECT_EQ(top.toDictionary().keys(),
              (QStringList{QStringLiteral("fileFormatVersion"), QStringLiteral("appInstance"),
                           QStringLiteral("proxies")}));
    EXPECT_EQ(top.value(QStringLiteral("fileFormatVersion")).toInteger(), 1);
    EXPECT_EQ(top.value(QStringLiteral("appInstance")).toString(), Globals::appInstance());
    const Value& proxies = top.value(QStringLiteral("proxies"));
    ASSERT_EQ(proxies.size(), 3);
    EXPECT_EQ(proxies.at(0).value(QStringLiteral("filename")).toString(), QStringLiteral("id1_1.crvx"));
    EXPECT_EQ(proxies.at(1).value(QStringLiteral("text")).toString(), QStringLiteral("Kitchen"));
    EXPECT_EQ(proxies.at(1).value(QStringLiteral("itemCount")).toInteger(), 12);
    EXPECT_EQ(proxies.at(2).value(QStringLiteral("dateCreated")).toString(),
              QStringLiteral("2026-12-01 09:30:00 GMT"));
    EXPECT_EQ(proxies.at(0).value(QStringLiteral("iconImage")).value(QStringLiteral("name")).toString(),
              QStringLiteral("rocket"));
    EXPECT_TRUE(leftovers(path).isEmpty()) << leftovers(path).join(QLatin1Char(' ')).toStdString();
}

TEST(IndexJSONFile, ReadBackItGivesTheListInOrderInTheDropboxLocation)
{
    const QString path = indexPath();
    auto writer = IndexJSONDocument::initWithFileURL(url(path));
    // Whatever location the proxies had, the Dropbox index gives them location 3.
    writer->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
    ASSERT_TRUE(saveJSON(*writer, url(path)));

    auto reader = IndexJSONDocument::initWithFileURL(url(path));
    EXPECT_TRUE(reader->ideaProxyList().empty()) << "nothing before a read";
    ASSERT_TRUE(readJSON(*reader));
    const auto& list = reader->ideaProxyList();
    EXPECT_EQ(identifiersOf(list),
              (QStringList{QStringLiteral("dropbox:/id1_1.crvx"), QStringLiteral("dropbox:/id2_1.crvx"),
                           QStringLiteral("dropbox:/id3_1.crvx")}));
    for (const IdeaProxyPtr& proxy : list)
        EXPECT_EQ(proxy->location(), IdeaDocument::DropboxLocation);
    EXPECT_EQ(list[1]->text(), QStringLiteral("Kitchen"));
    EXPECT_EQ(list[1]->itemCount(), 12);
    EXPECT_TRUE(list[1]->hasNote());
    EXPECT_EQ(list[2]->dateModified(), inDecember2026(7, 10, 1));
    ASSERT_NE(list[0]->iconImage(), nullptr) << "\"iconImage\" is read as an icon";
    EXPECT_EQ(list[0]->iconImage()->symbol(), QStringLiteral("\U0001F680"));
}

TEST(IndexJSONFile, VersionsOtherThanOneFailWithTheirCodesAndKeepTheList)
{
    const struct
    {
        const char* json;
        int code;
    } cases[] = {
        {R"({"fileFormatVersion":2,"proxies":[{"filename":"a.crvx"}]})", 150},
        {R"({"fileFormatVersion":0,"proxies":[{"filename":"a.crvx"}]})", 100},
        {R"({"proxies":[{"filename":"a.crvx"}]})", 100},
        {R"({"fileFormatVersion":"1","proxies":[{"filename":"a.crvx"}]})", 100},
        {R"({"fileFormatVersion":99999999999,"proxies":[]})", 150},
    };
    for (const auto& c : cases) {
        auto index = IndexJSONDocument::initWithFileURL(QUrl());
        index->setIdeaProxyList(threeSummaries(QStringLiteral("dropbox:/")));
        const auto decoder = IndexJSONDocument::makeDecoder(QByteArray(c.json));
        Error error;
        EXPECT_FALSE(index->decodeFromJSON(*decoder, &error)) << c.json;
        EXPECT_EQ(error.domain(), QStringLiteral("document")) << c.json;
        EXPECT_EQ(error.code(), c.code) << c.json;
        EXPECT_TRUE(error.userInfo().isEmpty()) << c.json;
        EXPECT_EQ(index->ideaProxyList().size(), 3u) << "the list stays: " << c.json;
    }
}

TEST(IndexJSONFile, AProxyWithoutADocumentIsDroppedWithItsAssertionLine)
{
    const QString path = indexPath();
    writeBytes(path,
               R"({"fileFormatVersion":1,"appInstance":"MAC_1.0","proxies":[)"
               R"({"filename":"a.crvx","text":"A"},{"text":"no file"},{"filename":"b.crvx","text":"B"}]})");
    LogCapture log;
    auto index = IndexJSONDocument::initWithFileURL(url(path));
    ASSERT_TRUE(readJSON(*index));
    EXPECT_EQ(identifiersOf(index->ideaProxyList()),
              (QStringList{QStringLiteral("dropbox:/a.crvx"), QStringLiteral("dropbox:/b.crvx")}));
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 151")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(IndexJSONFile, UnreadableFilesAnswerNoAndKeepTheList)
{
    const QString path = indexPath();
    const QByteArray inputs[] = {
        QByteArray("not json at all"),
        QByteArray("[1,2,3]"),
        QByteArray("{\"fileFormatVersion\":1,\"appInstance\":\"\xff\xfe\"}"),
        QByteArray(),
    };
    for (const QByteArray& input : inputs) {
        writeBytes(path, input);
        auto index = IndexJSONDocument::initWithFileURL(url(path));
        index->setIdeaProxyList(threeSummaries(QStringLiteral("dropbox:/")));
        EXPECT_FALSE(readJSON(*index)) << input.constData();
        EXPECT_EQ(index->ideaProxyList().size(), 3u) << input.constData();
    }
    auto missing = IndexJSONDocument::initWithFileURL(url(indexPath(QStringLiteral("nothing here"))));
    EXPECT_FALSE(readJSON(*missing)) << "a missing file";
}

TEST(IndexJSONFile, WritingIntoAMissingFolderAnswersNoOnTheMainQueue)
{
    const QString path = test::testDir() + QStringLiteral("/no such folder/corvex.index");
    auto index = IndexJSONDocument::initWithFileURL(url(path));
    index->setIdeaProxyList(threeSummaries(QStringLiteral("dropbox:/")));
    EXPECT_FALSE(saveJSON(*index, url(path)));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(IndexJSONFile, MissingURLsAreRaisedAndFail)
{
    test::ScopedErrorRecorder errors;
    auto index = IndexJSONDocument::initWithFileURL(QUrl());
    EXPECT_FALSE(readJSON(*index));
    EXPECT_FALSE(saveJSON(*index, QUrl()));
    EXPECT_FALSE(saveJSON(*index, QUrl(QStringLiteral("https://example.org/corvex.index"))));
    const QStringList raised = errors.recorder->descriptions();
    EXPECT_EQ(
        raised.count(QStringLiteral("Null URL in operation IndexJSONDocument:readJSONWithCompletionHandler")),
        1)
        << raised.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(raised.count(QStringLiteral("Null URL in operation IndexJSONDocument:writeToLocalFileAt")), 2)
        << raised.join(QLatin1Char('\n')).toStdString();
}

// The list belongs to the main thread; only finished bytes go to the work queue.
TEST(IndexJSONFile, TheListIsSerialisedInsideTheCallNotOnTheWorkQueue)
{
    const QString path = indexPath();
    auto index = IndexJSONDocument::initWithFileURL(url(path));
    std::vector<IdeaProxyPtr> list = threeSummaries(QStringLiteral("dropbox:/"));
    index->setIdeaProxyList(list);
    SerialQueue& queue = StorageQueues::persistenceQueue();
    queue.suspend();
    CompletionRecorder recorder;
    bool saved = false;
    index->saveJSONToURL(
        url(path), expectCompletion<bool>(recorder, QStringLiteral("save"), [&](bool ok) { saved = ok; }));
    // The main thread edits the proxies while the write still waits on the queue.
    list[0]->setText(QStringLiteral("edited afterwards"));
    index->setIdeaProxyList({});
    queue.resume();
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_TRUE(saved);
    auto reader = IndexJSONDocument::initWithFileURL(url(path));
    ASSERT_TRUE(readJSON(*reader));
    ASSERT_EQ(reader->ideaProxyList().size(), 3u);
    EXPECT_EQ(reader->ideaProxyList()[0]->text(), QStringLiteral("Garden"))
        << "the list as it was at the call";
}

// A failed write keeps the old index whole and answers NO.
TEST(IndexJSONFile, AFailedWriteAnswersNoAndKeepsTheOldFile)
{
    const QString path = indexPath();
    auto index = IndexJSONDocument::initWithFileURL(url(path));
    index->setIdeaProxyList(threeSummaries(QStringLiteral("dropbox:/")));
    ASSERT_TRUE(saveJSON(*index, url(path)));
    const QByteArray old = bytesOf(path);
    index->setIdeaProxyList({summary(QStringLiteral("dropbox:/other.crvx"), QStringLiteral("Other"), 9)});

    const struct
    {
        const char* what;
        FaultShim::Op op;
        int error;
    } faults[] = {
        {"write", FaultShim::Op::Write, ENOSPC},
        {"fsync", FaultShim::Op::Fsync, EIO},
        {"rename", FaultShim::Op::Rename, EXDEV},
    };
    for (const auto& fault : faults) {
        bool saved = true;
        {
            FaultShim shim;
            shim.failFrom(fault.op, 1, fault.error);
            // The temporary file is named (no O_TMPFILE), so the rename is on the path.
            shim.failOpensWith(O_TMPFILE, EOPNOTSUPP);
            saved = saveJSON(*index, url(path));
            EXPECT_GE(shim.callCount(fault.op), 1) << fault.what;
        }
        EXPECT_FALSE(saved) << fault.what;
        EXPECT_EQ(bytesOf(path), old) << fault.what;
        EXPECT_TRUE(leftovers(path).isEmpty())
            << fault.what << ": " << leftovers(path).join(QLatin1Char(' ')).toStdString();
    }
    ASSERT_TRUE(saveJSON(*index, url(path))) << "writes again once the disk is fine";
    EXPECT_NE(bytesOf(path), old);
}

// ---- The keyed-archive form (iCloud)

TEST(IndexKeyedFile, WrittenAsAnArchiveWhoseTopHoldsTheThreeKeys)
{
    const QString path = indexPath();
    auto index = IndexDocument::initWithFileURL(url(path));
    index->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
    ASSERT_TRUE(saveKeyed(*index, path));
    EXPECT_TRUE(leftovers(path).isEmpty()) << leftovers(path).join(QLatin1Char(' ')).toStdString();

    const Value top = plistlibTop(path);
    EXPECT_EQ(top.value(QStringLiteral("fileFormatVersion")).toInteger(), 1);
    EXPECT_EQ(top.value(QStringLiteral("appInstance")).toString(), Globals::appInstance());
    const Value& list = top.value(QStringLiteral("proxyList"));
    ASSERT_EQ(list.size(), 3) << "an array of the three proxies";
    EXPECT_EQ(list.at(0).value(QStringLiteral("$class")).toString(), QStringLiteral("IdeaProxy"));
    EXPECT_EQ(list.at(0).value(QStringLiteral("filename")).toString(), QStringLiteral("id1_1.crvx"));
    EXPECT_EQ(list.at(1).value(QStringLiteral("text")).toString(), QStringLiteral("Kitchen"));
    EXPECT_EQ(list.at(1).value(QStringLiteral("itemCount")).toInteger(), 12);
    EXPECT_EQ(list.at(2).value(QStringLiteral("text")).toString(), QStringLiteral("Attic"));
    EXPECT_FALSE(top.toDictionary().contains(QStringLiteral("root")))
        << "the keys stand at the top, not under a root";
}

TEST(IndexKeyedFile, ReadBackItGivesTheListInOrderInTheICloudLocation)
{
    const QString path = indexPath();
    auto writer = IndexDocument::initWithFileURL(url(path));
    writer->setIdeaProxyList(threeSummaries(QStringLiteral("dropbox:/")));
    ASSERT_TRUE(saveKeyed(*writer, path));

    auto reader = IndexDocument::initWithFileURL(url(path));
    ASSERT_TRUE(readKeyed(*reader));
    const auto& list = reader->ideaProxyList();
    EXPECT_EQ(identifiersOf(list),
              (QStringList{QStringLiteral("iCloud:/id1_1.crvx"), QStringLiteral("iCloud:/id2_1.crvx"),
                           QStringLiteral("iCloud:/id3_1.crvx")}));
    for (const IdeaProxyPtr& proxy : list)
        EXPECT_EQ(proxy->location(), IdeaDocument::ICloudLocation);
    EXPECT_EQ(list[1]->text(), QStringLiteral("Kitchen"));
    EXPECT_EQ(list[1]->itemCount(), 12);
    EXPECT_EQ(list[0]->dateCreated(), inDecember2026(1, 9, 30));
    ASSERT_NE(list[2]->iconImage(), nullptr);
    EXPECT_EQ(list[2]->iconImage()->name(), QStringLiteral("rocket"));
}

TEST(IndexKeyedFile, VersionsOtherThanOneFailWithTheirCodesAndKeepTheList)
{
    const struct
    {
        qint64 version;
        int code;
    } cases[] = {{2, 150}, {0, 100}, {-1, 100}, {qint64(1) << 40, 150}};
    const std::vector<IdeaProxyPtr> incoming = {
        summary(QStringLiteral("iCloud:/new.crvx"), QStringLiteral("New"), 1)};
    for (const auto& c : cases) {
        auto index = IndexDocument::initWithFileURL(QUrl());
        index->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
        Error error;
        EXPECT_FALSE(index->loadFromContents(keyedIndex(c.version, QStringLiteral("MAC_other"), incoming),
                                             &error, false))
            << c.version;
        EXPECT_EQ(error.domain(), QStringLiteral("document")) << c.version;
        EXPECT_EQ(error.code(), c.code) << c.version;
        EXPECT_EQ(index->ideaProxyList().size(), 3u) << c.version;
    }
}

TEST(IndexKeyedFile, BytesThatAreNoArchiveFailAndKeepTheList)
{
    const QString path = indexPath();
    auto index = IndexDocument::initWithFileURL(url(path));
    index->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
    for (const QByteArray& bytes :
         {QByteArray("bplist00 but not really"), QByteArray(R"({"fileFormatVersion":1})"), QByteArray()}) {
        writeBytes(path, bytes);
        EXPECT_FALSE(readKeyed(*index)) << bytes.constData();
        EXPECT_EQ(index->ideaProxyList().size(), 3u);
    }
    QFile::remove(path);
    EXPECT_FALSE(readKeyed(*index)) << "a missing file";
}

TEST(IndexKeyedFile, OnlyIfChangedSkipsAFileThisInstanceWrote)
{
    const QString path = indexPath();
    auto writer = IndexDocument::initWithFileURL(url(path));
    writer->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
    ASSERT_TRUE(saveKeyed(*writer, path));

    auto reader = IndexDocument::initWithFileURL(url(path));
    const std::vector<IdeaProxyPtr> before = {
        summary(QStringLiteral("iCloud:/old.crvx"), QStringLiteral("Old"), 1)};
    reader->setIdeaProxyList(before);
    EXPECT_FALSE(readKeyed(*reader, true)) << "written by this instance";
    EXPECT_EQ(reader->ideaProxyList(), before);
    EXPECT_TRUE(readKeyed(*reader, false)) << "without the test it reloads";
    EXPECT_EQ(reader->ideaProxyList().size(), 3u);

    // Another instance's file reads either way; so does one that names no instance.
    for (const QString& instance : {QStringLiteral("MAC_12.5"), QString()}) {
        writeBytes(path, keyedIndex(1, instance, before));
        EXPECT_TRUE(readKeyed(*reader, true)) << instance.toStdString();
        EXPECT_EQ(identifiersOf(reader->ideaProxyList()), QStringList{QStringLiteral("iCloud:/old.crvx")});
    }
}

TEST(IndexKeyedFile, AProxyWithoutADocumentIsDroppedWithItsAssertionLine)
{
    auto index = IndexDocument::initWithFileURL(QUrl());
    IdeaProxyPtr nameless = summary(QString(), QStringLiteral("no file"), 2);
    LogCapture log;
    ASSERT_TRUE(index->loadFromContents(
        keyedIndex(1, QStringLiteral("MAC_other"),
                   {summary(QStringLiteral("dropbox:/a.crvx"), QStringLiteral("A"), 1), nameless,
                    summary(QStringLiteral("dropbox:/b.crvx"), QStringLiteral("B"), 1)}),
        nullptr, false));
    EXPECT_EQ(identifiersOf(index->ideaProxyList()),
              (QStringList{QStringLiteral("iCloud:/a.crvx"), QStringLiteral("iCloud:/b.crvx")}));
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 253")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

// One archived summary that every entry of a long list refers to costs a byte an entry; read
// as it is, every reader of the list would work for each entry.
TEST(IndexKeyedFile, ADocumentListedManyTimesIsListedOnceInItsFirstPlace)
{
    auto index = IndexDocument::initWithFileURL(QUrl());
    const IdeaProxyPtr many = summary(QStringLiteral("dropbox:/many.crvx"), QStringLiteral("Many"), 5);
    std::vector<IdeaProxyPtr> list(2000, many);
    list.insert(list.begin() + 1, summary(QStringLiteral("dropbox:/b.crvx"), QStringLiteral("B"), 1));
    list.push_back(summary(QStringLiteral("iCloud:/many.crvx"), QStringLiteral("Again"), 2));
    LogCapture log;
    ASSERT_TRUE(index->loadFromContents(keyedIndex(1, QStringLiteral("MAC_other"), list), nullptr, false));
    EXPECT_EQ(identifiersOf(index->ideaProxyList()),
              (QStringList{QStringLiteral("iCloud:/many.crvx"), QStringLiteral("iCloud:/b.crvx")}));
    EXPECT_EQ(index->ideaProxyList()[0]->text(), QStringLiteral("Many"));
    EXPECT_EQ(log.count(QStringLiteral("2000 summaries of documents already listed were left out")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(IndexKeyedFile, AnIndexWithoutAFileIsRaisedAndFailsAtOnce)
{
    test::ScopedErrorRecorder errors;
    auto index = IndexDocument::initWithFileURL(QUrl());
    EXPECT_FALSE(readKeyed(*index));
    EXPECT_FALSE(saveKeyed(*index, QString()));
    const QStringList raised = errors.recorder->descriptions();
    EXPECT_TRUE(raised.contains(
        QStringLiteral("Null URL in operation IndexDocument:readBinaryWithCompletionHandler")))
        << raised.join(QLatin1Char('\n')).toStdString();
}

// The keyed form too: the write replaces the file atomically or not at all.
TEST(IndexKeyedFile, AFailedWriteAnswersNoAndKeepsTheOldFile)
{
    const QString path = indexPath();
    auto index = IndexDocument::initWithFileURL(url(path));
    index->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
    ASSERT_TRUE(saveKeyed(*index, path));
    const QByteArray old = bytesOf(path);
    index->setIdeaProxyList({summary(QStringLiteral("iCloud:/other.crvx"), QStringLiteral("Other"), 9)});

    const struct
    {
        const char* what;
        FaultShim::Op op;
        int error;
    } faults[] = {
        {"write", FaultShim::Op::Write, ENOSPC},
        {"fsync", FaultShim::Op::Fsync, EIO},
        {"rename", FaultShim::Op::Rename, EXDEV},
        {"open", FaultShim::Op::Open, EMFILE},
    };
    for (const auto& fault : faults) {
        bool saved = true;
        {
            FaultShim shim;
            shim.failOpensWith(O_TMPFILE, EOPNOTSUPP);
            shim.failFrom(fault.op, 1, fault.error);
            saved = saveKeyed(*index, path);
        }
        EXPECT_FALSE(saved) << fault.what;
        EXPECT_EQ(bytesOf(path), old) << fault.what;
        EXPECT_TRUE(leftovers(path).isEmpty())
            << fault.what << ": " << leftovers(path).join(QLatin1Char(' ')).toStdString();
    }
    auto reader = IndexDocument::initWithFileURL(url(path));
    ASSERT_TRUE(readKeyed(*reader));
    EXPECT_EQ(reader->ideaProxyList().size(), 3u) << "the old index still reads";
}

TEST(IndexKeyedFile, AChangeByAnotherInstanceIsReadAndAnnouncedAndOneByThisInstanceIsNot)
{
    const QString path = indexPath();
    auto watched = IndexDocument::initWithFileURL(url(path));
    watched->setIdeaProxyList(threeSummaries(QStringLiteral("iCloud:/")));
    ASSERT_TRUE(saveKeyed(*watched, path));
    int notices = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        IndexDocument::ChangedNotification, watched.get(), [&](const NotificationCenter::Notification& note) {
            EXPECT_EQ(note.sender, watched.get());
            EXPECT_TRUE(MainQueue::isMainThread());
            ++notices;
        });

    // This instance writes through another index of the same file: the watched one is told,
    // reads, finds its own instance, and stays quiet.
    auto sibling = IndexDocument::initWithFileURL(url(path));
    sibling->setIdeaProxyList({summary(QStringLiteral("iCloud:/mine.crvx"), QStringLiteral("Mine"), 1)});
    ASSERT_TRUE(saveKeyed(*sibling, path));
    // The notice runs on the watched index's queue, its read on the main queue: let both
    // finish before the file changes again.
    watched->presentedItemQueue()->sync([] {});
    for (int i = 0; i < 5; ++i)
        test::processEvents();
    EXPECT_EQ(notices, 0) << "a change written by this instance is not announced";
    EXPECT_EQ(identifiersOf(watched->ideaProxyList()).size(), 3) << "nor read into the list";
    // Then another instance's file arrives under coordination.
    const QByteArray foreign =
        keyedIndex(1, QStringLiteral("MAC_99.000001"),
                   {summary(QStringLiteral("dropbox:/theirs.crvx"), QStringLiteral("Theirs"), 4)});
    ASSERT_TRUE(FileCoordinator().coordinateWriting(
        path, FileCoordinator::WritingForReplacing,
        [&](const QString& p) { ASSERT_TRUE(SaveFile::writeAtomically(p, foreign).ok()); }));
    ASSERT_TRUE(runUntil([&] { return notices > 0; }));
    for (int i = 0; i < 5; ++i)
        test::processEvents();
    EXPECT_EQ(notices, 1) << "only the other instance's change is announced";
    EXPECT_EQ(identifiersOf(watched->ideaProxyList()), QStringList{QStringLiteral("iCloud:/theirs.crvx")});
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(IndexKeyedFile, AWriterIsHandedTheFileAndGivesItBack)
{
    auto index = IndexDocument::initWithFileURL(url(indexPath()));
    FilePresenter::Reacquirer reacquirer;
    bool handed = false;
    index->relinquishPresentedItemToWriter([&](FilePresenter::Reacquirer r) {
        handed = true;
        reacquirer = std::move(r);
    });
    EXPECT_TRUE(handed) << "handed over at once";
    EXPECT_TRUE(index->fileIsBlocked());
    ASSERT_TRUE(reacquirer);
    reacquirer();
    EXPECT_FALSE(index->fileIsBlocked());
}

// ---- Through the in-process back ends

TEST(IndexFileBackEnds, EachCloudBackEndKeepsItsIndexInItsOwnForm)
{
    for (StorageLocation location : {IdeaDocument::ICloudLocation, IdeaDocument::DropboxLocation}) {
        test::WorkspaceFixture f(location, QStringLiteral("cloud%1").arg(location));
        const IdeaProxyPtr a =
            f.store(QStringLiteral("a.crvx"), test::treeWithChildren(QStringLiteral("alpha"), {}));
        const IdeaProxyPtr b =
            f.store(QStringLiteral("b.crvx"), test::treeWithChildren(QStringLiteral("beta"), {}));
        f.deliverListAndCache({b, a});
        f.workspace->saveIdeaProxyList();
        ASSERT_TRUE(runUntil([&] { return f.state->indexWriteCount() > 0; })) << location;
        EXPECT_TRUE(f.state->lastIndexWriteSucceeded()) << location;
        const QByteArray bytes = bytesOf(f.state->indexFilePath());
        if (location == IdeaDocument::ICloudLocation)
            EXPECT_TRUE(bytes.startsWith("bplist00")) << "a keyed archive";
        else
            EXPECT_TRUE(bytes.startsWith("{\"fileFormatVersion\":1,")) << bytes.left(60).constData();

        // A new workspace of the location takes its list from the index when it discovers.
        test::WorkspaceFixture again(location, QStringLiteral("cloud%1").arg(location));
        again.state->discover();
        ASSERT_TRUE(runUntil([&] { return again.workspace->hasCompleteProxyList(); })) << location;
        EXPECT_EQ(identifiersOf(again.workspace->ideaProxies()),
                  (QStringList{b->docIdentifier(), a->docIdentifier()}))
            << location;
        EXPECT_EQ(again.workspace->ideaProxies()[1]->text(), QStringLiteral("alpha"));
    }
}
