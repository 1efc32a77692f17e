#include "tests/mindmap/MindMapScreenRig.h"

#include "mindmap/IdeaAdderView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SolarSystem.h"
#include "model/Color.h"
#include "model/Globals.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/SysCalls.h"
#include "platform/ui/Runners.h"
#include "platform/ui/View.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceStateFactory.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "toolkit/ColoredView.h"

#include <QFile>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace corvex::test {

// ---- Window

void RigWindow::switchToViewController(const std::shared_ptr<BaseViewController>& screen, bool animated,
                                       Completion<> completion)
{
    if (screen)
        switchedTo.append(screen);
    MyWindow::switchToViewController(screen, animated, std::move(completion));
}

void RigWindow::setCloudIconStateForLocation(unsigned location)
{
    cloudIconLocations.append(location);
    MyWindow::setCloudIconStateForLocation(location);
}

void RigWindow::showShortNotificationToUser(const QString& text)
{
    notices.append(text);
    MyWindow::showShortNotificationToUser(text);
}

void RigWindow::windowWillClose()
{
    ++closes;
    MyWindow::windowWillClose();
}

// ---- Top bar and overview

RigTopBar::RigTopBar() : mView(ColoredView::create(Globals::colorGrayD7DEE4())) {}

void RigTopBar::type(const QString& text)
{
    const bool changed = text != searchText;
    searchText = text;
    if (auto target = mDelegate.lock())
        target->topBarSearchStatusDidChange(changed);
}

namespace {

// The overview takes keys as the real one does.
class RigOverviewView : public ColoredView
{
public:
    RigOverviewView() : ColoredView(Globals::colorGray93()) {}
    bool acceptsFirstResponder() const override { return true; }
};

} // namespace

RigOverview::RigOverview() : mView(ColoredView::make<RigOverviewView>()) {}

// ---- Editors

void RigIdeaEditor::close()
{
    if (mClosed)
        return;
    mClosed = true;
    if (mScript.didChange) {
        edited.set(IdeaMember::Text, mScript.title);
        edited.set(IdeaMember::Note, mScript.note);
        if (!mScript.keepColor)
            edited.set(IdeaMember::Color, mScript.color);
        if (!mScript.keepThemeType)
            edited.set(IdeaMember::ColorThemeType, qint64(mScript.colorThemeType));
    }
    if (auto target = mDelegate.lock())
        target->editIdeaViewDidClose();
}

RigPictureViewer::RigPictureViewer(std::weak_ptr<PictureViewerDelegate> delegate, Loader givenLoader,
                                   EditorScript script)
    : loader(std::move(givenLoader)), mDelegate(std::move(delegate)), mScript(std::move(script))
{}

void RigPictureViewer::loadView()
{
    setView(ColoredView::create(Globals::colorBlack()));
}

void RigPictureViewer::finish()
{
    mDone = true;
    if (auto target = mDelegate.lock())
        target->pleaseDismissPictureView(*this);
}

RigWebLinkEditor::RigWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate, QString url,
                                   EditorScript script)
    : givenURL(std::move(url)), mDelegate(std::move(delegate)), mScript(std::move(script))
{}

void RigWebLinkEditor::loadView()
{
    setView(ColoredView::create(Globals::colorWhite()));
}

void RigWebLinkEditor::finish()
{
    mDone = true;
    if (auto target = mDelegate.lock())
        target->pleaseDismissHTMLPageView(*this);
}

std::shared_ptr<IdeaEditor> RigEditorFactory::makeIdeaEditor()
{
    ++made;
    lastIdeaEditor = std::make_shared<RigIdeaEditor>(next);
    return lastIdeaEditor;
}

std::shared_ptr<PictureViewer>
RigEditorFactory::makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                    PictureViewer::Loader loader)
{
    ++made;
    lastPictureViewer = std::make_shared<RigPictureViewer>(std::move(delegate), std::move(loader), next);
    return lastPictureViewer;
}

std::shared_ptr<WebLinkEditor>
RigEditorFactory::makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate, const QString& urlString)
{
    ++made;
    lastWebLinkEditor = std::make_shared<RigWebLinkEditor>(std::move(delegate), urlString, next);
    return lastWebLinkEditor;
}

// ---- Rename counter

