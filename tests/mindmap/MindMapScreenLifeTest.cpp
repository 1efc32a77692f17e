// The mind-map screen's life: screens of one document in two windows, notices while its own
// saves run, the context menu, dangling links and odd addresses from documents made
// elsewhere, switching views on virtual time, keys, restoration and forced closing.

#include "mindmap/SolarSystem.h"
#include "model/Globals.h"
#include "model/ObjectID.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "storage/PersistenceController.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/CustomAlertView.h"
#include "toolkit/ScreenFactory.h"

#include <QImage>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

QStringList menuTitles(const std::shared_ptr<Menu>& menu)
{
    QStringList titles;
    if (menu)
        for (const auto& item : menu->items())
            titles.append(item->isSeparator() ? QStringLiteral("-") : item->title());
    return titles;
}

void runMenuItem(SolarSystemViewController& screen, const QString& identifier, const QString& title)
{
    const auto menu = screen.onRightClickAtIdea(identifier);
    const auto item = menu ? menu->itemWithTitle(title) : nullptr;
    ASSERT_TRUE(item) << title.toStdString();
    item->action()(*item);
}

TEST(MindMapScreenLife, TwoWindowsOnOneCloudDocumentAgreeOnceAMoveIsSaved)
{
    MindMapScreenRig rig;
    const RigCloudLocation cloud(rig, {QStringLiteral("root(a b(b1) c)")});
    ASSERT_TRUE(cloud.state);
    const auto& state = cloud.state;
    const QString& identifier = cloud.identifier;
    ASSERT_TRUE(PersistenceController::singleton().isLocationReadyForUse(2));

    std::shared_ptr<SolarSystemViewController> screens[2];
    std::shared_ptr<RigWindow> windows[2] = {rig.window, rig.makeWindow()};
    for (int i = 0; i < 2; ++i) {
        screens[i] = cloud.show(rig, windows[i].get());
        ASSERT_TRUE(screens[i]);
    }
    ASSERT_NE(screens[0]->document(), screens[1]->document()) << "each window holds its own handle";

    const IdeaPtr c = findByText(screens[0]->rootIdea(), QStringLiteral("c"));
    screens[0]->moveIdeaInside(c, identifier, 1, {});
    ASSERT_TRUE(rig.settle([&] { return screens[0]->savesInFlight() == 0; }));
    ASSERT_TRUE(rig.settle([&] { return planetTexts(*screens[1]) == QStringList{"a", "b"}; }));
    EXPECT_EQ(outline(screens[1]->rootIdea()), QStringLiteral("root(a b(b1 c))"));
    EXPECT_EQ(outline(state->storedTree(identifier)), QStringLiteral("root(a b(b1 c))"));
    EXPECT_EQ(windows[1]->cloudIconLocations.value(0), 2u);
}

