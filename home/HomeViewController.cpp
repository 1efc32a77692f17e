#include "home/HomeViewController.h"

#include "home/IdeaListView.h"
#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/SimpleIdeaView.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/ApplicationLifecycleBridge.h"
#include "platform/ui/Event.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Window.h"
#include "shell/MainLayoutView.h"
#include "shell/TopBarView.h"
#include "storage/PersistenceController.h"
#include "toolkit/ScreenFactory.h"

namespace corvex {

namespace {
const QString kHomeLocationKey = QStringLiteral("location");
const QString kHomeSearchTextKey = QStringLiteral("searchText");
} // namespace

const QString HomeViewController::OpenDocumentOperation = QStringLiteral("OpenDocument");
const QString HomeViewController::OpenSolarSystemOperation = QStringLiteral("OpenSolarSystem");
const QString HomeViewController::IdeaEditingOperation = QStringLiteral("IdeaEditing");
const QString HomeViewController::ConflictDialogOperation = QStringLiteral("ConflictDialog");
const QString HomeViewController::DeleteConfirmationOperation =
    QStringLiteral("DeleteConfirmationForContextMenu");
const QString HomeViewController::EditUnderWayOperation = QStringLiteral("EditUnderWay");

HomeViewController::HomeViewController(Private)
    : ScreenDrops("-[HomeViewController dragOperationEnded:acceptIdea:fromDocument:onCompletion:]")
{
    addMenuAction(QStringLiteral("qvImport:"), [this] { qvImport(); });
}

HomeViewController::~HomeViewController()
{
    NotificationCenter::defaultCenter().removeObservers(this);
}

std::shared_ptr<HomeViewController> HomeViewController::sharedSelf()
{
    return std::static_pointer_cast<HomeViewController>(shared_from_this());
}

std::shared_ptr<HomeViewController> HomeViewController::initWithLocation(StorageLocation location,
                                                                         const QString& searchText)
{
    auto controller = std::make_shared<HomeViewController>(Private());
    controller->initializeHomeViewController();
    controller->mLocation = location;
    controller->mState = StateBrowsing;
    if (!searchText.isEmpty()) {
        controller->view();
        controller->mTopBar->setCurrentSearchText(searchText);
        controller->topBarSearchStatusDidChange(true);
    }
    return controller;
}

std::shared_ptr<HomeViewController> HomeViewController::initForRestoration()
{
    auto controller = std::make_shared<HomeViewController>(Private());
    controller->initializeHomeViewController();
    return controller;
}

void HomeViewController::registerWithScreenFactory()
{
    ScreenFactory::registerScreen(
        QStringLiteral("HomeViewController"),
        [](const ValueDictionary& arguments) -> std::shared_ptr<BaseViewController> {
            if (arguments.isEmpty())
                return initForRestoration();
            const Value& location = arguments.value(kHomeLocationKey);
            return initWithLocation(location.isNull()
                                        ? IdeaDocument::ICloudLocation
                                        : StorageLocation(location.toInteger(IdeaDocument::ICloudLocation)),
                                    arguments.value(kHomeSearchTextKey).toString());
        });
}

void HomeViewController::initializeHomeViewController()
{
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    NotificationCenter::defaultCenter().addObserver(PersistenceController::StateChangeNotification, weak,
                                                    nullptr, [weak](const NotificationCenter::Notification&) {
                                                        if (auto self = weak.lock())
                                                            self->ensureCorrectTitle();
                                                    });
}

// ---- State and life cycle

ValueDictionary HomeViewController::createState()
{
    ValueDictionary state;
    state.insert(kHomeLocationKey, qint64(mLocation));
    return state;
}

bool HomeViewController::restoreFromState(const ValueDictionary& state)
{
    const Value& location = state.value(kHomeLocationKey);
    mLocation = location.isNull() ? IdeaDocument::ICloudLocation
                                  : StorageLocation(location.toInteger(IdeaDocument::ICloudLocation));
    ensureCorrectTitle();
    return true;
}

void HomeViewController::loadView()
{
    mLayoutView = MainLayoutView::create();
    setView(mLayoutView);
    mIdeaListView = IdeaListView::create();
    mIdeaListView->setDelegate(std::static_pointer_cast<IdeaListViewDelegate>(sharedSelf()));
    mIdeaListView->dockAreaView()->setDelegate(std::static_pointer_cast<DockAreaViewDelegate>(sharedSelf()));
    mLayoutView->setContentView(mIdeaListView);
    mTopBar = TopBarView::create();
    mTopBar->setDelegate(std::static_pointer_cast<TopBarServicesDelegate>(sharedSelf()));
    mLayoutView->setTopBar(mTopBar);
    mLayoutView->setNeedsLayout();
}

void HomeViewController::viewDidLoad()
{
    BaseViewController::viewDidLoad();
    reloadTable();
    PersistenceController& storage = PersistenceController::singleton();
    storage.removeListener(this);
    storage.addListener(std::static_pointer_cast<PersistenceControllerListener>(sharedSelf()));
}

void HomeViewController::viewWillAppear()
{
    BaseViewController::viewWillAppear();
    makeGridFirstResponder();
}

void HomeViewController::viewDidAppear()
{
    updateStatusDueToPossibleDockingUpdate();
    mIdeaListView->deleteAreaView()->setHidden(true);
    BaseViewController::viewDidAppear();
}

void HomeViewController::becameTopLevelController()
{
    BaseViewController::becameTopLevelController();
    makeGridFirstResponder();
    ensureCorrectTitle();
}

bool HomeViewController::validateUserInterfaceItem(const MenuItem& item)
{
    if (item.actionId() == QLatin1String("saveDocumentAs:"))
        return true;
    return BaseViewController::validateUserInterfaceItem(item);
}

void HomeViewController::keyDown(const Event& event)
{
    if (event.hasModifier(Event::CommandKeyMask) &&
        event.charactersIgnoringModifiers() == QLatin1String("f")) {
        if (mTopBar && !mTopBar->isEditingSearchText())
            mTopBar->startEditingSearchText();
        return;
    }
    BaseViewController::keyDown(event);
}

void HomeViewController::reactToStateChange()
{
    if (mIdeaListView)
        mIdeaListView->setUserInteractionEnabled(!screenOccupied());
}

DocumentWindowServices* HomeViewController::windowServices() const
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    return view ? DocumentWindowServices::forView(*view) : nullptr;
}

