// The home screen's controller against the in-process back end as location 2, on virtual
// time: search as the user types, the document actions and their tokens, the conflict branch,
// deletion, saved state and the listener calls.

#include "home/BigAdderView.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/ColorTheme.h"
#include "model/ObjectID.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "shell/TopBarView.h"
#include "storage/PersistenceController.h"
#include "storage/Workspace.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/home/HomeScreenRig.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/ScreenFactory.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using Op = TestFolderPersistenceState::Operation;

void runMenuItem(HomeViewController& screen, const QString& docIdentifier, const QString& title)
{
    const auto menu = screen.onRightClickAtDocument(docIdentifier);
    const auto item = menu ? menu->itemWithTitle(title) : nullptr;
    ASSERT_TRUE(item) << title.toStdString();
    item->action()(*item);
}

// Documents 100 to 106 hold "orbit" 1 to 7 times; the others never.
IdeaPtr orbitTree(int i)
{
    IdeaPtr root = homeTree(QStringLiteral("doc %1").arg(i), 0, homeColor(i));
    if (i >= 100 && i < 107)
        for (int k = 0; k <= i - 100; ++k)
            (void)root->addIdea(Idea::initWithText(QStringLiteral("the orbit %1").arg(k)));
    return root;
}

} // namespace

// Done when: "orbit" typed key by key leaves exactly the seven matching documents, most
// occurrences first; emptying the field while an answer is outstanding shows every document
// again, and the late answer changes nothing.
TEST(HomeScreen, SearchAsYouTypeShowsTheRankedMatchesAndAnEmptiedFieldForgetsTheLateAnswer)
{
    const int count = heavyScale(1000, 200);
    HomeScreenRig rig(count, orbitTree);
    const auto workspace = PersistenceController::singleton().workspaceForLocation(2);
    ASSERT_NE(workspace, nullptr);
    // The list's own search has read every document; the cache is then emptied, as a launch
    // finds it, and the back end's reads are held.
    ASSERT_TRUE(rig.settle(
        [&] { return workspace->searchRequestID() == 0 && workspace->searchCache().count() == count; }));
    workspace->searchCache().invalidate();
    rig.state->holdSearchReads(true);
    auto screen = rig.show();
    EXPECT_EQ(rig.gridIdentifiers().size(), count);

    // The location's documents are still being read: the answer is outstanding when the
    // field is emptied again.
    rig.typeIntoSearchField(QStringLiteral("orbi"));
    ASSERT_NE(screen->currentSearchRequestID(), 0);
    EXPECT_TRUE(rig.grid().readOnly());
    rig.screen->topBar()->searchField()->setText(QString());
    rig.screen->topBar()->searchTextDidChange();
    rig.base.time.runDue();
    EXPECT_EQ(screen->state(), HomeViewController::StateBrowsing);
    EXPECT_EQ(screen->currentSearchRequestID(), 0);
    rig.state->holdSearchReads(false);
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0 && workspace->searchReadsUnderWay() == 0; }));
    rig.drain();
    EXPECT_EQ(screen->state(), HomeViewController::StateBrowsing);
    EXPECT_EQ(rig.gridIdentifiers(), rig.identifiers());
    EXPECT_FALSE(rig.grid().readOnly());

    rig.typeIntoSearchField(QStringLiteral("orbit"));
    ASSERT_TRUE(rig.settle([&] { return screen->state() == HomeViewController::StateResults; }));
    QStringList expected;
    for (int i = 106; i >= 100; --i)
        expected.append(rig.identifiers()[i]);
    EXPECT_EQ(rig.gridIdentifiers(), expected);
    EXPECT_EQ(rig.grid().visibleItems().count(IdeaListView::AdderKey), 0u);

    // Regex characters and a very long text match literally: nothing here.
    for (const QString& text :
         {QStringLiteral("orb.t"), QStringLiteral("(orbit)*"), QString(1000, QLatin1Char('o'))}) {
        rig.typeIntoSearchField(text.left(1));
        rig.screen->topBar()->searchField()->setText(text);
        rig.screen->topBar()->searchTextDidChange();
        rig.base.time.runDue();
        ASSERT_TRUE(rig.settle([&] { return screen->state() == HomeViewController::StateResults; }));
        EXPECT_TRUE(rig.gridIdentifiers().isEmpty()) << text.left(20).toStdString();
        EXPECT_TRUE(rig.grid().placeHolderView());
    }
}

