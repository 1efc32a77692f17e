// A script of tree changes through the screen's real entry points: every change saves the
// document exactly once (renames onto its file), the file read back is the tree the test
// expects, and the planets show the centre's children as stored.

#include "mindmap/SolarSystem.h"
#include "model/ObjectID.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/mindmap/MindMapScreenRig.h"

#include <QImage>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

QVImage scriptPicture(QRgb colour)
{
    QImage image(8, 8, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return QVImage(image);
}

// Runs the item of the planet's context menu with that title.
void chooseFromContextMenu(SolarSystemViewController& screen, const QString& identifier, const QString& title)
{
    const auto menu = screen.onRightClickAtIdea(identifier);
    ASSERT_TRUE(menu);
    const auto item = menu->itemWithTitle(title);
    ASSERT_TRUE(item) << title.toStdString();
    item->action()(*item);
}

IdeaPtr findById(const IdeaPtr& root, const QString& identifier)
{
    return root ? root->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
}

TEST(MindMapScreenScript, TwentyFiveChangesEachSaveOnceAndReadBackAsBuilt)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document =
        rig.createDocument(treeFromOutline(QStringLiteral("root(a(a1 a2) b c(c1) d)")), token);
    ASSERT_GT(token, 0);
    const auto screen = rig.showDocument(document, token);
    const IdeaPtr root = document->idea();
    RenameCounter renames(storedPath(*document));
    auto id = [&](const QString& text) { return findByText(root, text)->identifier(); };
    auto editWith = [&](EditorScript script) { rig.editors->next = std::move(script); };
    auto closeEditor = [&] { rig.editors->lastIdeaEditor->close(); };
    EditorScript titled;
    titled.didChange = true;

    struct Step
    {
        const char* what;
        std::function<void()> run;
        const char* expected;
    };
    const std::vector<Step> steps = {
        {"add through the editor",
         [&] {
             titled.title = QStringLiteral("n1");
             editWith(titled);
             screen->onAddNewIdeaAfterIndex(1, Rect(10, 10, 20, 20));
             closeEditor();
         },
         "root(a(a1 a2) b n1 c(c1) d)"},
        {"edit a planet's text",
         [&] {
             titled.title = QStringLiteral("B");
             editWith(titled);
             screen->onEditIdea(id(QStringLiteral("b")));
             closeEditor();
         },
         "root(a(a1 a2) B n1 c(c1) d)"},
        {"move the last to the front",
         [&] {
             screen->moveIdeaAfter(findByText(root, QStringLiteral("d")), document->docIdentifier(), -1, {});
         },
         "root(d a(a1 a2) B n1 c(c1))"},
        {"move towards the back",
         [&] {
             screen->moveIdeaAfter(findByText(root, QStringLiteral("a")), document->docIdentifier(), 3, {});
         },
         "root(d B n1 a(a1 a2) c(c1))"},
        {"move into a planet",
         [&] {
             screen->moveIdeaInside(findByText(root, QStringLiteral("n1")), document->docIdentifier(), 4, {});
         },
         "root(d B a(a1 a2) c(c1 n1))"},
        {"move a grandchild onto the orbit",
         [&] {
             screen->moveIdeaAfter(findByText(root, QStringLiteral("a1")), document->docIdentifier(), 0, {});
         },
         "root(d a1 B a(a2) c(c1 n1))"},
        {"copy next to the planets",
         [&] { screen->copyIdeaAfter(findByText(root, QStringLiteral("B")), 4, {}); },
         "root(d a1 B a(a2) c(c1 n1) B)"},
        {"copy into a planet", [&] { screen->copyIdeaInside(findByText(root, QStringLiteral("d")), 3, {}); },
         "root(d a1 B a(a2 d) c(c1 n1) B)"},
        {"link", [&] { screen->createLinkToIdea(findByText(root, QStringLiteral("c1")), 0, {}); },
         "root(d ->c1 a1 B a(a2 d) c(c1 n1) B)"},
        {"delete", [&] { EXPECT_TRUE(screen->deleteIdeaWithIdentifier(root->ideas().back()->identifier())); },
         "root(d ->c1 a1 B a(a2 d) c(c1 n1))"},
        {"delete a leaf from the menu",
         [&] {
             chooseFromContextMenu(*screen, root->ideas().front()->identifier(), QStringLiteral("Delete"));
         },
         "root(->c1 a1 B a(a2 d) c(c1 n1))"},
        {"delete a planet with children, confirmed",
         [&] {
             rig.alerts->answerIndex(0);
             chooseFromContextMenu(*screen, id(QStringLiteral("a")), QStringLiteral("Delete"));
         },
         "root(->c1 a1 B c(c1 n1))"},
        {"drill into c, add there",
         [&] {
             screen->onDrillDownTo(id(QStringLiteral("c")));
             rig.finishAnimations();
             titled.title = QStringLiteral("n2");
             editWith(titled);
             screen->onAddNewIdeaAfterIndex(-1, Rect(10, 10, 20, 20));
             closeEditor();
         },
         "root(->c1 a1 B c(n2 c1 n1))"},
        {"move to the parent",
         [&] {
             screen->moveToParentTheIdea(findByText(root, QStringLiteral("n1")), document->docIdentifier(),
                                         {});
         },
         "root(->c1 a1 B c(n2 c1) n1)"},
        {"copy to the parent",
         [&] { screen->copyToParentTheIdea(findByText(root, QStringLiteral("c1")), {}); },
         "root(->c1 a1 B c(n2 c1) n1 c1)"},
        {"edit the centre",
         [&] {
             titled.title = QStringLiteral("C");
             editWith(titled);
             screen->onEditIdea(id(QStringLiteral("c")));
             closeEditor();
         },
         "root(->c1 a1 B C(n2 c1) n1 c1)"},
        {"edit with recolouring",
         [&] {
             EditorScript recolour = titled;
             recolour.title = QStringLiteral("N2");
             recolour.didRecolor = true;
             editWith(recolour);
             screen->onEditIdea(id(QStringLiteral("n2")));
             closeEditor();
         },
         "root(->c1 a1 B C(N2 c1) n1 c1)"},
        {"add a picture idea",
         [&] {
             const QVImage picture = scriptPicture(qRgb(200, 30, 30));
             screen->addNewIdeaAfterIndex(
                 1, Idea::initWithImageAttachment(
                        picture, ObjectID::createFromData(picture.pngData(), QStringLiteral("png"))));
         },
         "root(->c1 a1 B C(N2 c1 img) n1 c1)"},
        {"change the picture in the viewer",
         [&] {
             EditorScript picture;
             picture.changedImage = scriptPicture(qRgb(30, 30, 200));
             editWith(picture);
             screen->onEditIdea(screen->realIdea()->ideas()[2]->identifier());
             ASSERT_TRUE(rig.editors->lastPictureViewer);
             rig.editors->lastPictureViewer->finish();
         },
         "root(->c1 a1 B C(N2 c1 img) n1 c1)"},
        {"add a web link idea",
         [&] {
             screen->addNewIdeaAfterIndex(-1,
                                          Idea::initWithURL(QStringLiteral("https://a.example/"), QVImage()));
         },
         "root(->c1 a1 B C(https://a.example/ N2 c1 img) n1 c1)"},
        {"edit the web link",
         [&] {
             EditorScript link;
             link.resultURL = QStringLiteral("https://b.example/");
             editWith(link);
             screen->onEditIdea(screen->realIdea()->ideas()[0]->identifier());
             ASSERT_TRUE(rig.editors->lastWebLinkEditor);
             rig.editors->lastWebLinkEditor->finish();
         },
         "root(->c1 a1 B C(https://b.example/ N2 c1 img) n1 c1)"},
        {"drill up, move to the front",
         [&] {
             screen->onDrillUp();
             rig.finishAnimations();
             screen->moveIdeaAfter(findByText(root, QStringLiteral("n1")), document->docIdentifier(), -1, {});
         },
         "root(n1 ->c1 a1 B C(https://b.example/ N2 c1 img) c1)"},
        {"delete the copy",
         [&] { EXPECT_TRUE(screen->deleteIdeaWithIdentifier(root->ideas().back()->identifier())); },
         "root(n1 ->c1 a1 B C(https://b.example/ N2 c1 img))"},
        {"copy a planet into another",
         [&] { screen->copyIdeaInside(findByText(root, QStringLiteral("a1")), 4, {}); },
         "root(n1 ->c1 a1 B C(https://b.example/ N2 c1 img a1))"},
        {"move a planet into another",
         [&] { screen->moveIdeaInside(root->ideas()[2], document->docIdentifier(), 3, {}); },
         "root(n1 ->c1 B(a1) C(https://b.example/ N2 c1 img a1))"},
    };
    ASSERT_EQ(steps.size(), 25u);

    QString lastPicture;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].what);
        steps[i].run();
        ASSERT_TRUE(
            rig.settle([&] { return screen->savesInFlight() == 0 && renames.count() >= int(i) + 1; }));
        EXPECT_EQ(renames.count(), int(i) + 1);
        const IdeaPtr stored = readStoredTree(storedPath(*document));
        EXPECT_EQ(outline(stored), QString::fromLatin1(steps[i].expected));
        const IdeaPtr storedCentre = findById(stored, screen->realIdea()->identifier());
        ASSERT_TRUE(storedCentre);
        EXPECT_EQ(planetIdentifiers(*screen), childIdentifiers(storedCentre));
        const IdeaPtr pictureParent = findByText(stored, QStringLiteral("C"));
        if (pictureParent && pictureParent->ideas().size() > 2) {
            const QString att = pictureParent->ideas().back()->att().description();
            if (i == 18) {
                EXPECT_NE(att, lastPicture) << "the viewer's picture was not stored";
            }
            lastPicture = att;
        }
    }
    EXPECT_TRUE(rig.window->isDocumentEdited());
}

} // namespace
} // namespace corvex::test
