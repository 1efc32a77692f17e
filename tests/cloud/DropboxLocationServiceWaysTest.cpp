// The Dropbox location on two machines when the service does what it only sometimes does:
// stalled answers that the client's time-out ends, listings in any order with changes and
// expired cursors between their pages, writers colliding, tokens expiring with time, a full
// account.

#include "tests/cloud/DropboxMachineSupport.h"

#include <atomic>

namespace corvex::test {

namespace {

int answersContaining(const DropboxEmulator& emulator, const QByteArray& route, const QByteArray& piece)
{
    int n = 0;
    for (const auto& request : emulator.requests(route))
        n += request.answer.contains(piece) ? 1 : 0;
    return n;
}

} // namespace

using DropboxLocationServiceWaysTest = DropboxMachinesFixture;

// Replies that stall until the client gives up (0.3 s here): the stalled download is fetched
// again, the upload whose answer stalled had landed, and both machines end where Dropbox is
// with the document's content in every copy. (The location cannot know the lost upload
// landed: the next listing shows it under a revision the record never had, and the record's
// change is resolved against it as a conflict, so the same content may be kept twice.)
TEST_F(DropboxLocationServiceWaysTest, StalledAnswersEndWithTheClientsTimeoutAndSyncGoesOn)
{
    a = std::make_unique<DropboxMachine>(QStringLiteral("patientA"), makeUser(QStringLiteral("good"), 0.3));
    b = std::make_unique<DropboxMachine>(QStringLiteral("patientB"), makeUser(QStringLiteral("good"), 0.3));
    a->start();
    b->start();
    ASSERT_TRUE(converge());
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Stall);
    emulator.injectFault("files/download", DropboxEmulator::Fault::Stall);
    const QString id = a->create(QStringLiteral("stalled twice"));
    ASSERT_FALSE(id.isEmpty());
    ASSERT_TRUE(converge());
    const DocumentDump remote = remoteDump();
    ASSERT_EQ(remote.count(id), 1u);
    for (const auto& [identifier, text] : remote)
        EXPECT_EQ(text, QStringLiteral("stalled twice")) << identifier.toStdString();
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(b->dump(), remote);
    EXPECT_EQ(emulator.stalledAnswers(), 0);
    EXPECT_GE(emulator.count("files/upload"), 2);
    EXPECT_GE(emulator.count("files/download"), 2);
}

// Listings shuffled, paged two entries at a time, with another program's document landing
// between pages and every cursor expiring once mid-listing; writes of the two machines
// colliding (429 too_many_write_operations); access tokens living 15 minutes. Both machines
// end where Dropbox is, with every document.
TEST_F(DropboxLocationServiceWaysTest, TheServicesOccasionalWaysStillConverge)
{
    emulator.setPageSize(2);
    emulator.shuffleListings(11);
    emulator.setWriteContention(2.0);
    emulator.setAccessTokenLifetime(900.0);
    a->start();
    b->start();
    QStringList ids;
    for (int i = 0; i < 4; ++i)
        ids << a->create(QStringLiteral("from A %1").arg(i));
    ids << b->create(QStringLiteral("from B"));
    ASSERT_TRUE(converge());

    std::atomic<int> pages{0};
    const QByteArray outside = emulator.file(ids.front().mid(8))->content;
    emulator.setBetweenPages([&] {
        const int page = ++pages;
        if (page == 2)
            emulator.putFile(QStringLiteral("/outside.crvx"), outside);
        if (page == 4)
            emulator.expireCursors();
    });
    ASSERT_TRUE(a->edit(ids.at(1), QStringLiteral("edited on A")));
    ASSERT_TRUE(b->edit(ids.at(2), QStringLiteral("edited on B")));
    pass(1000.0); // past every token's lifetime
    ASSERT_TRUE(converge());
    emulator.setBetweenPages(nullptr);
    ASSERT_TRUE(converge());

    const DocumentDump remote = remoteDump();
    EXPECT_EQ(remote.size(), 6u);
    EXPECT_EQ(remote.at(ids.at(1)), QStringLiteral("edited on A"));
    EXPECT_EQ(remote.at(ids.at(2)), QStringLiteral("edited on B"));
    EXPECT_EQ(remote.count(QStringLiteral("dropbox:/outside.crvx")), 1u);
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(b->dump(), remote);
    EXPECT_GE(pages.load(), 4);
    EXPECT_GE(answersContaining(emulator, "files/list_folder/continue", "reset"), 1);
    EXPECT_GE(emulator.count("oauth2/token"), 1);
    EXPECT_EQ(emulator.countWithStatus(400), 0);
}

// A full account: the new document stays on this machine, readable, while Dropbox refuses it
// (409 insufficient_space); once there is space it reaches Dropbox and the other machine.
TEST_F(DropboxLocationServiceWaysTest, AFullAccountKeepsTheDocumentHereUntilThereIsSpace)
{
    a->start();
    b->start();
    ASSERT_TRUE(converge());
    emulator.setQuota(emulator.usedBytes() + 16);
    const QString id = a->create(QStringLiteral("waiting for space"));
    ASSERT_FALSE(id.isEmpty());
    pass(60.0);
    EXPECT_FALSE(emulator.file(id.mid(8)).has_value());
    EXPECT_EQ(a->text(id), QStringLiteral("waiting for space"));
    EXPECT_GE(answersContaining(emulator, "files/upload", "insufficient_space"), 1);

    emulator.setQuota(0);
    ASSERT_TRUE(converge());
    EXPECT_EQ(remoteDump(), (DocumentDump{{id, QStringLiteral("waiting for space")}}));
    EXPECT_EQ(b->dump(), remoteDump());
}

} // namespace corvex::test
