#include "shell/MainWindowController.h"

#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Value.h"
#include "platform/ui/ScreenFacade.h"
#include "shell/AppDelegate.h"
#include "shell/ContainerView.h"
#include "shell/DragSupportWindow.h"
#include "shell/MenuHelper.h"
#include "shell/MyWindow.h"
#include "shell/WelcomeScreenView.h"
#include "shell/WindowGeometry.h"
#include "storage/IdeaDocument.h"
#include "toolkit/BaseViewController.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/ScreenFactory.h"

namespace corvex {

namespace {

// The home screen of a location through the factory; until a home screen is linked in, an
// empty screen (logged once per window) so that the window still opens.
std::shared_ptr<BaseViewController> makeHomeScreen(const ValueDictionary& arguments)
{
    if (ScreenFactory::hasScreen(MainWindowController::HomeScreenClass)) {
        if (auto screen = ScreenFactory::create(MainWindowController::HomeScreenClass, arguments))
            return screen;
    }
    Log::info(QStringLiteral("No home screen is available: the window shows an empty screen"));
    return BaseViewController::create();
}

} // namespace

MainWindowController::MainWindowController(Private) {}
MainWindowController::~MainWindowController() = default;

std::shared_ptr<MyWindow> MainWindowController::prepareWindow()
{
    const Rect visible = ScreenFacade::mainScreen().visibleFrame;
    const Rect content = WindowGeometry::preparedContentRect(visible);
    auto window = DragSupportWindow::create(content.size);
    window->setFrame(window->frameRectForContentRect(content));
    return window;
}

void MainWindowController::attachWindow(std::shared_ptr<MyWindow> window)
{
    mWindow = std::move(window);
    std::weak_ptr<MainWindowController> weak = weak_from_this();
    mWindow->setWillCloseHandler([weak] {
        auto self = weak.lock();
        auto app = AppDelegate::shared();
        if (self && app)
            app->removeWindowController(self);
    });
    mWindow->setBecameMainHandler([] { MenuHelper::menuUpdateMainMenu(); });
}

std::shared_ptr<MainWindowController> MainWindowController::initForRestoration()
{
    auto controller = std::make_shared<MainWindowController>(Private());
    controller->attachWindow(prepareWindow());
    return controller;
}

std::shared_ptr<MainWindowController> MainWindowController::initWithCloudWindow(unsigned location)
{
    auto controller = initForRestoration();
    controller->showCloudHome(location);
    return controller;
}

std::shared_ptr<MainWindowController>
MainWindowController::initWithDocumentWindow(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                             const QString& ideaIdentifier, int initialAction)
{
    auto controller = initForRestoration();
    controller->showDocument(document, token, ideaIdentifier, initialAction);
    return controller;
}

void MainWindowController::setPendingScreen(const QString& className, const ValueDictionary& state)
{
    mPendingScreenClass = className;
    mPendingScreenState = state;
}

void MainWindowController::showCloudHome(unsigned location)
{
    // Shown by whoever adds the window (AppDelegate): made main here, it would be the main
    // window the new one cascades from.
    ValueDictionary arguments;
    // The home screen's own state names its location the same way.
    arguments.insert(QStringLiteral("location"), Value(qint64(location)));
    setPendingScreen(HomeScreenClass, arguments);
    std::weak_ptr<MyWindow> weak = mWindow;
    MainQueue::post([weak, arguments] {
        auto window = weak.lock();
        if (!window)
            return;
        auto screen = makeHomeScreen(arguments);
        std::weak_ptr<MyWindow> again = window;
        window->switchToViewController(screen, false, [again] {
            if (auto w = again.lock())
                w->container()->setNeedsLayout(true);
        });
    });
}

void MainWindowController::showDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                        const QString& ideaIdentifier, int initialAction)
{
    if (document)
        setPendingScreen(MindMapScreenClass,
                         SolarSystemViewController::stateOf(*document, ideaIdentifier, false));
    std::weak_ptr<MainWindowController> weak = weak_from_this();
    MainQueue::post([weak, document, token, ideaIdentifier, initialAction] {
        auto self = weak.lock();
        if (!self || !document)
            return;
        auto window = self->mWindow;
        window->makeKeyAndOrderFront();
        auto screen = SolarSystemViewController::initWithDoc(document, token, ideaIdentifier);
        std::weak_ptr<SolarSystemViewController> weakScreen = screen;
        window->switchToViewController(screen, false,
                                       [weak, weakScreen, document, ideaIdentifier, initialAction] {
                                           auto me = weak.lock();
                                           if (!me)
                                               return;
                                           me->mWindow->container()->setNeedsLayout(true);
                                           if (initialAction == InitialActionWelcome) {
                                               me->showWelcomeScreen();
                                           } else if (initialAction == InitialActionEditIdea) {
                                               auto mindMap = weakScreen.lock();
                                               QString identifier = ideaIdentifier;
                                               if (identifier.isNull() && document->idea())
                                                   identifier = document->idea()->identifier();
                                               if (mindMap)
                                                   mindMap->onEditIdea(identifier);
                                           }
                                       });
    });
}

