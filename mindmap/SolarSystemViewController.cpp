#include "mindmap/SolarSystemViewController.h"

#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/SolarSystem.h"
#include "model/ApplicationDelegate.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "storage/IdeaFilePresenter.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceController.h"
#include "toolkit/Animator.h"
#include "toolkit/ColoredView.h"
#include "toolkit/CustomAlertView.h"
#include "toolkit/ModalChoiceController.h"
#include "toolkit/ScreenFactory.h"
#include "toolkit/ViewExtensions.h"

#include <utility>

namespace corvex {

namespace {

const QString kAnimatingSwitch = QStringLiteral("AnimatingSwitch");
const QString kSwitchToHome = QStringLiteral("SwitchToHomeViewAndNeverReturn");
const QString kShowingAlertView = QStringLiteral("ShowingAlertView");
const QString kClosingWindow = QStringLiteral("ClosingWindow");

const QString kDocIdentifierKey = QStringLiteral("docIdentifier");
const QString kIdeaIdentifierKey = QStringLiteral("ideaIdentifier");
const QString kRepresentedURLKey = QStringLiteral("representedURL");
const QString kEditedKey = QStringLiteral("edited");
const QString kUnsavedChangesOfKey = QStringLiteral("unsavedChangesOf");

} // namespace

SolarSystemViewController::SolarSystemViewController(Private)
    : ScreenDrops("-[SolarSystemViewController dragOperationEnded:acceptIdea:fromDocument:onCompletion:]")
{
    mEditing.addObserver(this);
    addMenuAction(QStringLiteral("qvSaveLocalFile:"), [this] { qvSaveLocalFile(); });
    addMenuAction(QStringLiteral("qvSaveLocalFileAs:"), [this] { qvSaveLocalFileAs(); });
    addMenuAction(QStringLiteral("qvImport:"), [this] { qvImport(); });
    addMenuAction(QStringLiteral("qvExport:"), [this] { qvExport(); });
    addMenuAction(QStringLiteral("qvPrintIdea:"), [this] { qvPrintIdea(); });
    addMenuAction(QStringLiteral("qvToggleMindmap:"), [this] { qvToggleMindmap(); });
    addMenuAction(QStringLiteral("qvAddNewElement:"), [this] {
        if (mSolarSystem && mSolarSystemState == StateMindMap)
            mSolarSystem->qvAddNewElement();
    });
}

SolarSystemViewController::~SolarSystemViewController()
{
    NotificationCenter::defaultCenter().removeObservers(this);
}

std::shared_ptr<SolarSystemViewController> SolarSystemViewController::sharedSelf()
{
    return std::static_pointer_cast<SolarSystemViewController>(shared_from_this());
}

std::shared_ptr<SolarSystemViewController>
SolarSystemViewController::initWithDoc(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                       const QString& ideaIdentifier)
{
    auto controller = std::make_shared<SolarSystemViewController>(Private());
    controller->initializeSolarSystemViewController();
    controller->mSolarSystemState = StateMindMap;
    controller->setCurrentDoc(document, token, ideaIdentifier);
    return controller;
}

std::shared_ptr<SolarSystemViewController> SolarSystemViewController::initForRestoration()
{
    auto controller = std::make_shared<SolarSystemViewController>(Private());
    controller->initializeSolarSystemViewController();
    controller->mSolarSystemState = StateRestoring;
    controller->ensureTopBarState();
    return controller;
}

void SolarSystemViewController::registerWithScreenFactory()
{
    ScreenFactory::registerScreen(
        QStringLiteral("SolarSystemViewController"),
        [](const ValueDictionary&) -> std::shared_ptr<BaseViewController> { return initForRestoration(); });
}

void SolarSystemViewController::initializeSolarSystemViewController()
{
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    NotificationCenter::defaultCenter().addObserver(PersistenceController::StateChangeNotification, weak,
                                                    nullptr, [weak](const NotificationCenter::Notification&) {
                                                        if (auto self = weak.lock())
                                                            self->persistenceStateChangeNotification();
                                                    });
}

void SolarSystemViewController::observeDocument()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    // Only the document notice is renewed: the state notice stays as long as the screen.
    center.removeObservers(this);
    initializeSolarSystemViewController();
    if (!mDoc)
        return;
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    center.addObserver(IdeaDocument::ChangedNotification, weak, nullptr,
                       [weak](const NotificationCenter::Notification& notification) {
                           auto self = weak.lock();
                           if (!self || !notification.sender)
                               return;
                           for (const auto& document :
                                PersistenceController::singleton().registeredDocuments()) {
                               if (document.get() == notification.sender) {
                                   self->documentContentChanged(document);
                                   return;
                               }
                           }
                           if (self->mDoc.get() == notification.sender)
                               self->documentContentChanged(self->mDoc);
                       });
    center.addObserver(SavedByScreenNotification, weak, nullptr,
                       [weak](const NotificationCenter::Notification& notification) {
                           auto self = weak.lock();
                           if (self && notification.sender != self.get())
                               self->documentSavedByAnotherScreen(
                                   notification.userInfo.value(QStringLiteral("docIdentifier")).toString(),
                                   notification.userInfo.value(QStringLiteral("document")).toULongLong());
                       });
}

