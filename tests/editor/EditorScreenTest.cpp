// The idea editor through the real mind-map screen: a double click on a planet opens the
// popover, every tab is used with clicks through the windows and keys through Qt, and the
// result is read back from the file on disk; closing without a change writes nothing.

#include "editor/ColorMatrixView.h"
#include "editor/ColorSelectionTabView.h"
#include "editor/EditViewTabBar.h"
#include "editor/IconCategoryTableView.h"
#include "editor/IconImageCollection.h"
#include "editor/IconImageTabView.h"
#include "editor/IconSelectorView.h"
#include "editor/IdeaTextEditTabView.h"
#include "mindmap/SolarSystem.h"
#include "model/Color.h"
#include "model/ColorMatrix.h"
#include "model/ColorTheme.h"
#include "model/IconImage.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Window.h"
#include "tests/editor/EditorTestSupport.h"
#include "toolkit/ButtonView.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/HorizontalSelector.h"
#include "toolkit/HorizontalSelectorButton.h"
#include "toolkit/TableView.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

struct FileState
{
    explicit FileState(const QString& path) : info(path)
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        modified = info.lastModified();
    }
    bool operator==(const FileState& other) const
    {
        return bytes == other.bytes && modified == other.modified;
    }
    QFileInfo info;
    QByteArray bytes;
    QDateTime modified;
};

Size contentSizeOf(const EditIdeaViewController& editor)
{
    return editor.popover()->contentSize();
}

TEST(IdeaEditorScreen, AnEditThroughEveryTabReachesTheFile)
{
    EditorScreen s;
    auto editor = s.openEditorOnPlanet(1); // "b", three children
    ASSERT_TRUE(editor);
    Window* window = popoverWindow(*editor);
    ASSERT_TRUE(window);
    EXPECT_EQ(s.screen->currentOccupyingOperation(), QStringLiteral("ShowingIdeaEditor"));
    EXPECT_EQ(contentSizeOf(*editor), Size(320, 123));

    // The title field has the keyboard at once, the caret after the title.
    QLineEdit* title = titleEdit(*editor);
    ASSERT_TRUE(title);
    EXPECT_EQ(title->text(), QStringLiteral("b"));
    EXPECT_FALSE(title->hasSelectedText());
    EXPECT_EQ(title->cursorPosition(), 1);
    EXPECT_EQ(window->firstResponder(), editor->textTabView()->titleTextField()->field().get());
    QTest::keyClick(title, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(title, QStringLiteral("Planet Nine"));
    QTest::keyClick(title, Qt::Key_Tab);
    s.pump();
    EXPECT_TRUE(editor->textTabView()->isExtended());
    EXPECT_EQ(contentSizeOf(*editor), Size(320, 381));
    QTextEdit* note = noteEdit(*editor);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->textCursor().position(), 0);
    QTest::keyClicks(note, QStringLiteral("first line"));
    QTest::keyClick(note, Qt::Key_Return);
    QTest::keyClicks(note, QStringLiteral("second line"));
    EXPECT_EQ(editor->textTabView()->titleTextField()->frame(), Rect(10, 20, 300, 26));
    renderPopover(*editor, QStringLiteral("text_tab"));

    // Colour: a classic colour, then "Define child theme" and "Varying".
    clickView(*editor->tabBar()->tabControls()[1], &s.rig.time);
    s.pump();
    const auto colorTab = editor->colorTabView();
    ASSERT_TRUE(colorTab);
    EXPECT_EQ(contentSizeOf(*editor), Size(320, 483));
    const ColorMatrix& classic = ColorMatrix::classicColorMatrix();
    const ColorPtr chosen = classic.itemAtRow(2, 3)->color();
    const auto& grid = colorTab->colorSelector();
    clickAt(*window, grid->convertPointToView(grid->discCentre(2, 3), nullptr), &s.rig.time);
    EXPECT_EQ(colorTab->selectedColor()->name(), chosen->name());
    clickView(*colorTab->childThemeSelector()->elements()[0], &s.rig.time);
    ASSERT_EQ(colorTab->childThemeSelector()->numElements(), 3u);
    clickView(*colorTab->childThemeSelector()->elements()[1], &s.rig.time);
    EXPECT_TRUE(colorTab->didRecolor());
    EXPECT_EQ(colorTab->selectedColorThemeType(), 2u);
    EXPECT_FALSE(colorTab->subPlanetLayer()->isHidden());
    renderPopover(*editor, QStringLiteral("colour_tab"));

    // Icon: the third category's first icon.
    clickView(*editor->tabBar()->tabControls()[2], &s.rig.time);
    s.pump();
    const auto iconTab = editor->iconImageTabView();
    ASSERT_TRUE(iconTab);
    const auto catalogue = IconImageCollection::instance();
    ASSERT_GE(catalogue->categories().size(), 3);
    const QString third = catalogue->categories()[2];
    const auto table = iconTab->categoryTableView()->tableView();
    ASSERT_EQ(table->numberOfRows(), catalogue->categories().size()); // no Remove row yet
    clickView(*table->viewAtRow(2), &s.rig.time);
    s.pump(0.2);
    const auto selector = iconTab->iconSelectorView();
    ASSERT_TRUE(selector);
    EXPECT_EQ(selector->frame(), iconTab->categoryTableView()->frame());
    ASSERT_FALSE(selector->iconButtons().empty());
    clickView(*selector->iconButtons()[0], &s.rig.time);
    const IconImagePtr icon = catalogue->iconImagesByCategory(third)->front();
    ASSERT_TRUE(iconTab->selectedIconImage());
    EXPECT_EQ(iconTab->selectedIconImage()->name(), icon->name());
    renderPopover(*editor, QStringLiteral("icon_tab_grid"));

    // Done: the screen writes the values and saves.
    const QString bId = findByText(s.document->idea(), "b")->identifier();
    clickView(*editor->tabBar()->doneButton(), &s.rig.time);
    EXPECT_FALSE(editor->popover()->isShown());
    ASSERT_TRUE(s.rig.settle(*s.screen));
    EXPECT_FALSE(s.screen->screenOccupied());

    const IdeaPtr stored = readStoredTree(s.path());
    ASSERT_TRUE(stored);
    const IdeaPtr edited = findByText(stored, "Planet Nine");
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->identifier(), bId);
    EXPECT_EQ(edited->note(), QStringLiteral("first line\nsecond line"));
    ASSERT_TRUE(edited->color());
    EXPECT_EQ(edited->color()->name(), chosen->name());
    EXPECT_EQ(edited->colorThemeType(), 2u);
    ASSERT_TRUE(edited->iconImage());
    EXPECT_EQ(edited->iconImage()->name(), icon->name());
    EXPECT_EQ(edited->iconImage()->category(), third);
    const auto theme = chosen->theme();
    ASSERT_TRUE(theme);
    ASSERT_EQ(edited->ideas().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(edited->ideas()[i]->color());
        EXPECT_EQ(edited->ideas()[i]->color()->name(), theme->colors()[i % theme->colors().size()]->name())
            << i;
    }
}

