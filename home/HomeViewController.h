#pragma once

#include "home/IdeaListViewDelegate.h"
#include "mindmap/MindMapScreenSeams.h"
#include "mindmap/ScreenDrops.h"
#include "mindmap/ScreenEditing.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaEditingService.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceControllerListener.h"
#include "toolkit/BaseViewController.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class DocumentWindowServices;
class Event;
class IdeaListView;
class SimpleIdeaView;
class IdeaView;
class MainLayoutView;
class Menu;
class MenuItem;
class TopBarView;

// The home screen of one storage location (2 iCloud, 3 Dropbox): the location's documents as
// a grid of planets under a top bar holding only the search field. It keeps the grid in step
// with the storage layer, searches all documents as the user types (results are read-only),
// opens a document in the mind-map screen, edits its root idea in place through the editor
// seam, creates and deletes documents and imports local files.
//
// Every opened document's token is either handed on (to the mind-map screen or an editor's
// after-editing block) or released. The context-menu actions, like the grid's, do nothing
// while the screen is occupied. Screen states: 0 browsing, 1 browsing without a list, 3 a
// search runs, 4 results shown. Main thread only.
class HomeViewController : public BaseViewController,
                           public IdeaListViewDelegate,
                           public TopBarServicesDelegate,
                           public ScreenDrops,
                           public ScreenEditing,
                           public PersistenceControllerListener
{
public:
    struct Private
    {
        explicit Private() = default;
    };
    explicit HomeViewController(Private);
    ~HomeViewController() override;

    static constexpr std::uint64_t StateBrowsing = 0;
    static constexpr std::uint64_t StateBrowsingWithoutList = 1;
    static constexpr std::uint64_t StateSearching = 3;
    static constexpr std::uint64_t StateResults = 4;

    // The screen occupations.
    static const QString OpenDocumentOperation;       // "OpenDocument"
    static const QString OpenSolarSystemOperation;    // "OpenSolarSystem"
    static const QString IdeaEditingOperation;        // "IdeaEditing"
    static const QString ConflictDialogOperation;     // "ConflictDialog"
    static const QString DeleteConfirmationOperation; // "DeleteConfirmationForContextMenu"
    // From a drop's or a menu's choice until its edit answered.
    static const QString EditUnderWayOperation; // "EditUnderWay"

    // A screen of the location; a non-empty text starts its search at once.
    static std::shared_ptr<HomeViewController> initWithLocation(StorageLocation location,
                                                                const QString& searchText = QString());
    // A screen of location 0 waiting for restoreFromState.
    static std::shared_ptr<HomeViewController> initForRestoration();
    // Registers "HomeViewController" with ScreenFactory: arguments "location" (2 when
    // missing) and "searchText"; an empty dictionary makes a screen for restoration.
    static void registerWithScreenFactory();

    StorageLocation location() const { return mLocation; }
    // The document whose open waits for the location's first complete list (null: none).
    const QString& waitingOpen() const { return mOpenWaitingForList; }
    std::uint64_t state() const { return mState; }
    bool isSearching() const { return mState == StateSearching || mState == StateResults; }
    qint64 currentSearchRequestID() const { return mCurrentSearchRequestID; }
    const std::shared_ptr<IdeaListView>& ideaListView() const { return mIdeaListView; }
    const std::shared_ptr<TopBarView>& topBar() const { return mTopBar; }
    const std::shared_ptr<MainLayoutView>& layoutView() const { return mLayoutView; }

    // ---- State and life cycle ----
    ValueDictionary createState() override;
    bool restoreFromState(const ValueDictionary& state) override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void becameTopLevelController() override;
    bool validateUserInterfaceItem(const MenuItem& item) override;
    void keyDown(const Event& event) override;
    void reactToStateChange() override;
    void ensureCorrectTitle();
    void reloadTable();
    void updateView();
    void updateStatusDueToPossibleDockingUpdate();

    // ---- Search ----
    void topBarAction(int action, const Rect& fromRect) override;
    void topBarSearchStatusDidChange(bool changed) override;

    // ---- Storage ----
    void pleaseStopUsingLocation(StorageLocation location) override;
    void batchUpdateStartingInLocation(StorageLocation location) override;
    void batchUpdateDoneInLocation(StorageLocation location) override;
    void documentAppended(const IdeaProxyPtr& proxy) override;
    void documentAdded(const IdeaProxyPtr& proxy, qint64 index) override;
    void documentMoved(const IdeaProxyPtr& proxy, qint64 index) override;
    void documentUpdated(const IdeaProxyPtr& proxy) override;
    void documentDeleted(const QString& docIdentifier) override;
    void searchIsReady(const std::vector<IdeaProxyPtr>& proxies, StorageLocation location,
                       qint64 requestIdentifier) override;

    // ---- Grid ----
    void onDrillDownTo(const QString& docIdentifier, bool startEditing) override;
    void pleaseCreateNewIdea() override;
    bool hasShadowModeForDocument(const QString& docIdentifier) override;
    void startDragForIdea(const QString& ideaIdentifier, const QString& docIdentifier, const Rect& fromRect,
                          const Event* event) override;
    std::shared_ptr<Menu> onRightClickAtDocument(const QString& docIdentifier) override;
    void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                      const Event& event) override;

    // ---- Drops (the window asks where a drag lands and what a drop means) ----
    // Kinds of target besides the shared dock and delete area: a document or an adder of the
    // grid, and a grid item as the place a document dragged from it returns to. What a drop
    // may be turned into are the shared choices (move or copy here or inside, delete).
    static constexpr quint64 GridTarget = 1;
    static constexpr quint64 GridItemReturnTarget = 4;
    bool dragOperationStarted(const DragInfo& info) override;
    DragTarget dragOperationUpdate(const DragInfo& info) override;
    void dragOperationExited() override;
    void dragOperationEndedWithResult(const DragInfo& info, DragResult result) override;
    // The grid's focus: an adder's index (adder true), else a document's index (adder
    // unchanged), else IdeaListView::NotFound.
    std::uint64_t indexOfDragFocusPoint(bool& adder) const;
    // Whether the document of the location's list is beside the adder at `index` (the adder
    // before the first document counts as beside it).
    bool isDocumentNearAdditionPoint(const QString& docIdentifier, std::uint64_t index) const;
    // Picks a choice of the drop being settled, or cancels it (nullopt), as the menu does.
    void copyPasteAction(std::optional<DropChoice> choice) override;
    bool dropPending() const { return dropBeingDecided(); }

    // ---- Actions ----
    void openSolarSystemForIdeaDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                        bool startEditing);
    void editOpenedProxy(const IdeaProxyPtr& proxy, qint64 token);
    void onAddNewIdea();
    // Through the editing service: Changed or Refused, once, on a later turn.
    using EditCompletion = IdeaEditingService::EditCompletion;
    void deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier, EditCompletion completion);
    void deleteDocument(const QString& docIdentifier, EditCompletion completion);
    void onOpenItem(const MenuItem& item);
    void onOpenItemInNewWindow(const MenuItem& item);
    void onEditItem(const MenuItem& item);
    void onDeleteItem(const MenuItem& item);
    void qvImport();

    // ---- Editors ----
    void editIdeaViewDidClose() override;