void HomeViewController::ensureCorrectTitle()
{
    Window* window = myWindow();
    if (!window)
        return;
    if (mLocation == IdeaDocument::ICloudLocation) {
        window->setTitle(QStringLiteral("iCloud Documents"));
        window->setRepresentedURL(QUrl(QStringLiteral("icloud://icloud")));
    } else if (mLocation == IdeaDocument::DropboxLocation) {
        window->setTitle(QStringLiteral("Dropbox Documents"));
        window->setRepresentedURL(QUrl(QStringLiteral("dropbox://dropbox")));
    } else {
        window->setTitle(QString());
    }
    if (DocumentWindowServices* services = windowServices())
        services->setCloudIconStateForLocation(mLocation);
}

void HomeViewController::makeGridFirstResponder()
{
    Window* window = myWindow();
    if (window && mIdeaListView)
        window->makeFirstResponder(mIdeaListView.get());
}

void HomeViewController::reloadTable()
{
    if (!mIdeaListView)
        return;
    mIdeaListView->removeAllContent();
    if (const auto list = PersistenceController::singleton().proxyListForLocation(mLocation)) {
        for (const IdeaProxyPtr& proxy : *list)
            mIdeaListView->appendProxy(proxy, true);
    }
    updateView();
}

void HomeViewController::updateView()
{
    if (!mIdeaListView)
        return;
    mIdeaListView->setReadOnlyMode(isSearching());
    mIdeaListView->updateView();
}

void HomeViewController::updateStatusDueToPossibleDockingUpdate()
{
    if (!mIdeaListView)
        return;
    DocumentWindowServices* window = windowServices();
    const IdeaPtr docked = window ? window->currentDockedIdea() : nullptr;
    mIdeaListView->dockAreaView()->takeIdeaInside(docked.get(),
                                                  window ? window->currentDockedDocIdentifier() : QString());
    mIdeaListView->dockAreaView()->setHidden(!docked);
}

// ---- Search

void HomeViewController::topBarAction(int, const Rect&) {}

void HomeViewController::updateState(std::uint64_t state)
{
    mState = state;
    if (state == StateBrowsing || state == StateBrowsingWithoutList)
        makeGridFirstResponder();
}

void HomeViewController::startSearchWithText(const QString& text)
{
    mCurrentSearchRequestID = PersistenceController::nextSearchRequestID();
    updateState(StateSearching);
    PersistenceController::singleton().startSearch(text, mLocation, mCurrentSearchRequestID);
}

void HomeViewController::topBarSearchStatusDidChange(bool changed)
{
    if (!mTopBar)
        return;
    const QString text = mTopBar->currentSearchText();
    const bool wasSearching = isSearching();
    PersistenceController& storage = PersistenceController::singleton();
    if (!text.isEmpty()) {
        if (!changed)
            return;
        if (!wasSearching) {
            mState = StateSearching;
            updateView();
        }
        startSearchWithText(text);
        return;
    }
    // An emptied field forgets the outstanding request, so a late answer cannot refill the grid.
    if (mCurrentSearchRequestID != 0) {
        storage.killSearch(mCurrentSearchRequestID, mLocation);
        mCurrentSearchRequestID = 0;
    }
    if (wasSearching) {
        mState = storage.proxyListForLocation(mLocation) ? StateBrowsing : StateBrowsingWithoutList;
        reloadTable();
    }
    if (!mTopBar->isEditingSearchText())
        makeGridFirstResponder();
}

