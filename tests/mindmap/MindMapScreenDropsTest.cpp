// Drops on the mind-map screen, driven through DragSupportDelegate with hand-made records:
// moves between documents that never lose the idea, the choices a drop offers, the dock and
// the delete area, and a planet taken by another screen.

#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SolarSystem.h"
#include "platform/ui/Event.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <cerrno>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

using DropChoiceId = SolarSystemViewController::DropChoice;

QString choiceTitle(DropChoiceId choice)
{
    return SolarSystemViewController::dropChoiceTitle(choice);
}

// Drops `idea` of `docIdentifier` at the window point and lets everything finish.
std::vector<DragResult> dropAt(MindMapScreenRig& rig, SolarSystemViewController& screen,
                               const DragInfoForIdea& info, const IdeaPtr& idea)
{
    DropResults results;
    EXPECT_TRUE(screen.dragOperationStarted(info));
    screen.dragOperationUpdate(info);
    screen.dragOperationEndedAcceptingIdea(info, idea, info.docIdentifier, results.completion());
    rig.settle([&] { return !results.codes.empty() && screen.savesInFlight() == 0; });
    return results.codes;
}

class MoveFromAnotherDocument : public ::testing::TestWithParam<bool>
{};

// What keeps a document, and so how it is saved: a file of the user's (the window asks at
// close), a new document without one, or the iCloud location (saved at once).
enum class Keeper
{
    LocalFile,
    NewDocument,
    Cloud,
};

struct BetweenDocuments
{
    const char* name;
    Keeper source;
    Keeper target;
    bool sourceCannotBeSaved;
};

class MoveBetweenDocuments : public ::testing::TestWithParam<BetweenDocuments>
{};

bool keptInFile(Keeper keeper)
{
    return keeper != Keeper::Cloud;
}

} // namespace

TEST_P(MoveFromAnotherDocument, DeletesTheSourceOnlyOnceTheTargetIsStored)
{
    const bool targetRenameFails = GetParam();
    MindMapScreenRig rig;
    qint64 targetToken = 0;
    qint64 sourceToken = 0;
    const auto target = rig.createDocument(treeFromOutline(QStringLiteral("T(a b)")), targetToken);
    const auto source = rig.createDocument(treeFromOutline(QStringLiteral("S(x(y) z)")), sourceToken);
    const auto screen = rig.showDocument(target, targetToken);
    const IdeaPtr x = findByText(source->idea(), QStringLiteral("x"));
    const QString xIdentifier = x->identifier();
    const QString yIdentifier = findByText(x, QStringLiteral("y"))->identifier();

    rig.menus->chooseTitle(choiceTitle(DropChoiceId::MoveHere));
    std::optional<FaultShim> shim;
    if (targetRenameFails) {
        // The target's save is the first rename: the source is deleted only after it.
        shim.emplace();
        shim->failAt(FaultShim::Op::Rename, 1, EIO);
    }
    const auto codes = dropAt(
        rig, *screen,
        ideaDrag(adderInWindow(*screen, 0), DragInfo::Source::OtherWindow, x, source->docIdentifier()), x);
    shim.reset();

    const IdeaPtr storedSource = readStoredTree(storedPath(*source));
    const IdeaPtr storedTarget = readStoredTree(storedPath(*target));
    ASSERT_TRUE(storedSource && storedTarget);
    if (targetRenameFails) {
        // Copied, never moved: the source keeps its idea, the target's file its old tree.
        EXPECT_EQ(codes, std::vector<DragResult>{DragResult::Copied});
        EXPECT_EQ(outline(storedSource), QStringLiteral("S(x(y) z)"));
        EXPECT_EQ(outline(storedTarget), QStringLiteral("T(a b)"));
    } else {
        EXPECT_EQ(codes, std::vector<DragResult>{DragResult::Moved});
        EXPECT_EQ(outline(storedSource), QStringLiteral("S(z)"));
        EXPECT_EQ(outline(storedTarget), QStringLiteral("T(a x(y) b)"));
        const IdeaPtr copy = findByText(storedTarget, QStringLiteral("x"));
        EXPECT_NE(copy->identifier(), xIdentifier);
        EXPECT_NE(findByText(copy, QStringLiteral("y"))->identifier(), yIdentifier);
        EXPECT_EQ(planetTexts(*screen),
                  (QStringList{QStringLiteral("a"), QStringLiteral("x"), QStringLiteral("b")}));
    }
}

