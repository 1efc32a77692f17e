// The mind-map screen's edits through the editing service: every operation answers once, on
// a later turn, with its outcome, and a drop's edit holds the screen until it answered.

#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/CompletionRecorder.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using Outcome = IdeaEditOutcome;
using EditCompletion = SolarSystemViewController::EditCompletion;

// A drop's answer through the recorder: once, on a later turn, with the expected result.
DragSupportDelegate::DropCompletion expectDrop(CompletionRecorder& recorder, const QString& name,
                                               DragResult expected)
{
    return recorder.expect<DragResult>(name, std::function<void(DragResult)>([expected](DragResult result) {
                                           EXPECT_EQ(result, expected);
                                       }));
}

EditCompletion expectOutcome(CompletionRecorder& recorder, const QString& name, Outcome expected)
{
    return recorder.expect<const IdeaEditResult&>(
        name, std::function<void(const IdeaEditResult&)>([name, expected](const IdeaEditResult& result) {
            EXPECT_EQ(result.outcome, expected) << name.toStdString() << ": " << result.reason.toStdString();
        }));
}

// The user chooses Delete in the idea's context menu; false when the menu has none.
bool chooseDelete(SolarSystemViewController& screen, const IdeaPtr& idea)
{
    const auto menu = screen.onRightClickAtIdea(idea->identifier());
    if (!menu)
        return false;
    for (const auto& item : menu->items()) {
        if (item->title() == QStringLiteral("Delete")) {
            item->performAction();
            return true;
        }
    }
    return false;
}

} // namespace

TEST(MindMapScreenEdits, EachOperationAnswersOnceOnALaterTurnWithItsOutcome)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    qint64 sourceToken = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a(a1) b c)")), token);
    const auto source = rig.createDocument(treeFromOutline(QStringLiteral("S(x z)")), sourceToken);
    const auto screen = rig.showDocument(document, token);
    const QString here = document->docIdentifier();
    const IdeaPtr root = document->idea();
    const auto idea = [&](const char* text) { return findByText(root, QString::fromLatin1(text)); };

    struct Case
    {
        const char* name;
        std::function<void(EditCompletion)> edit;
        Outcome outcome;
    };
    const Case cases[] = {
        {"add",
         [&](EditCompletion done) {
             screen->addNewIdeaAfterIndex(0, Idea::initWithText(QStringLiteral("n")), std::move(done));
         },
         Outcome::Changed},
        {"move after",
         [&](EditCompletion done) { screen->moveIdeaAfter(idea("c"), here, 0, std::move(done)); },
         Outcome::Moved},
        {"move inside",
         [&](EditCompletion done) { screen->moveIdeaInside(idea("a1"), here, 0, std::move(done)); },
         Outcome::Moved},
        {"move the root",
         [&](EditCompletion done) { screen->moveIdeaInside(root, here, 0, std::move(done)); },
         Outcome::Refused},
        {"copy after", [&](EditCompletion done) { screen->copyIdeaAfter(idea("b"), 0, std::move(done)); },
         Outcome::Copied},
        {"copy inside", [&](EditCompletion done) { screen->copyIdeaInside(idea("b"), 1, std::move(done)); },
         Outcome::Copied},
        {"link", [&](EditCompletion done) { screen->createLinkToIdea(idea("a1"), 0, std::move(done)); },
         Outcome::Copied},
        {"link to another document",
         [&](EditCompletion done) {
             screen->createLinkToIdea(findByText(source->idea(), QStringLiteral("z")), 0, std::move(done));
         },
         Outcome::Refused},
        {"delete",
         [&](EditCompletion done) {
             EXPECT_TRUE(screen->deleteIdeaWithIdentifier(idea("n")->identifier(), std::move(done)));
         },
         Outcome::Changed},
        {"move from another document",
         [&](EditCompletion done) {
             screen->moveIdeaAfter(findByText(source->idea(), QStringLiteral("x")), source->docIdentifier(),
                                   0, std::move(done));
         },
         Outcome::Moved},
        // The source has no such idea: its removal fails, and the copy stays.
        {"move from another document that keeps it",
         [&](EditCompletion done) {
             screen->moveIdeaAfter(Idea::initWithText(QStringLiteral("ghost")), source->docIdentifier(), 0,
                                   std::move(done));
         },
         Outcome::Copied},
        {"editor's values",
         [&](EditCompletion done) {
             screen->applyIdeaValues(
                 idea("b")->identifier(), [](Idea& b) { b.setText(QStringLiteral("B")); }, std::move(done));
         },
         Outcome::Changed},
    };
    for (const Case& c : cases) {
        CompletionRecorder recorder;
        const quint64 before = document->changeCount();
        c.edit(expectOutcome(recorder, QString::fromLatin1(c.name), c.outcome));
        EXPECT_EQ(recorder.callCount(QString::fromLatin1(c.name)), 0)
            << c.name << " answered inside the call";
        EXPECT_EQ(document->changeCount(), before + (c.outcome == Outcome::Refused ? 0 : 1)) << c.name;
        ASSERT_TRUE(rig.settle([&] { return recorder.allCalled() && screen->savesInFlight() == 0; }))
            << c.name;
        EXPECT_TRUE(recorder.verify()) << c.name;
    }
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))),
              QStringLiteral("R(a(a1) ghost x ->a1 B(b) c b)"));
    EXPECT_EQ(outline(readStoredTree(storedPath(*source))), QStringLiteral("S(z)"));
}

