#include "model/NonFatalErrorRecorder.h"
#include "model/ObjectID.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/FilePresenter.h"
#include "platform/core/Paths.h"
#include "storage/AttachmentDocument.h"
#include "storage/AttachmentFilePresenter.h"
#include "storage/AttachmentNames.h"
#include "storage/TempLocationManager.h"
#include "tests/storage/ExpectCompletion.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

using namespace corvex;
using test::CompletionRecorder;
using test::expectCompletion;
using test::RecordingErrorRecorder;

namespace {

const QString Digest = QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"); // 40 lower-case hex digits

QString attachmentsFolder()
{
    return Paths::applicationSupport() + QStringLiteral("/com.tallowfen.corvex/volatile/attachments");
}

using corvex::test::readFile;
using corvex::test::writeFile;

// Every entry below the folder (links not followed) with its size, hidden ones included.
std::map<QString, qint64> snapshot(const QString& folder)
{
    std::map<QString, qint64> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        entries[QDir(folder).relativeFilePath(info.absoluteFilePath())] = info.isDir() ? -1 : info.size();
    }
    return entries;
}

QString describe(const std::map<QString, qint64>& entries)
{
    QStringList lines;
    for (const auto& [path, size] : entries)
        lines << QStringLiteral("%1 (%2)").arg(path).arg(size);
    return lines.join(QLatin1Char('\n'));
}

// The identifier whose string form is exactly `name` (split at the first "."); without a
// "." the name with an empty extension.
ObjectID objectIdNamed(const QString& name)
{
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot < 0)
        return ObjectID(name, QString());
    return ObjectID(name.left(dot), name.mid(dot + 1));
}

// The names of stored data that must never become files.
QStringList refusedNames()
{
    return {QString(),
            QStringLiteral(""),
            QStringLiteral("."),
            QStringLiteral(".."),
            QStringLiteral("../../x"),
            QStringLiteral("/etc/passwd"),
            QStringLiteral("a/b.png"),
            Digest + QStringLiteral(".p") + QChar(u'\0') + QStringLiteral("ng"),
            Digest.left(20) + QChar(u'\0') + Digest.mid(21) + QStringLiteral(".png"),
            Digest.toUpper() + QStringLiteral(".png"),
            Digest.left(39) + QStringLiteral(".png"),
            Digest,
            Digest + QStringLiteral("."),
            Digest + QStringLiteral(".."),
            Digest + QStringLiteral("./x"),
            Digest + QStringLiteral("../x"),
            Digest + QStringLiteral("./../../x"),
            Digest + QStringLiteral(".a/b"),
            Digest + QStringLiteral(".a\\b"),
            Digest + QStringLiteral(".a..b"),
            QStringLiteral("g") + Digest.mid(1) + QStringLiteral(".png"),
            Digest + QStringLiteral(".") + QString(250, QLatin1Char('x'))};
}

// A presenter of the same file, to see what the coordinator tells others.
class Observer : public FilePresenter
{
public:
    explicit Observer(QString path) : mPath(std::move(path)) {}
    QString presentedItemPath() const override { return mPath; }
    void presentedItemDidChange() override { ++changes; }
    std::atomic<int> changes{0};

private:
    QString mPath;
};

} // namespace

// --- Names ------------------------------------------------------------------------------------

TEST(AttachmentNames, OnlyFortyLowerCaseHexDigitsWithAPlainExtensionAreAcceptable)
{
    EXPECT_TRUE(AttachmentNames::isAcceptableAttachmentName(Digest + QStringLiteral(".png")));
    EXPECT_TRUE(AttachmentNames::isAcceptableAttachmentName(Digest + QStringLiteral(".jpeg")));
    EXPECT_TRUE(AttachmentNames::isAcceptableAttachmentName(Digest + QStringLiteral(".tar.gz")))
        << "a single dot inside the extension stays inside the folder";
    EXPECT_TRUE(
        AttachmentNames::isAcceptable(ObjectID::createFromData(QByteArray("bytes"), QStringLiteral("png"))));
    for (const QString& name : refusedNames())
        EXPECT_FALSE(AttachmentNames::isAcceptableAttachmentName(name))
            << AttachmentNames::printable(name).toStdString();
    EXPECT_FALSE(AttachmentNames::isAcceptable(ObjectID()));
}