const QString SolarSystemViewController::SavedByScreenNotification =
    QStringLiteral("SolarSystemViewControllerSavedDocument");

void SolarSystemViewController::documentSavedByAnotherScreen(const QString& docIdentifier, quintptr document)
{
    if (!mDoc || docIdentifier != mDoc->docIdentifier() || updatingDocument())
        return;
    if (quintptr(mDoc.get()) == document) {
        // The same open tree: only the view is stale.
        modelDidChangeWithNewRootIdea(mDoc->idea());
        return;
    }
    // Another handle of the document: this instance's own writes are not announced to it,
    // so it reads the file again.
    const auto& presenter = mDoc->filePresenter();
    const QUrl url = presenter ? presenter->presentedItemURL() : QUrl();
    if (url.isEmpty())
        return;
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    const std::shared_ptr<IdeaDocument> handle = mDoc;
    handle->readFromURL(url, [weak, handle](bool ok) {
        auto self = weak.lock();
        if (ok && self && self->mDoc == handle && !self->updatingDocument())
            self->modelDidChangeWithNewRootIdea(handle->idea());
    });
}

void SolarSystemViewController::stopObserving()
{
    NotificationCenter::defaultCenter().removeObservers(this);
}

// ---- State

void SolarSystemViewController::setOwnIdea(const IdeaPtr& idea)
{
    mOwnIdea = idea;
    mRootIdea = idea ? idea->root() : nullptr;
    // A link whose target is gone leaves no real idea: nothing may be added under it.
    mRealIdea = idea && idea->isLink() ? idea->linkedIdea() : idea;
}

void SolarSystemViewController::setCurrentDoc(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                              const QString& ideaIdentifier)
{
    mDoc = document;
    mDocToken = token;
    const IdeaPtr root = document ? document->idea() : nullptr;
    setOwnIdea(root);
    observeDocument();
    if (!root) {
        Log::assertionFailure(__LINE__, "-[SolarSystemViewController setCurrentDoc:withToken:showing:]");
        return;
    }
    IdeaPtr shown =
        ideaIdentifier.isEmpty() ? nullptr : root->findIdeaInSubTreeWithIdentifier(ideaIdentifier);
    setOwnIdea(shown ? shown : root);
    updateWindowFromDocument(document);
    // Every road to a shown document passes here: the shell hears of it once, whichever it was.
    Globals::app()->documentShown(document->docIdentifier());
}

ValueDictionary SolarSystemViewController::createState()
{
    if (!mDoc)
        return ValueDictionary();
    const DocumentWindowServices* window = windowServices();
    const bool edited = window ? window->isDocumentEdited() : false;
    ValueDictionary state = stateOf(*mDoc, mOwnIdea ? mOwnIdea->identifier() : QString(), edited);
    if (const std::optional<KeptCopyRecord> record = keptCopyRecord(edited))
        record->writeInto(state);
    return state;
}

ValueDictionary SolarSystemViewController::stateOf(const IdeaDocument& document,
                                                   const QString& ideaIdentifier, bool edited)
{
    ValueDictionary state;
    state.insert(kDocIdentifierKey, document.docIdentifier());
    if (!ideaIdentifier.isEmpty())
        state.insert(kIdeaIdentifierKey, ideaIdentifier);
    // Only a file: a cloud document's own identifier is no place to save or open from.
    if (document.representativeURL().isLocalFile())
        state.insert(kRepresentedURLKey, document.representativeURL().toString());
    else if (!document.keptEditsOf().isEmpty())
        state.insert(kUnsavedChangesOfKey, document.keptEditsOf());
    state.insert(kEditedKey, edited);
    return state;
}

bool SolarSystemViewController::restoreFromState(const ValueDictionary& state)
{
    if (state.value(kDocIdentifierKey).toString().isEmpty())
        return false;
    mRestorationDictionary = std::make_shared<ValueDictionary>(state);
    tryLoadingDocumentForRestoration();
    return true;
}

QString SolarSystemViewController::shownDocIdentifier() const
{
    if (mDoc)
        return mDoc->docIdentifier();
    return mRestorationDictionary ? mRestorationDictionary->value(kDocIdentifierKey).toString()
                                  : mOpeningDocIdentifier;
}

