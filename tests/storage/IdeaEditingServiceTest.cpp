#include "storage/IdeaEditingService.h"

#include "model/Idea.h"
#include "platform/core/MainQueue.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaEditObserver.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>
#include <vector>

namespace corvex {
namespace {

using test::CompletionRecorder;
using test::ScopedVirtualTime;
using Outcome = IdeaEditOutcome;
using Kind = IdeaEditSummary::Kind;

const QString kOther = QStringLiteral("temp:/other.crvx");

struct HeardEdits : IdeaEditObserver
{
    void ideaTreeEdited(const IdeaEditSummary& summary) override { heard.push_back(summary); }
    std::vector<IdeaEditSummary> heard;
};

// A tree R: a(a1), b, c in an open document; saves and removals answer later as told.
class EditingServiceTest : public ::testing::Test
{
protected:
    EditingServiceTest()
    {
        root = Idea::initWithText(QStringLiteral("R"));
        for (const char* text : {"a", "b", "c"})
            EXPECT_TRUE(root->addIdea(Idea::initWithText(QString::fromLatin1(text))));
        EXPECT_TRUE(child(0)->addIdea(Idea::initWithText(QStringLiteral("a1"))));
        document->setIdea(root);
        service.addObserver(&observer);
    }

    IdeaPtr child(std::size_t i) const { return root->ideas()[i]; }
    QStringList texts(const IdeaPtr& idea) const
    {
        QStringList out;
        for (const IdeaPtr& c : idea->ideas())
            out << (c->isLink() ? QStringLiteral("->") : c->text());
        return out;
    }
    // A completion that must run once, later, with `expected`.
    IdeaEditingService::EditCompletion expect(const QString& name, Outcome expected)
    {
        return recorder.expect<const IdeaEditResult&>(
            name, std::function<void(const IdeaEditResult&)>([expected, name](const IdeaEditResult& result) {
                EXPECT_EQ(result.outcome, expected)
                    << name.toStdString() << ": " << result.reason.toStdString();
            }));
    }
    void finish()
    {
        time.runDue();
        EXPECT_TRUE(recorder.verify());
    }

