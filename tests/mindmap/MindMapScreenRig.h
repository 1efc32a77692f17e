#pragma once

// The test rig of the mind-map screen: recording doubles of everything the screen reaches
// through its seams (the shell's main window, recording what it hears and with a dock slot, a
// top bar, the overview graph, editors with scripted results, an application delegate with
// configurable answers), a real location-0 document in the test's XDG folders, and readers of
// what was stored, always from the file on disk.

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/MindMapScreenSeams.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/ApplicationDelegate.h"
#include "model/Idea.h"
#include "platform/ui/Window.h"
#include "shell/MyWindow.h"
#include "storage/IdeaDocument.h"
#include "tests/support/VirtualScheduler.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {
class RecordingUrlOpener;
class TestFolderPersistenceState;
class ScriptedAlertRunner;
class ScriptedFilePanelRunner;
class ScriptedMenuRunner;
class UrlOpener;
} // namespace corvex

namespace corvex::test {

// A main window of the shell that records what the screen tells it: it switches screens, keeps
// the document's URL and edited flag and shows notices as the shipped window does; the dock is
// a slot (the shell's drag window carries the real one).
class RigWindow : public MyWindow
{
public:
    explicit RigWindow(Size size) : MyWindow(size) {}

    void switchToViewController(const std::shared_ptr<BaseViewController>& screen, bool animated,
                                Completion<> completion) override;
    void setCloudIconStateForLocation(unsigned location) override;
    void showShortNotificationToUser(const QString& text) override;
    IdeaPtr currentDockedIdea() const override { return dockedIdea; }
    QString currentDockedDocIdentifier() const override { return dockedDocIdentifier; }
    void setDockedIdea(const IdeaPtr& idea, const QString& docIdentifier) override
    {
        dockedIdea = idea;
        dockedDocIdentifier = docIdentifier;
    }
    void windowWillClose() override;

    QList<std::shared_ptr<BaseViewController>> switchedTo;
    QList<unsigned> cloudIconLocations;
    QStringList notices;
    IdeaPtr dockedIdea;
    QString dockedDocIdentifier;
    int closes = 0;
};

class RigTopBar : public TopBarServices
{
public:
    RigTopBar();
    std::shared_ptr<View> view() const override { return mView; }
    void setDelegate(std::weak_ptr<TopBarServicesDelegate> delegate) override
    {
        mDelegate = std::move(delegate);
    }
    QString currentSearchText() const override { return searchText; }
    void setCurrentSearchText(const QString& text) override
    {
        searchText = text.isNull() ? QString(QLatin1String("")) : text;
    }
    bool isEditingSearchText() const override { return editing; }
    void startEditingSearchText() override
    {
        editing = true;
        ++editStarts;
    }
    void setContentAction(bool shown) override { contentShown = shown; }
    void setMindmapToggleAction(bool shown, bool isToggled) override
    {
        toggleShown = shown;
        toggled = isToggled;
    }
    void setHomeAction(bool shown) override { homeShown = shown; }

    // Types a search text as the user would: the delegate hears of it.
    void type(const QString& text);
    std::shared_ptr<TopBarServicesDelegate> delegate() const { return mDelegate.lock(); }

    QString searchText = QStringLiteral("");
    bool editing = false;
    int editStarts = 0;
    bool contentShown = false;
    bool toggleShown = false;
    bool toggled = false;
    bool homeShown = false;

private:
    std::shared_ptr<View> mView;
    std::weak_ptr<TopBarServicesDelegate> mDelegate;
};

class RigOverview : public OverviewGraph
{
public:
    RigOverview();
    std::shared_ptr<View> view() const override { return mView; }
    void setDelegate(std::weak_ptr<OverviewGraphDelegate> delegate) override
    {
        mDelegate = std::move(delegate);
    }
    void setCurrentIdea(const IdeaPtr& idea, const QString& text) override
    {
        root = idea;
        searchText = text;
        ++rebuilds;
    }
    std::shared_ptr<OverviewGraphDelegate> delegate() const { return mDelegate.lock(); }

    IdeaPtr root;
    QString searchText;
    int rebuilds = 0;

private:
    std::shared_ptr<View> mView;
    std::weak_ptr<OverviewGraphDelegate> mDelegate;
};

// What an editor double answers when it closes.
struct EditorScript
{
    bool didChange = false;
    bool didRecolor = false;
    QString title;
    QString note;
    std::shared_ptr<Color> color;
    bool keepColor = true; // leave the preset colour
    quint64 colorThemeType = 0;
    bool keepThemeType = true;
    QVImage changedImage;    // picture viewer
    QString resultURL;       // web-link editor (null: cancelled)
    QVImage resultPageImage; // web-link editor
};

class RigIdeaEditor : public IdeaEditor
{
public:
    explicit RigIdeaEditor(EditorScript script) : mScript(std::move(script)) {}
    void setDelegate(std::weak_ptr<IdeaEditorDelegate> delegate) override { mDelegate = std::move(delegate); }
    void setValues(const IdeaValues& given) override { edited = given; }
    const IdeaValues& values() const override { return edited; }
    bool didChange() const override { return mClosed && mScript.didChange; }
    bool didRecolor() const override { return mClosed && mScript.didRecolor; }
    void showRelativeToRect(const Rect& rect, View&) override
    {
        anchor = rect;
        shown = true;
    }
    // Applies the script and tells the delegate, as the user closing the popover would.
    void close() override;

