// The record rules of the Dropbox mode and its names, on their own.

#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManager.h"
#include "model/Globals.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

QVFileInfo::Ref info(const char* name, const char* rev)
{
    return QVFileInfo::make(name ? std::optional<QString>(QString::fromUtf8(name)) : std::nullopt,
                            rev ? std::optional<QString>(QString::fromUtf8(rev)) : std::nullopt);
}

} // namespace

// A listing entry leaves a record alone when any slot has its revision; a new revision
// asks for a download; an upload answer re-bases a newer change made on the same base.
TEST(DropboxRecordsTest, ListingAndAnswersChangeRecordsAsTheRulesSay)
{
    using M = DropboxFolderManager;
    const FileMetadata entry{QStringLiteral("/a.crvx"), QStringLiteral("r2"), QString()};
    EXPECT_TRUE(QVFileInfo::isEmpty(M::markForLoadingIfNeeded(entry, nullptr)->input()));
    const auto inStep = DocumentInfo::make(nullptr, info("f1.crvx", "r2"), nullptr);
    EXPECT_EQ(M::markForLoadingIfNeeded(entry, inStep), inStep);
    const auto behind = DocumentInfo::make(nullptr, info("f1.crvx", "r1"), nullptr);
    EXPECT_TRUE(QVFileInfo::isEmpty(M::markForLoadingIfNeeded(entry, behind)->input()));

    const auto uploaded = info("f2.crvx", "r1");
    EXPECT_EQ(M::updatedOutputAfterSuccessfulUpload(uploaded, QStringLiteral("r2"), uploaded), nullptr);
    const auto newer =
        M::updatedOutputAfterSuccessfulUpload(uploaded, QStringLiteral("r2"), info("f3.crvx", "r1"));
    EXPECT_EQ(newer->name(), QStringLiteral("f3.crvx"));
    EXPECT_EQ(newer->rev(), QStringLiteral("r2"));
    const auto otherBase = info("f3.crvx", "r0");
    EXPECT_EQ(M::updatedOutputAfterSuccessfulUpload(uploaded, QStringLiteral("r2"), otherBase), otherBase);

    const auto record = DocumentInfo::make(nullptr, info("f1.crvx", "r1"), uploaded);
    const auto done =
        M::updatedDocInfoAfterUploadResponse(uploaded, UploadResponse{0, QStringLiteral("r2")}, record);
    EXPECT_EQ(done->current()->rev(), QStringLiteral("r2"));
    EXPECT_EQ(done->output(), nullptr);
    EXPECT_TRUE(QVFileInfo::isEmpty(
        M::updatedDocInfoAfterUploadResponse(uploaded, UploadResponse{2, {}}, record)->input()));
    EXPECT_EQ(M::updatedDocInfoAfterUploadResponse(uploaded, UploadResponse{3, {}}, record), record);

    const auto deletion = DocumentInfo::make(nullptr, info("f1.crvx", "r1"), info(nullptr, "r1"));
    const auto deleted = M::updatedDocInfoAfterDeleteResponse(DeleteResponse{0}, deletion);
    EXPECT_TRUE(QVFileInfo::isEmpty(deleted->current()));
    EXPECT_EQ(deleted->output(), nullptr);
    EXPECT_EQ(M::localRevFromDocumentInfo(DocumentInfo::make(nullptr, nullptr, info("f", "r9"))),
              QStringLiteral("r9"));

    // The index: a pending local index on the downloaded revision stays, on another it goes.
    const auto index =
        DocumentInfo::make(info("i2.index", "r5"), info("i1.index", "r4"), info("i3.index", "r5"));
    EXPECT_EQ(M::resolveIndexDocumentState(index)->output(), index->output());
    const auto remoteWins = M::resolveIndexDocumentState(
        DocumentInfo::make(info("i2.index", "r6"), nullptr, info("i3.index", "r5")));
    EXPECT_EQ(remoteWins->current()->name(), QStringLiteral("i2.index"));
    EXPECT_EQ(remoteWins->output(), nullptr);
}