TEST(MindMapScreenLife, TheStateNamesAFileOnlyForADocumentKeptInOne)
{
    MindMapScreenRig rig;
    const RigCloudLocation cloud(rig, {QStringLiteral("root(a)")});
    ASSERT_TRUE(cloud.state);
    const auto shown = cloud.show(rig, rig.window.get());
    ASSERT_TRUE(shown);
    // A cloud document has no file: no "representedURL".
    const ValueDictionary state = shown->createState();
    EXPECT_EQ(state.value(QStringLiteral("docIdentifier")).toString(), cloud.identifier);
    EXPECT_FALSE(state.contains(QStringLiteral("representedURL")));

    // Restored without one, it keeps its identifier's URL; so does a state saved before, which
    // held that URL as "representedURL".
    ValueDictionary older = state;
    older.insert(QStringLiteral("representedURL"), cloud.identifier);
    for (const ValueDictionary& saved : {state, older}) {
        auto restored = SolarSystemViewController::initForRestoration();
        auto window = rig.makeWindow();
        window->switchToViewController(restored, false, {});
        ASSERT_TRUE(restored->restoreFromState(saved));
        ASSERT_TRUE(rig.settle(
            [&] { return restored->solarSystemState() == SolarSystemViewController::StateMindMap; }));
        EXPECT_EQ(restored->document(), PersistenceController::singleton().findDocument(cloud.identifier))
            << "a restored window made a handle of its own";
        EXPECT_EQ(restored->document()->representativeURL(), QUrl(cloud.identifier));
        EXPECT_EQ(window->docURL(), QUrl(cloud.identifier));
        EXPECT_FALSE(restored->createState().contains(QStringLiteral("representedURL")));
    }

    // A document opened from a file names it.
    qint64 token = 0;
    const auto local = rig.createDocument(treeFromOutline(QStringLiteral("root(b)")), token);
    const QUrl file = QUrl::fromLocalFile(testDir() + QStringLiteral("/Trip.corvex"));
    local->setRepresentativeURL(file);
    auto other = rig.makeWindow();
    const auto fromFile = rig.showDocument(local, token, QString(), other.get());
    EXPECT_EQ(fromFile->createState().value(QStringLiteral("representedURL")).toString(), file.toString());
}

TEST(MindMapScreenLife, NoticesAboutTheDocumentWaitUntilEveryOverlappingSaveEnded)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("root(a b)")), token);
    const auto screen = rig.showDocument(document, token);
    screen->addNewIdeaAfterIndex(-1, Idea::initWithText(QStringLiteral("x")));
    screen->addNewIdeaAfterIndex(-1, Idea::initWithText(QStringLiteral("y")));
    EXPECT_EQ(screen->savesInFlight(), 2);

    // A notice with a tree that does not have the new ideas is ignored while they save.
    const IdeaPtr stale = treeFromOutline(QStringLiteral("root(a b)"));
    document->setIdea(stale);
    NotificationCenter::defaultCenter().post(IdeaDocument::ChangedNotification, document.get());
    EXPECT_EQ(planetTexts(*screen), (QStringList{"y", "x", "a", "b"}));
    document->setIdea(screen->rootIdea());
    ASSERT_TRUE(rig.settle(*screen));
    EXPECT_EQ(outline(readStoredTree(storedPath(*document))), QStringLiteral("root(y x a b)"));
}

TEST(MindMapScreenLife, AnotherScreenOfTheSameTreeShowsItsChange)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(treeFromOutline(QStringLiteral("root(a b c)")), token);
    const auto first = rig.showDocument(document, token);
    auto other = rig.makeWindow();
    const auto second = rig.showDocument(document, token, QString(), other.get());
    first->moveIdeaInside(findByText(document->idea(), QStringLiteral("c")), document->docIdentifier(), 0,
                          {});
    ASSERT_TRUE(rig.settle(*first));
    EXPECT_EQ(planetTexts(*second), (QStringList{"a", "b"}));
}

