// The editor controller over a real popover shown from a window: change detection, tabs
// made once and kept, values kept across tabs, the popover's sizes, and text of any size and
// script reaching the values unchanged.

#include "editor/ColorSelectionTabView.h"
#include "editor/EditViewTabBar.h"
#include "editor/IconImageCollection.h"
#include "editor/IconImageTabView.h"
#include "editor/IdeaTextEditTabView.h"
#include "model/Color.h"
#include "model/ColorMatrix.h"
#include "model/IconImage.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Window.h"
#include "tests/editor/EditorTestSupport.h"
#include "toolkit/BaseView.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/EditableTextView.h"
#include "toolkit/HorizontalSelector.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// An editor shown from a plain window over a catalogue of one icon.
struct ShownEditor : WindowEditor
{
    ShownEditor() : WindowEditor("#One\n\xF0\x9F\x90\xB6;Dog Face;One;1F436\n") {}
};

TEST(EditIdeaViewController, TextEqualityCountsNullAsEmpty)
{
    EXPECT_TRUE(EditIdeaViewController::textEquality(QString(), QStringLiteral("")));
    EXPECT_FALSE(EditIdeaViewController::textEquality(QString(), QStringLiteral("a")));
    EXPECT_FALSE(EditIdeaViewController::textEquality(QStringLiteral("a"), QStringLiteral("b")));
    EXPECT_TRUE(EditIdeaViewController::textEquality(QStringLiteral("a"), QStringLiteral("a")));
}

TEST(EditIdeaViewController, ChangeDetectionFollowsTheValuesNotTheirObjects)
{
    ShownEditor e;
    const ColorPtr red = ColorMatrix::classicColorMatrix().itemAtRow(2, 1)->color();
    e.editor->editedValues().set(IdeaMember::Text, QStringLiteral("title"));
    e.editor->editedValues().set(IdeaMember::Color, red);
    e.editor->editedValues().set(IdeaMember::ColorThemeType, qint64(1));
    e.show();
    EXPECT_FALSE(e.editor->didChange()) << "opened and untouched";

    // A note area opened and left empty is no note.
    e.editor->textTabView()->switchToExtendedMode();
    e.editor->reloadDataFromSubViews();
    EXPECT_FALSE(e.editor->didChange());
    // A title typed back to its old text is no change.
    QTest::keyClicks(titleEdit(*e.editor), QStringLiteral("x"));
    e.editor->reloadDataFromSubViews();
    EXPECT_TRUE(e.editor->didChange());
    QTest::keyClick(titleEdit(*e.editor), Qt::Key_Backspace);
    e.editor->reloadDataFromSubViews();
    EXPECT_FALSE(e.editor->didChange());

    // Another colour object of the same name is no change; the theme type and recolouring are.
    e.editor->editedValues().set(IdeaMember::Color, Color::withRGB(red->name(), RGBA{0, 0, 0, 1}));
    EXPECT_FALSE(e.editor->didChange());
    e.editor->setDidRecolor(true);
    EXPECT_TRUE(e.editor->didChange());
    e.editor->setDidRecolor(false);
    e.editor->editedValues().set(IdeaMember::ColorThemeType, qint64(2));
    EXPECT_TRUE(e.editor->didChange());
    e.editor->editedValues().set(IdeaMember::ColorThemeType, qint64(1));
    e.editor->editedValues().set(IdeaMember::IconImage,
                                 IconImage::initWithName(QStringLiteral("Dog Face"), QStringLiteral("One"),
                                                         QStringLiteral("\U0001F436")));
    EXPECT_TRUE(e.editor->didChange());
}

