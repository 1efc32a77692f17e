#include "cloud/dropbox/DropboxFolderManagerState.h"
#include "cloud/dropbox/DropboxStatusCoding.h"
#include "tests/cloud/DropboxTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>

namespace corvex::test {

namespace {

QJsonValue canonicalInfo(const QVFileInfo::Ref& info)
{
    if (!info)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("name"), info->name() ? QJsonValue(*info->name()) : QJsonValue::Null},
                       {QStringLiteral("rev"), info->rev() ? QJsonValue(*info->rev()) : QJsonValue::Null}};
}

QJsonValue canonicalRecord(const DocumentInfo::Ref& record)
{
    if (!record)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("input"), canonicalInfo(record->input())},
                       {QStringLiteral("current"), canonicalInfo(record->current())},
                       {QStringLiteral("output"), canonicalInfo(record->output())}};
}

// The state as the Python model writes it; `written` leaves out what a write drops.
QJsonObject canonical(const DropboxFolderManagerState& state, bool written = false)
{
    QJsonObject documents;
    for (const auto& [key, record] : state.docs)
        if (!written || record->containsData())
            documents.insert(key, canonicalRecord(record));
    return QJsonObject{{QStringLiteral("fileFormatVersion"),
                        state.fileFormatVersion ? QJsonValue(*state.fileFormatVersion) : QJsonValue::Null},
                       {QStringLiteral("index"), canonicalRecord(state.indexDocumentInfo)},
                       {QStringLiteral("documents"), documents}};
}

} // namespace

// The file's exact shape for a fresh state and the records of the edge cases; the marker and
// the slot rules read back the same.
TEST(DropboxStatusTest, WritesTheDocumentedShape)
{
    DropboxFolderManagerState state;
    EXPECT_EQ(state.exportAsData(),
              QByteArray(R"({"dropboxFolderManagerState":{"fileFormatVersion":"1","index":{"input":{}}}})"));
    EXPECT_TRUE(state.perhapsDropboxConnection);

    state.docs[QStringLiteral("dropbox:/new.crvx")] =
        DocumentInfo::make(nullptr, nullptr, QVFileInfo::make(QStringLiteral("file1_2.crvx"), std::nullopt));
    state.docs[QStringLiteral("dropbox:/gone.crvx")] =
        DocumentInfo::make(nullptr, nullptr, QVFileInfo::make(std::nullopt, QStringLiteral("r1")));
    state.docs[QStringLiteral("dropbox:/nothing.crvx")] = DocumentInfo::make(nullptr, nullptr, nullptr);
    state.fileFormatVersion.reset();
    EXPECT_EQ(state.exportAsData(),
              QByteArray(R"({"dropboxFolderManagerState":{"index":{"input":{}},"documents":[)"
                         R"({"key":"dropbox:/gone.crvx","val":{"output":{"rev":"r1"}}},)"
                         R"({"key":"dropbox:/new.crvx","val":{"output":{"name":"file1_2.crvx"}}}]}})"));

    const QString path = testDir() + QStringLiteral("/corvex.local.status");
    state.pollFolderASAP = true;
    ASSERT_TRUE(state.writeAtomicallyToURL(path));
    const auto read = DropboxFolderManagerState::readFrom(path);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->fileFormatVersion.has_value());
    EXPECT_FALSE(read->pollFolderASAP); // flags are never restored
    EXPECT_TRUE(read->perhapsDropboxConnection);
    EXPECT_EQ(read->docs.size(), 2u);
    EXPECT_EQ(canonical(*read), canonical(state, true));
    const QVFileInfo::Ref& input = read->indexDocumentInfo->input();
    EXPECT_TRUE(input->isEqual(*QVFileInfo::EMPTY()));
    EXPECT_TRUE(QVFileInfo::isDeleted(input));
    EXPECT_FALSE(QVFileInfo::hasFile(input));
    EXPECT_TRUE(QVFileInfo::areRevEqual(QVFileInfo::make(QStringLiteral("n"), std::nullopt), nullptr));
    EXPECT_FALSE(
        QVFileInfo::areRevEqual(QVFileInfo::make(QStringLiteral("n"), QStringLiteral("r")), nullptr));
    EXPECT_EQ(QVFileInfo::EMPTY()->description(), QStringLiteral("{QVFileInfo: EMPTY}"));

    // A snapshot shares the records and compares mostly equal until the live state moves on.
    DropboxFolderManagerState snapshot = DropboxFolderManagerState::copyForSaving(state);
    EXPECT_TRUE(snapshot.isMostlyEqualTo(&state));
    state.docs[QStringLiteral("dropbox:/new.crvx")] =
        state.docs[QStringLiteral("dropbox:/new.crvx")]->withCurrent(
            QVFileInfo::make(QStringLiteral("file1_2.crvx"), QStringLiteral("r9")));
    EXPECT_FALSE(snapshot.isMostlyEqualTo(&state));
    EXPECT_FALSE(snapshot.isMostlyEqualTo(nullptr));
}