TEST(HomeScreen, WhileSearchingNewDocumentsAreSearchedForAndUpdatesApplyInPlace)
{
    HomeScreenRig rig(6, orbitTree);
    auto screen = rig.show(QStringLiteral("doc 3"));
    EXPECT_EQ(screen->topBar()->currentSearchText(), QStringLiteral("doc 3"));
    ASSERT_TRUE(rig.settle([&] { return screen->state() == HomeViewController::StateResults; }));
    EXPECT_EQ(rig.gridIdentifiers(), QStringList{rig.identifiers()[3]});

    // Documents added while results show are searched for, not inserted unasked.
    const QString other = rig.state->docIdentifierForFileName(QStringLiteral("other.crvx"));
    const QString match = rig.state->docIdentifierForFileName(QStringLiteral("match.crvx"));
    const auto otherProxy =
        rig.state->writeDocumentFile(other, homeTree(QStringLiteral("not a match"), 0, homeColor(9)));
    const auto matchProxy =
        rig.state->writeDocumentFile(match, homeTree(QStringLiteral("doc 3 again"), 0, homeColor(8)));
    ASSERT_TRUE(otherProxy && matchProxy);
    rig.state->reportProxy(otherProxy);
    rig.state->reportProxy(matchProxy);
    ASSERT_TRUE(rig.settle([&] { return rig.gridIdentifiers().contains(match); }));
    EXPECT_FALSE(rig.gridIdentifiers().contains(other));
    EXPECT_EQ(screen->state(), HomeViewController::StateResults);

    // Deletions apply to the results at once.
    screen->documentDeleted(rig.identifiers()[3]);
    EXPECT_EQ(rig.gridIdentifiers(), QStringList{match});
    screen->documentDeleted(QStringLiteral("dropbox:/other.crvx"));
    EXPECT_EQ(rig.gridIdentifiers(), QStringList{match});
}