TEST(EditIdeaViewController, TabsAreMadeOnceKeepTheirValuesAndSizeThePopover)
{
    ShownEditor e;
    e.editor->editedValues().set(IdeaMember::Text, QStringLiteral("title"));
    e.editor->editedValues().set(IdeaMember::Color,
                                 ColorMatrix::classicColorMatrix().itemAtRow(0, 0)->color());
    e.show();
    EXPECT_EQ(e.editor->popover()->contentSize().width, 320.0);
    EXPECT_EQ(e.height(), 123.0);
    EXPECT_EQ(e.editor->currentTabView(), e.editor->textTabView());

    QTest::keyClicks(titleEdit(*e.editor), QStringLiteral(" more"));
    e.selectTab(1);
    EXPECT_EQ(e.height(), 483.0);
    EXPECT_EQ(e.editor->values().text(IdeaMember::Text), QStringLiteral("title more"))
        << "leaving a tab keeps its values";
    const auto colorTab = e.editor->colorTabView();
    const ColorPtr bright = ColorMatrix::brightColorMatrix().itemAtRow(1, 2)->color();
    colorTab->handleColorSelection(bright);
    EXPECT_EQ(e.editor->values().color(IdeaMember::Color), bright);

    e.selectTab(2);
    EXPECT_EQ(e.height(), 483.0);
    e.selectTab(2); // the tab already shown: nothing happens
    EXPECT_EQ(e.height(), 483.0);
    e.selectTab(0);
    EXPECT_EQ(e.height(), 123.0);
    EXPECT_EQ(titleEdit(*e.editor)->text(), QStringLiteral("title more"));
    e.selectTab(1);
    EXPECT_EQ(e.editor->colorTabView(), colorTab) << "a visited tab keeps its view";
    EXPECT_EQ(colorTab->ownThemeSelector()->numElements(), 2u);

    // Tab in the title opens the note area: the popover grows at once.
    QTest::keyClick(titleEdit(*e.editor), Qt::Key_Tab); // not the current tab: the field is not shown
    e.selectTab(0);
    QTest::keyClick(titleEdit(*e.editor), Qt::Key_Tab);
    e.time.runDue();
    EXPECT_EQ(e.height(), 381.0);
    EXPECT_EQ(e.editor->textTabView()->titleTextField()->frame().size.width, 300.0);
    // Coming back with the note area empty shows the compact mode again.
    e.selectTab(1);
    e.selectTab(0);
    EXPECT_FALSE(e.editor->textTabView()->isExtended());
    EXPECT_EQ(e.height(), 123.0);

    // Done tells the delegate once.
    e.editor->pleaseCloseEditView();
    EXPECT_EQ(e.delegate->closes, 1);
    EXPECT_FALSE(e.editor->popover()->isShown());
}

TEST(EditIdeaViewController, AnIdeaWithANoteOpensExtended)
{
    ShownEditor e;
    e.editor->editedValues().set(IdeaMember::Note, QStringLiteral("a note"));
    e.show();
    EXPECT_TRUE(e.editor->textTabView()->isExtended());
    EXPECT_EQ(e.height(), 381.0);
    EXPECT_EQ(e.editor->textTabView()->selectedNoteText(), QStringLiteral("a note"));
    EXPECT_EQ(titleEdit(*e.editor)->text(), QStringLiteral("")) << "a null title shows an empty field";
    e.editor->pleaseCloseEditView();
    EXPECT_EQ(e.editor->values().text(IdeaMember::Text), QStringLiteral(""));
}

TEST(EditIdeaViewController, TextOfAnySizeAndScriptArrivesUnchanged)
{
    ShownEditor e;
    QString big;
    big.reserve(1 << 20);
    for (int i = 0; big.size() < (1 << 20); ++i)
        big += QStringLiteral("line %1 \u00A0with\ttabs\n").arg(i);
    const QString rtl = QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627");
    const QString emoji =
        QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467 \u2764\uFE0F \U0001F1EB\U0001F1F7");
    e.editor->editedValues().set(IdeaMember::Text, rtl + emoji);
    e.editor->editedValues().set(IdeaMember::Note, big + rtl + emoji);
    e.show();
    e.editor->pleaseCloseEditView();
    EXPECT_EQ(e.editor->values().text(IdeaMember::Text), rtl + emoji);
    EXPECT_TRUE(e.editor->values().text(IdeaMember::Note) == big + rtl + emoji);
    EXPECT_FALSE(e.editor->didChange());
}

} // namespace
} // namespace corvex::test