void SolarSystemViewController::tryLoadingDocumentForRestoration()
{
    if (!mRestorationDictionary)
        return;
    const ValueDictionary state = *mRestorationDictionary;
    const QString docIdentifier = state.value(kDocIdentifierKey).toString();
    const QString ideaIdentifier = state.value(kIdeaIdentifierKey).toString();
    const QString representedURL = state.value(kRepresentedURLKey).toString();
    const bool edited = state.value(kEditedKey).toBool();
    const StorageLocation location = IdeaDocument::locationFromIdentifier(docIdentifier);
    if ((location == IdeaDocument::ICloudLocation && !Globals::userHasOptedForICloud()) ||
        (location == IdeaDocument::DropboxLocation && !Globals::userHasOptedForDropbox())) {
        mRestorationDictionary.reset();
        if (Window* window = myWindow())
            window->performClose();
        return;
    }
    PersistenceController& storage = PersistenceController::singleton();
    if (!storage.isLocationReadyForUse(location))
        return;
    // The one handle the location holds for the document, which the home screen, the editor
    // and every other window use too: a second handle would write over their changes with
    // its older tree, and a delete would find no window guarding it. A cloud document its
    // location no longer lists is gone; a temporary document nobody opened yet gets a handle,
    // which the open registers.
    const std::shared_ptr<IdeaDocument> held = storage.findDocument(docIdentifier);
    const std::shared_ptr<IdeaDocument> document = held ? held : storage.documentForIdentifier(docIdentifier);
    if (!document) {
        mRestorationDictionary.reset();
        if (Window* window = myWindow())
            window->performClose();
        return;
    }
    // A new handle learns its file from the state; without one (or with the identifier's URL
    // an older state kept), a stored document keeps its identifier's URL and a new one has
    // none. A held handle knows its file already.
    if (!held) {
        if (const QUrl file(representedURL); file.isLocalFile()) {
            document->setRepresentativeURL(file);
        } else if (location == IdeaDocument::TemporaryLocation) {
            document->setRepresentativeURL(QUrl());
            document->setKeptEditsOf(state.value(kUnsavedChangesOfKey).toString());
        }
    }
    if (DocumentWindowServices* window = windowServices())
        window->setDocumentEdited(edited);
    mRecentURL = document->representativeURL();
    mRestorationDictionary.reset();
    mOpeningDocIdentifier = docIdentifier;
    // A local file may have changed while Corvex was away: the file is looked at first. A state
    // saved before there were records restores the kept copy, as it always did.
    const std::optional<KeptCopyRecord> record = KeptCopyRecord::readFrom(state);
    if (record && !held && location == IdeaDocument::TemporaryLocation &&
        document->representativeURL().isLocalFile()) {
        restoreLocalFile(document, ideaIdentifier, *record);
        return;
    }
    openRestoredKeptCopy(document, ideaIdentifier, std::nullopt);
}

// ---- View life cycle

void SolarSystemViewController::loadView()
{
    auto layouter = std::static_pointer_cast<Layouter>(sharedSelf());
    auto view = ColoredView::createWithLayouter(Globals::colorWhite(), layouter);
    view->setDisableAnimations(true);
    view->setNeedsLayout();
    setView(view);
    addViewsIfPossible();
    if (mOwnIdea)
        switchToIdea(mOwnIdea, false);
}

void SolarSystemViewController::addViewsIfPossible()
{
    if (!mOwnIdea)
        return;
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view)
        return;
    if (!mTopBar) {
        mTopBar = TopBarServices::create();
        if (mTopBar) {
            mTopBar->setDelegate(std::static_pointer_cast<TopBarServicesDelegate>(sharedSelf()));
            ensureTopBarState();
            if (const auto barView = mTopBar->view()) {
                view->addSubview(barView);
                // A screen restored before its document arrived was laid out without a bar.
                view->setNeedsLayout();
            }
        } else {
            Log::warning(QStringLiteral("SolarSystemViewController: no top bar registered"));
        }
    }
    DocumentWindowServices* window = windowServices();
    if (!view->window())
        return;
    if (!mDockAreaView) {
        mDockAreaView = DockAreaView::create();
        mDockAreaView->setDelegate(std::static_pointer_cast<DockAreaViewDelegate>(sharedSelf()));
        const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
        mDockAreaView->setHidden(!(mSolarSystemState == StateMindMap && docked));
        view->addSubview(mDockAreaView);
        mDockAreaView->takeIdeaInside(docked.get(),
                                      window ? window->currentDockedDocIdentifier() : QString());
    }
    if (!mDeleteAreaView) {
        mDeleteAreaView = DeleteAreaView::create();
        mDeleteAreaView->setHidden(true);
        view->addSubview(mDeleteAreaView);
    }
}

void SolarSystemViewController::viewWillAppear()
{
    addViewsIfPossible();
    if (mDoc)
        updateWindowFromDocument(mDoc);
}

void SolarSystemViewController::viewDidAppear()
{
    followDockedIdeaShadows();
    PersistenceController::singleton().addListener(
        std::static_pointer_cast<PersistenceControllerListener>(sharedSelf()));
    addViewsIfPossible();
}

void SolarSystemViewController::viewWillDisappear()
{
    stopObserving();
    if (const auto& view = viewIfLoaded())
        ViewExtensions::removeAnimationsAlsoFromSubviews(*view);
}

void SolarSystemViewController::viewDidDisappear()
{
    PersistenceController::singleton().removeListener(this);
}

