// A change waiting for upload on the Dropbox location when what it stands on moves: its local
// file goes before or while it is uploaded, or an earlier change of the same document landed
// with its answer lost and the change was saved over it. No document is shown empty, no edit is
// lost and no conflict copy is made of a version this machine wrote itself.

#include "tests/cloud/DropboxMachineSupport.h"

#include <QFile>
#include <QFileInfo>

namespace corvex::test {

class DropboxPendingChangeTest : public DropboxMachinesFixture
{
protected:
    // The local file of the document's pending change.
    QString changeFile(const QString& id) const
    {
        const DocumentInfo::Ref record = a->mode->state().docs.at(id);
        return QVFileInfo::hasFile(record->output()) ? a->mode->localManagedFile(*record->output()->name())
                                                     : QString();
    }

    void goOffline()
    {
        a->reachability->reachable = false;
        ASSERT_TRUE(pumpDropbox([&] { return !a->mode->state().perhapsDropboxConnection; }, 60.0));
    }
};

enum class Gone
{
    // Removed while the machine is offline: the change is never sent.
    WhileOffline,
    // Removed while its upload is on its way: the change lands, this machine keeps no copy.
    WhileUploading,
};

class DropboxFileGoneTest : public DropboxPendingChangeTest, public ::testing::WithParamInterface<Gone>
{};

TEST_P(DropboxFileGoneTest, TheDocumentIsNeverShownEmptyAndShowsWhatDropboxHolds)
{
    a->start();
    const QString id = a->create(QStringLiteral("start"));
    ASSERT_TRUE(converge());
    const QString path = id.mid(8);
    const int uploadsBefore = emulator.count("files/upload");

    std::vector<NotificationCenter::ObserverToken> observers;
    QString removeOnAnswer;
    if (GetParam() == Gone::WhileUploading) {
        // The answer's notification runs before its completion: the file goes just as the
        // upload that read it lands.
        observers.push_back(NotificationCenter::defaultCenter().addObserver(
            QVDropboxClient::GotSomeDataNotification, nullptr, [&](const NotificationCenter::Notification&) {
                const auto uploads = emulator.requests("files/upload");
                if (!removeOnAnswer.isEmpty() && !uploads.empty() &&
                    uploads.back().argument.contains(path.toUtf8()))
                    QFile::remove(std::exchange(removeOnAnswer, QString()));
            }));
    }
    const auto [document, token] = a->open(id);
    ASSERT_GE(token, 1);
    ASSERT_NO_FATAL_FAILURE(goOffline());
    ASSERT_TRUE(a->save(document, token, QStringLiteral("edited")));
    a->workspace->closeDocument(document, token, {});
    const QString file = changeFile(id);
    ASSERT_FALSE(file.isEmpty());
    if (GetParam() == Gone::WhileOffline) {
        ASSERT_TRUE(QFile::remove(file));
        EXPECT_EQ(a->text(id), QStringLiteral("start")) << "shown empty while offline";
    } else {
        removeOnAnswer = file;
    }
    a->reachability->reachable = true;
    ASSERT_TRUE(converge());
    for (const auto observer : observers)
        NotificationCenter::defaultCenter().removeObserver(observer);

    const QString kept =
        GetParam() == Gone::WhileOffline ? QStringLiteral("start") : QStringLiteral("edited");
    EXPECT_EQ(rootTextOf(emulator.file(path)->content), kept);
    EXPECT_EQ(a->text(id), kept);
    const DocumentInfo::Ref record = a->mode->state().docs.at(id);
    ASSERT_TRUE(QVFileInfo::hasFile(record->current()));
    EXPECT_TRUE(QFileInfo::exists(a->mode->localManagedFile(*record->current()->name())));
    if (GetParam() == Gone::WhileOffline) {
        const auto uploads = emulator.requests("files/upload");
        for (std::size_t i = std::size_t(uploadsBefore); i < uploads.size(); ++i)
            EXPECT_FALSE(uploads[i].argument.contains(path.toUtf8()))
                << "uploaded a change whose file was gone";
    } else {
        EXPECT_GT(emulator.count("files/upload"), uploadsBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, DropboxFileGoneTest,
                         ::testing::Values(Gone::WhileOffline, Gone::WhileUploading), [](const auto& info) {
                             return info.param == Gone::WhileOffline ? std::string("WhileOffline")
                                                                     : std::string("WhileUploading");
                         });

// An upload lands with its answer lost, and the document is saved again before the machine
// hears of it: the landed version is this machine's own earlier change, which the newer one
// was saved over, so the newer one simply replaces it (no conflict copy). A copy here, with a
// kill and a status file lost after it, left the same text on Dropbox twice.
class DropboxSupersededChangeTest : public DropboxPendingChangeTest,
                                    public ::testing::WithParamInterface<bool>
{};

TEST_P(DropboxSupersededChangeTest, TheNewerChangeReplacesItWithoutACopy)
{
    const bool newDocument = GetParam();
    a->start();
    QString id;
    if (newDocument) {
        // Offline, so that the new document's first upload is the one whose answer is lost.
        ASSERT_TRUE(converge());
        ASSERT_NO_FATAL_FAILURE(goOffline());
        id = a->create(QStringLiteral("first"));
        a->reachability->reachable = true;
    } else {
        id = a->create(QStringLiteral("start"));
        ASSERT_TRUE(converge());
        ASSERT_TRUE(a->edit(id, QStringLiteral("first")));
    }
    ASSERT_FALSE(id.isEmpty());
    const int uploads = emulator.count("files/upload");
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Drop, 1);
    ASSERT_TRUE(pumpDropbox([&] { return emulator.count("files/upload") > uploads; }, 60.0));
    ASSERT_TRUE(emulator.file(id.mid(8)).has_value());
    ASSERT_EQ(rootTextOf(emulator.file(id.mid(8))->content), QStringLiteral("first"));
    ASSERT_TRUE(a->edit(id, QStringLiteral("second")));
    ASSERT_TRUE(converge());

    const DocumentDump expected{{id, QStringLiteral("second")}};
    EXPECT_EQ(remoteDump(), expected);
    EXPECT_EQ(a->dump(), expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, DropboxSupersededChangeTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "New" : "OnDropbox"; });

} // namespace corvex::test