namespace {

std::mutex gRigRenameMutex;
QByteArray gRigRenameTarget;
std::atomic<int> gRigRenames{0};

int rigCountingRename(const char* from, const char* to)
{
    const int result = ::rename(from, to);
    if (result == 0) {
        std::lock_guard<std::mutex> lock(gRigRenameMutex);
        if (gRigRenameTarget == QByteArray(to))
            ++gRigRenames;
    }
    return result;
}

} // namespace

RenameCounter::RenameCounter(const QString& path)
{
    {
        std::lock_guard<std::mutex> lock(gRigRenameMutex);
        gRigRenameTarget = QFile::encodeName(path);
    }
    gRigRenames = 0;
    SysCalls::Hooks hooks;
    hooks.rename = &rigCountingRename;
    SysCalls::installHooks(hooks);
}

RenameCounter::~RenameCounter()
{
    SysCalls::removeHooks();
}

int RenameCounter::count() const
{
    return gRigRenames.load();
}

QString storedPath(const IdeaDocument& document)
{
    const QUrl url =
        PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(document.docIdentifier());
    return url.isLocalFile() ? url.toLocalFile() : document.filePath();
}

// ---- Trees

QString outline(const IdeaPtr& root)
{
    if (!root)
        return QStringLiteral("(null)");
    QString text;
    if (root->isLink()) {
        const IdeaPtr target = root->linkedIdea();
        return QStringLiteral("->") + (target ? target->text() : QStringLiteral("?"));
    }
    text = root->ideaType() == IdeaTypeURL     ? root->URL()
           : root->ideaType() == IdeaTypeImage ? QStringLiteral("img")
                                               : root->text();
    if (root->ideas().empty())
        return text;
    QStringList children;
    for (const IdeaPtr& child : root->ideas())
        children.append(outline(child));
    return text + QLatin1Char('(') + children.join(QLatin1Char(' ')) + QLatin1Char(')');
}

IdeaPtr readStoredTree(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const auto payload = IdeaDocumentDataObject::decodeSomeData(file.readAll());
    return payload.ok() && payload.value() ? payload.value()->idea() : nullptr;
}

QStringList planetIdentifiers(const SolarSystemViewController& screen)
{
    QStringList identifiers;
    const auto& solar = screen.solarSystemView();
    if (!solar)
        return identifiers;
    for (std::int64_t i = 0; i < solar->ideaViewCount(); ++i) {
        const auto planet = solar->ideaViewAtIndex(i);
        identifiers.append(planet ? planet->ideaIdentifier() : QStringLiteral("?"));
    }
    return identifiers;
}

QStringList planetTexts(const SolarSystemViewController& screen)
{
    QStringList texts;
    const IdeaPtr centre = screen.realIdea();
    for (const QString& identifier : planetIdentifiers(screen)) {
        const IdeaPtr idea = centre ? centre->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
        texts.append(idea ? outline(idea).section(QLatin1Char('('), 0, 0) : QStringLiteral("?"));
    }
    return texts;
}

QStringList childIdentifiers(const IdeaPtr& idea)
{
    QStringList identifiers;
    if (idea)
        for (const IdeaPtr& child : idea->ideas())
            identifiers.append(child->identifier());
    return identifiers;
}

namespace {

IdeaPtr rigColouredIdea(const QString& text)
{
    IdeaPtr idea = Idea::initWithText(text);
    const int h = int(qHash(text) % 6);
    idea->setColor(Color::withRGB(QStringLiteral("rig%1").arg(h),
                                  RGBA{double(40 + 40 * h), double(200 - 25 * h), double(90 + 20 * h), 1.0}));
    return idea;
}

IdeaPtr parseOutline(const QString& text, int& pos)
{
    int start = pos;
    while (pos < text.size() && text[pos] != QLatin1Char('(') && text[pos] != QLatin1Char(')') &&
           text[pos] != QLatin1Char(' '))
        ++pos;
    IdeaPtr idea = rigColouredIdea(text.mid(start, pos - start));
    if (pos < text.size() && text[pos] == QLatin1Char('(')) {
        ++pos;
        while (pos < text.size() && text[pos] != QLatin1Char(')')) {
            if (text[pos] == QLatin1Char(' ')) {
                ++pos;
                continue;
            }
            (void)idea->addIdea(parseOutline(text, pos));
        }
        ++pos;
    }
    return idea;
}

} // namespace