TEST(MindMapScreenEdits, WhileADropsMoveIsUnansweredASecondDropADeleteAndACloseWait)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a b c)")), token);
    const auto screen = rig.showDocument(document, token);
    const IdeaPtr c = findByText(document->idea(), QStringLiteral("c"));

    rig.menus->chooseTitle(
        SolarSystemViewController::dropChoiceTitle(SolarSystemViewController::DropChoice::MoveHere));
    const auto drag =
        ideaDrag(adderInWindow(*screen, 0), DragInfo::Source::ThisWindow, c, document->docIdentifier());
    CompletionRecorder recorder;
    ASSERT_TRUE(screen->dragOperationStarted(drag));
    screen->dragOperationUpdate(drag);
    screen->dragOperationEndedAcceptingIdea(
        drag, c, document->docIdentifier(),
        expectDrop(recorder, QStringLiteral("first drop"), DragResult::Moved));
    // The menu answered at once; the move's answer is still to come.
    ASSERT_EQ(recorder.callCount(QStringLiteral("first drop")), 0);
    EXPECT_EQ(screen->currentOccupyingOperation(), SolarSystemViewController::EditUnderWayOperation);

    // A second drop is refused (answered on a later turn); a Delete from the menu and a close wait.
    screen->dragOperationEndedAcceptingIdea(
        drag, findByText(document->idea(), QStringLiteral("a")), document->docIdentifier(),
        expectDrop(recorder, QStringLiteral("second drop"), DragResult::NotAccepted));
    ASSERT_TRUE(chooseDelete(*screen, findByText(document->idea(), QStringLiteral("b"))));
    EXPECT_FALSE(screen->startClosingCanCloseNow());

    ASSERT_TRUE(rig.settle([&] { return recorder.allCalled() && screen->savesInFlight() == 0; }));
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(a c b)"))
        << "the Delete was not made";
    ASSERT_TRUE(rig.settle([&] { return rig.window->closes > 0; })) << "the close waited for the answer";
}

TEST(MindMapScreenEdits, ADropRefusedWhileAMenusDeleteIsUnansweredLeavesTheScreenHeld)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a b)")), token);
    const auto screen = rig.showDocument(document, token);
    const IdeaPtr a = findByText(document->idea(), QStringLiteral("a"));
    ASSERT_TRUE(chooseDelete(*screen, a));
    ASSERT_EQ(screen->currentOccupyingOperation(), SolarSystemViewController::EditUnderWayOperation);

    CompletionRecorder recorder;
    const auto drag =
        ideaDrag(adderInWindow(*screen, 0), DragInfo::Source::ThisWindow, a, document->docIdentifier());
    screen->dragOperationEndedAcceptingIdea(
        drag, a, document->docIdentifier(),
        expectDrop(recorder, QStringLiteral("refused"), DragResult::NotAccepted));
    EXPECT_EQ(screen->currentOccupyingOperation(), SolarSystemViewController::EditUnderWayOperation);

    ASSERT_TRUE(rig.settle([&] { return !screen->screenOccupied() && screen->savesInFlight() == 0; }));
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(b)"));
}

} // namespace corvex::test
