// The Dropbox location's notices as alerts: each posted notice is shown once, on a window of
// the location, one alert at a time and in order; a notice posted while no such window is
// shown waits for one. A stuck document is told once per document and cause, also across
// launches, and again after a new sign-in, when the user opens it, or when it stops again
// after it synced. (That the location posts
// each cause once, and again only after the cause changed, is the Dropbox tests' part; the
// journey sees the whole way.)

#include "shell/DropboxNoticeBoard.h"
#include "cloud/dropbox/DropboxSyncNotices.h"
#include "model/Globals.h"
#include "platform/core/LaunchSeams.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"
#include "shell/DropboxNoticeMemory.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>

namespace corvex::test {

namespace {

using DocumentNotSynced = DropboxSyncNotices::DocumentNotSynced;

// Alerts, virtual time and a chosen Dropbox; no board (a test makes its own launches).
class DropboxNoticeTest : public ::testing::Test
{
protected:
    DropboxNoticeTest()
    {
        Runners::setAlertRunner(alerts);
        Globals::optForDropbox(true);
        DropboxNoticeMemory::forgetAll();
    }
    ~DropboxNoticeTest() override
    {
        DropboxNoticeMemory::forgetAll();
        Runners::setAlertRunner(nullptr);
    }

    ScopedVirtualTime time;
    std::shared_ptr<ScriptedAlertRunner> alerts = std::make_shared<ScriptedAlertRunner>();
    std::shared_ptr<Window> window = std::make_shared<Window>();
    Window* shown = nullptr; // the window of the Dropbox location the board finds
};

class DropboxNoticeBoardTest : public DropboxNoticeTest
{
protected:
    DropboxNoticeBoard board{[this] { return shown; }};
};

} // namespace

TEST_F(DropboxNoticeBoardTest, ANoticeWaitsForAWindowOfTheLocationAndShowsOnce)
{
    DropboxSyncNotices::postAccessLost(nullptr);
    time.runDue();
    EXPECT_EQ(alerts->presentedCount(), 0) << "no window of the location";
    EXPECT_EQ(board.waitingCount(), 1u);

    shown = window.get();
    board.dropboxWindowShown();
    EXPECT_EQ(alerts->presentedCount(), 0) << "shown inside the window's call";
    time.runDue();
    ASSERT_EQ(alerts->presentedCount(), 1);
    const Alert& alert = alerts->presented().back();
    EXPECT_EQ(alert.messageText, DropboxNoticeBoard::AccessLostTitle);
    EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("\"Deactivate\", then \"Connect\"")))
        << alert.informativeText.toStdString();
    EXPECT_EQ(alert.buttons.size(), 1u);

    // More windows of the location, and time: nothing more to say.
    board.dropboxWindowShown();
    time.advance(60.0);
    EXPECT_EQ(alerts->presentedCount(), 1);
    EXPECT_EQ(board.waitingCount(), 0u);

    // Once Dropbox is no longer chosen (a failed sign-in opts out with an alert of its own), a
    // lost access is no news.
    DropboxSyncNotices::postAccessLost(nullptr);
    Globals::optForDropbox(false);
    time.runDue();
    EXPECT_EQ(alerts->presentedCount(), 1);
    EXPECT_EQ(board.waitingCount(), 0u);
}

TEST_F(DropboxNoticeBoardTest, EachDocumentNoticeSaysWhichDocumentAndWhereItsCopyIs)
{
    shown = window.get();
    const QString document = QStringLiteral("dropbox:/id1_1.crvx");
    const QString copy =
        QStringLiteral("/home/u/.local/share/com.tallowfen.corvex/dropbox/dropbox/file1_1.crvx");
    const struct
    {
        const char* name;
        DocumentNotSynced notice;
        QStringList said;
    } cases[] = {
        {"folder, kept here",
         {DocumentNotSynced::Reason::FolderAtPath, document, QStringLiteral("/id1_1.crvx"), document, copy},
         {QStringLiteral("A folder now stands"), QStringLiteral("/id1_1.crvx"), QStringLiteral("stays"),
          copy}},
        {"folder, edit moved",
         {DocumentNotSynced::Reason::FolderAtPath, document, QStringLiteral("/id1_1.crvx"),
          QStringLiteral("dropbox:/id2_7.crvx"), copy},
         {QStringLiteral("A folder now stands"), QStringLiteral("new document"), QStringLiteral("id2_7.crvx"),
          copy}},
        {"damaged",
         {DocumentNotSynced::Reason::DamagedContent, document, QStringLiteral("/id1_1.crvx"), document, copy},
         {QStringLiteral("does not match"), QStringLiteral("/id1_1.crvx"), copy}},
        {"damaged, never downloaded",
         {DocumentNotSynced::Reason::DamagedContent, document, QStringLiteral("/id1_1.crvx"), document, {}},
         {QStringLiteral("no copy of it on this computer")}},
    };
    for (const auto& c : cases) {
        const int before = alerts->presentedCount();
        DropboxSyncNotices::postDocumentNotSynced(nullptr, c.notice);
        time.runDue();
        ASSERT_EQ(alerts->presentedCount(), before + 1) << c.name;
        const Alert& alert = alerts->presented().back();
        // Not listed by the location here, and a file name the location made up: no title.
        EXPECT_EQ(alert.messageText,
                  QStringLiteral("A document without a title cannot be synced with Dropbox"))
            << c.name;
        // Told now: the next notice of the same document and cause would not be.
        DropboxNoticeMemory::forgetAll();
        for (const QString& part : c.said)
            EXPECT_TRUE(alert.informativeText.contains(part))
                << c.name << ": no \"" << part.toStdString() << "\" in "
                << alert.informativeText.toStdString();
    }
}