INSTANTIATE_TEST_SUITE_P(MindMapScreenDrops, MoveFromAnotherDocument, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "TargetRenameFails" : "TargetStored");
                         });

// Move Here from a document shown in one window into one shown in another is an edit of both:
// each screen shows it, saves its document by the keeper's rules and marks its window as they
// say; a source that cannot be saved tells its window and makes its close ask first.
TEST_P(MoveBetweenDocuments, IsOneEditOfBothSavedByTheirOwnRules)
{
    const BetweenDocuments& row = GetParam();
    MindMapScreenRig rig;
    std::optional<RigCloudLocation> cloud;
    if (row.source == Keeper::Cloud || row.target == Keeper::Cloud) {
        cloud.emplace(rig, QStringList{QStringLiteral("S(x(y) z)"), QStringLiteral("T(a b)")});
        ASSERT_TRUE(cloud->state);
    }
    // The source is the first document, the target the second.
    const auto open = [&](Keeper keeper, std::size_t which, qint64& token) {
        if (keeper == Keeper::Cloud)
            return cloud->openHeld(rig, which, token);
        const auto document = rig.createDocument(
            treeFromOutline(which == 0 ? QStringLiteral("S(x(y) z)") : QStringLiteral("T(a b)")), token);
        if (keeper == Keeper::LocalFile)
            document->setRepresentativeURL(QUrl::fromLocalFile(
                testDir() + (which == 0 ? QStringLiteral("/S.corvex") : QStringLiteral("/T.corvex"))));
        return document;
    };
    const auto stored = [&](Keeper keeper, const IdeaDocument& document) {
        return keeper == Keeper::Cloud ? cloud->state->storedTree(document.docIdentifier())
                                       : readStoredTree(storedPath(document));
    };
    qint64 sourceToken = 0;
    qint64 targetToken = 0;
    const auto source = open(row.source, 0, sourceToken);
    const auto target = open(row.target, 1, targetToken);
    ASSERT_TRUE(source && target && sourceToken > 0 && targetToken > 0);
    const auto sourceWindow = rig.window;
    const auto targetWindow = rig.makeWindow();
    const auto from = rig.showDocument(source, sourceToken, QString(), sourceWindow.get());
    const auto to = rig.showDocument(target, targetToken, QString(), targetWindow.get());

    std::optional<FaultShim> shim;
    if (row.sourceCannotBeSaved) {
        shim.emplace();
        shim->failRenamesOnto((row.source == Keeper::Cloud
                                   ? cloud->state->documentPath(source->docIdentifier())
                                   : storedPath(*source))
                                  .toStdString(),
                              ENOSPC);
    }
    const IdeaPtr x = findByText(source->idea(), QStringLiteral("x"));
    const auto drag = ideaDrag(adderInWindow(*to, 0), DragInfo::Source::OtherWindow, x,
                               source->docIdentifier(), SolarSystemViewController::OwnPlanetTarget);
    rig.menus->chooseTitle(choiceTitle(DropChoiceId::MoveHere));
    const auto codes = dropAt(rig, *to, drag, x);
    ASSERT_EQ(codes, std::vector<DragResult>{DragResult::Moved});
    // As the window tells the screen the drag began on.
    from->dragOperationEndedWithResult(drag, codes.front());
    ASSERT_TRUE(rig.settle([&] { return from->savesInFlight() == 0 && to->savesInFlight() == 0; }));

    EXPECT_EQ(planetTexts(*from), QStringList{QStringLiteral("z")});
    EXPECT_EQ(planetTexts(*to), (QStringList{QStringLiteral("a"), QStringLiteral("x"), QStringLiteral("b")}));
    EXPECT_EQ(outline(stored(row.target, *target)), QStringLiteral("T(a x(y) b)"));
    EXPECT_EQ(outline(stored(row.source, *source)),
              row.sourceCannotBeSaved ? QStringLiteral("S(x(y) z)") : QStringLiteral("S(z)"));
    // A file's window (and one whose map is not stored) is marked; nothing is written into the
    // user's files before the user saves them.
    EXPECT_EQ(sourceWindow->isDocumentEdited(), keptInFile(row.source) || row.sourceCannotBeSaved);
    EXPECT_EQ(targetWindow->isDocumentEdited(), keptInFile(row.target));
    EXPECT_FALSE(QFileInfo::exists(source->representativeURL().toLocalFile()));
    EXPECT_FALSE(QFileInfo::exists(target->representativeURL().toLocalFile()));
    EXPECT_TRUE(targetWindow->notices.isEmpty())
        << targetWindow->notices.join(QLatin1Char('|')).toStdString();
    if (row.sourceCannotBeSaved) {
        ASSERT_EQ(sourceWindow->notices.size(), 1);
        EXPECT_TRUE(sourceWindow->notices.front().startsWith(QStringLiteral("Failed to update document")))
            << sourceWindow->notices.front().toStdString();
    } else {
        EXPECT_TRUE(sourceWindow->notices.isEmpty())
            << sourceWindow->notices.join(QLatin1Char('|')).toStdString();
    }

    // Closing the source asks first where its changes are not stored, or not in its file.
    const int asked = rig.alerts->presentedCount();
    rig.alerts->answerTitle(QStringLiteral("Cancel"));
    const bool closes = from->startClosingCanCloseNow();
    rig.settle([&] { return !from->screenOccupied(); });
    if (!row.sourceCannotBeSaved && row.source == Keeper::Cloud) {
        EXPECT_TRUE(closes);
        EXPECT_EQ(rig.alerts->presentedCount(), asked);
        return;
    }
    EXPECT_FALSE(closes);
    ASSERT_EQ(rig.alerts->presentedCount(), asked + 1);
    const Alert& question = rig.alerts->presented().back();
    if (row.sourceCannotBeSaved)
        EXPECT_EQ(question.messageText,
                  QStringLiteral("The latest changes to \u201cS\u201d could not be saved."));
    else
        EXPECT_EQ(question.informativeText,
                  row.source == Keeper::LocalFile
                      ? QStringLiteral("Do you want save the changes you made?")
                      : QStringLiteral("Do you want save the changes you made to the New file?"));
}

