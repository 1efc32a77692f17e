#pragma once

#include "mindmap/ExportAndPrintSeams.h"
#include "mindmap/ForcedCloseNotice.h"
#include "mindmap/KeptCopyRecord.h"
#include "mindmap/MindMapFiles.h"
#include "mindmap/MindMapScreenSeams.h"
#include "mindmap/ScreenDrops.h"
#include "mindmap/ScreenEditing.h"
#include "mindmap/SolarSystemDelegate.h"
#include "model/Idea.h"
#include "model/MyResult.h"
#include "platform/core/Value.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaEditObserver.h"
#include "storage/IdeaEditingService.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceControllerListener.h"
#include "toolkit/BaseViewController.h"
#include "toolkit/Layouter.h"

#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class DeleteAreaView;
class DockAreaView;
class IdeaDocumentDataObject;
class DocumentWindowServices;
class Event;
class Menu;
class MenuItem;
class SimpleIdeaView;
class SolarFocusObject;
class SolarSystem;
class View;

// The screen of one open document inside a document window: the top bar, the solar system
// of the idea shown (its children are the planets), the overview graph of the whole tree, the
// dock and the delete area.
//
// Every change of the tree goes through the screen's IdeaEditingService, which the screen
// hears (ideaTreeEdited: the planets move and are refreshed from the model) and which saves
// through saveDocument; while any of this screen's saves runs (they can
// overlap, so they are counted) the screen ignores notices about its own document. The
// editors are shown through the EditorFactory seam, the overview through OverviewGraph, the
// top bar through TopBarServices and the window through DocumentWindowServices; a missing
// seam is logged and the action does nothing.
//
// Screen states: 0 restoring (no document yet), 1 mind map, 2 overview graph, 3 overview with
// a search begun there, 4 search begun from the mind map. Main thread only.
class SolarSystemViewController : public BaseViewController,
                                  public Layouter,
                                  public SolarSystemDelegate,
                                  public PersistenceControllerListener,
                                  public TopBarServicesDelegate,
                                  public OverviewGraphDelegate,
                                  public ScreenEditing,
                                  public ScreenDrops,
                                  public IdeaEditObserver
{
public:
    // The screen states.
    static constexpr std::uint64_t StateRestoring = 0;
    static constexpr std::uint64_t StateMindMap = 1;
    static constexpr std::uint64_t StateOverview = 2;
    static constexpr std::uint64_t StateOverviewSearch = 3;
    static constexpr std::uint64_t StateMindMapSearch = 4;

    // A missing index among realIdea's children.
    static constexpr std::int64_t NotFound = std::int64_t(Idea::NotFound);

    struct Private
    {
        explicit Private() = default;
    };
    explicit SolarSystemViewController(Private);
    ~SolarSystemViewController() override;

    // A screen of the open document showing the idea with the identifier (the root when it
    // is null or not in the tree).
    static std::shared_ptr<SolarSystemViewController>
    initWithDoc(const std::shared_ptr<IdeaDocument>& document, qint64 token, const QString& ideaIdentifier);
    // A screen waiting for restoreFromState (state 0).
    static std::shared_ptr<SolarSystemViewController> initForRestoration();
    // Registers "SolarSystemViewController" with ScreenFactory (made for restoration).
    static void registerWithScreenFactory();

    // ---- State ----
    ValueDictionary createState() override;
    // The state of a screen showing the document (the idea may be null), as createState
    // gives it: for a window whose screen is still to be made.
    static ValueDictionary stateOf(const IdeaDocument& document, const QString& ideaIdentifier, bool edited);
    bool restoreFromState(const ValueDictionary& state) override;
    void setCurrentDoc(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                       const QString& ideaIdentifier);

    const std::shared_ptr<IdeaDocument>& document() const { return mDoc; }
    qint64 documentToken() const { return mDocToken; }
    std::uint64_t solarSystemState() const { return mSolarSystemState; }
    const IdeaPtr& ownIdea() const { return mOwnIdea; }
    const IdeaPtr& realIdea() const { return mRealIdea; }
    const IdeaPtr& rootIdea() const { return mRootIdea; }
    void setOwnIdea(const IdeaPtr& idea);
    // The current mind map; null before an idea is shown.
    const std::shared_ptr<SolarSystem>& solarSystemView() const { return mSolarSystem; }
    const std::shared_ptr<TopBarServices>& topBar() const { return mTopBar; }
    const std::shared_ptr<OverviewGraph>& graphView() const { return mGraphView; }
    const std::shared_ptr<DockAreaView>& dockAreaView() const { return mDockAreaView; }
    const std::shared_ptr<DeleteAreaView>& deleteAreaView() const { return mDeleteAreaView; }
    // How many of this screen's saves are running.
    int savesInFlight() const { return mSavesInFlight; }
    bool updatingDocument() const { return mSavesInFlight > 0; }
    bool drillingUpOrDown() const { return mDrillingUpOrDown; }

    // ---- View life cycle ----
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;
    void viewDidDisappear() override;
    void applyLayout() override;
    void becameTopLevelController() override;
    void addViewsIfPossible();
    void ensureTopBarState();
    void updateScreenButtons(bool hasParent);

    // ---- Screen switching ----
    void pleaseSwitchToMindmapOrSearch(bool animated);
    void pleaseSwitchToSolarView();
    void pleaseSwitchToHomeView();
    void startSwitchAnimation(const std::shared_ptr<View>& from, const std::shared_ptr<View>& to);
    void updateGraphSearch();
    void makeSearch(const QString& text);
    void qvToggleMindmap();

    // ---- Idea switching ----
    void switchToIdea(const IdeaPtr& idea, bool animated);
    void modelDidChangeWithNewRootIdea(const IdeaPtr& root);

    // ---- Top bar ----
    void topBarAction(int action, const Rect& fromRect) override;
    void topBarSearchStatusDidChange(bool changed) override;

    // ---- Keyboard ----
    void keyDown(const Event& event) override;
    void cancelOperation();

    // ---- Overview graph ----
    void onIdeaSelected(const IdeaPtr& idea) override;
    void openIdeaInNewWindow(const IdeaPtr& idea) override;
    bool canOpenIdeaInNewWindow() override;

    // ---- Storage (the screen hears only of its own document and location) ----
    void pleaseStopUsingLocation(StorageLocation location) override;
    void documentUpdated(const IdeaProxyPtr& proxy) override;
    void documentDeleted(const QString& docIdentifier) override;
    // "IdeaDocumentChangedNotification" about a document.
    void documentContentChanged(const std::shared_ptr<IdeaDocument>& document);
    void persistenceStateChangeNotification();
    // Posted by a screen after each successful save of its document (userInfo
    // "docIdentifier" and "document", the handle's address): other screens of the same
    // document show its tree again, so that none keeps planets of ideas moved away.
    static const QString SavedByScreenNotification;
    void documentSavedByAnotherScreen(const QString& docIdentifier, quintptr document);

    // ---- Window and screen ----
    void updateWindowFromDocument(const std::shared_ptr<IdeaDocument>& document);
    void markDocumentChange();
    // The document cannot be shown here any more: an open editor's edit is kept and saved,
    // the document is handed back once every save of this screen has answered, the window
    // closes, and then the user is told why (ForcedCloseNotice). Once per screen.
    void performForcedClose(ForcedCloseNotice::Reason reason);
    void setUserInteractionEnabled(bool enabled);
    // Input to the mind map follows occupation: off while the screen is occupied.
    void reactToStateChange() override;
    void showAlertViewWithTitle(const QString& title, const QString& message);
    // The window's services; null when the view is in no document window.
    DocumentWindowServices* windowServices() const override;
    // The map's name for the user: its root's text, else the document's file name.
    QString mapName() const;

    // ---- Lookups (indices among realIdea's children) ----
    std::int64_t indexOfIdeaWithIdentifier(const QString& identifier) const;
    std::int64_t indexForIdea(const QString& identifier, const QString& docIdentifier) const;
    IdeaPtr childIdeaWithIdentifier(const QString& identifier) const;
    IdeaPtr ideaForIdea(const QString& identifier) const;
    IdeaPtr ideaAtIndex(std::int64_t index) const;
    std::int64_t insertionIndexFromIdentifier(const QString& identifier) const;
    std::int64_t insertionIndexFromObjectTag(const IdeaPtr& idea) const;
    std::int64_t indexAfter(std::int64_t afterIndex) const;
    bool isOurCentralIdea(const QString& identifier) const;
    bool isOurParentIdea(const QString& identifier) const;
    bool isOurChildIdea(const QString& identifier) const;

    // ---- Idea operations ----
    // Each goes through the editing service: the outcome (Changed, Moved, Copied, Refused)
    // comes to the completion once, on a later turn. A move of an idea from another document
    // inserts a copy with fresh identifiers, saves, and only after that save deletes the idea
    // from its document; Copied when the save or the deletion failed (the source keeps it).
    using EditCompletion = IdeaEditingService::EditCompletion;
    // Holds the screen from a drop's or a menu's choice until its edit answers.
    static const QString EditUnderWayOperation;
    void addNewIdeaAfterIndex(std::int64_t afterIndex, const IdeaPtr& idea, EditCompletion completion = {});
    void moveIdeaAfter(const IdeaPtr& idea, const QString& docIdentifier, std::int64_t afterIndex,
                       EditCompletion completion);
    void moveIdeaInside(const IdeaPtr& idea, const QString& docIdentifier, std::int64_t index,
                        EditCompletion completion);
    void moveToParentTheIdea(const IdeaPtr& idea, const QString& docIdentifier, EditCompletion completion);
    void copyIdeaAfter(const IdeaPtr& idea, std::int64_t afterIndex, EditCompletion completion);
    void copyIdeaInside(const IdeaPtr& idea, std::int64_t index, EditCompletion completion);
    void copyToParentTheIdea(const IdeaPtr& idea, EditCompletion completion);
    void createLinkToIdea(const IdeaPtr& idea, std::int64_t afterIndex, EditCompletion completion);
    // False, with nothing asked of the service, for an idea that is no planet or is open
    // elsewhere (the user is told).
    bool deleteIdeaWithIdentifier(const QString& identifier, EditCompletion completion = {});
    // The editor's values, a picture or an address for an idea of the tree.
    void applyIdeaValues(const QString& identifier, const std::function<void(Idea& idea)>& apply,
                         EditCompletion completion = {});
    // Refreshes the mind map from the model and saves; `saved` (may be empty) hears the
    // save's outcome.
    void updateSolarSystemAndSaveDocument(BoolCompletion saved = {});
    void ideaTreeEdited(const IdeaEditSummary& summary) override;
    // False for the screen's own document when the idea is the one shown or above it, and
    // for the whole document (a null identifier); a screen still restoring guards the
    // document it is restoring.
    bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) override;

    // ---- SolarSystemDelegate ----
    void onAddNewIdeaAfterIndex(std::int64_t index, const Rect& fromRect) override;
    void onEditIdea(const QString& ideaIdentifier) override;
    void onDrillDownTo(const QString& ideaIdentifier) override;
    void onDrillUp() override;
    std::shared_ptr<Menu> onRightClickAtIdea(const QString& ideaIdentifier) override;

    // ---- Context menu actions (the item's represented object is the idea identifier) ----
    void onOpenItem(const MenuItem& item);
    void onOpenItemInNewWindow(const MenuItem& item);
    void onEditItem(const MenuItem& item);
    void onDeleteItem(const MenuItem& item);
    void onOpenItemInBrowser(const MenuItem& item);

    // ---- Editing ----
    void doEditTextualIdea(const IdeaPtr& idea);
    void doEditImageIdea(const IdeaPtr& idea);
    void doEditURLIdea(const IdeaPtr& idea);
    void editIdeaViewDidClose() override;
    void pleaseStartImageAddition();
    void pleaseStartWebLinkAddition();
    // Closes whatever editor is open, keeping its result (its after-editor block runs).
    void closeOpenEditor();
    const std::shared_ptr<IdeaEditor>& ideaEditor() const { return mIdeaEditor; }

    // --- Drag and drop ---
    // Kinds of drop targets this screen answers besides DragTarget::Dock and ::DeleteArea: a
    // planet or slot of the map, and (as a return target) the planet a drag began on.
    static constexpr quint64 MindMapFocusTarget = 1;
    static constexpr quint64 OwnPlanetTarget = 4;

    // (SolarSystemDelegate and DockAreaViewDelegate through ScreenDrops: drags start here.)
    void startDragForIdea(const QString& ideaIdentifier, const Rect& fromRect, const Event& event) override;
    void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                      const Event& event) override;

    // DragSupportDelegate.
    bool dragOperationStarted(const DragInfo& info) override;
    DragTarget dragOperationUpdate(const DragInfo& info) override;
    void dragOperationExited() override;
    void dragOperationEndedWithResult(const DragInfo& info, DragResult result) override;

    void copyPasteAction(std::optional<DropChoice> choice) override;
    void handleDragEndWithResult(DragResult result) override;
    // The dock shows the window's docked idea (hidden without one); shadows follow it.
    void updateStatusDueToPossibleDockingUpdate();
    // No identifier: no shadows; else the planet of that identifier half transparent.
    void updateShadowStatusForIdea(const QString& ideaIdentifier, const QString& docIdentifier);
    // The child at a focus index; null at or past the end.
    IdeaPtr childIdeaAtFocusIndex(std::int64_t index) const;
    // 0 without children or when the index exceeds the number of children, else the index.
    std::int64_t safeInsertionIndexFromFocusIndex(std::int64_t index) const;
    // Slot s touches child k on a circle of n: s mod n or (s + 1) mod n is k mod n (false for
    // n of 0 or less).
    static bool isInsertionIndexAttachedToIndex(std::int64_t slot, std::int64_t child, std::int64_t count);