Rect SolarSystemViewController::mindMapFrame() const
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view)
        return Rect();
    const Rect bounds = view->bounds();
    const double bar = std::min(TopBarServices::preferredHeight(), bounds.size.height);
    // The views are flipped (y down): the bar's strip is at the top, the map below it.
    return Rect(bounds.origin.x, bounds.origin.y + bar, bounds.size.width, bounds.size.height - bar);
}

void SolarSystemViewController::applyLayout()
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!mOwnIdea || !view)
        return;
    const Rect bounds = view->bounds();
    const double bar = std::min(TopBarServices::preferredHeight(), bounds.size.height);
    if (mTopBar)
        if (const auto barView = mTopBar->view())
            barView->setFrame(Rect(bounds.origin.x, bounds.origin.y, bounds.size.width, bar));
    const Rect map = mindMapFrame();
    if (mSolarSystem)
        mSolarSystem->setFrame(map);
    if (mGraphView)
        if (const auto graph = mGraphView->view())
            graph->setFrame(map);
    if (!mDrillingUpOrDown)
        updateScreenButtons(mOwnIdea->parent() != nullptr);
}

void SolarSystemViewController::updateScreenButtons(bool)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view)
        return;
    const Size size = view->bounds().size;
    double barBottom = TopBarServices::preferredHeight();
    if (mTopBar)
        if (const auto barView = mTopBar->view())
            barBottom = ViewExtensions::bottomFrameLine(*barView);
    if (mDockAreaView) {
        ViewExtensions::setCenter(*mDockAreaView, Point(size.width - 30, barBottom + 30));
        ViewExtensions::ensureIntegralFrame(*mDockAreaView);
    }
    if (mDeleteAreaView) {
        ViewExtensions::setCenter(*mDeleteAreaView, Point(size.width - 30, size.height - 30));
        ViewExtensions::ensureIntegralFrame(*mDeleteAreaView);
    }
}

void SolarSystemViewController::ensureTopBarState()
{
    if (!mTopBar)
        return;
    mTopBar->setContentAction(mSolarSystemState == StateMindMap);
    if (mSolarSystemState >= StateOverview) {
        mTopBar->setMindmapToggleAction(true, true);
    } else {
        mTopBar->setMindmapToggleAction(mSolarSystemState == StateMindMap, false);
        mTopBar->setCurrentSearchText(QString());
    }
    mTopBar->setHomeAction(mDoc && (mDoc->location() == IdeaDocument::ICloudLocation ||
                                    mDoc->location() == IdeaDocument::DropboxLocation));
}

void SolarSystemViewController::becameTopLevelController()
{
    BaseViewController::becameTopLevelController();
    if (mDoc)
        updateWindowFromDocument(mDoc);
    Window* window = myWindow();
    if (window && window->firstResponder() == window) {
        if (mSolarSystemState == StateOverview || mSolarSystemState == StateOverviewSearch)
            makeGraphFirstResponder();
        else
            makeMindMapFirstResponder();
    }
}

void SolarSystemViewController::makeMindMapFirstResponder()
{
    if (Window* window = myWindow())
        if (mSolarSystem)
            window->makeFirstResponder(mSolarSystem.get());
}

void SolarSystemViewController::makeGraphFirstResponder()
{
    Window* window = myWindow();
    if (!window || !mGraphView)
        return;
    if (const auto graph = mGraphView->view())
        window->makeFirstResponder(graph.get());
}

// ---- Screen switching

void SolarSystemViewController::pleaseSwitchToMindmapOrSearch(bool animated)
{
    if (screenOccupied())
        return;
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view)
        return;
    if (!mGraphView) {
        mGraphView = OverviewGraph::create();
        if (!mGraphView) {
            Log::warning(QStringLiteral("SolarSystemViewController: no overview graph registered"));
            return;
        }
        mGraphView->setDelegate(std::static_pointer_cast<OverviewGraphDelegate>(sharedSelf()));
        if (const auto graph = mGraphView->view()) {
            graph->setHidden(true);
            view->addSubview(graph);
        }
        applyLayout();
    }
    const QString search = mTopBar ? mTopBar->currentSearchText() : QString();
    mSolarSystemState = search.isEmpty() ? StateOverview : StateMindMapSearch;
    ensureTopBarState();
    updateGraphSearch();
    const auto graph = mGraphView->view();
    if (animated && mSolarSystem && graph) {
        startSwitchAnimation(mSolarSystem, graph);
    } else {
        if (mSolarSystem) {
            mSolarSystem->layer()->setOpacity(0);
            mSolarSystem->setHidden(true);
        }
        if (graph) {
            graph->layer()->setOpacity(1);
            graph->setHidden(false);
        }
    }
    if (mDockAreaView)
        mDockAreaView->setHidden(true);
    if (mSolarSystemState == StateOverview)
        makeGraphFirstResponder();
}

