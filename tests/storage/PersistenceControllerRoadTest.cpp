// The one road: every operation goes to the object that serves the location (the temporary
// location's or a workspace), and the temporary location and the workspaces answer the
// same through it.

#include "tests/storage/PersistenceControllerTestSupport.h"

using namespace corvex;
using namespace corvex::test;

namespace {

// What one call answered, and whether it answered inside the call (before it returned).
struct RoadAnswer
{
    QString value;
    bool inside = false;
};

class PersistenceControllerRoad : public ControllerTest
{
protected:
    // Calls `call` with a completion that writes down the answer; waits for it.
    RoadAnswer run(const std::function<void(std::function<void(QString)>)>& call)
    {
        auto answered = std::make_shared<int>(0);
        auto value = std::make_shared<QString>();
        auto returned = std::make_shared<bool>(false);
        auto inside = std::make_shared<bool>(false);
        call([answered, value, returned, inside](QString answer) {
            EXPECT_TRUE(MainQueue::isMainThread()) << "answered off the main thread";
            ++*answered;
            *value = std::move(answer);
            *inside = !*returned;
        });
        *returned = true;
        EXPECT_TRUE(advanceUntil([answered] { return *answered > 0; })) << "never answered";
        runUntil([] { return false; }, 0.05); // a second answer would arrive now
        EXPECT_EQ(*answered, 1) << "answered more than once";
        return RoadAnswer{*value, *inside};
    }
};

QString tokenText(qint64 token)
{
    return token > 0 ? QStringLiteral("token") : QString::number(token);
}

QString yesNo(bool ok)
{
    return ok ? QStringLiteral("YES") : QStringLiteral("NO");
}

} // namespace

TEST_F(PersistenceControllerRoad, TheTemporaryLocationAndTheWorkspacesAnswerTheSame)
{
    start();
    publishDocuments(kICloud, {});
    publishDocuments(kDropbox, {});

    struct Context
    {
        std::shared_ptr<IdeaDocument> document;
        qint64 token = 0;
    };
    // Each row runs on the document of the rows before it. `timed`: the moment of the answer
    // is part of the contract for every location (a release is not: a temporary document's
    // touches no file).
    const struct
    {
        const char* operation;
        bool timed;
        std::function<void(PersistenceController&, Context&, std::function<void(QString)>)> call;
    } rows[] = {
        {"create", true,
         [](PersistenceController& c, Context& x, auto answer) {
             c.createDocument(x.document, [&x, answer](qint64 token) {
                 x.token = token;
                 answer(tokenText(token));
             });
         }},
        {"create it again", true,
         [](PersistenceController& c, Context& x, auto answer) {
             c.createDocument(x.document, [answer](qint64 token) { answer(tokenText(token)); });
         }},
        {"save", true,
         [](PersistenceController& c, Context& x, auto answer) {
             x.document->idea()->setText(QStringLiteral("saved root"));
             c.saveDocument(x.document, x.token, [answer](bool ok) { answer(yesNo(ok)); });
         }},
        {"release", false,
         [](PersistenceController& c, Context& x, auto answer) {
             c.releaseDocument(x.document, x.token, [answer] { answer(QStringLiteral("released")); });
         }},
        {"fetch the root", true,
         [](PersistenceController& c, Context& x, auto answer) {
             c.fetchRootIdea(x.document->docIdentifier(),
                             [answer](const IdeaPtr& root) { answer(dump(root)); });
         }},
        {"open", true,
         [](PersistenceController& c, Context& x, auto answer) {
             c.openDocument(x.document, [&x, answer](qint64 token) {
                 x.token = token;
                 answer(tokenText(token) + QLatin1Char(' ') + dump(x.document->idea()));
             });
         }},
        {"release the open one", false,
         [](PersistenceController& c, Context& x, auto answer) {
             c.releaseDocument(x.document, x.token, [answer] { answer(QStringLiteral("released")); });
         }},
        {"fetch an idea", true,
         [](PersistenceController& c, Context& x, auto answer) {
             c.fetchIdea(QStringLiteral("idd_1"), x.document->docIdentifier(), [answer](const IdeaPtr& idea) {
                 answer(idea ? idea->text() : QStringLiteral("(null)"));
             });
         }},
        {"delete", true,
         [](PersistenceController& c, Context& x, auto answer) {
             c.deleteDocument(x.document->docIdentifier(), [answer](bool ok) { answer(yesNo(ok)); });
         }},
        {"open nothing", true,
         [](PersistenceController& c, Context&, auto answer) {
             c.openDocument(nullptr, [answer](qint64 token) { answer(tokenText(token)); });
         }},
        {"save nothing", true,
         [](PersistenceController& c, Context&, auto answer) {
             c.saveDocument(nullptr, 1, [answer](bool ok) { answer(yesNo(ok)); });
         }},
    };

    std::map<StorageLocation, std::vector<RoadAnswer>> answers;
    for (const StorageLocation location : {kTemp, kICloud, kDropbox}) {
        SCOPED_TRACE(testing::Message() << "location " << location);
        Context context;
        context.document = IdeaDocument::initWithFileName(QString(), location);
        context.document->setIdea(smallTree(QStringLiteral("road")));
        for (const auto& row : rows) {
            SCOPED_TRACE(row.operation);
            answers[location].push_back(
                run([&](std::function<void(QString)> answer) { row.call(controller(), context, answer); }));
        }
    }

    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].operation);
        const RoadAnswer& temporary = answers[kTemp][i];
        for (const StorageLocation location : {kICloud, kDropbox}) {
            const RoadAnswer& cloud = answers[location][i];
            EXPECT_EQ(cloud.value, temporary.value) << "location " << location;
            if (rows[i].timed) {
                EXPECT_EQ(cloud.inside, temporary.inside) << "location " << location;
            }
        }
    }
    // What they answered, so that "the same" is not the same failure.
    EXPECT_EQ(answers[kTemp][0].value, QStringLiteral("token"));
    EXPECT_FALSE(answers[kTemp][0].inside);
    EXPECT_EQ(answers[kTemp][1].value, QStringLiteral("0"));
    EXPECT_FALSE(answers[kTemp][1].inside) << "a document stored already is refused later, like any answer";
    EXPECT_EQ(answers[kTemp][2].value, QStringLiteral("YES"));
    EXPECT_TRUE(answers[kTemp][4].value.contains(QStringLiteral("saved root")))
        << answers[kTemp][4].value.toStdString();
    EXPECT_TRUE(answers[kTemp][5].value.startsWith(QStringLiteral("token <Idea")))
        << answers[kTemp][5].value.toStdString();
    EXPECT_EQ(answers[kTemp][7].value, QStringLiteral("grandchild"));
    EXPECT_EQ(answers[kTemp][8].value, QStringLiteral("YES"));
    EXPECT_EQ(answers[kTemp][9].value, QStringLiteral("0"));
    EXPECT_FALSE(answers[kTemp][9].inside);
    EXPECT_EQ(answers[kTemp][10].value, QStringLiteral("NO"));
}