    ScopedVirtualTime time;
    CompletionRecorder recorder;
    std::shared_ptr<IdeaDocument> document =
        IdeaDocument::initWithIdentifier(QStringLiteral("temp:/this.crvx"));
    IdeaPtr root;
    HeardEdits observer;
    bool saveWorks = true;
    bool removalWorks = true;
    int saves = 0;
    QStringList removed;
    IdeaEditingService service{
        [this] { return document; },
        [this](IdeaEditingService::BoolCompletion done) {
            ++saves;
            done(saveWorks);
        },
        [this](const QString& idea, const QString& from, IdeaEditingService::BoolCompletion done) {
            removed << idea + QLatin1Char('@') + from;
            done(removalWorks);
        }};
};

TEST_F(EditingServiceTest, InsertPlacesTheIdeaCountsOnceAndAnswersLater)
{
    struct Case
    {
        std::int64_t position;
        std::int64_t index;
    } cases[] = {{0, 0}, {2, 2}, {IdeaEditingService::AtEnd, 5}, {99, 6}};
    for (const Case& c : cases)
        service.insertIdea(root, Idea::initWithText(QStringLiteral("n")), c.position,
                           expect(QStringLiteral("insert %1").arg(c.position), Outcome::Changed));
    ASSERT_EQ(observer.heard.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(observer.heard[i].kind, Kind::Insert);
        EXPECT_EQ(observer.heard[i].toIndex, cases[i].index);
        EXPECT_EQ(observer.heard[i].changeCount, i + 1);
    }
    EXPECT_EQ(document->changeCount(), 4u);
    EXPECT_EQ(saves, 4);
    service.insertIdea(Idea::initWithText(QStringLiteral("elsewhere")),
                       Idea::initWithText(QStringLiteral("n")), 0,
                       expect(QStringLiteral("outside the tree"), Outcome::Refused));
    finish();
    EXPECT_EQ(document->changeCount(), 4u);
    EXPECT_EQ(observer.heard.size(), 4u);
}

TEST_F(EditingServiceTest, MoveWithinTheDocumentCountsSlotsBeforeTheIdeaLeavesAndRefusesTheImpossible)
{
    const IdeaPtr a = child(0);
    service.moveIdea(a, document->docIdentifier(), root, 3,
                     expect(QStringLiteral("behind c"), Outcome::Moved));
    EXPECT_EQ(texts(root), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
    ASSERT_EQ(observer.heard.size(), 1u);
    EXPECT_EQ(observer.heard[0].fromIndex, 0);
    EXPECT_EQ(observer.heard[0].toIndex, 2);
    // A copy read from storage stands for the tree's own idea.
    const IdeaPtr a1 = Idea::initWithText(QStringLiteral("a1"), a->ideas()[0]->identifier());
    service.moveIdea(a1, document->docIdentifier(), child(0), IdeaEditingService::AtEnd,
                     expect(QStringLiteral("into b"), Outcome::Moved));
    EXPECT_EQ(texts(child(0)), QStringList{QStringLiteral("a1")});
    EXPECT_TRUE(a->ideas().empty());
    service.moveIdea(root, document->docIdentifier(), child(0), 0,
                     expect(QStringLiteral("root"), Outcome::Refused));
    service.moveIdea(child(0), document->docIdentifier(), child(0)->ideas()[0], 0,
                     expect(QStringLiteral("into its own child"), Outcome::Refused));
    finish();
    EXPECT_EQ(document->changeCount(), 2u);
    EXPECT_TRUE(removed.isEmpty());
}

TEST_F(EditingServiceTest, MoveFromAnotherDocumentIsMovedOnlyWhenSavedAndRemovedElseCopied)
{
    struct Case
    {
        bool save;
        bool removal;
        Outcome outcome;
        int removals;
    } cases[] = {{true, true, Outcome::Moved, 1},
                 {true, false, Outcome::Copied, 1},
                 {false, true, Outcome::Copied, 0}};
    for (const Case& c : cases) {
        saveWorks = c.save;
        removalWorks = c.removal;
        removed.clear();
        const IdeaPtr foreign = Idea::initWithText(QStringLiteral("x"));
        const std::size_t before = root->ideas().size();
        service.moveIdea(foreign, kOther, root, 0,
                         expect(QStringLiteral("save %1 removal %2").arg(c.save).arg(c.removal), c.outcome));
        EXPECT_EQ(root->ideas().size(), before + 1);
        EXPECT_NE(child(0)->identifier(), foreign->identifier());
        EXPECT_TRUE(removed.isEmpty()) << "the source keeps the idea until the copy is saved";
        time.runDue();
        EXPECT_EQ(removed.size(), c.removals);
    }
    finish();
    EXPECT_EQ(observer.heard.size(), 3u);
}

TEST_F(EditingServiceTest, CopyAndLinkAddNewIdeasAndALinkStaysInsideTheTree)
{
    service.copyIdea(child(0), root, IdeaEditingService::AtEnd,
                     expect(QStringLiteral("copy"), Outcome::Copied));
    EXPECT_EQ(texts(root).last(), QStringLiteral("a"));
    EXPECT_NE(root->ideas().back()->identifier(), child(0)->identifier());
    EXPECT_EQ(texts(root->ideas().back()), QStringList{QStringLiteral("a1")});
    service.linkToIdea(child(1), child(2), 0, expect(QStringLiteral("link"), Outcome::Copied));
    ASSERT_EQ(child(2)->ideas().size(), 1u);
    EXPECT_EQ(child(2)->ideas()[0]->linkedIdentifier(), child(1)->identifier());
    service.linkToIdea(Idea::initWithText(QStringLiteral("foreign")), root, 0,
                       expect(QStringLiteral("link outside"), Outcome::Refused));
    finish();
    ASSERT_EQ(observer.heard.size(), 2u);
    EXPECT_EQ(observer.heard[0].kind, Kind::Copy);
    EXPECT_EQ(observer.heard[1].kind, Kind::Link);
}

TEST_F(EditingServiceTest, DeleteAndApplyValuesChangeTheTreeOnceAndRefuseTheRootOrAMissingIdea)
{
    const QString b = child(1)->identifier();
    service.applyValues(
        b, [](Idea& idea) { idea.setText(QStringLiteral("B")); },
        expect(QStringLiteral("values"), Outcome::Changed));
    EXPECT_EQ(child(1)->text(), QStringLiteral("B"));
    service.deleteIdea(b, expect(QStringLiteral("delete"), Outcome::Changed));
    EXPECT_EQ(texts(root), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    service.deleteIdea(root->identifier(), expect(QStringLiteral("delete root"), Outcome::Refused));
    service.applyValues(
        b, [](Idea&) { ADD_FAILURE() << "applied to a deleted idea"; },
        expect(QStringLiteral("values of a deleted idea"), Outcome::Refused));
    finish();
    ASSERT_EQ(observer.heard.size(), 2u);
    EXPECT_EQ(observer.heard[1].kind, Kind::Delete);
    EXPECT_EQ(observer.heard[1].fromIndex, 1);
}

TEST_F(EditingServiceTest, AStoredIdeaIsDeletedThroughStorageAndHeardOfOnlyWhenItWent)
{
    for (const bool works : {true, false}) {
        removalWorks = works;
        const std::size_t before = observer.heard.size();
        service.deleteStoredIdea(
            QString(), kOther,
            expect(QStringLiteral("stored %1").arg(works), works ? Outcome::Changed : Outcome::Refused));
        EXPECT_EQ(observer.heard.size(), before) << "heard before storage answered";
        time.runDue();
    }
    finish();
    ASSERT_EQ(observer.heard.size(), 1u);
    EXPECT_EQ(observer.heard[0].docIdentifier, kOther);
    EXPECT_EQ(removed.size(), 2);
}

// A drag out of an open document takes the idea as its screen shows it: a title typed but not
// stored yet (a full disk) goes with it. A document no screen has open is storage's to read.
TEST_F(EditingServiceTest, AnOpenDocumentsIdeaIsTheOneItsScreenShows)
{
    child(1)->setText(QStringLiteral("b typed, not stored"));
    const IdeaPtr shown =
        IdeaEditingService::ideaOfOpenTree(child(1)->identifier(), document->docIdentifier());
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text(), QStringLiteral("b typed, not stored"));
    EXPECT_EQ(IdeaEditingService::ideaOfOpenTree(QString(), document->docIdentifier()), root);
    EXPECT_EQ(IdeaEditingService::ideaOfOpenTree(child(1)->identifier(), kOther), nullptr);
    EXPECT_EQ(IdeaEditingService::ideaOfOpenTree(QStringLiteral("no such idea"), document->docIdentifier()),
              nullptr);
}

} // namespace
} // namespace corvex