void SolarSystemViewController::pleaseSwitchToSolarView()
{
    if (screenOccupied() || !mGraphView || !mSolarSystem)
        return;
    if (mTopBar && !mTopBar->currentSearchText().isEmpty())
        return;
    if (const auto graph = mGraphView->view())
        startSwitchAnimation(graph, mSolarSystem);
    mSolarSystemState = StateMindMap;
    ensureTopBarState();
    DocumentWindowServices* window = windowServices();
    if (mDockAreaView && window && window->currentDockedIdea())
        mDockAreaView->setHidden(false);
    if (!mTopBar || !mTopBar->isEditingSearchText())
        makeMindMapFirstResponder();
}

void SolarSystemViewController::startSwitchAnimation(const std::shared_ptr<View>& from,
                                                     const std::shared_ptr<View>& to)
{
    if (!from || !to)
        return;
    occupyScreen(kAnimatingSwitch);
    to->layer()->setOpacity(0);
    to->setHidden(false);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    Animator::create(0.4f, 60.0f)->play([weak, from, to](Animator& animator) {
        const double progress = animator.updateProgress();
        const double eased = Animator::cubicEaseOut(progress);
        from->layer()->setOpacity(float(1.0 - eased));
        to->layer()->setOpacity(float(eased));
        if (progress < 1.0)
            return;
        from->setHidden(true);
        to->setHidden(false);
        if (auto self = weak.lock())
            if (self->currentOccupyingOperation() == kAnimatingSwitch)
                self->liberateScreen(kAnimatingSwitch);
    });
}

void SolarSystemViewController::updateGraphSearch()
{
    if (!mGraphView)
        return;
    mGraphView->setCurrentIdea(mRootIdea, mTopBar ? mTopBar->currentSearchText() : QString());
}

void SolarSystemViewController::makeSearch(const QString& text)
{
    if (text.isEmpty())
        return;
    loadViewIfNeeded();
    if (mTopBar)
        mTopBar->setCurrentSearchText(text);
    pleaseSwitchToMindmapOrSearch(false);
}

void SolarSystemViewController::qvToggleMindmap()
{
    topBarAction(2, Rect());
}

void SolarSystemViewController::pleaseSwitchToHomeView()
{
    if (screenOccupied())
        return;
    occupyScreen(kSwitchToHome);
    const StorageLocation location = mDoc && (mDoc->location() == IdeaDocument::ICloudLocation ||
                                              mDoc->location() == IdeaDocument::DropboxLocation)
                                         ? mDoc->location()
                                         : IdeaDocument::ICloudLocation;
    ValueDictionary arguments;
    arguments.insert(QStringLiteral("location"), qint64(location));
    arguments.insert(QStringLiteral("searchText"), mTopBar ? mTopBar->currentSearchText() : QString());
    const std::shared_ptr<BaseViewController> home =
        ScreenFactory::create(QStringLiteral("HomeViewController"), arguments);
    if (mDoc)
        PersistenceController::singleton().releaseDocument(mDoc, mDocToken, {});
    DocumentWindowServices* window = windowServices();
    if (!home || !window) {
        Log::warning(QStringLiteral("SolarSystemViewController: cannot switch to the home screen"));
        return;
    }
    window->switchToViewController(home, true, [] {});
}

// ---- Idea switching

void SolarSystemViewController::switchToIdea(const IdeaPtr& idea, bool animated)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!idea || !view || !mDoc)
        return;
    const IdeaPtr centre = idea->isLink() ? idea->linkedIdea() : idea;
    if (!centre) {
        // A link whose target is gone cannot be opened.
        if (DocumentWindowServices* window = windowServices())
            window->showShortNotificationToUser(QStringLiteral("Failed to open link"));
        return;
    }
    auto next = SolarSystem::create(mindMapFrame(), mDoc->docIdentifier());
    if (const IdeaPtr parent = idea->parent())
        next->setParentIdea(parent, idea->isLink());
    if (mSolarSystem)
        mSolarSystem->setDelegate(nullptr);
    next->setDelegate(std::static_pointer_cast<SolarSystemDelegate>(sharedSelf()));
    next->startUpdate();
    next->setCentralIdea(centre);
    next->setUserInteractionEnabled(false);
    for (const IdeaPtr& child : centre->ideas())
        next->addIdea(child);
    next->endUpdate();
    if (mSolarSystemState != StateMindMap && mSolarSystemState != StateRestoring)
        next->setHidden(true);

    const bool childOfCentre = mRealIdea && idea->parent() == mRealIdea &&
                               mRealIdea->indexOfIdeaWithIdentifier(idea->identifier()) != Idea::NotFound;
    const IdeaPtr ownParent = mOwnIdea ? mOwnIdea->parent() : nullptr;
    if (animated && mSolarSystem && (idea->isLink() || idea->parent() == mRealIdea) && childOfCentre)
        startAnimatedDrillDownToIdea(idea, next);
    else if (animated && mSolarSystem && ownParent == idea)
        startAnimatedDrillUpWithSolarSystem(next);
    else
        switchDirectlyToIdea(idea, next);
}

