// The icon tab over catalogues of our own: the category rows (a short category shows what
// it has), the grid sliding in on virtual time, the Remove row, and clicks between icons.

#include "editor/IconCategoryCell.h"
#include "editor/IconCategoryTableView.h"
#include "editor/IconImageCollection.h"
#include "editor/IconImageTabView.h"
#include "editor/IconSelectorView.h"
#include "editor/RemoveIconCell.h"
#include "editor/TitleRowView.h"
#include "mindmap/PlanetLayer.h"
#include "model/IconImage.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Window.h"
#include "tests/editor/EditorTestSupport.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TableView.h"
#include "toolkit/TextLabel.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

const QByteArray kCatalogue = "#Solo\n"
                              "\xF0\x9F\x90\xB6;Dog Face;Solo;1F436\n"
                              "#Eight\n"
                              "\xF0\x9F\x8D\x8E;Red Apple;Eight;1F34E\n"
                              "\xF0\x9F\x8D\x8F;Green Apple;Eight;1F34F\n"
                              "\xF0\x9F\x8D\x90;Pear;Eight;1F350\n"
                              "\xF0\x9F\x8D\x91;Peach;Eight;1F351\n"
                              "\xF0\x9F\x8D\x92;Cherries;Eight;1F352\n"
                              "\xF0\x9F\x8D\x93;Strawberry;Eight;1F353\n"
                              "\xF0\x9F\x8D\x94;Hamburger;Eight;1F354\n"
                              "\xF0\x9F\x90\xB6;Dog Face;Eight;1F436\n";

struct IconTab : WindowEditor
{
    explicit IconTab(const QByteArray& catalogue, IconImagePtr icon = nullptr) : WindowEditor(catalogue)
    {
        editor->editedValues().set(IdeaMember::Text, QStringLiteral("Icons"));
        editor->editedValues().set(IdeaMember::IconImage, std::move(icon));
        show();
        selectTab(2);
        tab = editor->iconImageTabView();
        pw = popoverWindow(*editor);
    }
    std::shared_ptr<TableView> table() const { return tab->categoryTableView()->tableView(); }
    // Opens the category of that row and lets the grid slide in.
    std::shared_ptr<IconSelectorView> open(qint64 row)
    {
        clickView(*table()->viewAtRow(row), &time);
        time.advance(0.2);
        return tab->iconSelectorView();
    }

    std::shared_ptr<IconImageTabView> tab;
    Window* pw = nullptr;
};

TEST(IconTab, AOneIconCategoryShowsItAloneAndOpensItsGrid)
{
    IconTab t(kCatalogue);
    ASSERT_TRUE(t.tab && t.pw);
    ASSERT_EQ(t.table()->numberOfRows(), 2);
    auto solo = std::dynamic_pointer_cast<IconCategoryCell>(t.table()->viewAtRow(0));
    ASSERT_TRUE(solo);
    EXPECT_EQ(solo->imageViews().size(), 1u);
    EXPECT_EQ(solo->categoryNameLabel()->text(), QStringLiteral("Solo"));
    auto eight = std::dynamic_pointer_cast<IconCategoryCell>(t.table()->viewAtRow(1));
    EXPECT_EQ(eight->imageViews().size(), 3u);
    renderPopover(*t.editor, QStringLiteral("icon_tab_table"));

    // The grid is placed just outside the right edge and slides in on virtual time.
    t.tab->categorySelected(QStringLiteral("Solo"));
    ASSERT_TRUE(t.tab->iconSelectorView());
    EXPECT_EQ(t.tab->iconSelectorView()->frame().minX(), 320.0);
    t.time.advance(0.08);
    EXPECT_GT(t.tab->iconSelectorView()->frame().minX(), 0.0);
    EXPECT_LT(t.tab->iconSelectorView()->frame().minX(), 320.0);
    // The same through a click on the row.
    const auto grid = t.open(0);
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->frame(), t.tab->categoryTableView()->frame());
    ASSERT_EQ(grid->iconButtons().size(), 1u);
    clickView(*grid->iconButtons()[0], &t.time);
    EXPECT_EQ(t.editor->values().icon(IdeaMember::IconImage)->name(), QStringLiteral("Dog Face"));
    // Back: the grid goes at once.
    clickView(*grid->titleRow(), &t.time);
    EXPECT_FALSE(t.tab->iconSelectorView());
}