TEST(AttachmentNames, SafeFileNamesAreOnePlainPathComponent)
{
    for (const QString& name : {QStringLiteral("id1796638500_1.crvx"), QStringLiteral(".hidden"),
                                QStringLiteral("a..b"), QStringLiteral("map 2026.pdf")})
        EXPECT_TRUE(AttachmentNames::isSafeFileName(name)) << name.toStdString();
    for (const QString& name :
         {QString(), QStringLiteral(""), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"),
          QStringLiteral("/etc/passwd"), QStringLiteral("a\\b"),
          QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b"), QString(256, QLatin1Char('x'))})
        EXPECT_FALSE(AttachmentNames::isSafeFileName(name)) << AttachmentNames::printable(name).toStdString();
    EXPECT_EQ(AttachmentNames::printable(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")),
              QStringLiteral("a\\x00b"));
}

// --- The temporary location's attachments ----------------------------------------------------

TEST(TempLocationManager, FoldersLieInTheApplicationSupportFolderAndAreMadeOnDemand)
{
    const QString expected = attachmentsFolder();
    EXPECT_FALSE(QFileInfo::exists(expected));
    EXPECT_EQ(TempLocationManager::baseAttURL(), QUrl::fromLocalFile(expected));
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_EQ(
        TempLocationManager::baseDocURL(),
        QUrl::fromLocalFile(Paths::applicationSupport() + QStringLiteral("/com.tallowfen.corvex/volatile")));
    EXPECT_EQ(TempLocationManager::documentURL(QStringLiteral("id1_1.crvx")),
              QUrl::fromLocalFile(Paths::applicationSupport() +
                                  QStringLiteral("/com.tallowfen.corvex/volatile/id1_1.crvx")));
    for (const QString& bad : {QString(), QStringLiteral(".."), QStringLiteral("../x.crvx"),
                               QStringLiteral("/etc/passwd"), QStringLiteral("a/b.crvx")})
        EXPECT_TRUE(TempLocationManager::documentURL(bad).isEmpty()) << bad.toStdString();
}

TEST(TempLocationManager, TheAttachmentsFolderCannotBeMadeWhereAFileStands)
{
    writeFile(Paths::applicationSupport() + QStringLiteral("/com.tallowfen.corvex/volatile"), "a file");
    test::LogCapture log;
    EXPECT_TRUE(TempLocationManager::baseAttURL().isEmpty());
    EXPECT_TRUE(TempLocationManager::baseDocURL().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure: ")))
        << log.lines().join(QLatin1Char('\n')).toStdString();

    CompletionRecorder recorder;
    TempLocationManager manager;
    manager.storeAttachment(
        ObjectID::createFromData("x", QStringLiteral("png")), "x",
        expectCompletion<bool>(recorder, QStringLiteral("store"), [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("store")), 1);
}

TEST(TempLocationManager, AStoredAttachmentIsProvidedOnTheMainQueue)
{
    static const char bytes[] = "\x89PNG\r\n\x1a\n attachment bytes\0with a NUL";
    const QByteArray data(bytes, sizeof bytes - 1);
    const ObjectID id = ObjectID::createFromData(data, QStringLiteral("png"));
    TempLocationManager manager;
    CompletionRecorder recorder;
    manager.storeAttachment(id, data, expectCompletion<bool>(recorder, QStringLiteral("store"), [](bool ok) {
                                EXPECT_TRUE(ok);
                            }));
    EXPECT_EQ(readFile(attachmentsFolder() + QLatin1Char('/') + id.asString()), data)
        << "the write is done inside the call";
    EXPECT_EQ(recorder.callCount(QStringLiteral("store")), 0) << "a write answers later, on the main queue";
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(readFile(attachmentsFolder() + QLatin1Char('/') + id.asString()), data);

    QByteArray provided;
    manager.provideAttachment(
        id, expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide"),
                                                [&](const QByteArray& bytes) { provided = bytes; }));
    EXPECT_EQ(recorder.callCount(QStringLiteral("provide")), 0) << "a read answers later, on the main queue";
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(provided, data);
}

TEST(TempLocationManager, AnAttachmentThatWasNeverStoredIsProvidedAsNilOnTheMainQueue)
{
    TempLocationManager manager;
    CompletionRecorder recorder;
    bool wasNull = false;
    manager.provideAttachment(
        ObjectID::createFromData("never stored", QStringLiteral("png")),
        expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide"),
                                            [&](const QByteArray& bytes) { wasNull = bytes.isNull(); }));
    EXPECT_EQ(recorder.callCount(QStringLiteral("provide")), 0);
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_TRUE(wasNull);
}

TEST(TempLocationManager, AnEmptyAttachmentIsProvidedAsEmptyBytesNotAsNil)
{
    const ObjectID id = ObjectID::createFromData(QByteArray(""), QStringLiteral("bin"));
    TempLocationManager manager;
    CompletionRecorder recorder;
    manager.storeAttachment(
        id, QByteArray(""),
        expectCompletion<bool>(recorder, QStringLiteral("store"), [](bool ok) { EXPECT_TRUE(ok); }));
    bool wasNull = true;
    qsizetype size = -1;
    manager.provideAttachment(id, expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide"),
                                                                      [&](const QByteArray& bytes) {
                                                                          wasNull = bytes.isNull();
                                                                          size = bytes.size();
                                                                      }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_FALSE(wasNull);
    EXPECT_EQ(size, 0);
}

TEST(TempLocationManager, AnAttachmentFileOverTheBoundIsProvidedAsNilWithoutBeingRead)
{
    const ObjectID id = ObjectID::createFromData(QByteArray("stretched"), QStringLiteral("bin"));
    TempLocationManager manager;
    CompletionRecorder recorder;
    manager.storeAttachment(
        id, QByteArray("stretched"),
        expectCompletion<bool>(recorder, QStringLiteral("store"), [](bool ok) { EXPECT_TRUE(ok); }));
    // Sparse: a gigabyte that costs no disk.
    const QString path = attachmentsFolder() + QLatin1Char('/') + id.asString();
    ASSERT_TRUE(QFile::resize(path, AttachmentDocument::MaxFileSize + 1));
    test::LogCapture log;
    bool wasNull = false;
    manager.provideAttachment(
        id, expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide"),
                                                [&](const QByteArray& bytes) { wasNull = bytes.isNull(); }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_TRUE(wasNull);
    EXPECT_TRUE(log.contains(QStringLiteral("at most %1 are read").arg(AttachmentDocument::MaxFileSize)))
        << log.lines().join(QLatin1Char('\n')).toStdString();

    // Within the bound the same file is read again (its hole reads as zeros).
    ASSERT_TRUE(QFile::resize(path, 4096));
    qsizetype size = -1;
    manager.provideAttachment(
        id, expectCompletion<const QByteArray&>(recorder, QStringLiteral("provide again"),
                                                [&](const QByteArray& bytes) { size = bytes.size(); }));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(size, 4096);
}

TEST(TempLocationManager, StoringOneAttachmentTwiceReplacesItAtomicallyAndLeavesOneFile)
{
    const ObjectID id = ObjectID::createFromData("first", QStringLiteral("png"));
    TempLocationManager manager;
    CompletionRecorder recorder;
    manager.storeAttachment(
        id, "first",
        expectCompletion<bool>(recorder, QStringLiteral("first"), [](bool ok) { EXPECT_TRUE(ok); }));
    // The same name again with other bytes shows that the file is really replaced.
    manager.storeAttachment(
        id, "second version",
        expectCompletion<bool>(recorder, QStringLiteral("second"), [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    const auto entries = snapshot(attachmentsFolder());
    ASSERT_EQ(entries.size(), 1u) << describe(entries).toStdString();
    EXPECT_EQ(entries.begin()->first, id.asString());
    EXPECT_EQ(readFile(attachmentsFolder() + QLatin1Char('/') + id.asString()), QByteArray("second version"));
}

TEST(TempLocationManager, AFailedWriteGivesNoAndKeepsTheOldFile)
{
    const ObjectID id = ObjectID::createFromData("old", QStringLiteral("png"));
    TempLocationManager manager;
    CompletionRecorder recorder;
    manager.storeAttachment(
        id, "old", expectCompletion<bool>(recorder, QStringLiteral("old"), [](bool ok) { EXPECT_TRUE(ok); }));
    for (const test::FaultShim::Op op : {test::FaultShim::Op::Write, test::FaultShim::Op::Fsync}) {
        test::FaultShim shim;
        shim.failFrom(op, 1, EIO);
        manager.storeAttachment(
            id, "new",
            expectCompletion<bool>(recorder, QStringLiteral("failing"), [](bool ok) { EXPECT_FALSE(ok); }));
    }
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Rename, 1, EIO);
        shim.failFrom(test::FaultShim::Op::Link, 1, EIO);
        manager.storeAttachment(
            id, "new",
            expectCompletion<bool>(recorder, QStringLiteral("no rename"), [](bool ok) { EXPECT_FALSE(ok); }));
    }
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("failing")), 2);
    EXPECT_EQ(readFile(attachmentsFolder() + QLatin1Char('/') + id.asString()), QByteArray("old"));
    const auto entries = snapshot(attachmentsFolder());
    EXPECT_EQ(entries.size(), 1u) << "no temporary file is left: " << describe(entries).toStdString();
}

TEST(TempLocationManager, RefusedNamesAnswerNoAndNothingIsWrittenAnywhere)
{
    TempLocationManager manager;
    CompletionRecorder recorder;
    // One good attachment first, so that the folders (and the coordinator's lock files) exist.
    manager.storeAttachment(
        ObjectID::createFromData("good", QStringLiteral("png")), "good",
        expectCompletion<bool>(recorder, QStringLiteral("good"), [](bool ok) { EXPECT_TRUE(ok); }));
    const auto before = snapshot(test::testDir());

    int index = 0;
    for (const QString& name : refusedNames()) {
        // Names without a "." become "<name>." (an identifier always has one); the rest
        // are exactly the name.
        const ObjectID id = name.isEmpty() ? ObjectID() : objectIdNamed(name);
        const QString label =
            QStringLiteral("%1 %2").arg(index++).arg(AttachmentNames::printable(id.asString()));
        ASSERT_TRUE(name.isEmpty() || !name.contains(QLatin1Char('.')) || id.asString() == name)
            << label.toStdString();
        manager.storeAttachment(
            id, "payload",
            expectCompletion<bool>(recorder, QStringLiteral("store ") + label,
                                   [label](bool ok) { EXPECT_FALSE(ok) << label.toStdString(); }));
        EXPECT_EQ(recorder.callCount(QStringLiteral("store ") + label), 0)
            << "later, never inside the call: " << label.toStdString();
        manager.provideAttachment(
            id, expectCompletion<const QByteArray&>(
                    recorder, QStringLiteral("provide ") + label,
                    [label](const QByteArray& data) { EXPECT_TRUE(data.isNull()) << label.toStdString(); }));
        EXPECT_EQ(recorder.callCount(QStringLiteral("provide ") + label), 0)
            << "later, never inside the call: " << label.toStdString();
        EXPECT_TRUE(TempLocationManager::attachmentURL(id).isEmpty()) << label.toStdString();
    }
    // A document for a path that climbs out of the folder refuses it as well.
    const QUrl outside = QUrl::fromLocalFile(attachmentsFolder() + QStringLiteral("/../../x"));
    auto document = AttachmentDocument::initWithFileURL(outside);
    document->saveBinaryData("payload", expectCompletion<bool>(recorder, QStringLiteral("climbing save"),
                                                               [](bool ok) { EXPECT_FALSE(ok); }));
    document->readBinaryWithCompletionHandler(
        expectCompletion<const QByteArray&>(recorder, QStringLiteral("climbing read"),
                                            [](const QByteArray& data) { EXPECT_TRUE(data.isNull()); }));
    EXPECT_TRUE(recorder.waitAll());

    const auto after = snapshot(test::testDir());
    EXPECT_EQ(after, before) << "before:\n"
                             << describe(before).toStdString() << "\nafter:\n"
                             << describe(after).toStdString();
}

// --- Attachment documents and their presenters ---------------------------------------------------

TEST(AttachmentDocument, ItsPresenterIsRegisteredForItsFileAndClosedWhenTheDocumentGoes)
{
    const QString path = attachmentsFolder() + QLatin1Char('/') + Digest + QStringLiteral(".png");
    std::weak_ptr<AttachmentFilePresenter> weakPresenter;
    {
        auto document = AttachmentDocument::initWithFileURL(QUrl::fromLocalFile(path));
        auto presenter = document->presenter();
        ASSERT_TRUE(presenter);
        weakPresenter = presenter;
        EXPECT_EQ(document->presentedItemURL(), QUrl::fromLocalFile(path));
        EXPECT_EQ(presenter->presentedItemPath(), path);
        EXPECT_EQ(presenter->delegate(), document);
        EXPECT_NE(presenter->presentedItemQueue(), nullptr);
        const auto registered = FileCoordinator::filePresenters();
        EXPECT_NE(std::find(registered.begin(), registered.end(), presenter), registered.end());
    }
    if (auto presenter = weakPresenter.lock()) {
        EXPECT_TRUE(presenter->isClosed());
        EXPECT_TRUE(presenter->presentedItemURL().isEmpty());
    }
    for (const auto& presenter : FileCoordinator::filePresenters())
        EXPECT_NE(presenter->presentedItemPath(), path);
}

TEST(AttachmentDocument, AWriteIsCoordinatedAndOtherPresentersOfTheFileHearOfIt)
{
    const QString path =
        TempLocationManager::baseAttURL().toLocalFile() + QLatin1Char('/') + Digest + QStringLiteral(".png");
    auto observer = std::make_shared<Observer>(path);
    FileCoordinator::addFilePresenter(observer);
    auto document = AttachmentDocument::initWithFileURL(QUrl::fromLocalFile(path));
    CompletionRecorder recorder;
    document->saveBinaryData(
        "bytes", expectCompletion<bool>(recorder, QStringLiteral("save"), [](bool ok) { EXPECT_TRUE(ok); }));
    EXPECT_TRUE(test::runUntil([&] { return observer->changes.load() == 1; })) << observer->changes.load();
    FileCoordinator::removeFilePresenter(observer.get());
}

TEST(AttachmentDocument, AChangeNoticeOnlyMarksThePresenterAsWaitingForARead)
{
    auto document = AttachmentDocument::initWithFileURL(
        QUrl::fromLocalFile(attachmentsFolder() + QLatin1Char('/') + Digest + QStringLiteral(".png")));
    auto presenter = document->presenter();
    EXPECT_FALSE(presenter->isWaitingRead());
    presenter->setIgnoreUpdates(true);
    presenter->presentedItemDidChange();
    EXPECT_FALSE(presenter->isWaitingRead());
    presenter->setIgnoreUpdates(false);
    presenter->presentedItemDidChange();
    EXPECT_TRUE(presenter->isWaitingRead());
    presenter->presentedItemDidChange();
    EXPECT_TRUE(presenter->isWaitingRead());
}

TEST(AttachmentDocument, APlainInitLogsItsAssertionLineAndItsOperationsFail)
{
    auto errors = std::make_shared<RecordingErrorRecorder>();
    NonFatalErrorRecorder::install(errors);
    test::LogCapture log;
    auto document = AttachmentDocument::init();
    EXPECT_TRUE(
        log.contains(QStringLiteral("ERROR: Assertion failure, line: 127 -[AttachmentDocument init]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(document->presenter());
    EXPECT_TRUE(document->presentedItemURL().isEmpty());
    CompletionRecorder recorder;
    document->saveBinaryData(
        "x", expectCompletion<bool>(recorder, QStringLiteral("save"), [](bool ok) { EXPECT_FALSE(ok); }));
    document->readBinaryWithCompletionHandler(expectCompletion<const QByteArray&>(
        recorder, QStringLiteral("read"), [](const QByteArray& data) { EXPECT_TRUE(data.isNull()); }));
    EXPECT_TRUE(recorder.waitAll()) << "failures found before any work answer";
    EXPECT_EQ(errors->descriptions(),
              (QStringList{QStringLiteral("Null URL in operation AttachmentDocument:doSaveToURL"),
                           QStringLiteral(
                               "Null URL in operation AttachmentDocument:readBinaryWithCompletionHandler")}));
    NonFatalErrorRecorder::install(nullptr);
}