TEST(MindMapScreenLife, TheContextMenuOffersWhatSuitsThePlanet)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(a(a1) b)"));
    (void)tree->ideas()[0]->addIdea(Idea::initWithURL(QStringLiteral("https://x.example/"), QVImage()));
    const auto document = rig.createDocument(tree, token);
    const auto screen = rig.showDocument(document, token, tree->ideas()[0]->identifier());
    const QString link = tree->ideas()[0]->ideas()[1]->identifier();
    struct Row
    {
        QString identifier;
        QStringList titles;
    };
    const std::vector<Row> rows = {
        {QString(), {"Edit", "-"}},
        {tree->identifier(), {"Open", "-"}},
        {findByText(tree, QStringLiteral("a1"))->identifier(), {"Open", "-", "Edit", "-", "Delete", "-"}},
        {link, {"Open", "-", "Edit", "-", "Delete", "-", "Open in Browser"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(menuTitles(screen->onRightClickAtIdea(row.identifier)), row.titles)
            << row.identifier.toStdString();
}

TEST(MindMapScreenLife, OnlyWebAddressesOpenInTheBrowser)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root"));
    const QStringList addresses = {"https://ok.example/", "HTTP://ok2.example/", "file:///etc/passwd",
                                   "javascript:alert(1)", "smb://host/share",    ""};
    for (const QString& address : addresses)
        (void)tree->addIdea(Idea::initWithURL(address, QVImage()));
    const auto document = rig.createDocument(tree, token);
    const auto screen = rig.showDocument(document, token);
    for (const IdeaPtr& child : tree->ideas())
        runMenuItem(*screen, child->identifier(), QStringLiteral("Open in Browser"));
    ASSERT_EQ(rig.urls->opened.size(), 2);
    EXPECT_EQ(rig.urls->opened[0], QUrl(QStringLiteral("https://ok.example/")));
    EXPECT_EQ(rig.urls->opened[1], QUrl(QStringLiteral("HTTP://ok2.example/")));
}

TEST(MindMapScreenLife, DanglingLinksAndUnknownIdeasOpenNothing)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(a b)"));
    const IdeaPtr dangling = Idea::initWithLinkToIdea(QStringLiteral("no-such-idea"));
    (void)tree->addIdea(dangling);
    const auto document = rig.createDocument(tree, token);
    const auto screen = rig.showDocument(document, token);
    const auto shown = screen->solarSystemView();
    screen->onDrillDownTo(dangling->identifier());
    screen->onDrillDownTo(QStringLiteral("not-in-the-tree"));
    screen->switchToIdea(dangling, true);
    rig.finishAnimations();
    EXPECT_EQ(screen->solarSystemView(), shown);
    EXPECT_EQ(screen->realIdea(), tree);
    EXPECT_FALSE(rig.window->notices.isEmpty());
    // A link elsewhere in the tree switches directly, without a drill of a missing planet.
    const IdeaPtr farLink = Idea::initWithLinkToIdea(tree->ideas()[0]->identifier());
    (void)tree->ideas()[1]->addIdea(farLink);
    screen->switchToIdea(farLink, true);
    EXPECT_FALSE(screen->drillingUpOrDown());
    EXPECT_EQ(screen->realIdea(), tree->ideas()[0]);
}

TEST(MindMapScreenLife, DeleteConfirmationsSayWhatIsLost)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(kids(k1 k2(k3)) noted plain)"));
    findByText(tree, QStringLiteral("noted"))->setNote(QStringLiteral("a note"));
    (void)tree->addIdea(
        Idea::initWithImageAttachment(QVImage(QImage(4, 4, QImage::Format_ARGB32)), ObjectID()));
    (void)tree->addIdea(Idea::initWithLinkToIdea(tree->ideas()[0]->identifier()));
    const auto document = rig.createDocument(tree, token);
    const auto screen = rig.showDocument(document, token);
    struct Row
    {
        int index;
        QString text; // empty: deleted without asking
    };
    const std::vector<Row> rows = {{4, QString()},
                                   {3, QStringLiteral("Element contains an image. Are you sure?")},
                                   {1, QStringLiteral("Element contains a note. Are you sure?")},
                                   {0, QStringLiteral("Element contains 3 sub-elements. Are you sure?")}};
    for (const Row& row : rows) {
        const QString identifier = tree->ideas()[std::size_t(row.index)]->identifier();
        const int alertsBefore = rig.alerts->presentedCount();
        rig.alerts->answerIndex(1); // cancel, when asked
        runMenuItem(*screen, identifier, QStringLiteral("Delete"));
        rig.settle(*screen);
        if (row.text.isEmpty()) {
            EXPECT_EQ(rig.alerts->presentedCount(), alertsBefore);
            EXPECT_FALSE(screen->isOurChildIdea(identifier));
            rig.alerts->answerDismissed();
        } else {
            ASSERT_EQ(rig.alerts->presentedCount(), alertsBefore + 1);
            EXPECT_EQ(rig.alerts->presented().back().informativeText, row.text);
            EXPECT_TRUE(screen->isOurChildIdea(identifier)) << "cancel kept it";
        }
        EXPECT_FALSE(screen->screenOccupied());
    }
}