INSTANTIATE_TEST_SUITE_P(
    MindMapScreenDrops, MoveBetweenDocuments,
    ::testing::Values(
        BetweenDocuments{"LocalFileIntoLocalFile", Keeper::LocalFile, Keeper::LocalFile, false},
        BetweenDocuments{"NewDocumentIntoLocalFile", Keeper::NewDocument, Keeper::LocalFile, false},
        BetweenDocuments{"LocalFileIntoNewDocument", Keeper::LocalFile, Keeper::NewDocument, false},
        BetweenDocuments{"CloudIntoLocalFile", Keeper::Cloud, Keeper::LocalFile, false},
        BetweenDocuments{"LocalFileIntoCloud", Keeper::LocalFile, Keeper::Cloud, false},
        BetweenDocuments{"LocalFileThatCannotBeSaved", Keeper::LocalFile, Keeper::LocalFile, true},
        BetweenDocuments{"CloudThatCannotBeSaved", Keeper::Cloud, Keeper::NewDocument, true}),
    [](const ::testing::TestParamInfo<BetweenDocuments>& info) { return std::string(info.param.name); });

// The same document in two windows, each with its own tree: the idea leaves the document once,
// through the first window's service, and the other window shows the saved tree.
TEST(MindMapScreenDrops, AMoveOutOfADocumentOpenInTwoWindowsTakesItOutOnce)
{
    MindMapScreenRig rig;
    const RigCloudLocation cloud(rig, {QStringLiteral("S(x(y) z)")});
    ASSERT_TRUE(cloud.state);
    const std::shared_ptr<RigWindow> windows[] = {rig.window, rig.makeWindow(), rig.makeWindow()};
    const auto first = cloud.show(rig, windows[0].get());
    const auto second = cloud.show(rig, windows[1].get());
    qint64 token = 0;
    const auto target = rig.createDocument(treeFromOutline(QStringLiteral("T(a b)")), token);
    ASSERT_TRUE(first && second && target && token > 0);
    const auto to = rig.showDocument(target, token, QString(), windows[2].get());

    // Dragged from the window opened last.
    const IdeaPtr x = findByText(second->rootIdea(), QStringLiteral("x"));
    const auto drag = ideaDrag(adderInWindow(*to, 0), DragInfo::Source::OtherWindow, x, cloud.identifier,
                               SolarSystemViewController::OwnPlanetTarget);
    rig.menus->chooseTitle(choiceTitle(DropChoiceId::MoveHere));
    const auto codes = dropAt(rig, *to, drag, x);
    ASSERT_EQ(codes, std::vector<DragResult>{DragResult::Moved});
    second->dragOperationEndedWithResult(drag, codes.front());
    ASSERT_TRUE(rig.settle([&] {
        return first->savesInFlight() == 0 && to->savesInFlight() == 0 &&
               planetTexts(*second) == QStringList{QStringLiteral("z")};
    }));

    EXPECT_EQ(planetTexts(*first), QStringList{QStringLiteral("z")});
    EXPECT_EQ(outline(cloud.state->storedTree(cloud.identifier)), QStringLiteral("S(z)"));
    EXPECT_EQ(outline(readStoredTree(storedPath(*target))), QStringLiteral("T(a x(y) b)"));
    for (const auto& window : windows)
        EXPECT_TRUE(window->notices.isEmpty()) << window->notices.join(QLatin1Char('|')).toStdString();
}