void MainWindowController::showWelcomeScreen()
{
    mWindow->orderFront();
    auto container = mWindow->container();
    const QVImage screenshot = QVImageScreenshot::initByCapturingScreenshot(container.get());
    auto welcome = WelcomeScreenView::initWithScreenshot(screenshot);
    container->addSubview(welcome);
}

QVariantMap MainWindowController::createState() const
{
    QString className = mPendingScreenClass;
    ValueDictionary state = mPendingScreenState;
    if (auto screen = mWindow->controller()) {
        className = MyWindow::classNameOf(*screen);
        state = screen->createState();
    }
    if (className.isEmpty() || state.isEmpty())
        return {};
    QVariantMap entry;
    entry.insert(ControllerClassKey, className);
    entry.insert(ControllerStateKey, Value(state).toVariant());
    entry.insert(WindowFrameKey, toString(windowFrame()));
    return entry;
}

bool MainWindowController::restoreFromState(const QVariantMap& state)
{
    // An empty frame, or one on no screen (a monitor gone), keeps the prepared frame.
    const QVariant savedFrame = state.value(WindowFrameKey);
    const Rect saved =
        savedFrame.typeId() == QMetaType::QString ? rectFromString(savedFrame.toString()) : Rect();
    std::vector<Rect> areas;
    for (const ScreenInfo& screen : ScreenFacade::screens())
        areas.push_back(screen.visibleFrame);
    setWindowFrame(WindowGeometry::restoredFrame(saved, windowFrame(), areas));

    const QVariant classValue = state.value(ControllerClassKey);
    const QString className = classValue.typeId() == QMetaType::QString ? classValue.toString() : QString();
    const QVariant screenStateValue = state.value(ControllerStateKey);
    const Value screenState = Value::fromVariant(screenStateValue);
    const ValueDictionary screenDictionary =
        screenState.isDictionary() ? screenState.toDictionary() : ValueDictionary();

    auto finish = [](const std::weak_ptr<MyWindow>& weakWindow,
                     const std::shared_ptr<BaseViewController>& screen, const ValueDictionary& dictionary) {
        auto window = weakWindow.lock();
        if (!window || !screen)
            return;
        window->switchToViewController(screen, false, [weakWindow] {
            if (auto w = weakWindow.lock())
                w->container()->setNeedsLayout(true);
        });
        // The screen shows once the switch returns; restored in the same turn, a screen that
        // cannot come back (its location gone) closes its window before the launch counts
        // the windows it restored.
        screen->restoreFromState(dictionary);
    };

    std::weak_ptr<MyWindow> weakWindow = mWindow;
    if (className == HomeScreenClass) {
        setPendingScreen(HomeScreenClass, screenDictionary);
        MainQueue::post([weakWindow, screenDictionary, finish] {
            finish(weakWindow, makeHomeScreen(ValueDictionary()), screenDictionary);
        });
        return true;
    }
    if (className == MindMapScreenClass) {
        finish(weakWindow, SolarSystemViewController::initForRestoration(), screenDictionary);
        return true;
    }
    Log::error(QStringLiteral("Cannot restore a window of screen class \"%1\"").arg(className));
    return false;
}

bool MainWindowController::canWeSafelyDeleteIdea(const QString& ideaIdentifier,
                                                 const QString& docIdentifier) const
{
    return mWindow->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier);
}

std::optional<BaseViewController::UnsavedChanges> MainWindowController::unsavedChanges() const
{
    return mWindow->unsavedChanges();
}

Rect MainWindowController::windowFrame() const
{
    return mWindow->frame();
}

void MainWindowController::setWindowFrame(const Rect& frame)
{
    mWindow->setFrame(frame);
}

} // namespace corvex