// Bad files are no state and lose nothing; a failed write keeps the old file.
TEST(DropboxStatusTest, BadFilesAndFailedWrites)
{
    const QString path = testDir() + QStringLiteral("/corvex.local.status");
    EXPECT_FALSE(DropboxFolderManagerState::readFrom(path)); // missing
    {
        LogCapture log;
        EXPECT_FALSE(DropboxFolderManagerState::readFrom(QString()));
        writeFile(path, "{not json");
        EXPECT_FALSE(DropboxFolderManagerState::readFrom(path));
        EXPECT_TRUE(log.contains(QStringLiteral("NSJSONSerialization: Error")));
        // A number the reader cannot hold is refused like any other bad text (found by fuzzing).
        writeFile(path, R"({"dropboxFolderManagerState":{"fileFormatVersion":1e999}})");
        EXPECT_FALSE(DropboxFolderManagerState::readFrom(path));
    }
    for (const char* text : {"[]", "{}", R"({"otherState":{}})", R"({"dropboxFolderManagerState":[]})"}) {
        writeFile(path, text);
        EXPECT_FALSE(DropboxFolderManagerState::readFrom(path)) << text;
    }
    QDir().mkpath(testDir() + QStringLiteral("/folder"));
    EXPECT_FALSE(DropboxFolderManagerState::readFrom(testDir() + QStringLiteral("/folder")));

    DropboxFolderManagerState state;
    ASSERT_TRUE(state.writeAtomicallyToURL(path));
    const QByteArray before = readFile(path);
    state.docs[QStringLiteral("dropbox:/a.crvx")] = DocumentInfo::make(QVFileInfo::EMPTY(), nullptr, nullptr);
    {
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Rename, 1, EIO);
        EXPECT_FALSE(state.writeAtomicallyToURL(path));
    }
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(QDir(testDir()).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("corvex.local.status")}));
}

// 200 seeded status files from the Python model read to the states the model expects, and
// every file we write back reads in the model to our state.
TEST(DropboxStatusTest, SeededFilesAgreeWithThePythonModel)
{
    const QString folder = testDir() + QStringLiteral("/status");
    QProcess generate;
    generate.start(QStringLiteral("/usr/bin/python3"),
                   {dropboxScript(QStringLiteral("dropbox_status_files.py")), QStringLiteral("generate"),
                    folder, QStringLiteral("120"), QStringLiteral("200")});
    ASSERT_TRUE(generate.waitForFinished(60000));
    ASSERT_EQ(generate.exitCode(), 0) << generate.readAllStandardError().constData();

    QStringList ours;
    std::vector<QJsonObject> written;
    int states = 0;
    LogCapture quiet;
    for (int n = 0; n < 200; ++n) {
        const QString name = QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
        const QJsonDocument expected = QJsonDocument::fromJson(
            readFile(folder + QStringLiteral("/expected_") + name + QStringLiteral(".json")));
        const auto state = DropboxFolderManagerState::readFrom(folder + QStringLiteral("/status_") + name +
                                                               QStringLiteral(".json"));
        if (expected.isNull()) {
            EXPECT_FALSE(state) << name.toStdString();
            continue;
        }
        ASSERT_TRUE(state) << name.toStdString();
        EXPECT_EQ(canonical(*state), expected.object()) << name.toStdString();
        const QString out = folder + QStringLiteral("/ours_") + name + QStringLiteral(".json");
        ASSERT_TRUE(state->writeAtomicallyToURL(out));
        ours << out;
        written.push_back(canonical(*state, true));
        ++states;
    }
    EXPECT_GT(states, 180);

    QProcess read;
    read.start(QStringLiteral("/usr/bin/python3"),
               QStringList{dropboxScript(QStringLiteral("dropbox_status_files.py")), QStringLiteral("read")} +
                   ours);
    ASSERT_TRUE(read.waitForFinished(60000));
    ASSERT_EQ(read.exitCode(), 0) << read.readAllStandardError().constData();
    const QList<QByteArray> lines = read.readAllStandardOutput().split('\n');
    ASSERT_GE(lines.size(), qsizetype(written.size()));
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(QJsonDocument::fromJson(lines[qsizetype(i)]).object(), written[i])
            << ours[qsizetype(i)].toStdString();
}

} // namespace corvex::test