// The source's window closed while the copy is being stored: its screen no longer edits the
// document, and storage takes the idea out of it.
TEST(MindMapScreenDrops, AMoveWhoseSourceWindowClosedMeanwhileTakesTheIdeaOutOfStorage)
{
    MindMapScreenRig rig;
    const RigCloudLocation cloud(rig, {QStringLiteral("S(x(y) z)")});
    ASSERT_TRUE(cloud.state);
    const auto sourceWindow = rig.window;
    const auto from = cloud.show(rig, sourceWindow.get());
    qint64 token = 0;
    const auto target = rig.createDocument(treeFromOutline(QStringLiteral("T(a b)")), token);
    ASSERT_TRUE(from && target && token > 0);
    const auto to = rig.showDocument(target, token, QString(), rig.makeWindow().get());

    const IdeaPtr x = findByText(from->rootIdea(), QStringLiteral("x"));
    const auto drag = ideaDrag(adderInWindow(*to, 0), DragInfo::Source::OtherWindow, x, cloud.identifier,
                               SolarSystemViewController::OwnPlanetTarget);
    rig.menus->chooseTitle(choiceTitle(DropChoiceId::MoveHere));
    DropResults results;
    ASSERT_TRUE(to->dragOperationStarted(drag));
    to->dragOperationUpdate(drag);
    to->dragOperationEndedAcceptingIdea(drag, x, cloud.identifier, results.completion());
    ASSERT_TRUE(from->startClosingCanCloseNow());
    ASSERT_TRUE(rig.settle([&] { return !results.codes.empty() && to->savesInFlight() == 0; }));

    EXPECT_EQ(results.codes, std::vector<DragResult>{DragResult::Moved});
    EXPECT_EQ(outline(cloud.state->storedTree(cloud.identifier)), QStringLiteral("S(z)"));
    EXPECT_EQ(outline(readStoredTree(storedPath(*target))), QStringLiteral("T(a x(y) b)"));
    EXPECT_TRUE(sourceWindow->notices.isEmpty())
        << sourceWindow->notices.join(QLatin1Char('|')).toStdString();
}