private:
    // The screen's side of a drop (ScreenDrops).
    bool canDecideDrop() const override;
    void dropRefused() override;
    bool acceptDropAt(const DragTarget& target) override;
    bool offerDeletionAt(const DragTarget& target) override;
    void dropTookIdeaOutOfDock() override;
    std::weak_ptr<ScreenDrops> weakScreenDrops() override { return sharedSelf(); }
    void acceptDraggedIdeaToSolarSystem();
    void acceptDropIntoDock();
    void performDropChoice(DropChoice choice, const std::shared_ptr<SolarFocusObject>& focus);

public:
    // --- end ---

    // --- Saving, import, export, printing and closing (MindMapFiles) ---
    using ResultCompletion = MindMapFiles::ResultCompletion;

    // The save items ("qvSaveLocalFile:", "qvSaveLocalFileAs:") only for a document of the
    // temporary location; everything else as the base class says.
    bool validateUserInterfaceItem(const MenuItem& item) override;
    // Menu actions; each does nothing while the screen is occupied.
    void qvSaveLocalFile() { mFiles->qvSaveLocalFile(); }
    void qvSaveLocalFileAs() { mFiles->qvSaveLocalFileAs(); }
    void qvImport() { mFiles->qvImport(); }
    void qvExport() { mFiles->launchExportForType(ExportScreen::OwnFormat); }
    void qvPrintIdea() { mFiles->qvPrintIdea(); }
    void cloudMenuOpened() {}
    void doSaveLocalFile(const QUrl& url, ResultCompletion completion)
    {
        mFiles->doSaveLocalFile(url, std::move(completion));
    }
    void performSaveLocalFileWithCompletion(ResultCompletion completion)
    {
        mFiles->performSaveLocalFileWithCompletion(std::move(completion));
    }
    void launchExportForType(quint64 shareType) { mFiles->launchExportForType(shareType); }
    // "corvex_yyyyMMdd_HHmm.pdf" for the current local time.
    QString createPDFFileName() const { return MindMapFiles::createPDFFileName(); }
    // Closes an open editor first (its result is kept and saved); waits for an edit not yet
    // answered; asks whether to save an edited document of the temporary location (answering
    // false meanwhile); otherwise hands the document back and answers true.
    //
    // A save that fails is tried again (SaveRetry) until one succeeds; meanwhile the window
    // is marked edited, and closing it asks first whether to lose the changes.
    bool startClosingCanCloseNow() override { return mFiles->startClosingCanCloseNow(); }
    // The map's name and why its last save failed, while no later save succeeded.
    std::optional<UnsavedChanges> unsavedChanges() const override { return mFiles->unsavedChanges(); }
    void pleaseDismissSharingView(ViewController& screen) { mFiles->pleaseDismissSharingView(screen); }
    const std::shared_ptr<ExportScreen>& exportScreen() const { return mFiles->exportScreen(); }
    bool canCloseTempFileIfAsked() const { return mFiles->canCloseTempFileIfAsked(); }