// Done when: after a context-menu Open while "OpenDocument" is held, an edit of a root of
// another type, an editor double closing unchanged, a failed open and a double click on the
// adder, exactly one new document exists; once its window closes no token is open.
TEST(HomeScreen, EveryOpenedTokenIsHandedOnOnceAndADoubleClickOnTheAdderMakesOneDocument)
{
    HomeScreenRig rig(4, {}, true);
    auto screen = rig.show();
    PersistenceController& storage = PersistenceController::singleton();
    const int opensBefore = rig.state->callCount(Op::Open);
    const QStringList ids = rig.identifiers();

    // Edit through the menu, slowly: the screen holds "OpenDocument" meanwhile.
    rig.state->setDelay(Op::Open, 1.0);
    runMenuItem(*screen, ids[0], QStringLiteral("Edit"));
    EXPECT_EQ(screen->currentOccupyingOperation(), HomeViewController::OpenDocumentOperation);
    runMenuItem(*screen, ids[1], QStringLiteral("Open"));
    ASSERT_TRUE(rig.settle([&] { return screen->editorOpen(); }));
    EXPECT_EQ(rig.state->callCount(Op::Open), opensBefore + 1);
    EXPECT_EQ(rig.base.editors->lastIdeaEditor->edited.text(IdeaMember::Text), QStringLiteral("doc 0"));
    rig.base.editors->lastIdeaEditor->close();
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0; }));
    EXPECT_EQ(rig.state->callCount(Op::Update), 0);
    EXPECT_FALSE(screen->screenOccupied());
    rig.state->setDelay(Op::Open, 0);

    // A root of another type is not edited; its token goes back.
    const auto proxy = storage.findProxy(ids[2]);
    qint64 token = -1;
    storage.openDocument(proxy->doc(), [&](qint64 answer) { token = answer; });
    ASSERT_TRUE(rig.settle([&] { return token >= 0; }));
    ASSERT_GT(token, 0);
    proxy->doc()->setIdea(Idea::initWithLinkToIdea(QStringLiteral("elsewhere")));
    screen->editOpenedProxy(proxy, token);
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0; }));

    // A failed open tells the user and keeps nothing.
    rig.state->failNext(Op::Open);
    rig.failedOpens = 1;
    screen->onDrillDownTo(ids[3], false);
    ASSERT_TRUE(rig.settle([&] { return rig.base.alerts->presentedCount() == 1; }));
    EXPECT_EQ(rig.base.alerts->presented()[0].messageText, QStringLiteral("Oops"));
    EXPECT_EQ(rig.openTokens(), 0);
    EXPECT_FALSE(screen->screenOccupied());

    // Two quick clicks on the adder.
    const QStringList before = rig.state->storedDocuments();
    const auto& adder = rig.grid().visibleItems().at(IdeaListView::AdderKey);
    const Point at = adder->superview()->convertPointToView(ViewExtensions::center(*adder), nullptr);
    rig.window->sendEvent(Event::mouseDown(at));
    rig.window->sendEvent(Event::mouseUp(at));
    rig.window->sendEvent(Event::mouseDown(at, 2));
    rig.window->sendEvent(Event::mouseUp(at, 2));
    ASSERT_TRUE(rig.settle([&] { return rig.window->switchedTo.size() == 2; }));
    EXPECT_EQ(rig.state->storedDocuments().size(), before.size() + 1);
    auto mindMap = std::dynamic_pointer_cast<SolarSystemViewController>(rig.window->controller());
    ASSERT_TRUE(mindMap);
    EXPECT_EQ(mindMap->rootIdea()->text(), QString());
    rig.window->performClose();
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0; }));
    rig.drain();
    EXPECT_EQ(rig.openTokens(), 0);
    EXPECT_EQ(rig.state->storedDocuments().size(), before.size() + 1);
}

// A document made here before the location's first complete list is on the grid at once.
// Opened from its menu, or its root edited, then, it opens once the list comes (the latest
// request, once); a document the complete list lacks is told as a failed open.
namespace {
// A document "Garden" (a root and two leaves) made on a rig whose location's list is held back;
// empty when it did not reach the grid.
QString makeGardenBeforeTheList(HomeScreenRig& rig)
{
    PersistenceController& storage = PersistenceController::singleton();
    const auto made = IdeaDocument::initWithFileName(QString(), 2);
    made->setIdea(homeTree(QStringLiteral("Garden"), 2, homeColor(7)));
    qint64 token = -1;
    storage.createDocument(made, [&](qint64 answer) { token = answer; });
    if (!rig.settle([&] { return token >= 0; }) || token <= 0)
        return QString();
    storage.releaseDocument(made, token);
    const QString garden = made->docIdentifier();
    if (!rig.settle([&] { return rig.gridIdentifiers().contains(garden) && rig.openTokens() == 0; }))
        return QString();
    return garden;
}
} // namespace