TEST(IdeaEditorScreen, TheRootIdeaIsEditedThroughTheSameSeam)
{
    EditorScreen s;
    auto editor = s.openEditorOnCentre();
    ASSERT_TRUE(editor && popoverWindow(*editor));
    EXPECT_EQ(titleEdit(*editor)->text(), QStringLiteral("root"));
    QTest::keyClick(titleEdit(*editor), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(titleEdit(*editor), QStringLiteral("New root"));
    // Return in the title closes the editor and keeps the title as typed.
    QTest::keyClick(titleEdit(*editor), Qt::Key_Return);
    EXPECT_FALSE(editor->popover()->isShown());
    ASSERT_TRUE(s.rig.settle(*s.screen));
    EXPECT_EQ(readStoredTree(s.path())->text(), QStringLiteral("New root"));
}

TEST(IdeaEditorScreen, ClosingWithoutAChangeLeavesTheFileAsItWas)
{
    EditorScreen s;
    s.rig.settle(*s.screen);
    const FileState before(s.path());
    ASSERT_FALSE(before.bytes.isEmpty());

    // Escape, in the popover.
    auto editor = s.openEditorOnPlanet(0);
    ASSERT_TRUE(editor && popoverWindow(*editor));
    QTest::keyClick(titleEdit(*editor), Qt::Key_Escape);
    EXPECT_FALSE(editor->popover()->isShown());
    EXPECT_FALSE(editor->didChange());
    s.rig.drain();

    // A click elsewhere in the screen's window: it closes the popover and goes no further.
    editor = s.openEditorOnPlanet(2);
    ASSERT_TRUE(editor && popoverWindow(*editor));
    clickAt(*s.rig.window, Point(5, 5), &s.rig.time);
    EXPECT_FALSE(editor->popover()->isShown());
    EXPECT_FALSE(s.screen->screenOccupied());
    s.rig.drain();
    s.rig.time.advance(1.0);
    s.rig.drain();
    EXPECT_TRUE(FileState(s.path()) == before);
}

TEST(IdeaEditorScreen, EscapeAndAClickOutsideKeepWhatWasTyped)
{
    EditorScreen s;
    auto editor = s.openEditorOnPlanet(0);
    ASSERT_TRUE(editor);
    QTest::keyClicks(titleEdit(*editor), QStringLiteral(" typed"));
    clickAt(*s.rig.window, Point(5, 5), &s.rig.time);
    ASSERT_TRUE(s.rig.settle(*s.screen));
    EXPECT_EQ(planetTexts(*s.screen).front(), QStringLiteral("a typed"));

    editor = s.openEditorOnPlanet(0);
    ASSERT_TRUE(editor);
    QTest::keyClicks(titleEdit(*editor), QStringLiteral(" again"));
    QTest::keyClick(titleEdit(*editor), Qt::Key_Escape);
    ASSERT_TRUE(s.rig.settle(*s.screen));
    EXPECT_EQ(findByText(readStoredTree(s.path()), "a typed again")->text(), QStringLiteral("a typed again"));
}

} // namespace
} // namespace corvex::test