    IdeaValues edited; // as preset, then as the script leaves them
    Rect anchor;
    bool shown = false;

private:
    EditorScript mScript;
    std::weak_ptr<IdeaEditorDelegate> mDelegate;
    bool mClosed = false;
};

class RigPictureViewer : public PictureViewer
{
public:
    RigPictureViewer(std::weak_ptr<PictureViewerDelegate> delegate, Loader loader, EditorScript script);
    QVImage changedImage() const override { return mDone ? mScript.changedImage : QVImage(); }
    void finish() override;
    Loader loader;

protected:
    void loadView() override;

private:
    std::weak_ptr<PictureViewerDelegate> mDelegate;
    EditorScript mScript;
    bool mDone = false;
};

class RigWebLinkEditor : public WebLinkEditor
{
public:
    RigWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate, QString url, EditorScript script);
    QString resultURL() const override { return mDone ? mScript.resultURL : QString(); }
    QVImage resultPageImage() const override { return mDone ? mScript.resultPageImage : QVImage(); }
    void finish() override;
    QString givenURL;

protected:
    void loadView() override;

private:
    std::weak_ptr<WebLinkEditorDelegate> mDelegate;
    EditorScript mScript;
    bool mDone = false;
};

// Makes the doubles above; each new editor takes `next` as its script.
class RigEditorFactory : public EditorFactory
{
public:
    std::shared_ptr<IdeaEditor> makeIdeaEditor() override;
    std::shared_ptr<PictureViewer> makePictureViewer(std::weak_ptr<PictureViewerDelegate> delegate,
                                                     PictureViewer::Loader loader) override;
    std::shared_ptr<WebLinkEditor> makeWebLinkEditor(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                                     const QString& urlString) override;

    EditorScript next;
    std::shared_ptr<RigIdeaEditor> lastIdeaEditor;
    std::shared_ptr<RigPictureViewer> lastPictureViewer;
    std::shared_ptr<RigWebLinkEditor> lastWebLinkEditor;
    int made = 0;
};

class RigAppDelegate : public ApplicationDelegate
{
public:
    void updatePersistentAppStateNow() override { ++stateWrites; }
    void addNewRecentDocumentURL(const QUrl& url) override { recents.append(url); }
    bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) override
    {
        deleteQuestions.append(ideaIdentifier + QLatin1Char('@') + docIdentifier);
        return safeToDelete;
    }
    void openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier) override
    {
        openedInNewWindow.append(docIdentifier + QLatin1Char('#') + ideaIdentifier);
    }
    bool isFileCurrentlyOpen(const QUrl&) override { return fileOpen; }

    bool safeToDelete = true;
    bool fileOpen = false;
    int stateWrites = 0;
    QList<QUrl> recents;
    QStringList deleteQuestions;
    QStringList openedInNewWindow;
};

// Counts renames onto one file (the saves that reached it) through the SysCalls seam.
class RenameCounter
{
public:
    explicit RenameCounter(const QString& path);
    ~RenameCounter();
    RenameCounter(const RenameCounter&) = delete;
    RenameCounter& operator=(const RenameCounter&) = delete;
    int count() const;
};

// The absolute path of a document's file (location 0 through the temporary location).
QString storedPath(const IdeaDocument& document);

// ---- Trees

// An outline of a tree: "text" for a leaf, "text(child child ...)" otherwise; a link idea as
// "->" and its target's text.
QString outline(const IdeaPtr& root);
// The root idea of the document file as stored on disk (through the payload reader).
IdeaPtr readStoredTree(const QString& filePath);
// The identifiers of the planets the screen shows, in order, and of an idea's children.
QStringList planetIdentifiers(const SolarSystemViewController& screen);
QStringList childIdentifiers(const IdeaPtr& idea);
// The texts of the planets (their ideas looked up in the screen's centre; links as "->target").
QStringList planetTexts(const SolarSystemViewController& screen);
// A tree from an outline of plain texts ("root(a b(c d))"); every idea gets a colour.
IdeaPtr treeFromOutline(const QString& text);
// The child of `parent` (any depth) with that text.
IdeaPtr findByText(const IdeaPtr& root, const QString& text);