TEST_F(PersistenceControllerRoad, LocationsNothingServesFailEveryOperationWithoutTrying)
{
    start(/*iCloud=*/false, /*dropbox=*/true);
    const struct
    {
        const char* what;
        StorageLocation location;
    } unserved[] = {{"a local file", kLocalFile}, {"iCloud without a workspace", kICloud}};
    for (const auto& place : unserved) {
        SCOPED_TRACE(place.what);
        auto document = IdeaDocument::initWithFileName(QStringLiteral("id1_1.crvx"), place.location);
        document->setIdea(smallTree(QStringLiteral("nowhere")));
        const QString identifier = document->docIdentifier();
        const std::vector<std::pair<const char*, std::function<void(std::function<void(QString)>)>>> calls = {
            {"create",
             [&](auto answer) {
                 controller().createDocument(document, [answer](qint64 t) { answer(tokenText(t)); });
             }},
            {"open",
             [&](auto answer) {
                 controller().openDocument(document, [answer](qint64 t) { answer(tokenText(t)); });
             }},
            {"save",
             [&](auto answer) {
                 controller().saveDocument(document, 1, [answer](bool ok) { answer(yesNo(ok)); });
             }},
            {"delete",
             [&](auto answer) {
                 controller().deleteDocument(identifier, [answer](bool ok) { answer(yesNo(ok)); });
             }},
            {"fetch the root",
             [&](auto answer) {
                 controller().fetchRootIdea(identifier, [answer](const IdeaPtr& r) { answer(dump(r)); });
             }},
        };
        const QStringList expected = {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("NO"),
                                      QStringLiteral("NO"), QStringLiteral("(null)")};
        for (std::size_t i = 0; i < calls.size(); ++i) {
            SCOPED_TRACE(calls[i].first);
            const RoadAnswer answer = run(calls[i].second);
            EXPECT_EQ(answer.value, expected[int(i)]);
            EXPECT_FALSE(answer.inside);
        }
        EXPECT_EQ(controller().statusForLocation(place.location), WorkspaceStatus::Unavailable);
        EXPECT_FALSE(controller().isLocationReadyForUse(place.location));
        EXPECT_EQ(controller().attachmentManagerForLocation(place.location), nullptr);
        EXPECT_FALSE(controller().proxyListForLocation(place.location).has_value());
    }
    EXPECT_EQ(controller().statusForLocation(7), WorkspaceStatus::Unavailable) << "a number no location has";
    EXPECT_EQ(controller().attachmentManagerForLocation(7), nullptr);
    // A cloud location without a workspace hands out no handles; the others make one.
    EXPECT_EQ(controller().documentForIdentifier(QStringLiteral("iCloud:/id1_1.crvx")), nullptr);
    EXPECT_NE(controller().documentForIdentifier(QStringLiteral("file:///tmp/id1_1.crvx")), nullptr);
    EXPECT_NE(controller().documentForIdentifier(QStringLiteral("temp:/id1_1.crvx")), nullptr);
}