namespace corvex::test {
namespace {

TEST(EditIdeaViewController, UndoCutCopyAndPasteWorkInBothFields)
{
    ShownEditor e;
    e.editor->editedValues().set(IdeaMember::Text, QStringLiteral("title"));
    e.show();
    QLineEdit* title = titleEdit(*e.editor);
    QTest::keyClicks(title, QStringLiteral("!"));
    QTest::keyClick(title, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(title->text(), QStringLiteral("title"));
    QTest::keyClick(title, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(title, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(title->text(), QStringLiteral(""));
    QTest::keyClick(title, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(title, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(title->text(), QStringLiteral("titletitle"));

    e.editor->textTabView()->switchToExtendedMode();
    QTextEdit* note = noteEdit(*e.editor);
    ASSERT_TRUE(note);
    QTest::keyClicks(note, QStringLiteral("note"));
    QTest::keyClick(note, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(note, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(note, Qt::Key_End);
    QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(e.editor->textTabView()->selectedNoteText(), QStringLiteral("notenote"));
    QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.editor->textTabView()->selectedNoteText(), QStringLiteral("note"));

    // The note's right-click menu is the text fields' reduced one.
    const auto menu = e.editor->textTabView()->noteView()->menuForEvent(Event::rightMouseDown(Point(10, 10)));
    ASSERT_TRUE(menu);
    QStringList actions;
    for (int i = 0; i < menu->numberOfItems(); ++i)
        actions << menu->itemAtIndex(i)->actionId();
    EXPECT_TRUE(actions.contains(QStringLiteral("cut:")) && actions.contains(QStringLiteral("copy:")) &&
                actions.contains(QStringLiteral("paste:")));
    EXPECT_FALSE(actions.contains(QStringLiteral("selectAll:")));
}

} // namespace
} // namespace corvex::test

namespace corvex::test {
namespace {

TEST(EditIdeaViewController, TheNoteTakesNoMoreThanAReaderOpens)
{
    // Two units short of the bound; what a paste or a key adds past it is cut where it lands,
    // a surrogate pair whole, and the cut paste is one undo step.
    constexpr qsizetype bound = IdeaDocumentDataObject::MaxNoteLength;
    const QString start =
        QString(QStringLiteral("a").repeated(99) + QLatin1Char('\n')).repeated(bound / 100).left(bound - 2);
    ShownEditor e;
    e.editor->editedValues().set(IdeaMember::Note, start);
    e.show();
    QTextEdit* note = noteEdit(*e.editor);
    ASSERT_TRUE(note);
    const auto noteText = [&] { return e.editor->textTabView()->noteView()->text(); };
    const auto paste = [&](const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(note, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
    };
    struct Case
    {
        const char* name;
        QString pasted;
        QString kept;
    };
    const std::vector<Case> cases = {
        {"cut to the bound", QStringLiteral("xyz"), QStringLiteral("xy")},
        {"a pair cut whole", QStringLiteral("x\U0001F600"), QStringLiteral("x")},
        {"within the bound", QStringLiteral("xy"), QStringLiteral("xy")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        paste(c.pasted);
        EXPECT_TRUE(noteText() == start + c.kept) << noteText().right(4).toStdString();
        QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_TRUE(noteText() == start);
    }
    paste(QStringLiteral("xy"));
    QTest::keyClicks(note, QStringLiteral("z"));
    e.editor->pleaseCloseEditView();
    EXPECT_EQ(e.editor->values().text(IdeaMember::Note).size(), bound) << "a key at the bound adds nothing";
}

} // namespace
} // namespace corvex::test

namespace corvex::test {
namespace {

TEST(IdeaEditorFactory, RegistrationFillsTheSeamAndKeepsTheViewersOfTheFactoryBefore)
{
    ScopedVirtualTime time;
    // A factory registered before: its picture viewer and link editor stay reachable.
    MindMapScreenRig rig;
    EditorScript script;
    rig.editors->next = script;
    registerIdeaEditors();
    const auto factory = std::dynamic_pointer_cast<IdeaEditorFactory>(EditorFactory::current());
    ASSERT_TRUE(factory);
    registerIdeaEditors(); // once only: no factory wrapped in another
    EXPECT_EQ(EditorFactory::current(), factory);
    EXPECT_TRUE(std::dynamic_pointer_cast<EditIdeaViewController>(factory->makeIdeaEditor()));
    EXPECT_TRUE(factory->makeWebLinkEditor({}, QStringLiteral("https://example.com/")));
    EXPECT_EQ(rig.editors->lastWebLinkEditor->givenURL, QStringLiteral("https://example.com/"));
    // Alone, it has no viewers to offer.
    EXPECT_FALSE(IdeaEditorFactory().makePictureViewer({}, {}));
    IconImageCollection::stopPreloading();
}

} // namespace
} // namespace corvex::test