void HomeViewController::searchIsReady(const std::vector<IdeaProxyPtr>& proxies, StorageLocation location,
                                       qint64 requestIdentifier)
{
    if (location != mLocation || mCurrentSearchRequestID == 0 || mCurrentSearchRequestID > requestIdentifier)
        return;
    if (mCurrentSearchRequestID == requestIdentifier) {
        mCurrentSearchRequestID = 0;
        if (mIdeaListView)
            mIdeaListView->replaceProxies(proxies);
        updateState(StateResults);
        return;
    }
    // Another screen's search of this location superseded ours: ask again.
    if (mState == StateSearching) {
        mCurrentSearchRequestID = PersistenceController::nextSearchRequestID();
        const QString text = mTopBar ? mTopBar->currentSearchText() : QString();
        if (!text.isEmpty())
            PersistenceController::singleton().startSearch(text, mLocation, mCurrentSearchRequestID);
    }
}

// ---- Storage

void HomeViewController::pleaseStopUsingLocation(StorageLocation location)
{
    if (location != mLocation)
        return;
    if (Window* window = myWindow())
        window->performClose();
}

void HomeViewController::batchUpdateStartingInLocation(StorageLocation location)
{
    if (location != mLocation)
        return;
    reactToStateChange();
    reloadTable();
}

void HomeViewController::batchUpdateDoneInLocation(StorageLocation location)
{
    if (location == mLocation)
        reloadTable();
}

bool HomeViewController::searchAgainForNewDocument()
{
    // Results hold only matches: a new document is searched for, not shown unasked.
    if (!isSearching())
        return false;
    const QString text = mTopBar ? mTopBar->currentSearchText() : QString();
    if (!text.isEmpty())
        startSearchWithText(text);
    return true;
}

void HomeViewController::documentAppended(const IdeaProxyPtr& proxy)
{
    if (proxy && proxy->location() == mLocation && mIdeaListView && !searchAgainForNewDocument())
        mIdeaListView->appendProxy(proxy, false);
}

void HomeViewController::documentAdded(const IdeaProxyPtr& proxy, qint64 index)
{
    if (proxy && proxy->location() == mLocation && mIdeaListView && !searchAgainForNewDocument())
        mIdeaListView->insertProxy(proxy, std::uint64_t(std::max<qint64>(0, index)));
}

void HomeViewController::documentMoved(const IdeaProxyPtr& proxy, qint64 index)
{
    if (!proxy || IdeaDocument::locationFromIdentifier(proxy->docIdentifier()) != mLocation ||
        !mIdeaListView || index < 0)
        return;
    const auto& shown = mIdeaListView->proxies();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i]->docIdentifier() == proxy->docIdentifier()) {
            mIdeaListView->moveProxyAtIndex(i, std::uint64_t(index));
            return;
        }
    }
}

void HomeViewController::documentUpdated(const IdeaProxyPtr& proxy)
{
    if (proxy && proxy->location() == mLocation && mIdeaListView)
        mIdeaListView->updateProxy(proxy);
}

void HomeViewController::documentDeleted(const QString& docIdentifier)
{
    if (IdeaDocument::locationFromIdentifier(docIdentifier) == mLocation && mIdeaListView)
        mIdeaListView->removeProxyWithDocIdentifer(docIdentifier);
}

// ---- Grid: drags and the dock

bool HomeViewController::hasShadowModeForDocument(const QString& docIdentifier)
{
    const DocumentWindowServices* window = windowServices();
    return window && !docIdentifier.isEmpty() && window->currentDockedDocIdentifier() == docIdentifier;
}

void HomeViewController::startDragForIdea(const QString&, const QString& docIdentifier, const Rect&,
                                          const Event* event)
{
    IdeaView* item = mIdeaListView ? mIdeaListView->visibleIdeaViewForDocument(docIdentifier) : nullptr;
    DocumentWindowServices* window = windowServices();
    if (!item || !window || !event)
        return;
    DragTarget target;
    target.object = GridItemReturnTarget;
    target.area = item->convertRectToView(item->bounds(), nullptr);
    window->startDragForEvent(*event, *mIdeaListView, item->sharedAs<IdeaView>(), target);
}

void HomeViewController::dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                                      const Event& event)
{
    DocumentWindowServices* window = windowServices();
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!window || !view || !ideaView || !mIdeaListView)
        return;
    const auto& dock = mIdeaListView->dockAreaView();
    // No drag while busy or while a drop made here is still being decided: the window would
    // refuse it, and its refusal would end that decision too.
    if (!dock || dropPending() || screenOccupied())
        return;
    DragTarget target;
    target.object = DragTarget::Dock;
    target.area = dock->superview() ? dock->superview()->convertRectToView(dock->frame(), nullptr) : Rect();
    target.gravityRadius = 80;
    window->startDragForEvent(event, *view, ideaView, target);
}

} // namespace corvex