TEST(MindMapScreenDrops, TheChoicesFollowWhatIsDroppedWhereAndACancelEndsWithZero)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    qint64 otherToken = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a(a1) b c)")), token);
    const auto other = rig.createDocument(treeFromOutline(QStringLiteral("O(o)")), otherToken);
    const auto screen = rig.showDocument(document, token);
    // A link planet at the end: R(a(a1) b c ->a1).
    screen->createLinkToIdea(findByText(document->idea(), QStringLiteral("a1")), 2, {});
    rig.settle(*screen);
    const QString here = document->docIdentifier();

    struct Row
    {
        const char* what;
        const char* idea;
        bool fromOther;
        bool ontoPlanet;
        std::int64_t index;
        QStringList offered; // empty: no menu
        DragResult code;     // with the menu cancelled
    };
    const QString moveHere = choiceTitle(DropChoiceId::MoveHere),
                  copyHere = choiceTitle(DropChoiceId::CopyHere),
                  link = choiceTitle(DropChoiceId::CreateLink),
                  moveInside = choiceTitle(DropChoiceId::MoveInside),
                  copyInside = choiceTitle(DropChoiceId::CopyInside);
    const std::vector<Row> rows = {
        {"a planet beside its own slot", "b", false, false, 0, {copyHere}, DragResult::NotAccepted},
        {"a planet onto itself", "b", false, true, 1, {}, DragResult::Copied},
        {"another document's idea onto a slot",
         "o",
         true,
         false,
         2,
         {moveHere, copyHere},
         DragResult::NotAccepted},
        {"a grandchild onto a slot",
         "a1",
         false,
         false,
         2,
         {moveHere, copyHere, link},
         DragResult::NotAccepted},
        {"a planet onto another", "b", false, true, 0, {moveInside, copyInside}, DragResult::NotAccepted},
        {"a planet onto a link", "b", false, true, 3, {}, DragResult::NotAccepted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const int menusBefore = rig.menus->presentedCount();
        const IdeaPtr idea =
            findByText(row.fromOther ? other->idea() : document->idea(), QLatin1String(row.idea));
        const Point at =
            row.ontoPlanet ? planetInWindow(*screen, row.index) : adderInWindow(*screen, row.index);
        if (!row.offered.isEmpty())
            rig.menus->chooseNothing();
        const auto codes =
            dropAt(rig, *screen,
                   ideaDrag(at, row.fromOther ? DragInfo::Source::OtherWindow : DragInfo::Source::ThisWindow,
                            idea, row.fromOther ? other->docIdentifier() : here),
                   idea);
        EXPECT_EQ(codes, std::vector<DragResult>{row.code});
        if (row.offered.isEmpty()) {
            EXPECT_EQ(rig.menus->presentedCount(), menusBefore);
        } else {
            ASSERT_EQ(rig.menus->presentedCount(), menusBefore + 1);
            EXPECT_EQ(rig.menus->presented().back().titles, row.offered);
        }
        EXPECT_FALSE(screen->dropBeingDecided());
    }
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(a(a1) b c ->a1)"));
}