protected:
    void loadView() override;

private:
    void initializeSolarSystemViewController();
    void tryLoadingDocumentForRestoration();
    // ---- A local file's window against its file (KeptCopyRecord)
    // The record of this window's kept copy; none without a file or without knowing what it
    // held.
    std::optional<KeptCopyRecord> keptCopyRecord(bool edited) const;
    // The kept copy and the file are in step now, the kept copy holding edits or not.
    void restartKeptCopyCounts(const IdeaDocument& document, bool holdsEdits);
    // A save into the file, of the tree at that change count, succeeded.
    void fileWritten(const QUrl& url, quint64 change);
    // The restoration opens the kept copy (taking the record, when there is one, as its own).
    void openRestoredKeptCopy(const std::shared_ptr<IdeaDocument>& document, const QString& ideaIdentifier,
                              const std::optional<KeptCopyRecord>& record);
    // A restoration's open answered: the document shown here, in step with its file as the
    // record says; a refusal closes the window.
    PersistenceController::TokenCompletion showWhenOpened(const std::shared_ptr<IdeaDocument>& document,
                                                          const QString& ideaIdentifier,
                                                          const std::optional<KeptCopyRecord>& record);
    void showRestoredDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                              const QString& ideaIdentifier);
    // Looks at the file first: the record chooses between it and the kept copy.
    void restoreLocalFile(const std::shared_ptr<IdeaDocument>& keptCopy, const QString& ideaIdentifier,
                          const KeptCopyRecord& record);
    // The file's tree shown: in the kept copy itself (`replaceKeptCopy`), or in a new document
    // while the kept copy goes to a window of its own.
    void showFileOverKeptCopy(const std::shared_ptr<IdeaDocument>& keptCopy, const QString& ideaIdentifier,
                              bool replaceKeptCopy, const FileFingerprint& fingerprint,
                              const std::shared_ptr<IdeaDocumentDataObject>& payload);
    void showFileInNewDocument(const QUrl& file, const FileFingerprint& fingerprint,
                               const std::shared_ptr<IdeaDocumentDataObject>& payload);
    // The document shown, or the one a restoration waits for; empty for neither.
    QString shownDocIdentifier() const;
    void observeDocument();
    void stopObserving();
    Rect mindMapFrame() const;
    void startAnimatedDrillDownToIdea(const IdeaPtr& idea, const std::shared_ptr<SolarSystem>& next);
    void startAnimatedDrillUpWithSolarSystem(const std::shared_ptr<SolarSystem>& next);
    void switchDirectlyToIdea(const IdeaPtr& idea, const std::shared_ptr<SolarSystem>& next);
    void followDockedIdeaShadows();
    // The dock shows the window's docked idea again (after this screen docked one).
    void refreshDockFromWindow();
    void makeMindMapFirstResponder();
    void makeGraphFirstResponder();
    void showEditorPopover(const std::shared_ptr<IdeaEditor>& editor, const Rect& anchorInMindMap);
    ViewController& editingScreen() override { return *this; }
    void slideUpEditorDismissed() override;
    std::shared_ptr<MenuItem> menuItemForIdea(const QString& identifier, const QString& title,
                                              void (SolarSystemViewController::*action)(const MenuItem&));
    std::shared_ptr<SolarSystemViewController> sharedSelf();
    // The document the service edits, its tree the one shown.
    std::shared_ptr<IdeaDocument> editedDocument();
    void redrawFromModel();
    // `afterEdit`: the window shows the document edited once the save answers (not for the
    // file's tree put into the kept copy by a restoration).
    void saveDocument(BoolCompletion saved, bool afterEdit = true);
    // Occupies the screen (when free) until the completion it answers runs: a drop, a Delete
    // or a close then waits or is refused.
    EditCompletion holdScreenUntilAnswered(EditCompletion completion);
    void releaseEditHold();
    // A forced close goes on once no save of this screen is running.
    void closeForcedOnceSaved();
    void deleteChosenIdea(const QString& identifier);
    // The idea an editor worked on, found again in the current tree (a storage notice may
    // have replaced it meanwhile); when it is gone the user is told the edit was not stored.
    IdeaPtr editedIdeaOrNotify(const QString& identifier);
    // Ends the picture viewer's or the web-link editor's hold on the screen.
    void endSlideUpEditing();
    // Shows the picture viewer or the web-link editor over the screen, which it occupies;
    // `afterClose` runs once it is dismissed, the screen free again.
    void presentSlideUpEditor(const std::shared_ptr<BaseViewController>& editor,
                              std::function<void(SolarSystemViewController&)> afterClose);

    std::shared_ptr<IdeaDocument> mDoc;
    std::shared_ptr<TopBarServices> mTopBar;
    std::shared_ptr<OverviewGraph> mGraphView;
    std::shared_ptr<SolarSystem> mSolarSystem;
    std::shared_ptr<DockAreaView> mDockAreaView;
    std::shared_ptr<DeleteAreaView> mDeleteAreaView;
    std::shared_ptr<IdeaEditor> mIdeaEditor;
    std::uint64_t mSolarSystemState = StateMindMap;
    bool mDrillingUpOrDown = false;
    int mSavesInFlight = 0;
    qint64 mDocToken = 0;
    std::shared_ptr<ValueDictionary> mRestorationDictionary;
    // The file last put first in Open Recent for this screen (or restored with it).
    QUrl mRecentURL;
    // The document a restoration is opening, until the open answers.
    QString mOpeningDocIdentifier;
    // The document's change counts the kept copy and the file last held (KeptCopyRecord).
    qint64 mKeptCopyChange = 0;
    qint64 mFileInStepChange = 0;
    IdeaPtr mOwnIdea;
    IdeaPtr mRealIdea;
    IdeaPtr mRootIdea;
    bool mCloseWhenEditAnswered = false;
    bool mForcedClosing = false;
    // Why a forced close is waiting for saves to answer.
    std::optional<ForcedCloseNotice::Reason> mForcedCloseWaiting;
    // The drop being decided took the screen at its choice (not a menu's Delete before it).
    bool mDropHoldsScreen = false;
    friend class MindMapFiles;
    std::unique_ptr<MindMapFiles> mFiles = std::make_unique<MindMapFiles>(*this);
    // A document handed back (the window closing) is edited no more: a move out of it that ends
    // later leaves it through storage.
    IdeaEditingService mEditing{
        [this] { return mDocToken > 0 ? editedDocument() : nullptr; },
        [this](IdeaEditingService::BoolCompletion saved) { saveDocument(std::move(saved)); }};
};

} // namespace corvex