TEST(MindMapScreenLife, DeletionIsRefusedForShownIdeasAndWhenAnotherWindowObjects)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(a(a1(a2)) b)"));
    const auto document = rig.createDocument(tree, token);
    const auto screen =
        rig.showDocument(document, token, findByText(tree, QStringLiteral("a1"))->identifier());
    for (const char* text : {"root", "a", "a1"})
        EXPECT_FALSE(screen->canWeSafelyDeleteIdea(findByText(tree, QString::fromLatin1(text))->identifier(),
                                                   document->docIdentifier()))
            << text;
    EXPECT_TRUE(screen->canWeSafelyDeleteIdea(findByText(tree, QStringLiteral("a2"))->identifier(),
                                              document->docIdentifier()));
    // The whole document (no idea) is refused while it is shown, whatever handle asks.
    EXPECT_FALSE(screen->canWeSafelyDeleteIdea(QString(), document->docIdentifier()));
    EXPECT_TRUE(screen->canWeSafelyDeleteIdea(tree->identifier(), QStringLiteral("temp:/other")));
    EXPECT_TRUE(screen->canWeSafelyDeleteIdea(QString(), QStringLiteral("temp:/other")));

    rig.app->safeToDelete = false;
    EXPECT_FALSE(screen->deleteIdeaWithIdentifier(findByText(tree, QStringLiteral("a2"))->identifier()));
    ASSERT_EQ(rig.alerts->presentedCount(), 1);
    EXPECT_EQ(rig.alerts->presented().back().informativeText,
              QStringLiteral(
                  "Document is open in other window. Please close the window before deleting document."));
    EXPECT_EQ(outline(tree), QStringLiteral("root(a(a1(a2)) b)"));
}

TEST(MindMapScreenLife, ViewsSwitchOnVirtualTimeAndKeysFollowTheState)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(a(a1) b)"));
    const auto document = rig.createDocument(tree, token);
    const auto screen =
        rig.showDocument(document, token, findByText(tree, QStringLiteral("a"))->identifier());
    ASSERT_EQ(rig.topBars.size(), 1u);
    RigTopBar& bar = *rig.topBars.front();
    EXPECT_TRUE(bar.contentShown);

    screen->topBarAction(2, Rect());
    EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("AnimatingSwitch"));
    EXPECT_EQ(screen->solarSystemState(), SolarSystemViewController::StateOverview);
    ASSERT_EQ(rig.overviews.size(), 1u);
    EXPECT_EQ(rig.overviews.front()->root, tree);
    rig.finishAnimations();
    EXPECT_FALSE(screen->screenOccupied());
    EXPECT_TRUE(screen->solarSystemView()->isHidden());
    EXPECT_FALSE(bar.contentShown);

    // A search typed in the overview filters it; Escape clears it, then goes back.
    bar.type(QStringLiteral("A1"));
    EXPECT_EQ(screen->solarSystemState(), SolarSystemViewController::StateOverviewSearch);
    EXPECT_EQ(rig.overviews.front()->searchText, QStringLiteral("A1"));
    rig.window->sendEvent(Event::keyDown(QStringLiteral("\x1b"), Event::KeyCodeEscape));
    EXPECT_EQ(screen->solarSystemState(), SolarSystemViewController::StateOverview);
    rig.window->sendEvent(Event::keyDown(QStringLiteral("\x1b"), Event::KeyCodeEscape));
    rig.finishAnimations();
    EXPECT_EQ(screen->solarSystemState(), SolarSystemViewController::StateMindMap);
    EXPECT_FALSE(screen->solarSystemView()->isHidden());

    // Command-F starts the search; Escape on a child drills up.
    rig.window->sendEvent(Event::keyDown(QStringLiteral("f"), Event::KeyCodeF, Event::CommandKeyMask));
    EXPECT_EQ(bar.editStarts, 1);
    bar.editing = false;
    rig.window->sendEvent(Event::keyDown(QStringLiteral("\x1b"), Event::KeyCodeEscape));
    rig.finishAnimations();
    EXPECT_EQ(screen->ownIdea(), tree);
}