TEST_F(PersistenceControllerRoad, AttachmentsCopyBetweenLocationsOnlyWhenTheyDiffer)
{
    start(/*iCloud=*/false, /*dropbox=*/true);
    publishDocuments(kDropbox, {});
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("with an attachment"));
    const QByteArray bytes("attachment bytes");
    const ObjectID attachment = ObjectID::createFromData(bytes, QStringLiteral("bin"));
    idea->setAtt(attachment);
    ASSERT_TRUE(run([&](auto answer) {
                    controller().storeAttachment(attachment, bytes, kTemp,
                                                 [answer](bool ok) { answer(yesNo(ok)); });
                }).value == QStringLiteral("YES"));
    const struct
    {
        const char* what;
        QString from;
        StorageLocation to;
        QString expected;
    } cases[] = {
        {"within one location", QStringLiteral("temp:/id1_1.crvx"), kTemp, QStringLiteral("YES")},
        {"temporary to Dropbox", QStringLiteral("temp:/id1_1.crvx"), kDropbox, QStringLiteral("YES")},
        {"within a location nothing serves", QStringLiteral("iCloud:/id1_1.crvx"), kICloud,
         QStringLiteral("YES")},
        {"into a location nothing serves", QStringLiteral("temp:/id1_1.crvx"), kICloud, QStringLiteral("NO")},
        {"between two locations nothing serves", QStringLiteral("iCloud:/id1_1.crvx"), kLocalFile,
         QStringLiteral("NO")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RoadAnswer answer = run([&](auto reply) {
            controller().copyAttachments(idea, c.from, c.to, [reply](bool ok) { reply(yesNo(ok)); });
        });
        EXPECT_EQ(answer.value, c.expected);
    }
    const RoadAnswer fetched = run([&](auto answer) {
        controller().fetchAttachment(attachment, kDropbox,
                                     [answer](const QByteArray& data) { answer(QString::fromLatin1(data)); });
    });
    EXPECT_EQ(fetched.value, QString::fromLatin1(bytes)) << "the copy reached Dropbox";
}

// What waits for a location's list hears on a later turn on every road: a location that keeps
// no list, a complete list, a list that completes later, a workspace closed while waiting.
TEST_F(PersistenceControllerRoad, WhatWaitsForTheListHearsOnALaterTurnOnEveryRoad)
{
    start(/*iCloud=*/true, /*dropbox=*/true);
    publishDocuments(kDropbox, {});
    const QString listed = QStringLiteral("dropbox:/listed.crvx");
    const QString pending = QStringLiteral("iCloud:/pending.crvx");
    CompletionRecorder recorder;
    controller().whenListComplete(QStringLiteral("temp:/kept.crvx"),
                                  recorder.expect<>(QStringLiteral("no list")));
    controller().whenListComplete(listed, recorder.expect<>(QStringLiteral("complete list")));
    controller().whenListComplete(QStringLiteral("file:///tmp/file.crvx"),
                                  recorder.expect<>(QStringLiteral("unserved")));
    controller().whenListComplete(pending, recorder.expect<>(QStringLiteral("list completed later")));
    EXPECT_EQ(recorder.callCount(QStringLiteral("list completed later")), 0);
    publishDocuments(kICloud, {});
    EXPECT_TRUE(recorder.waitAll());

    auto closing = controller().workspaceForLocation(kDropbox);
    ASSERT_NE(closing, nullptr);
    closing->closeWorkspace();
    closing->whenListComplete(recorder.expect<>(QStringLiteral("closed workspace")));
    EXPECT_TRUE(recorder.waitAll());
}

// Documents fetch attachments through the controller's fetcher; once the controller is gone
// the fetcher still answers null bytes on a later turn, never inside the fetch.
TEST_F(PersistenceControllerRoad, TheAttachmentFetcherAnswersOnALaterTurnAfterTheControllerWent)
{
    const auto fetcher = PersistenceController::attachmentFetcher({});
    CompletionRecorder recorder;
    fetcher(ObjectID::createFromData("gone", QStringLiteral("png")), kTemp,
            recorder.expect<const QByteArray&>(QStringLiteral("fetched after shutdown"),
                                               [](const QByteArray& data) { EXPECT_TRUE(data.isNull()); }));
    EXPECT_TRUE(recorder.waitAll());
}