TEST(HomeScreen, AnOpenChosenBeforeTheFirstCompleteListWaitsForItAndAMissingDocumentIsTold)
{
    HomeScreenRig rig(1, {}, false, true);
    auto screen = rig.show();
    const QString garden = makeGardenBeforeTheList(rig);
    ASSERT_FALSE(garden.isEmpty());

    screen->onDrillDownTo(garden, true);
    runMenuItem(*screen, garden, QStringLiteral("Open"));
    rig.drain();
    EXPECT_EQ(rig.window->switchedTo.size(), 1) << "opened before the list came";
    EXPECT_EQ(rig.state->callCount(Op::Open), 0);

    rig.reportList();
    ASSERT_TRUE(rig.settle([&] { return rig.window->switchedTo.size() == 2; })) << "the open came to nothing";
    const auto mindMap = std::dynamic_pointer_cast<SolarSystemViewController>(rig.window->controller());
    ASSERT_TRUE(mindMap);
    EXPECT_EQ(mindMap->rootIdea()->text(), QStringLiteral("Garden"));
    EXPECT_EQ(rig.state->callCount(Op::Open), 1);
    EXPECT_EQ(rig.base.editors->made, 0);

    // Back home, an identifier the complete list lacks.
    auto home = rig.show();
    home->onDrillDownTo(rig.state->docIdentifierForFileName(QStringLiteral("gone.crvx")), false);
    ASSERT_TRUE(rig.settle([&] { return rig.base.alerts->presentedCount() == 1; }));
    EXPECT_EQ(rig.base.alerts->presented()[0].messageText, QStringLiteral("Oops"));
    EXPECT_FALSE(home->screenOccupied());
}

TEST(HomeScreen, ADeleteChosenBeforeTheFirstCompleteListAsksOnceTheListComes)
{
    HomeScreenRig rig(1, {}, false, true);
    auto screen = rig.show();
    const QString garden = makeGardenBeforeTheList(rig);
    ASSERT_FALSE(garden.isEmpty());
    rig.base.alerts->answerTitle(QStringLiteral("Delete"));
    runMenuItem(*screen, garden, QStringLiteral("Delete"));
    rig.drain();
    EXPECT_EQ(rig.base.alerts->presentedCount(), 0) << "asked before the list came";

    rig.reportList();
    ASSERT_TRUE(rig.settle([&] { return rig.state->callCount(Op::Delete) == 1; }))
        << "the delete came to nothing";
    EXPECT_EQ(rig.base.alerts->presented().at(0).informativeText,
              QStringLiteral("Element contains 3 sub-elements. Are you sure?"));
    ASSERT_TRUE(rig.settle([&] { return !rig.gridIdentifiers().contains(garden); }));
}

TEST(HomeScreen, AChangedTextEditIsSavedAndEveryEditorHandsItsTokenBack)
{
    HomeScreenRig rig(2, {}, true);
    auto screen = rig.show();
    rig.base.editors->next.didChange = true;
    rig.base.editors->next.title = QStringLiteral("Renamed");
    screen->onDrillDownTo(rig.identifiers()[1], true);
    ASSERT_TRUE(rig.settle([&] { return screen->editorOpen(); }));
    EXPECT_EQ(screen->currentOccupyingOperation(), HomeViewController::IdeaEditingOperation);
    // A second edit waits for nothing: the screen is taken.
    screen->onDrillDownTo(rig.identifiers()[0], true);
    rig.base.editors->lastIdeaEditor->close();
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0 && rig.state->callCount(Op::Update) == 1; }));
    EXPECT_EQ(rig.state->storedTree(rig.identifiers()[1])->text(), QStringLiteral("Renamed"));
    EXPECT_EQ(rig.base.editors->made, 1);

    // Without an editor installed an edit hands the token back and does nothing else.
    EditorFactory::setCurrent(nullptr);
    screen->onDrillDownTo(rig.identifiers()[0], true);
    ASSERT_TRUE(
        rig.settle([&] { return rig.state->callCount(Op::Close) == rig.state->callCount(Op::Open); }));
    EXPECT_EQ(rig.openTokens(), 0);
    EXPECT_FALSE(screen->screenOccupied());
}

// A version that knows who saved it: the dialog asks the location's version, whatever back end
// made it.
class VersionSavedElsewhere final : public DocumentVersion
{
public:
    QDateTime modificationDate() const override { return QDateTime(QDate(2024, 3, 5), QTime(9, 30)); }
    QString localizedNameOfSavingComputer() const override { return QStringLiteral("Studio Mac"); }
};

