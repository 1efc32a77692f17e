// The home screen's edits of stored documents through the editing service: each answers once,
// on a later turn, with its outcome, and a drop's move holds the screen until it answered.

#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/home/HomeScreenRig.h"
#include "tests/support/CompletionRecorder.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using Choice = HomeViewController::DropChoice;

IdeaPtr twoLeaves(int i)
{
    return homeTree(QStringLiteral("doc %1").arg(i), 2, homeColor(i));
}

// Drops the idea of document `from` on the planet of document `onto`, choosing `choice`.
void dropOnPlanet(HomeScreenRig& rig, const IdeaPtr& idea, const QString& from, const QString& onto,
                  Choice choice, DragSupportDelegate::DropCompletion completion)
{
    rig.base.menus->chooseTitle(HomeViewController::dropChoiceTitle(choice));
    const auto info = ideaDrag(rig.planetCentreInWindow(onto), DragInfo::Source::ThisWindow, idea, from,
                               HomeViewController::GridItemReturnTarget);
    ASSERT_TRUE(rig.screen->dragOperationStarted(info));
    rig.screen->dragOperationUpdate(info);
    rig.screen->dragOperationEndedAcceptingIdea(info, idea, from, std::move(completion));
}

} // namespace

TEST(HomeScreenEdits, DeletesAnswerOnceOnALaterTurnChangedOrRefused)
{
    HomeScreenRig rig(3, twoLeaves);
    const auto screen = rig.show();
    const QStringList ids = rig.identifiers();
    const IdeaPtr leaf = rig.state->storedTree(ids[1])->ideas().front();
    struct Case
    {
        QString name;
        std::function<void(HomeViewController::EditCompletion)> edit;
        IdeaEditOutcome outcome;
    };
    const Case cases[] = {
        {QStringLiteral("document"), [&](auto done) { screen->deleteDocument(ids[0], std::move(done)); },
         IdeaEditOutcome::Changed},
        {QStringLiteral("idea"),
         [&](auto done) { screen->deleteIdea(leaf->identifier(), ids[1], std::move(done)); },
         IdeaEditOutcome::Changed},
        {QStringLiteral("missing idea"),
         [&](auto done) { screen->deleteIdea(QStringLiteral("none"), ids[2], std::move(done)); },
         IdeaEditOutcome::Refused},
    };
    for (const Case& c : cases) {
        CompletionRecorder recorder;
        c.edit(recorder.expect<const IdeaEditResult&>(
            c.name, std::function<void(const IdeaEditResult&)>([&c](const IdeaEditResult& result) {
                EXPECT_EQ(result.outcome, c.outcome) << c.name.toStdString();
            })));
        ASSERT_TRUE(rig.settle([&] { return recorder.allCalled(); })) << c.name.toStdString();
        EXPECT_TRUE(recorder.verify());
    }
    ASSERT_TRUE(rig.settle([&] { return rig.gridIdentifiers().size() == 2; }));
    EXPECT_EQ(outline(rig.state->storedTree(ids[1])), QStringLiteral("doc 1(child 1)"));
}

TEST(HomeScreenEdits, ADropEndsWithItsOutcomeAndASecondDropWhileItIsUnansweredIsRefused)
{
    HomeScreenRig rig(3, twoLeaves);
    const auto screen = rig.show();
    const QStringList ids = rig.identifiers();
    for (const Choice choice : {Choice::CopyInside, Choice::MoveInside}) {
        const IdeaPtr leaf = rig.state->storedTree(ids[0])->ideas().front();
        CompletionRecorder recorder;
        const QString name = choice == Choice::CopyInside ? QStringLiteral("copy") : QStringLiteral("move");
        const DragResult expected = choice == Choice::CopyInside ? DragResult::Copied : DragResult::Moved;
        dropOnPlanet(
            rig, leaf, ids[0], ids[1], choice,
            recorder.expect<DragResult>(name, std::function<void(DragResult)>([expected](DragResult result) {
                                            EXPECT_EQ(result, expected);
                                        })));
        EXPECT_EQ(recorder.callCount(name), 0) << "answered inside the drop";
        EXPECT_EQ(screen->currentOccupyingOperation(), HomeViewController::EditUnderWayOperation);

        // A second drop is refused, answered on a later turn too.
        screen->dragOperationEndedAcceptingIdea(
            ideaDrag(rig.planetCentreInWindow(ids[2]), DragInfo::Source::ThisWindow, leaf, ids[0]), leaf,
            ids[0],
            recorder.expect<DragResult>(name + QStringLiteral(": second"),
                                        std::function<void(DragResult)>([](DragResult result) {
                                            EXPECT_EQ(result, DragResult::NotAccepted);
                                        })));

        ASSERT_TRUE(rig.settle([&] { return recorder.allCalled(); })) << name.toStdString();
        EXPECT_TRUE(recorder.verify());
        EXPECT_FALSE(screen->screenOccupied());
    }
    EXPECT_EQ(outline(rig.state->storedTree(ids[0])), QStringLiteral("doc 0(child 1)"));
    EXPECT_EQ(outline(rig.state->storedTree(ids[1])),
              QStringLiteral("doc 1(child 0 child 0 child 0 child 1)"));
}

} // namespace corvex::test