// Start-up: deleted records go, and only files a kept record names survive with the status
// file and ".bak" files.
TEST(DropboxRecordsTest, StartUpKeepsOnlyWhatRecordsName)
{
    DropboxFolderManagerState state;
    state.docs[QStringLiteral("dropbox:/gone.crvx")] =
        DocumentInfo::make(nullptr, QVFileInfo::EMPTY(), nullptr);
    state.docs[QStringLiteral("dropbox:/kept.crvx")] =
        DocumentInfo::make(nullptr, info("f1.crvx", "r1"), nullptr);
    state.docs = DropboxFolderManager::filterOutDeletedDocuments(state.docs);
    EXPECT_EQ(state.docs.size(), 1u);
    state.indexDocumentInfo = DocumentInfo::make(QVFileInfo::EMPTY(), info("i1.index", "r1"), nullptr);
    for (const char* kept : {"f1.crvx", "i1.index", "corvex.local.status", "corvex.local.status.17.bak"})
        EXPECT_TRUE(DropboxFolderManager::shouldFileBeKept(QString::fromUtf8(kept), state)) << kept;
    for (const char* removed : {"f2.crvx", "i0.index", "notes.txt", ".corvex.local.status.tmp"})
        EXPECT_FALSE(DropboxFolderManager::shouldFileBeKept(QString::fromUtf8(removed), state)) << removed;
}

// Names: one counter for the three patterns; remote names checked before they become local.
TEST(DropboxRecordsTest, NamesAndTheirChecks)
{
    const QString first = DropboxFileNames::createLocalCRVXFileName();
    const QString second = DropboxFileNames::createDropboxCRVXFileName();
    const QRegularExpression local(QStringLiteral("^file(\\d+)_(\\d+)\\.crvx$"));
    const QRegularExpression copy(QStringLiteral("^id(\\d+)_(\\d+)\\.crvx$"));
    ASSERT_TRUE(local.match(first).hasMatch());
    ASSERT_TRUE(copy.match(second).hasMatch());
    EXPECT_EQ(copy.match(second).captured(2).toLongLong(), local.match(first).captured(2).toLongLong() + 1);
    EXPECT_EQ(local.match(first).captured(1).toLongLong() % 1000, 0);
    EXPECT_EQ(DropboxFileNames::dropboxPathFromFileURL(QStringLiteral("dropbox:/a.crvx")),
              QStringLiteral("/a.crvx"));
    EXPECT_EQ(DropboxFileNames::fileURLFromDropboxPath(QStringLiteral("/a.crvx")),
              QStringLiteral("dropbox:/a.crvx"));

    const QString hex(40, QLatin1Char('a'));
    EXPECT_TRUE(DropboxFileNames::isAcceptableAttachmentName(hex + QStringLiteral(".png")));
    for (const QString& bad :
         {QStringLiteral(".directory"), QStringLiteral("notes.txt"),
          QStringLiteral(".") + hex + QStringLiteral(".png"), hex + QStringLiteral(".png.corvex-tmp-1"),
          hex + QStringLiteral("./x"), QString()})
        EXPECT_FALSE(DropboxFileNames::isAcceptableAttachmentName(bad)) << bad.toStdString();
    EXPECT_TRUE(DropboxFileNames::isAcceptableDocumentPath(QStringLiteral("/a.crvx")));
    for (const QString& bad :
         {QStringLiteral("/.crvx"), QStringLiteral("/../a.crvx"), QStringLiteral("/x/a.crvx"),
          QStringLiteral("/a\0b.crvx"), QStringLiteral("a.crvx"), QStringLiteral("/.hidden.crvx")})
        EXPECT_FALSE(DropboxFileNames::isAcceptableDocumentPath(bad)) << bad.toStdString();
}

} // namespace corvex::test