TEST(HomeScreen, ADocumentInConflictIsReleasedAndTheConflictDialogOffered)
{
    HomeScreenRig rig(2, {}, true);
    auto screen = rig.show();
    rig.state->setDocumentInConflict(rig.identifiers()[0], true);
    rig.state->setKeepsConflictingVersions(true, std::make_shared<VersionSavedElsewhere>());
    rig.base.alerts->answerIndex(1);
    screen->onDrillDownTo(rig.identifiers()[0], false);
    ASSERT_TRUE(rig.settle([&] { return rig.base.alerts->presentedCount() == 1; }));
    EXPECT_EQ(rig.base.alerts->presented()[0].messageText, QStringLiteral("Document Conflict"));
    const QString told = rig.base.alerts->presented()[0].informativeText;
    EXPECT_TRUE(told.contains(QStringLiteral(", Studio Mac)"))) << told.toStdString();
    EXPECT_FALSE(told.contains(QStringLiteral("(, "))) << told.toStdString();
    ASSERT_TRUE(rig.settle([&] { return rig.state->callCount(Op::HandleConflict) == 1; }));
    ASSERT_TRUE(rig.settle([&] { return !screen->screenOccupied(); }));
    EXPECT_EQ(rig.openTokens(), 0);
    EXPECT_EQ(rig.window->switchedTo.size(), 1);

    // Stopping the location closes the window (sent by a direct call: the storage never does).
    screen->pleaseStopUsingLocation(3);
    EXPECT_EQ(rig.window->closes, 0);
    screen->pleaseStopUsingLocation(2);
    EXPECT_EQ(rig.window->closes, 1);
}

TEST(HomeScreen, DeletingAsksWithTheCountOfSubElementsOnlyWhenThereIsSomethingToLose)
{
    HomeScreenRig rig(
        3, [](int i) { return homeTree(QStringLiteral("doc %1").arg(i), i == 0 ? 2 : 0, homeColor(i)); });
    auto screen = rig.show();
    const QStringList ids = rig.identifiers();
    rig.base.alerts->answerTitle(QStringLiteral("Cancel"));
    runMenuItem(*screen, ids[0], QStringLiteral("Delete"));
    ASSERT_TRUE(rig.settle([&] { return rig.base.alerts->presentedCount() == 1; }));
    // The root counts: a root with two leaves makes three.
    EXPECT_EQ(rig.base.alerts->presented()[0].informativeText,
              QStringLiteral("Element contains 3 sub-elements. Are you sure?"));
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_EQ(rig.state->callCount(Op::Delete), 0);

    runMenuItem(*screen, ids[1], QStringLiteral("Delete"));
    ASSERT_TRUE(rig.settle([&] { return rig.state->callCount(Op::Delete) == 1; }));
    ASSERT_TRUE(rig.settle([&] { return rig.gridIdentifiers().size() == 2; }));
    EXPECT_FALSE(rig.gridIdentifiers().contains(ids[1]));
    EXPECT_EQ(rig.base.alerts->presentedCount(), 1);
}

TEST(HomeScreen, SavedStateNamesTheLocationAndNewDocumentsTakeTheNextThemesColour)
{
    HomeScreenRig rig(3);
    ValueDictionary arguments;
    arguments.insert(QStringLiteral("location"), qint64(2));
    auto made = std::dynamic_pointer_cast<HomeViewController>(
        ScreenFactory::create(QStringLiteral("HomeViewController"), arguments));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->location(), 2u);
    EXPECT_EQ(made->createState().value(QStringLiteral("location")).toInteger(), 2);
    auto restored = std::dynamic_pointer_cast<HomeViewController>(
        ScreenFactory::create(QStringLiteral("HomeViewController")));
    ASSERT_TRUE(restored);
    EXPECT_TRUE(restored->restoreFromState(ValueDictionary()));
    EXPECT_EQ(restored->location(), 2u);

    auto screen = rig.show();
    EXPECT_EQ(rig.window->title(), QStringLiteral("iCloud Documents"));
    EXPECT_EQ(rig.window->cloudIconLocations.value(0), 2u);
    screen->onAddNewIdea();
    ASSERT_TRUE(rig.settle([&] { return rig.window->switchedTo.size() == 2; }));
    auto mindMap = std::dynamic_pointer_cast<SolarSystemViewController>(rig.window->controller());
    ASSERT_TRUE(mindMap && mindMap->rootIdea());
    const auto& themes = ColorTheme::standardThemes();
    EXPECT_EQ(mindMap->rootIdea()->color(), themes[(3 + 1) % themes.size()]->colors().front());
    EXPECT_EQ(mindMap->rootIdea()->colorThemeType(), 1u);
}

} // namespace corvex::test