TEST(MindMapScreenLife, StateRestoresTheShownIdeaAndALeftLocationClosesTheWindow)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(a(a1) b)"));
    const auto document = rig.createDocument(tree, token);
    const auto screen =
        rig.showDocument(document, token, findByText(tree, QStringLiteral("a"))->identifier());
    const ValueDictionary state = screen->createState();
    EXPECT_EQ(state.value(QStringLiteral("docIdentifier")).toString(), document->docIdentifier());
    EXPECT_EQ(state.value(QStringLiteral("ideaIdentifier")).toString(),
              findByText(tree, QStringLiteral("a"))->identifier());
    EXPECT_TRUE(SolarSystemViewController::initForRestoration()->createState().isEmpty());

    SolarSystemViewController::registerWithScreenFactory();
    auto restored = std::dynamic_pointer_cast<SolarSystemViewController>(
        ScreenFactory::create(QStringLiteral("SolarSystemViewController")));
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->solarSystemState(), SolarSystemViewController::StateRestoring);
    auto other = rig.makeWindow();
    other->switchToViewController(restored, false, {});
    EXPECT_TRUE(restored->restoreFromState(state));
    // Still opening, it guards its document already.
    EXPECT_FALSE(restored->canWeSafelyDeleteIdea(QString(), document->docIdentifier()));
    ASSERT_TRUE(
        rig.settle([&] { return restored->solarSystemState() == SolarSystemViewController::StateMindMap; }));
    EXPECT_EQ(restored->document(), document) << "a restored window made a handle of its own";
    EXPECT_EQ(restored->ownIdea()->identifier(), findByText(tree, QStringLiteral("a"))->identifier());
    EXPECT_EQ(planetTexts(*restored), QStringList{QStringLiteral("a1")});

    // A Dropbox document while the user has left Dropbox: the window closes at once.
    Globals::optForDropbox(false);
    auto gone = SolarSystemViewController::initForRestoration();
    auto third = rig.makeWindow();
    third->switchToViewController(gone, false, {});
    ValueDictionary dropbox;
    dropbox.insert(QStringLiteral("docIdentifier"), QStringLiteral("dropbox:/x.crvx"));
    EXPECT_TRUE(gone->restoreFromState(dropbox));
    EXPECT_EQ(third->closes, 1);
    EXPECT_FALSE(gone->restoreFromState(ValueDictionary()));
}