void SolarSystemViewController::startAnimatedDrillDownToIdea(const IdeaPtr& idea,
                                                             const std::shared_ptr<SolarSystem>& next)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    const std::int64_t index = indexOfIdeaWithIdentifier(idea->identifier());
    if (!view || index == NotFound) {
        switchDirectlyToIdea(idea, next);
        return;
    }
    mDrillingUpOrDown = true;
    ViewExtensions::insertSubviewBelow(*view, next, mSolarSystem.get());
    setUserInteractionEnabled(false);
    const std::shared_ptr<SolarSystem> old = mSolarSystem;
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    old->animateDrillDownInto(index, next, [weak, old, next, idea] {
        auto self = weak.lock();
        if (!self)
            return;
        self->mDrillingUpOrDown = false;
        old->removeFromSuperview();
        self->mSolarSystem = next;
        self->makeMindMapFirstResponder();
        self->setOwnIdea(idea);
        self->followDockedIdeaShadows();
        self->setUserInteractionEnabled(true);
        self->updateScreenButtons(true);
    });
}

void SolarSystemViewController::startAnimatedDrillUpWithSolarSystem(const std::shared_ptr<SolarSystem>& next)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    const IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
    if (!view || !parent) {
        return;
    }
    const quint64 index = parent->indexOfIdeaWithIdentifier(mOwnIdea->identifier());
    if (index == Idea::NotFound) {
        switchDirectlyToIdea(parent, next);
        return;
    }
    if (mDockAreaView && mDockAreaView->superview() == view.get())
        ViewExtensions::insertSubviewBelow(*view, next, mDockAreaView.get());
    else
        view->addSubview(next);
    ViewExtensions::removeAnimationsAlsoFromSubviews(*next);
    setUserInteractionEnabled(false);
    const std::shared_ptr<SolarSystem> old = mSolarSystem;
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    next->animateDrillUpFrom(std::int64_t(index), old, [weak, old, next, parent] {
        auto self = weak.lock();
        if (!self)
            return;
        old->removeFromSuperview();
        self->mSolarSystem = next;
        self->makeMindMapFirstResponder();
        self->setOwnIdea(parent);
        self->followDockedIdeaShadows();
        self->setUserInteractionEnabled(true);
        self->updateScreenButtons(parent->parent() != nullptr);
    });
}

void SolarSystemViewController::switchDirectlyToIdea(const IdeaPtr& idea,
                                                     const std::shared_ptr<SolarSystem>& next)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view)
        return;
    setUserInteractionEnabled(false);
    if (mSolarSystem)
        mSolarSystem->removeFromSuperview();
    if (mDockAreaView && mDockAreaView->superview() == view.get())
        ViewExtensions::insertSubviewBelow(*view, next, mDockAreaView.get());
    else
        view->addSubview(next);
    mSolarSystem = next;
    makeMindMapFirstResponder();
    setUserInteractionEnabled(!screenOccupied());
    setOwnIdea(idea);
    followDockedIdeaShadows();
    if (!mDrillingUpOrDown)
        updateScreenButtons(idea->parent() != nullptr);
}

void SolarSystemViewController::followDockedIdeaShadows()
{
    if (!mSolarSystem)
        return;
    DocumentWindowServices* window = windowServices();
    const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
    mSolarSystem->removeAllShadows();
    if (!docked || !mDoc || window->currentDockedDocIdentifier() != mDoc->docIdentifier())
        return;
    const std::int64_t index = indexOfIdeaWithIdentifier(docked->identifier());
    if (index != NotFound)
        mSolarSystem->setShadowForIdeaAtIndex(index);
}

void SolarSystemViewController::modelDidChangeWithNewRootIdea(const IdeaPtr& root)
{
    if (!root || !mRootIdea || root->identifier() != mRootIdea->identifier()) {
        performForcedClose(ForcedCloseNotice::Reason::Replaced);
        return;
    }
    if (mDoc)
        mDoc->setIdea(root);
    const QString shownIdentifier = mOwnIdea ? mOwnIdea->identifier() : QString();
    IdeaPtr shown = root->findIdeaInSubTreeWithIdentifier(shownIdentifier);
    if (!shown || (shown->isLink() && !shown->linkedIdea()))
        shown = root;
    if (viewIfLoaded())
        switchToIdea(shown, false);
    else
        setOwnIdea(shown);
    updateGraphSearch();
}

// ---- Top bar

void SolarSystemViewController::topBarAction(int action, const Rect& fromRect)
{
    if (screenOccupied())
        return;
    switch (action) {
    case 1:
        pleaseSwitchToHomeView();
        break;
    case 2:
        if (mSolarSystemState == StateMindMap)
            pleaseSwitchToMindmapOrSearch(true);
        else if (mSolarSystemState != StateRestoring)
            pleaseSwitchToSolarView();
        break;
    case 3: {
        const std::shared_ptr<View>& view = viewIfLoaded();
        if (mSolarSystemState != StateMindMap || !view)
            break;
        std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
        auto choice = ModalChoiceController::create();
        choice->addButton(QStringLiteral("Add Image"), [weak] {
            if (auto self = weak.lock())
                self->pleaseStartImageAddition();
        });
        choice->addButton(QStringLiteral("Add Web Link"), [weak] {
            if (auto self = weak.lock())
                self->pleaseStartWebLinkAddition();
        });
        choice->showModallyFromRect(fromRect, *view);
        break;
    }
    default:
        break;
    }
}