namespace corvex::test {

TEST(HomeScreen, PictureAndWebLinkRootsEditInTheirEditorsAndHandTheirTokensBack)
{
    const QVImage picture = QVImage::initWithPNGData(makeSmallPicturePng(5));
    HomeScreenRig rig(
        2,
        [&](int i) -> IdeaPtr {
            if (i == 0)
                return Idea::initWithImageAttachment(picture, ObjectID());
            return Idea::initWithURL(QStringLiteral("https://example.invalid/"), picture);
        },
        true);
    auto screen = rig.show();
    const QStringList ids = rig.identifiers();

    // A new picture is stored as an attachment, then the document is saved.
    rig.base.editors->next.changedImage = QVImage::initWithPNGData(makeSmallPicturePng(6));
    screen->onDrillDownTo(ids[0], true);
    ASSERT_TRUE(rig.settle([&] { return rig.base.editors->lastPictureViewer != nullptr; }));
    EXPECT_EQ(screen->currentOccupyingOperation(), HomeViewController::IdeaEditingOperation);
    rig.base.editors->lastPictureViewer->finish();
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0 && rig.state->callCount(Op::Update) == 1; }));
    EXPECT_EQ(rig.state->callCount(Op::StoreAttachment), 1);
    EXPECT_FALSE(screen->screenOccupied());

    // A cancelled web-link editor writes nothing.
    rig.base.editors->next = EditorScript();
    screen->onDrillDownTo(ids[1], true);
    ASSERT_TRUE(rig.settle([&] { return rig.base.editors->lastWebLinkEditor != nullptr; }));
    EXPECT_EQ(rig.base.editors->lastWebLinkEditor->givenURL, QStringLiteral("https://example.invalid/"));
    rig.base.editors->lastWebLinkEditor->finish();
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0; }));
    EXPECT_EQ(rig.state->callCount(Op::Update), 1);
    EXPECT_FALSE(screen->screenOccupied());

    // A new address whose page could not be captured keeps the picture the link had.
    rig.base.editors->next = EditorScript();
    rig.base.editors->next.resultURL = QStringLiteral("https://example.invalid/moved");
    screen->onDrillDownTo(ids[1], true);
    ASSERT_TRUE(rig.settle([&] { return rig.base.editors->lastWebLinkEditor != nullptr; }));
    rig.base.editors->lastWebLinkEditor->finish();
    ASSERT_TRUE(rig.settle([&] { return rig.openTokens() == 0 && rig.state->callCount(Op::Update) == 2; }));
    const auto stored = rig.state->storedTree(ids[1]);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->URL(), QStringLiteral("https://example.invalid/moved"));
    EXPECT_TRUE(stored->image().hasImage());
}

} // namespace corvex::test

namespace corvex::test {

TEST(HomeScreen, CommandFStartsTheSearchAndOtherKeysGoOn)
{
    HomeScreenRig rig(2);
    auto screen = rig.show();
    EXPECT_EQ(rig.window->firstResponder(), &rig.grid());
    screen->keyDown(Event::keyDown(QStringLiteral("g"), QStringLiteral("g"), Event::KeyCodeUnknown,
                                   Event::CommandKeyMask));
    EXPECT_EQ(rig.window->firstResponder(), &rig.grid());
    screen->keyDown(Event::keyDown(QStringLiteral("f"), QStringLiteral("f"), Event::KeyCodeUnknown,
                                   Event::CommandKeyMask));
    EXPECT_EQ(rig.window->firstResponder(), screen->topBar()->searchField().get());
}

} // namespace corvex::test