TEST(IconTab, TheGridLaysOutSevenColumnsAndTogglesOnlyTheSameIcon)
{
    const auto catalogue = IconImageCollection::fromText(kCatalogue);
    const IconImagePtr soloDog = catalogue->iconImagesByCategory(QStringLiteral("Solo"))->front();
    IconTab t(kCatalogue, soloDog);
    // The idea has an icon: the Remove row heads the table.
    ASSERT_EQ(t.table()->numberOfRows(), 3);
    const auto grid = t.open(2);
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->iconButtons().size(), 8u);
    EXPECT_EQ(grid->iconButtons()[6]->frame().minY(), grid->iconButtons()[0]->frame().minY());
    EXPECT_EQ(grid->iconButtons()[7]->frame().minY(), grid->iconButtons()[0]->frame().minY() + 47);
    EXPECT_EQ(grid->iconButtons()[0]->frame(), Rect(15, 20, 34, 34));
    EXPECT_EQ(grid->contentView()->frame().size.height, grid->iconButtons()[7]->frame().maxY());
    for (const auto& button : grid->iconButtons())
        EXPECT_FALSE(button->toggled()) << "the same name in another category is not the current icon";
    renderPopover(*t.editor, QStringLiteral("icon_tab_eight"));

    // A click between two icon buttons selects nothing and reaches no row below.
    const Rect a = grid->iconButtons()[0]->frame();
    const Point between = grid->contentView()->convertPointToView(Point(a.maxX() + 3, a.midY()), nullptr);
    clickAt(*t.pw, between, &t.time);
    EXPECT_EQ(t.editor->values().icon(IdeaMember::IconImage), soloDog);
    EXPECT_EQ(t.tab->iconSelectorView(), grid);
}

TEST(IconTab, TheRemoveRowClearsTheIconAndFadesOut)
{
    const auto catalogue = IconImageCollection::fromText(kCatalogue);
    IconTab t(kCatalogue, catalogue->iconImagesByCategory(QStringLiteral("Eight"))->back());
    ASSERT_EQ(t.table()->numberOfRows(), 3);
    const auto remove = std::dynamic_pointer_cast<RemoveIconCell>(t.table()->viewAtRow(0));
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->textLabel()->text(), QStringLiteral("REMOVE ICON"));
    const auto grid = t.open(2);
    ASSERT_TRUE(grid);
    EXPECT_TRUE(grid->iconButtons()[7]->toggled()) << "the current icon";
    clickView(*grid->titleRow(), &t.time);

    clickView(*remove, &t.time);
    EXPECT_FALSE(t.tab->mainPlanetLayer()->iconImage());
    EXPECT_FALSE(t.editor->values().icon(IdeaMember::IconImage)) << "the change is reported";
    EXPECT_TRUE(t.table()->isFading());
    t.time.advance(0.3);
    EXPECT_EQ(t.table()->numberOfRows(), 2);
    EXPECT_TRUE(t.editor->didChange());
}

TEST(IconTab, AMissingCatalogueLeavesTheRemoveRowOnly)
{
    const auto empty = IconImageCollection::fromFile(QStringLiteral("/nonexistent/emoji_list.txt"));
    EXPECT_TRUE(empty->categories().isEmpty());
    IconTab t(QByteArray(), IconImage::initWithName(QStringLiteral("Dog Face"), QStringLiteral("Solo"),
                                                    QStringLiteral("\U0001F436")));
    ASSERT_EQ(t.table()->numberOfRows(), 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<RemoveIconCell>(t.table()->viewAtRow(0)));
}

} // namespace
} // namespace corvex::test