void SolarSystemViewController::topBarSearchStatusDidChange(bool)
{
    if (!mTopBar)
        return;
    const bool empty = mTopBar->currentSearchText().isEmpty();
    const bool editing = mTopBar->isEditingSearchText();
    switch (mSolarSystemState) {
    case StateMindMap:
        if (!empty)
            pleaseSwitchToMindmapOrSearch(true);
        else if (!editing)
            makeMindMapFirstResponder();
        break;
    case StateOverview:
        updateGraphSearch();
        if (!empty) {
            mSolarSystemState = StateOverviewSearch;
            ensureTopBarState();
        } else if (!editing) {
            makeGraphFirstResponder();
        }
        break;
    case StateOverviewSearch:
        updateGraphSearch();
        if (empty) {
            mSolarSystemState = StateOverview;
            if (!editing)
                makeGraphFirstResponder();
            ensureTopBarState();
        } else if (!editing) {
            // Typing ended with the search kept: the graph showing its results takes the keys,
            // so that Escape reaches the screen and clears it.
            makeGraphFirstResponder();
        }
        break;
    case StateMindMapSearch:
        if (!empty) {
            updateGraphSearch();
            if (!editing)
                makeGraphFirstResponder();
        } else {
            pleaseSwitchToSolarView();
        }
        break;
    default:
        break;
    }
}

// ---- Keyboard

void SolarSystemViewController::keyDown(const Event& event)
{
    if (event.hasModifier(Event::CommandKeyMask) &&
        event.charactersIgnoringModifiers().toLower() == QStringLiteral("f")) {
        if ((mSolarSystemState == StateMindMap || mSolarSystemState == StateOverview) && mTopBar)
            mTopBar->startEditingSearchText();
        return;
    }
    if (event.keyCode() == Event::KeyCodeEscape) {
        cancelOperation();
        return;
    }
    BaseViewController::keyDown(event);
}

void SolarSystemViewController::cancelOperation()
{
    if (mTopBar && mTopBar->isEditingSearchText())
        return;
    switch (mSolarSystemState) {
    case StateMindMap:
        if (mOwnIdea && mOwnIdea->parent())
            onDrillUp();
        break;
    case StateOverview:
        pleaseSwitchToSolarView();
        break;
    case StateOverviewSearch:
        if (mTopBar) {
            mTopBar->setCurrentSearchText(QString());
            topBarSearchStatusDidChange(true);
        }
        break;
    case StateMindMapSearch:
        if (mTopBar)
            mTopBar->setCurrentSearchText(QString());
        pleaseSwitchToSolarView();
        break;
    default:
        break;
    }
}

// ---- Overview graph

void SolarSystemViewController::onIdeaSelected(const IdeaPtr& idea)
{
    if (screenOccupied() || !mGraphView || !mSolarSystem)
        return;
    if (idea)
        switchToIdea(idea, false);
    if (const auto graph = mGraphView->view())
        startSwitchAnimation(graph, mSolarSystem);
    mSolarSystemState = StateMindMap;
    ensureTopBarState();
    makeMindMapFirstResponder();
}

void SolarSystemViewController::openIdeaInNewWindow(const IdeaPtr& idea)
{
    if (mDoc && idea)
        Globals::app()->openDocumentInNewWindow(mDoc->docIdentifier(), idea->identifier());
}

bool SolarSystemViewController::canOpenIdeaInNewWindow()
{
    return mDoc && mDoc->isCloudDocument();
}

// ---- Storage

void SolarSystemViewController::pleaseStopUsingLocation(StorageLocation location)
{
    if (mDoc && mDoc->location() == location)
        performForcedClose(ForcedCloseNotice::Reason::LocationSwitchedOff);
}

void SolarSystemViewController::documentUpdated(const IdeaProxyPtr& proxy)
{
    if (!proxy || !mDoc || proxy->docIdentifier() != mDoc->docIdentifier() || updatingDocument())
        return;
    modelDidChangeWithNewRootIdea(mDoc->idea());
}

void SolarSystemViewController::documentDeleted(const QString& docIdentifier)
{
    if (mDoc && docIdentifier == mDoc->docIdentifier())
        performForcedClose(ForcedCloseNotice::Reason::Deleted);
}

void SolarSystemViewController::documentContentChanged(const std::shared_ptr<IdeaDocument>& document)
{
    if (!document || !mDoc || document->docIdentifier() != mDoc->docIdentifier() || updatingDocument())
        return;
    modelDidChangeWithNewRootIdea(document->idea());
}