IdeaPtr treeFromOutline(const QString& text)
{
    int pos = 0;
    return parseOutline(text, pos);
}

IdeaPtr findByText(const IdeaPtr& root, const QString& text)
{
    if (!root)
        return nullptr;
    if (!root->isLink() && root->text() == text)
        return root;
    for (const IdeaPtr& child : root->ideas())
        if (IdeaPtr found = findByText(child, text))
            return found;
    return nullptr;
}

// ---- Rig

MindMapScreenRig::MindMapScreenRig()
{
    Globals::setApp(app);
    EditorFactory::setCurrent(editors);
    TopBarServices::setFactory([this] {
        auto bar = std::make_shared<RigTopBar>();
        topBars.push_back(bar);
        return bar;
    });
    OverviewGraph::setFactory([this] {
        auto graph = std::make_shared<RigOverview>();
        overviews.push_back(graph);
        return graph;
    });
    alerts = std::make_shared<ScriptedAlertRunner>();
    menus = std::make_shared<ScriptedMenuRunner>();
    filePanels = std::make_shared<ScriptedFilePanelRunner>();
    Runners::setAlertRunner(alerts);
    Runners::setMenuRunner(menus);
    Runners::setFilePanelRunner(filePanels);
    urls = std::make_shared<RecordingUrlOpener>();
    mPreviousOpener = UrlOpener::setCurrent(urls);
    window = makeWindow();
}

MindMapScreenRig::~MindMapScreenRig()
{
    for (const auto& extra : extraWindows)
        extra->close();
    window->close();
    UrlOpener::setCurrent(mPreviousOpener);
    Runners::setAlertRunner(nullptr);
    Runners::setMenuRunner(nullptr);
    Runners::setFilePanelRunner(nullptr);
    TopBarServices::setFactory({});
    OverviewGraph::setFactory({});
    EditorFactory::setCurrent(nullptr);
    Globals::setApp(nullptr);
}

std::shared_ptr<RigWindow> MindMapScreenRig::makeWindow()
{
    auto made = std::make_shared<RigWindow>(Size(1000, 800));
    made->makeKeyAndOrderFront();
    if (window)
        extraWindows.push_back(made);
    return made;
}

std::shared_ptr<IdeaDocument> MindMapScreenRig::createDocument(const IdeaPtr& root, qint64& token)
{
    auto document = IdeaDocument::initWithFileName(QString(), 0);
    document->setIdea(root);
    token = -1;
    PersistenceController::singleton().createDocument(document, [&token](qint64 answer) { token = answer; });
    settle([&] { return token >= 0; });
    return document;
}

std::shared_ptr<SolarSystemViewController>
MindMapScreenRig::showDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                               const QString& ideaIdentifier, RigWindow* inWindow)
{
    auto screen = SolarSystemViewController::initWithDoc(document, token, ideaIdentifier);
    RigWindow* target = inWindow ? inWindow : window.get();
    target->switchToViewController(screen, false, {});
    View::runUpdateCycle();
    return screen;
}

RigCloudLocation::RigCloudLocation(MindMapScreenRig& rig, const QStringList& trees)
{
    PersistenceStateFactory::registerMaker(
        2, [] { return TestFolderPersistenceState::create(testDir() + QStringLiteral("/icloud"), 2); });
    Globals::optForICloud(true);
    PersistenceController& storage = PersistenceController::singleton();
    // A controller made by an earlier test learns of the choice from the defaults' notice,
    // which the main queue delivers.
    rig.drain();
    state = std::dynamic_pointer_cast<TestFolderPersistenceState>(
        storage.workspaceForLocation(2) ? storage.workspaceForLocation(2)->currentState() : nullptr);
    if (!state)
        return;
    std::vector<IdeaProxyPtr> proxies;
    for (qsizetype i = 0; i < trees.size(); ++i) {
        const QString name =
            i == 0 ? QStringLiteral("shared.crvx") : QStringLiteral("shared%1.crvx").arg(i + 1);
        identifiers.append(state->docIdentifierForFileName(name));
        proxies.push_back(state->writeDocumentFile(identifiers.back(), treeFromOutline(trees[i])));
    }
    identifier = identifiers.value(0);
    state->reportStatus(PersistenceStateStatusAllFound);
    for (const QString& each : identifiers)
        state->reportFoundDocument(each);
    state->reportProxyList(proxies);
    rig.settle([&] { return storage.isLocationReadyForUse(2); });
}

