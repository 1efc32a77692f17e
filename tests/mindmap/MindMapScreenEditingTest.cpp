// The editing flows of the mind-map screen through the editor doubles: results written into
// the idea found again in the current tree, every editor occupying the screen, closing an
// editor from the close path, and the things added to the dock.

#include "mindmap/SolarSystem.h"
#include "model/Color.h"
#include "model/ColorTheme.h"
#include "model/ObjectID.h"
#include "platform/core/NotificationCenter.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

struct EditingScreen
{
    EditingScreen()
    {
        document = rig.createDocument(treeFromOutline(QStringLiteral("root(a b(b1) c)")), token);
        screen = rig.showDocument(document, token);
    }
    QString path() const { return storedPath(*document); }
    QString id(const char* text) const
    {
        return findByText(document->idea(), QString::fromLatin1(text))->identifier();
    }

    MindMapScreenRig rig;
    qint64 token = 0;
    std::shared_ptr<IdeaDocument> document;
    std::shared_ptr<SolarSystemViewController> screen;
};

QVImage editingPicture(QRgb colour)
{
    QImage image(6, 6, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return QVImage(image);
}

TEST(MindMapScreenEditing, AnEditClosedAfterTheTreeWasReplacedGoesIntoTheNewTreeAndToDisk)
{
    EditingScreen s;
    EditorScript script;
    script.didChange = true;
    script.title = QStringLiteral("edited b");
    s.rig.editors->next = script;
    s.screen->onEditIdea(s.id("b"));
    ASSERT_TRUE(s.rig.editors->lastIdeaEditor && s.rig.editors->lastIdeaEditor->shown);

    // Another program rewrote the file: the document takes the new tree and says so.
    const IdeaPtr replaced = readStoredTree(s.path());
    ASSERT_TRUE(replaced);
    (void)replaced->insertIdea(Idea::initWithText(QStringLiteral("from elsewhere")), 0);
    s.document->setIdea(replaced);
    NotificationCenter::defaultCenter().post(IdeaDocument::ChangedNotification, s.document.get());
    EXPECT_EQ(s.screen->rootIdea(), replaced);

    RenameCounter renames(s.path());
    s.rig.editors->lastIdeaEditor->close();
    ASSERT_TRUE(s.rig.settle([&] { return renames.count() == 1 && s.screen->savesInFlight() == 0; }));
    EXPECT_EQ(outline(readStoredTree(s.path())), QStringLiteral("root(from elsewhere a edited b(b1) c)"));
    EXPECT_EQ(planetTexts(*s.screen), (QStringList{"from elsewhere", "a", "edited b", "c"}));
    EXPECT_FALSE(s.screen->screenOccupied());
}

TEST(MindMapScreenEditing, AnEditOfAnIdeaGoneFromTheTreeIsNotSavedAndSaysSo)
{
    EditingScreen s;
    EditorScript script;
    script.didChange = true;
    script.title = QStringLiteral("lost");
    s.rig.editors->next = script;
    s.screen->onEditIdea(s.id("c"));
    const IdeaPtr replaced = readStoredTree(s.path());
    (void)replaced->removeIdea(replaced->ideas().back()->identifier());
    s.document->setIdea(replaced);
    NotificationCenter::defaultCenter().post(IdeaDocument::ChangedNotification, s.document.get());

    RenameCounter renames(s.path());
    s.rig.editors->lastIdeaEditor->close();
    s.rig.drain();
    EXPECT_EQ(renames.count(), 0);
    EXPECT_EQ(s.rig.window->notices, QStringList{QStringLiteral("Failed to update document")});
}

TEST(MindMapScreenEditing, AnOpenEditorKeepsTheScreenAndItsPendingResult)
{
    EditingScreen s;
    EditorScript picture;
    picture.changedImage = editingPicture(qRgb(10, 120, 200));
    s.rig.editors->next = picture;
    (void)s.screen->addNewIdeaAfterIndex(
        -1, Idea::initWithImageAttachment(editingPicture(qRgb(200, 0, 0)), ObjectID()));
    s.rig.settle(*s.screen);
    s.screen->onEditIdea(s.document->idea()->ideas().front()->identifier());
    ASSERT_TRUE(s.rig.editors->lastPictureViewer);
    EXPECT_EQ(s.screen->currentOccupyingOperation(), QStringLiteral("IdeaEditing"));

    // Nothing else may present meanwhile: the viewer's block would be lost.
    const int made = s.rig.editors->made;
    s.screen->pleaseStartWebLinkAddition();
    s.screen->onEditIdea(s.id("a"));
    s.screen->topBarAction(3, Rect(0, 0, 10, 10));
    EXPECT_EQ(s.rig.editors->made, made);

    // Closing the window's way: the editor is closed first and its result is saved.
    RenameCounter renames(s.path());
    s.screen->closeOpenEditor();
    ASSERT_TRUE(s.rig.settle([&] { return renames.count() == 1 && s.screen->savesInFlight() == 0; }));
    EXPECT_FALSE(s.screen->editorOpen());
    EXPECT_FALSE(s.screen->screenOccupied());
    const IdeaPtr stored = readStoredTree(s.path());
    EXPECT_FALSE(stored->ideas().front()->att().description().isEmpty());
}

TEST(MindMapScreenEditing, ClosingWithThePopoverOpenKeepsTheEdit)
{
    EditingScreen s;
    EditorScript script;
    script.didChange = true;
    script.title = QStringLiteral("kept");
    s.rig.editors->next = script;
    s.screen->onEditIdea(s.id("a"));
    EXPECT_EQ(s.screen->currentOccupyingOperation(), QStringLiteral("ShowingIdeaEditor"));
    s.screen->closeOpenEditor();
    ASSERT_TRUE(s.rig.settle(*s.screen));
    EXPECT_EQ(outline(readStoredTree(s.path())), QStringLiteral("root(kept b(b1) c)"));
}

TEST(MindMapScreenEditing, AWebLinkWhosePageWasNotCapturedKeepsItsPicture)
{
    EditingScreen s;
    const QVImage old = editingPicture(qRgb(0, 200, 0));
    (void)s.screen->addNewIdeaAfterIndex(-1, Idea::initWithURL(QStringLiteral("https://old.example/"), old));
    s.rig.settle(*s.screen);
    EditorScript link;
    link.resultURL = QStringLiteral("https://new.example/");
    s.rig.editors->next = link;
    s.screen->onEditIdea(s.document->idea()->ideas().front()->identifier());
    ASSERT_TRUE(s.rig.editors->lastWebLinkEditor);
    EXPECT_EQ(s.rig.editors->lastWebLinkEditor->givenURL, QStringLiteral("https://old.example/"));
    s.rig.editors->lastWebLinkEditor->finish();
    ASSERT_TRUE(s.rig.settle(*s.screen));
    const IdeaPtr stored = readStoredTree(s.path())->ideas().front();
    EXPECT_EQ(stored->URL(), QStringLiteral("https://new.example/"));
    EXPECT_TRUE(stored->image().hasImage());
}

TEST(MindMapScreenEditing, ANewWebLinkGoesIntoTheDockNotOntoTheOrbit)
{
    EditingScreen s;
    EditorScript link;
    link.resultURL = QStringLiteral("https://docked.example/");
    s.rig.editors->next = link;
    s.screen->pleaseStartWebLinkAddition();
    EXPECT_EQ(s.screen->currentOccupyingOperation(), QStringLiteral("WebLinkAddition"));
    s.rig.editors->lastWebLinkEditor->finish();
    ASSERT_TRUE(s.rig.settle([&] { return s.rig.window->dockedIdea != nullptr; }));
    EXPECT_EQ(s.rig.window->dockedIdea->URL(), QStringLiteral("https://docked.example/"));
    EXPECT_TRUE(s.rig.window->dockedDocIdentifier.startsWith(QStringLiteral("temp:/")));
    EXPECT_EQ(s.document->idea()->ideas().size(), 3u);
    EXPECT_FALSE(s.screen->screenOccupied());
}

TEST(MindMapScreenEditing, AddImageRefusesCorruptAndOversizedFilesAndDocksAGoodOne)
{
    struct Case
    {
        const char* name;
        QByteArray bytes;
        bool docked;
    };
    QImage good(4, 4, QImage::Format_ARGB32);
    good.fill(qRgb(1, 2, 3));
    QByteArray png = editingPicture(qRgb(1, 2, 3)).pngData();
    QByteArray truncated = png.left(png.size() / 2);
    // A PNG header announcing a picture far beyond the decoder's bounds.
    QByteArray huge = png;
    huge[16] = char(0x7f);
    huge[20] = char(0x7f);
    const std::vector<Case> cases = {
        {"corrupt", truncated, false}, {"oversized", huge, false}, {"good", png, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EditingScreen s;
        const QString file = testDir() + QStringLiteral("/picture.png");
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(c.bytes);
        out.close();
        s.rig.filePanels->answerOK({QUrl::fromLocalFile(file)});
        s.screen->pleaseStartImageAddition();
        if (c.docked)
            s.rig.settle([&] { return s.rig.window->dockedIdea != nullptr; });
        else
            s.rig.drain();
        EXPECT_EQ(s.rig.window->dockedIdea != nullptr, c.docked);
        EXPECT_EQ(outline(readStoredTree(s.path())), QStringLiteral("root(a b(b1) c)"));
    }
}

TEST(MindMapScreenEditing, ANewIdeaIsProposedTheNextColourOfItsCentre)
{
    EditingScreen s;
    // A centre without a colour: the first colour of the standard theme after the count.
    s.document->idea()->setColor(nullptr);
    s.screen->onAddNewIdeaAfterIndex(-1, Rect(0, 0, 10, 10));
    const auto& themes = ColorTheme::standardThemes();
    ASSERT_FALSE(themes.empty());
    EXPECT_EQ(s.rig.editors->lastIdeaEditor->edited.color(IdeaMember::Color),
              themes[4 % themes.size()]->colors().front());
    EXPECT_EQ(quint64(s.rig.editors->lastIdeaEditor->edited.integer(IdeaMember::ColorThemeType)), 1u);
    // Closed without a change: nothing is added or saved.
    RenameCounter renames(s.path());
    s.rig.editors->lastIdeaEditor->close();
    s.rig.drain();
    EXPECT_EQ(renames.count(), 0);
    EXPECT_EQ(s.document->idea()->ideas().size(), 3u);
}

} // namespace
} // namespace corvex::test