// Why a window closed without being asked is told once it has closed: the news comes while
// another alert's loop runs (as sync's notices do), the close waits for that loop to end, and
// only then the alert comes. A location the user switched off closes its windows silently.
TEST(MindMapScreenLife, AForcedCloseTellsWhyOnceTheWindowHasClosed)
{
    using News = std::function<void(SolarSystemViewController&, const IdeaDocument&)>;
    struct Row
    {
        const char* what;
        News news;
        const char* told; // in the alert's message; null: no alert
    };
    const Row rows[] = {
        {"deleted in its location",
         [](SolarSystemViewController& screen, const IdeaDocument& document) {
             screen.documentDeleted(document.docIdentifier());
         },
         "Its document was removed from its folder,"},
        {"replaced by a tree with another root",
         [](SolarSystemViewController& screen, const IdeaDocument&) {
             screen.modelDidChangeWithNewRootIdea(treeFromOutline(QStringLiteral("other(x)")));
         },
         "Its document was replaced in its folder by a different one,"},
        {"its location switched off",
         [](SolarSystemViewController& screen, const IdeaDocument& document) {
             screen.pleaseStopUsingLocation(document.location());
         },
         nullptr},
    };
    for (const Row& row : rows) {
        MindMapScreenRig rig;
        qint64 token = 0;
        const auto document = rig.createDocument(treeFromOutline(QStringLiteral("Garden(beds)")), token);
        const auto screen = rig.showDocument(document, token);
        int closesInsideNotice = -1;
        int closesWhenTold = -1;
        rig.alerts->setHandler([&](const Alert& alert) -> std::optional<int> {
            if (alert.informativeText != QLatin1String("a notice")) {
                closesWhenTold = rig.window->closes;
                return std::nullopt;
            }
            row.news(*screen, *document);
            rig.settle([&] { return rig.window->isClosing(); });
            closesInsideNotice = rig.window->closes;
            EXPECT_EQ(rig.alerts->presentedCount(), 1) << row.what << ": told inside another alert";
            return std::nullopt;
        });
        CustomAlertView::showErrorWithMessage(QStringLiteral("a notice"));
        EXPECT_EQ(closesInsideNotice, 0) << row.what;
        EXPECT_EQ(screen->currentOccupyingOperation(), QStringLiteral("ClosingWindow")) << row.what;
        ASSERT_TRUE(rig.settle([&] { return rig.window->closes == 1; })) << row.what;
        rig.drain();
        if (!row.told) {
            EXPECT_EQ(rig.alerts->presentedCount(), 1) << row.what;
            continue;
        }
        ASSERT_EQ(rig.alerts->presentedCount(), 2) << row.what;
        EXPECT_EQ(closesWhenTold, 1) << row.what << ": told before the window closed";
        const Alert& told = rig.alerts->presented().back();
        EXPECT_EQ(told.messageText, QStringLiteral("The window of \u201cGarden\u201d was closed"))
            << row.what;
        EXPECT_TRUE(told.informativeText.contains(QLatin1String(row.told)))
            << told.informativeText.toStdString();
    }
}

// The window a forced close takes keeps the edit of its open editor: the edit is saved, and
// the window goes only once that save has answered.
TEST(MindMapScreenLife, AForcedCloseSavesTheOpenEditorsEditBeforeTheWindowGoes)
{
    class StoredAtCloseWindow : public RigWindow
    {
    public:
        using RigWindow::RigWindow;
        void windowWillClose() override
        {
            storedAtClose = outline(readStoredTree(storedFile));
            if (const auto map = std::dynamic_pointer_cast<SolarSystemViewController>(controller()))
                savesRunningAtClose = map->savesInFlight();
            RigWindow::windowWillClose();
        }
        QString storedFile;
        QString storedAtClose;
        int savesRunningAtClose = -1;
    };
    MindMapScreenRig rig;
    qint64 token = 0;
    const IdeaPtr tree = treeFromOutline(QStringLiteral("root(a b)"));
    const auto document = rig.createDocument(tree, token);
    StoredAtCloseWindow window(Size(1000, 800));
    window.storedFile = storedPath(*document);
    window.makeKeyAndOrderFront();
    const auto screen = rig.showDocument(document, token, QString(), &window);
    EditorScript script;
    script.didChange = true;
    script.title = QStringLiteral("a edited");
    rig.editors->next = script;
    screen->onEditIdea(findByText(tree, QStringLiteral("a"))->identifier());
    ASSERT_TRUE(rig.editors->lastIdeaEditor && rig.editors->lastIdeaEditor->shown);

    screen->documentDeleted(document->docIdentifier());
    ASSERT_TRUE(rig.settle([&] { return window.closes == 1; }));
    EXPECT_EQ(window.storedAtClose, QStringLiteral("root(a edited b)"));
    EXPECT_EQ(window.savesRunningAtClose, 0) << "the save answered after the window went";
}

} // namespace
} // namespace corvex::test