TEST(MindMapScreenDrops, TheDeleteAreaWinsOverTheDockAndTheDockedIdeaLeavesTheDock)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a b)")), token);
    const IdeaPtr docked = treeFromOutline(QStringLiteral("d"));
    rig.window->setDockedIdea(docked, QString());
    const auto screen = rig.showDocument(document, token);
    View& dock = *screen->dockAreaView();
    View& deleteArea = *screen->deleteAreaView();

    // A drag from another window: the delete area stays hidden and takes nothing.
    const auto fromElsewhere =
        ideaDrag(viewCentreInWindow(deleteArea), DragInfo::Source::OtherWindow, docked, QString());
    screen->dragOperationStarted(fromElsewhere);
    EXPECT_TRUE(deleteArea.isHidden());
    EXPECT_NE(screen->dragOperationUpdate(fromElsewhere).object, DragTarget::DeleteArea);
    screen->dragOperationExited();

    // Within 80 points of both centres the delete area wins, inset by a fifth on each side.
    deleteArea.setFrame(dock.frame().offsetBy(0, 60));
    const Point dockCentre = viewCentreInWindow(dock);
    const Point deleteCentre = viewCentreInWindow(deleteArea);
    const Point between((dockCentre.x + deleteCentre.x) / 2, (dockCentre.y + deleteCentre.y) / 2);
    const auto ownDrag = ideaDrag(between, DragInfo::Source::ThisWindow, docked, QString(), DragTarget::Dock);
    screen->dragOperationStarted(ownDrag);
    EXPECT_FALSE(deleteArea.isHidden());
    const DragTarget target = screen->dragOperationUpdate(ownDrag);
    EXPECT_EQ(target.object, DragTarget::DeleteArea);
    EXPECT_EQ(target.gravityRadius, 80.0);
    EXPECT_EQ(target.area.width(), deleteArea.frame().width() * 0.6);

    // The docked idea dropped there leaves the dock at once: moved, no question asked; the
    // answer comes on a later turn.
    const int menusBefore = rig.menus->presentedCount();
    DropResults results;
    screen->dragOperationEndedAcceptingIdea(ownDrag, docked, QString(), results.completion());
    EXPECT_TRUE(results.codes.empty());
    ASSERT_TRUE(rig.settle([&] { return !results.codes.empty(); }));
    EXPECT_EQ(results.codes, std::vector<DragResult>{DragResult::Moved});
    EXPECT_EQ(rig.menus->presentedCount(), menusBefore);
    EXPECT_FALSE(rig.window->currentDockedIdea());
    EXPECT_TRUE(deleteArea.isHidden());
    EXPECT_TRUE(dock.isHidden());

    // Docked again and copied onto the map: it leaves the dock too.
    rig.window->setDockedIdea(docked, QString());
    screen->updateStatusDueToPossibleDockingUpdate();
    rig.menus->chooseTitle(choiceTitle(DropChoiceId::CopyHere));
    const auto codes = dropAt(rig, *screen,
                              ideaDrag(adderInWindow(*screen, 1), DragInfo::Source::ThisWindow, docked,
                                       QString(), DragTarget::Dock),
                              docked);
    EXPECT_EQ(codes, std::vector<DragResult>{DragResult::Copied});
    EXPECT_FALSE(rig.window->currentDockedIdea());
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(a b d)"));

    // A planet of this window dropped there is deleted when the user says so.
    const IdeaPtr a = findByText(document->idea(), QStringLiteral("a"));
    rig.menus->chooseTitle(choiceTitle(DropChoiceId::Delete));
    const auto deleted =
        dropAt(rig, *screen,
               ideaDrag(viewCentreInWindow(deleteArea), DragInfo::Source::ThisWindow, a,
                        document->docIdentifier(), SolarSystemViewController::OwnPlanetTarget),
               a);
    EXPECT_EQ(deleted, std::vector<DragResult>{DragResult::Moved});
    EXPECT_EQ(rig.menus->presented().back().titles, QStringList{choiceTitle(DropChoiceId::Delete)});
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("R(b d)"));
}