RigCloudLocation::~RigCloudLocation()
{
    PersistenceStateFactory::registerMaker(2, {});
}

std::shared_ptr<SolarSystemViewController> RigCloudLocation::show(MindMapScreenRig& rig,
                                                                  RigWindow* window) const
{
    auto document = IdeaDocument::initWithIdentifier(identifier);
    qint64 token = -1;
    PersistenceController::singleton().openDocument(document, [&token](qint64 answer) { token = answer; });
    if (!rig.settle([&] { return token >= 0; }) || token < 1)
        return nullptr;
    return rig.showDocument(document, token, QString(), window);
}

std::shared_ptr<IdeaDocument> RigCloudLocation::openHeld(MindMapScreenRig& rig, std::size_t index,
                                                         qint64& token) const
{
    token = 0;
    PersistenceController& storage = PersistenceController::singleton();
    auto document = storage.findDocument(identifiers.value(qsizetype(index)));
    if (!document)
        return nullptr;
    token = -1;
    storage.openDocument(document, [&token](qint64 answer) { token = answer; });
    rig.settle([&] { return token >= 0; });
    return document;
}

bool MindMapScreenRig::settle(const SolarSystemViewController& screen)
{
    return settle([&screen] { return screen.savesInFlight() == 0; });
}

bool MindMapScreenRig::settle(const std::function<bool()>& predicate)
{
    for (int i = 0; i < 200; ++i) {
        if (runUntil(predicate, 0.05)) {
            runUntil([] { return false; }, 0.01);
            time.runDue();
            if (predicate())
                return true;
        }
        time.advance(0.05);
    }
    return predicate();
}

void MindMapScreenRig::drain()
{
    for (int i = 0; i < 10; ++i) {
        runUntil([] { return false; }, 0.01);
        time.advance(0.05);
    }
}

void MindMapScreenRig::finishAnimations()
{
    for (int i = 0; i < 80; ++i) {
        time.advance(1.0 / 60.0);
        View::runUpdateCycle();
    }
    runUntil([] { return false; }, 0.01);
}

// --- drops and files ---

void ShellRigWindow::startDragForEvent(const Event&, View& fromView,
                                       const std::shared_ptr<IdeaView>& exampleIdeaView,
                                       const DragTarget& returnTarget)
{
    DragStart start;
    if (exampleIdeaView) {
        start.ideaIdentifier = exampleIdeaView->ideaIdentifier();
        start.docIdentifier = exampleIdeaView->docIdentifier();
    }
    start.returnTarget = returnTarget;
    start.fromView = &fromView;
    dragStarts.push_back(start);
}

DragInfoForIdea ideaDrag(Point location, DragInfo::Source source, const IdeaPtr& idea,
                         const QString& docIdentifier, quint64 returnKind)
{
    DragInfoForIdea info;
    info.location = location;
    info.source = source;
    info.objectType = DragInfo::ObjectType::IdeaObject;
    info.returnTarget.object = returnKind;
    info.ideaIdentifier = idea ? idea->identifier() : QString();
    info.docIdentifier = docIdentifier;
    return info;
}

Point planetInWindow(const SolarSystemViewController& screen, std::int64_t index)
{
    const auto& solar = screen.solarSystemView();
    const auto planet = solar ? solar->ideaViewAtIndex(index) : nullptr;
    if (!planet)
        return Point();
    const Rect frame = planet->frame();
    return solar->convertPointToView(Point(frame.midX(), frame.midY()), nullptr);
}

Point adderInWindow(const SolarSystemViewController& screen, std::int64_t index)
{
    const auto& solar = screen.solarSystemView();
    const auto adder = solar ? solar->ideaAdderViewAtIndex(index) : nullptr;
    return adder ? viewCentreInWindow(*adder) : Point();
}

Point viewCentreInWindow(const View& view)
{
    const Rect frame = view.frame();
    const Point centre(frame.midX(), frame.midY());
    return view.superview() ? view.superview()->convertPointToView(centre, nullptr) : centre;
}

// --- end ---

} // namespace corvex::test