void SolarSystemViewController::persistenceStateChangeNotification()
{
    if (mRestorationDictionary)
        tryLoadingDocumentForRestoration();
    if (mDoc)
        updateWindowFromDocument(mDoc);
}

// ---- Window and screen

DocumentWindowServices* SolarSystemViewController::windowServices() const
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    return view ? DocumentWindowServices::forView(*view) : nullptr;
}

void SolarSystemViewController::updateWindowFromDocument(const std::shared_ptr<IdeaDocument>& document)
{
    Window* window = myWindow();
    if (!document || !window)
        return;
    DocumentWindowServices* services = windowServices();
    if (document->isCloudDocument()) {
        if (services) {
            services->setDocURL(document->representativeURL());
            services->setCloudIconStateForLocation(document->location());
        }
        window->setTitle(document->documentWindowName());
        return;
    }
    if (!document->representativeURL().isEmpty()) {
        if (services)
            services->setDocURL(document->representativeURL());
        // A file comes first in Open Recent once, when the screen shows it (opened, or saved
        // under a new name); a restored screen shows what the user had open already.
        if (document->representativeURL() != mRecentURL) {
            mRecentURL = document->representativeURL();
            Globals::app()->addNewRecentDocumentURL(mRecentURL);
        }
    }
    // A file's edits kept apart are in no file until the user saves them into one.
    if (services && document->representativeURL().isEmpty() && !document->keptEditsOf().isEmpty())
        services->setDocumentEdited(true);
    window->setTitle(document->documentWindowName());
}

void SolarSystemViewController::markDocumentChange()
{
    if (!mDoc || mDoc->isCloudDocument())
        return;
    // A save of the stored copy after the file took every edit (one tried again) edits nothing.
    if (DocumentWindowServices* window = windowServices())
        window->setDocumentEdited(!mFiles->fileHoldsEveryEdit());
    Globals::updatePersistentAppStateNow();
}

QString SolarSystemViewController::mapName() const
{
    const QString name = mRootIdea ? mRootIdea->text().trimmed() : QString();
    if (!name.isEmpty() || !mDoc)
        return name;
    return mDoc->exportFileName();
}

void SolarSystemViewController::performForcedClose(ForcedCloseNotice::Reason reason)
{
    if (std::exchange(mForcedClosing, true))
        return;
    mForcedCloseWaiting = reason;
    // Its block commits the edit, whose save is asked for while the document is still ours.
    closeOpenEditor();
    if (!screenOccupied())
        occupyScreen(kClosingWindow);
    closeForcedOnceSaved();
}

void SolarSystemViewController::closeForcedOnceSaved()
{
    // A save still running is answered on the window it was made in: a failure is told there,
    // and the document is not handed back under it.
    if (!mForcedCloseWaiting || mSavesInFlight > 0)
        return;
    const ForcedCloseNotice::Reason reason = *std::exchange(mForcedCloseWaiting, std::nullopt);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    auto closeWindow = [weak, reason] {
        const auto self = weak.lock();
        Window* window = self ? self->myWindow() : nullptr;
        if (!window)
            return;
        const QString name = self->mapName();
        const StorageLocation location =
            self->mDoc ? self->mDoc->location() : IdeaDocument::TemporaryLocation;
        window->close();
        ForcedCloseNotice::tellOnceClosed(reason, name, location);
    };
    if (!mDoc) {
        closeWindow();
        return;
    }
    const std::shared_ptr<IdeaDocument> document = mDoc;
    const qint64 token = mDocToken;
    mDocToken = 0;
    PersistenceController::singleton().releaseDocument(document, token, closeWindow);
}

void SolarSystemViewController::setUserInteractionEnabled(bool enabled)
{
    if (mSolarSystem)
        mSolarSystem->setUserInteractionEnabled(enabled);
}

void SolarSystemViewController::reactToStateChange()
{
    setUserInteractionEnabled(!screenOccupied());
}

void SolarSystemViewController::showAlertViewWithTitle(const QString& title, const QString& message)
{
    if (screenOccupied())
        return;
    occupyScreen(kShowingAlertView);
    CustomAlertView alert(title, message);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString()),
                    CAVButton::NormalType, [weak] {
                        if (auto self = weak.lock())
                            self->liberateScreen(kShowingAlertView);
                    });
    alert.showFromWindow(myWindow());
}

bool SolarSystemViewController::validateUserInterfaceItem(const MenuItem& item)
{
    const QString action = item.actionId();
    // While another screen lies over the mind map (a picture viewer, the export dialog) or a
    // switch runs, the screen's own actions do nothing: their items say so.
    if (respondsToAction(action) && screenOccupied())
        return false;
    if (action == QLatin1String("qvSaveLocalFile:") || action == QLatin1String("qvSaveLocalFileAs:"))
        return mDoc && mDoc->location() == IdeaDocument::TemporaryLocation;
    if (action == QLatin1String("qvAddNewElement:"))
        return mSolarSystem && mSolarSystemState == StateMindMap;
    return BaseViewController::validateUserInterfaceItem(item);
}

} // namespace corvex