TEST(MindMapScreenDrops, APlanetMovedToAnotherDocumentLeavesTheScreenItCameFrom)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    qint64 otherToken = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("A(a b c)")), token);
    const auto other = rig.createDocument(treeFromOutline(QStringLiteral("B(x)")), otherToken);
    auto dragWindow = std::make_shared<ShellRigWindow>(Size(1000, 800));
    const auto first = rig.showDocument(document, token, QString(), dragWindow.get());
    const auto second = rig.showDocument(other, otherToken, QString(), rig.makeWindow().get());

    // The drag starts on the first screen's planet "a", returning there on failure.
    const IdeaPtr a = findByText(document->idea(), QStringLiteral("a"));
    const auto planet = first->solarSystemView()->ideaViewAtIndex(0);
    first->startDragForIdea(a->identifier(), planet->frame(), Event());
    ASSERT_EQ(dragWindow->dragStarts.size(), 1u);
    const ShellRigWindow::DragStart& start = dragWindow->dragStarts.front();
    EXPECT_EQ(start.ideaIdentifier, a->identifier());
    EXPECT_EQ(start.docIdentifier, document->docIdentifier());
    EXPECT_EQ(start.returnTarget.object, SolarSystemViewController::OwnPlanetTarget);
    EXPECT_EQ(start.returnTarget.area, first->solarSystemView()->convertRectToView(planet->frame(), nullptr));

    // The second screen takes it; the first screen's own service takes it out of the first
    // document's tree and saves that, and the window tells the first screen the result.
    rig.menus->chooseTitle(choiceTitle(DropChoiceId::MoveHere));
    const auto codes = dropAt(rig, *second,
                              ideaDrag(adderInWindow(*second, 0), DragInfo::Source::OtherWindow, a,
                                       document->docIdentifier(), SolarSystemViewController::OwnPlanetTarget),
                              a);
    ASSERT_EQ(codes, std::vector<DragResult>{DragResult::Moved});
    first->dragOperationEndedWithResult(ideaDrag(Point(), DragInfo::Source::ThisWindow, a,
                                                 document->docIdentifier(),
                                                 SolarSystemViewController::OwnPlanetTarget),
                                        codes.front());
    ASSERT_TRUE(rig.settle(*first));
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("A(b c)"));
    EXPECT_EQ(outline(readStoredTree(storedPath(*other))), QStringLiteral("B(x a)"));
    EXPECT_EQ(planetTexts(*first), (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
    dragWindow->close();
}

TEST(MindMapScreenDrops, ADragOutOfTheDockGoesBackThereAndEmptiesItOnlyWhenTakenElsewhere)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("R(a)")), token);
    auto window = std::make_shared<ShellRigWindow>(Size(1000, 800));
    const IdeaPtr docked = treeFromOutline(QStringLiteral("d"));
    window->setDockedIdea(docked, QStringLiteral("temp:/elsewhere.crvx"));
    const auto screen = rig.showDocument(document, token, QString(), window.get());
    const auto& dock = screen->dockAreaView();
    ASSERT_TRUE(dock->ideaView());

    screen->dragFromDockAreaWithIdeaView(dock->ideaView(), Event());
    ASSERT_EQ(window->dragStarts.size(), 1u);
    const DragTarget& back = window->dragStarts[0].returnTarget;
    EXPECT_EQ(back.object, DragTarget::Dock);
    EXPECT_EQ(back.area, dock->superview()->convertRectToView(dock->frame(), nullptr));
    EXPECT_EQ(back.gravityRadius, 80.0);
    EXPECT_EQ(window->dragStarts[0].ideaIdentifier, docked->identifier());

    // Refused elsewhere: the idea stays docked; taken elsewhere: the dock empties.
    const auto ended = ideaDrag(Point(), DragInfo::Source::ThisWindow, docked, window->dockedDocIdentifier,
                                DragTarget::Dock);
    screen->dragOperationEndedWithResult(ended, DragResult::NotAccepted);
    EXPECT_EQ(window->currentDockedIdea(), docked);
    EXPECT_FALSE(dock->isHidden());
    screen->dragOperationEndedWithResult(ended, DragResult::Copied);
    EXPECT_FALSE(window->currentDockedIdea());
    EXPECT_TRUE(dock->isHidden());
    window->close();
}

TEST(MindMapScreenDrops, RendersADragOverTheMapWithTheDockAndTheDeleteArea)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document =
        rig.createDocument(treeFromOutline(QStringLiteral("Plans(Travel Garden Books Music)")), token);
    const IdeaPtr docked = treeFromOutline(QStringLiteral("Ideas"));
    rig.window->setDockedIdea(docked, QString());
    const auto screen = rig.showDocument(document, token);
    const auto info = ideaDrag(adderInWindow(*screen, 1), DragInfo::Source::ThisWindow,
                               findByText(document->idea(), QStringLiteral("Books")),
                               document->docIdentifier(), SolarSystemViewController::OwnPlanetTarget);
    screen->dragOperationStarted(info);
    EXPECT_EQ(screen->dragOperationUpdate(info).object, SolarSystemViewController::MindMapFocusTarget);
    rig.finishAnimations();
    const QImage image = rig.window->renderToImage(1.0);
    ASSERT_FALSE(image.isNull());
    const QString dir = testOutputDir() + QStringLiteral("/mindmap-screen");
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + QStringLiteral("/drag-with-dock-and-delete-area.png")));
    // The delete area and the dock are drawn (not the white of the screen).
    for (const View* area : {static_cast<const View*>(screen->deleteAreaView().get()),
                             static_cast<const View*>(screen->dockAreaView().get())}) {
        const Point centre = viewCentreInWindow(*area);
        const QColor pixel = image.pixelColor(int(centre.x), int(image.height() - centre.y));
        EXPECT_NE(pixel, QColor(Qt::white)) << area->className().toStdString();
    }
    screen->dragOperationExited();
}

} // namespace corvex::test