// The rig: seams registered, runners scripted, one window, virtual time.
class MindMapScreenRig
{
public:
    MindMapScreenRig();
    ~MindMapScreenRig();
    MindMapScreenRig(const MindMapScreenRig&) = delete;
    MindMapScreenRig& operator=(const MindMapScreenRig&) = delete;

    // A location-0 document with the tree, created on disk and open; answers its handle and
    // keeps the token in `token`.
    std::shared_ptr<IdeaDocument> createDocument(const IdeaPtr& root, qint64& token);
    // The screen of the document in a window of the rig (the first call uses `window`).
    std::shared_ptr<SolarSystemViewController> showDocument(const std::shared_ptr<IdeaDocument>& document,
                                                            qint64 token,
                                                            const QString& ideaIdentifier = QString(),
                                                            RigWindow* inWindow = nullptr);
    std::shared_ptr<RigWindow> makeWindow();
    // Runs the main queue until the screen has no save running and nothing is due.
    bool settle(const SolarSystemViewController& screen);
    bool settle(const std::function<bool()>& predicate);
    // Runs what is due and what other threads hand back for a short while (for checks that
    // nothing happens).
    void drain();
    // Lets animations end (virtual time moves on).
    void finishAnimations();

    ScopedVirtualTime time{1000.0};
    std::shared_ptr<RigWindow> window;
    std::vector<std::shared_ptr<RigWindow>> extraWindows;
    std::shared_ptr<RigAppDelegate> app = std::make_shared<RigAppDelegate>();
    std::shared_ptr<RigEditorFactory> editors = std::make_shared<RigEditorFactory>();
    std::shared_ptr<ScriptedAlertRunner> alerts;
    std::shared_ptr<ScriptedMenuRunner> menus;
    std::shared_ptr<ScriptedFilePanelRunner> filePanels;
    std::shared_ptr<RecordingUrlOpener> urls;
    std::vector<std::shared_ptr<RigTopBar>> topBars;
    std::vector<std::shared_ptr<RigOverview>> overviews;

private:
    std::shared_ptr<UrlOpener> mPreviousOpener;
};

// The iCloud location served by a test folder, ready, and holding a document for each tree:
// "shared.crvx" the first, "shared2.crvx" the second and so on. The folder back end is
// registered until it goes.
struct RigCloudLocation
{
    RigCloudLocation(MindMapScreenRig& rig, const QStringList& trees);
    ~RigCloudLocation();
    RigCloudLocation(const RigCloudLocation&) = delete;
    RigCloudLocation& operator=(const RigCloudLocation&) = delete;

    // The first document, opened with a handle of its own, shown in the window.
    std::shared_ptr<SolarSystemViewController> show(MindMapScreenRig& rig, RigWindow* window) const;
    // The one handle the location holds for its document `index`, opened as a window opens
    // it; the token in `token` (below 1: not opened).
    std::shared_ptr<IdeaDocument> openHeld(MindMapScreenRig& rig, std::size_t index, qint64& token) const;

    std::shared_ptr<TestFolderPersistenceState> state;
    QStringList identifiers;
    // The first document's.
    QString identifier;
};

// --- drops and files ---

// A rig window that counts the questions before it closes and records the drags the screen
// starts, leaving them open (the shell's drag window would carry them).
class ShellRigWindow : public RigWindow
{
public:
    using RigWindow::RigWindow;

    bool windowShouldClose() override
    {
        ++closeQuestions;
        return MyWindow::windowShouldClose();
    }
    int closeQuestions = 0;

    struct DragStart
    {
        QString ideaIdentifier;
        QString docIdentifier;
        DragTarget returnTarget;
        const View* fromView = nullptr;
    };

    void startDragForEvent(const Event& event, View& fromView,
                           const std::shared_ptr<IdeaView>& exampleIdeaView,
                           const DragTarget& returnTarget) override;

    std::vector<DragStart> dragStarts;
};

// A record of a drag of an idea over a window at a point of its base coordinates.
DragInfoForIdea ideaDrag(Point location, DragInfo::Source source, const IdeaPtr& idea,
                         const QString& docIdentifier, quint64 returnKind = DragTarget::None);
// The centre of the screen's planet or adder `index`, in window base coordinates.
Point planetInWindow(const SolarSystemViewController& screen, std::int64_t index);
Point adderInWindow(const SolarSystemViewController& screen, std::int64_t index);
// The centre of a view's frame in window base coordinates.
Point viewCentreInWindow(const View& view);
// The result codes a drop completion was called with.
struct DropResults
{
    std::vector<DragResult> codes;
    DragSupportDelegate::DropCompletion completion()
    {
        return [this](DragResult code) { codes.push_back(code); };
    }
};

// --- end ---

} // namespace corvex::test