TEST_F(DropboxNoticeBoardTest, NoticesComeOneAtATimeInTheOrderPosted)
{
    shown = window.get();
    int depth = 0;
    int deepest = 0;
    std::vector<QString> order;
    alerts->setHandler([&](const Alert& alert) -> std::optional<int> {
        ++depth;
        deepest = std::max(deepest, depth);
        order.push_back(alert.messageText);
        // A notice arriving while an alert shows waits for it to close.
        if (order.size() == 1)
            DropboxSyncNotices::postDocumentNotSynced(nullptr, {DocumentNotSynced::Reason::DamagedContent,
                                                                QStringLiteral("dropbox:/b.crvx"),
                                                                QStringLiteral("/b.crvx"),
                                                                QStringLiteral("dropbox:/b.crvx"),
                                                                {}});
        time.runDue();
        --depth;
        return 0;
    });
    DropboxSyncNotices::postAccessLost(nullptr);
    DropboxSyncNotices::postDocumentNotSynced(nullptr, {DocumentNotSynced::Reason::FolderAtPath,
                                                        QStringLiteral("dropbox:/a.crvx"),
                                                        QStringLiteral("/a.crvx"),
                                                        QStringLiteral("dropbox:/a.crvx"),
                                                        {}});
    for (int turn = 0; turn < 5; ++turn)
        time.runDue();
    EXPECT_EQ(deepest, 1) << "an alert over an alert";
    EXPECT_EQ(order, (std::vector<QString>{DropboxNoticeBoard::AccessLostTitle,
                                           QStringLiteral("\"a.crvx\" cannot be synced with Dropbox"),
                                           QStringLiteral("\"b.crvx\" cannot be synced with Dropbox")}));
}

TEST_F(DropboxNoticeTest, AStuckDocumentIsToldOncePerCauseUntilSignInOpeningOrSyncing)
{
    shown = window.get();
    const auto post = [](const char* name, DocumentNotSynced::Reason reason) {
        const QString document = QStringLiteral("dropbox:/%1").arg(QLatin1String(name));
        DropboxSyncNotices::postDocumentNotSynced(nullptr, {reason, document, document.mid(8), document, {}});
    };
    const auto synced = [](const char* name) {
        DropboxSyncNotices::postDocumentSynced(nullptr,
                                               QStringLiteral("dropbox:/%1").arg(QLatin1String(name)));
    };
    const auto folder = DocumentNotSynced::Reason::FolderAtPath;
    const auto damaged = DocumentNotSynced::Reason::DamagedContent;
    const QString plans = QStringLiteral("\"plans.crvx\" cannot be synced with Dropbox");
    const QString untitled = QStringLiteral("A document without a title cannot be synced with Dropbox");
    std::vector<QString> said;
    alerts->setHandler([&](const Alert& alert) -> std::optional<int> {
        said.push_back(alert.messageText);
        return 0;
    });
    auto board = std::make_unique<DropboxNoticeBoard>([this] { return shown; });
    const auto launch = [&] {
        board.reset();
        board = std::make_unique<DropboxNoticeBoard>([this] { return shown; });
    };
    const struct
    {
        const char* name;
        std::function<void()> step;
        std::vector<QString> said;
    } steps[] = {
        {"first notice", [&] { post("plans.crvx", folder); }, {plans}},
        {"posted again", [&] { post("plans.crvx", folder); }, {}},
        {"posted at the next launch", [&] { launch(), post("plans.crvx", folder); }, {}},
        {"another cause of the same document", [&] { post("plans.crvx", damaged); }, {plans}},
        {"a name the location made", [&] { post("id17_3.crvx", folder); }, {untitled}},
        {"the user opens the stuck document",
         [&] { board->documentOpened(QStringLiteral("dropbox:/id17_3.crvx")); },
         {untitled}},
        {"the user opens a document that syncs",
         [&] { board->documentOpened(QStringLiteral("dropbox:/ok.crvx")); },
         {}},
        {"the stuck document syncs again", [&] { synced("plans.crvx"); }, {}},
        {"the user opens it once it syncs",
         [&] { board->documentOpened(QStringLiteral("dropbox:/plans.crvx")); },
         {}},
        {"stuck again, for a cause told before", [&] { post("plans.crvx", folder); }, {plans}},
        {"stuck again, posted once more", [&] { post("plans.crvx", folder); }, {}},
        {"a waiting notice of a document that syncs meanwhile",
         [&] {
             shown = nullptr;
             post("notes.crvx", damaged);
             synced("notes.crvx");
             shown = window.get();
             board->dropboxWindowShown();
         },
         {}},
        // (Told in the order of their identifiers.)
        {"a new sign-in",
         [&] { NotificationCenter::defaultCenter().post(DropboxNotifications::SignedIn); },
         {untitled, plans}},
        {"posted after the sign-in was told", [&] { post("id17_3.crvx", folder); }, {}},
    };
    for (const auto& step : steps) {
        said.clear();
        step.step();
        for (int turn = 0; turn < 5; ++turn)
            time.runDue();
        EXPECT_EQ(said, step.said) << step.name;
    }
}

} // namespace corvex::test