protected:
    void loadView() override;

private:
    std::shared_ptr<HomeViewController> sharedSelf();
    void initializeHomeViewController();
    void updateState(std::uint64_t state);
    void startSearchWithText(const QString& text);
    // While searching, runs the search again (a new document may match) and answers true.
    bool searchAgainForNewDocument();
    void makeGridFirstResponder();
    // Opens the document behind the proxy under "OpenDocument"; `opened` gets a valid token
    // of a document that is not in conflict (failures are shown and cleaned up here).
    void openProxy(const IdeaProxyPtr& proxy, std::function<void(qint64 token)> opened);
    // The document of the location's complete list opened in the mind map (or its root
    // edited); a document the list lacks is told as a failed open.
    void openListedDocument(const QString& docIdentifier, bool startEditing);
    // Deletes a listed document, asking first when it holds something to lose.
    void askToDeleteDocument(const QString& docIdentifier);
    // The answer to an open or create under "OpenDocument": the token goes back when the
    // screen is gone, else the screen is freed and `then` runs with the token (0: failed).
    PersistenceController::TokenCompletion
    whenDocumentOpened(const std::shared_ptr<IdeaDocument>& document,
                       std::function<void(HomeViewController& self, qint64 token)> then);
    void showOpeningFailure(const std::shared_ptr<IdeaDocument>& document);
    void handleConflict(const IdeaProxyPtr& proxy, qint64 token);
    void releaseToken(const std::shared_ptr<IdeaDocument>& document, qint64 token);
    void editOpenedTextualIdeaProxy(const IdeaProxyPtr& proxy, const IdeaPtr& idea, qint64 token);
    void editOpenedImageIdeaProxy(const IdeaProxyPtr& proxy, const IdeaPtr& idea, qint64 token);
    void editOpenedURLIdeaProxy(const IdeaProxyPtr& proxy, const IdeaPtr& idea, qint64 token);
    // Shows a picture viewer or web-link editor under "IdeaEditing"; `afterEditing` runs once
    // when it is dismissed.
    void presentSlideUpEditor(const std::shared_ptr<BaseViewController>& editor,
                              std::function<void()> afterEditing);
    ViewController& editingScreen() override { return *this; }
    // Gives the idea (the document's root) new values through the editing service, saves the
    // document with the token, then hands the token back.
    static void applyAndSave(const std::shared_ptr<IdeaDocument>& document, qint64 token, const IdeaPtr& idea,
                             const std::function<void(Idea& idea)>& apply);
    std::shared_ptr<MenuItem> menuItemForDoc(const QString& docIdentifier, const QString& title,
                                             void (HomeViewController::*action)(const MenuItem&));
    DocumentWindowServices* windowServices() const override;
    // The screen's side of a drop (ScreenDrops).
    std::weak_ptr<ScreenDrops> weakScreenDrops() override { return sharedSelf(); }
    bool canDecideDrop() const override;
    void dropWillBeDecided() override;
    bool acceptDropAt(const DragTarget& target) override;
    void dockedIdeaDeleted() override;
    bool offerDeletionAt(const DragTarget& target) override;
    void acceptDraggedIdeaIntoIdeaList();
    // The storage call of a copy or move, once the idea's attachments are in the location.
    void performDropChoice(DropChoice choice);
    // Occupies the screen until the completion it gives runs.
    EditCompletion holdScreenUntilAnswered();
    void handleDragEndWithResult(DragResult result) override;
    // The index the drop's target document has in the location's list now (the list's end
    // for the adder after the last document); nullopt when it is gone.
    std::optional<qint64> resolvedDropIndex() const;

    StorageLocation mLocation = IdeaDocument::TemporaryLocation;
    std::uint64_t mState = StateBrowsing;
    qint64 mCurrentSearchRequestID = 0;
    // Where the drop being settled lands, taken by document identifier when the drop
    // arrives (a grid showing search results numbers its items otherwise than the location's
    // list): the document at the focus, or the one the focused adder stands before (empty:
    // after the last).
    QString mDropTargetDocIdentifier;
    bool mDropTargetIsAdder = false;
    // The drop being settled took the screen at its choice.
    bool mDropHoldsScreen = false;
    // The document an open waits for while the location's list is not complete (null: none).
    QString mOpenWaitingForList;
    bool mOpenWaitingStartsEditing = false;
    std::shared_ptr<TopBarView> mTopBar;
    std::shared_ptr<IdeaListView> mIdeaListView;
    std::shared_ptr<MainLayoutView> mLayoutView;
    std::shared_ptr<IdeaEditor> mIdeaEditor;
    // Edits of stored documents only: the home screen holds no tree open.
    IdeaEditingService mEditing{{}, {}};
};

} // namespace corvex
