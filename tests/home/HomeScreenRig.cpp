#include "tests/home/HomeScreenRig.h"

#include "home/HomeRegistration.h"
#include "home/NormalIdeaListItemForIPad.h"
#include "mindmap/IdeaView.h"
#include "model/Globals.h"
#include "shell/TopBarView.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/Workspace.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/ViewExtensions.h"

namespace corvex::test {

ColorPtr homeColor(int index)
{
    return Color::withRGB(QStringLiteral("home%1").arg(index),
                          RGBA{double((37 * index + 40) % 200 + 20), double((91 * index + 90) % 180 + 30),
                               double((53 * index + 150) % 190 + 25), 1.0});
}

IdeaPtr homeTree(const QString& rootText, int children, const ColorPtr& color)
{
    IdeaPtr root = Idea::initWithText(rootText);
    root->setColor(color);
    for (int i = 0; i < children; ++i)
        (void)root->addIdea(Idea::initWithText(QStringLiteral("child %1").arg(i)));
    return root;
}

HomeScreenRig::HomeScreenRig(int count, TreeMaker tree, bool warmSearch, bool listHeldBack)
{
    PersistenceStateFactory::registerMaker(
        2, [] { return TestFolderPersistenceState::create(testDir() + QStringLiteral("/icloud"), 2); });
    Globals::optForICloud(true);
    PersistenceController& storage = PersistenceController::singleton();
    const auto workspace = storage.workspaceForLocation(2);
    state = std::dynamic_pointer_cast<TestFolderPersistenceState>(workspace ? workspace->currentState()
                                                                            : nullptr);
    if (!state)
        return;
    for (int i = 0; i < count; ++i) {
        const QString identifier =
            state->docIdentifierForFileName(QStringLiteral("doc%1.crvx").arg(i, 4, 10, QLatin1Char('0')));
        const IdeaPtr root = tree ? tree(i) : homeTree(QStringLiteral("doc %1").arg(i), 0, homeColor(i));
        if (auto proxy = state->writeDocumentFile(identifier, root))
            proxies.push_back(proxy);
    }
    if (listHeldBack) {
        state->reportStatus(PersistenceStateStatusSyncing);
        settle([&] { return storage.statusForLocation(2) == WorkspaceStatus::Synchronising; });
    } else {
        reportList();
    }
    if (warmSearch)
        settle([&] {
            return workspace->searchCache().count() >= count && workspace->searchReadsUnderWay() == 0 &&
                   openTokens() == 0;
        });
    registerHomeScreen();
}

HomeScreenRig::~HomeScreenRig()
{
    if (window)
        window->close();
    PersistenceStateFactory::registerMaker(2, {});
}

std::shared_ptr<HomeViewController> HomeScreenRig::show(const QString& searchText)
{
    if (!window) {
        window = std::make_shared<ShellRigWindow>(Size(1172, 760));
        window->makeKeyAndOrderFront();
    }
    screen = HomeViewController::initWithLocation(2, searchText);
    window->switchToViewController(screen, false, {});
    View::runUpdateCycle();
    return screen;
}

void HomeScreenRig::reportList()
{
    state->reportStatus(PersistenceStateStatusAllFound);
    for (const auto& proxy : proxies)
        state->reportFoundDocument(proxy->docIdentifier());
    state->reportProxyList(proxies);
    settle([] { return PersistenceController::singleton().isLocationReadyForUse(2); });
}

QStringList HomeScreenRig::identifiers() const
{
    QStringList list;
    for (const auto& proxy : proxies)
        list.append(proxy->docIdentifier());
    return list;
}

QStringList HomeScreenRig::gridIdentifiers()
{
    QStringList list;
    for (const auto& proxy : grid().proxies())
        list.append(proxy->docIdentifier());
    return list;
}

int HomeScreenRig::openTokens() const
{
    using Op = TestFolderPersistenceState::Operation;
    return state->callCount(Op::Open) - failedOpens + state->callCount(Op::Create) -
           state->callCount(Op::Close);
}

QImage HomeScreenRig::render()
{
    View::runUpdateCycle();
    return window->renderToImage(1.0);
}

Point HomeScreenRig::planetCentreInWindow(const QString& docIdentifier)
{
    IdeaView* planet = grid().visibleIdeaViewForDocument(docIdentifier);
    if (!planet || !planet->superview())
        return Point(-1, -1);
    return planet->superview()->convertPointToView(ViewExtensions::center(*planet), nullptr);
}

void HomeScreenRig::typeIntoSearchField(const QString& text)
{
    TopBarView& bar = *screen->topBar();
    for (qsizetype i = 1; i <= text.size(); ++i) {
        bar.searchField()->setText(text.left(i));
        bar.searchTextDidChange();
        base.time.runDue();
    }
}

} // namespace corvex::test
