// The framed one-line field: the inner field's place, the light grey outline (against the
// reference picture, text area left out) and the reduced edit menu, built from model menus
// and from Qt's real line-edit menu.

#include "toolkit/CustomTextField.h"

#include "model/Globals.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/FieldTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/TextFieldEditMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QStringList>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// The titles of a menu's items, separators as "-".
QStringList titles(const Menu& menu)
{
    QStringList result;
    for (const auto& item : menu.items())
        result << (item->isSeparator() ? QStringLiteral("-") : item->title());
    return result;
}

std::shared_ptr<MenuItem> item(const QString& title, const QString& actionId)
{
    auto made = MenuItem::create(title);
    made->setActionId(actionId);
    return made;
}

std::shared_ptr<MenuItem> submenuItem(const QString& title,
                                      std::initializer_list<std::shared_ptr<MenuItem>> items)
{
    auto sub = Menu::create(title);
    for (const auto& i : items)
        sub->addItem(i);
    auto holder = MenuItem::create(title);
    holder->setSubmenu(sub);
    return holder;
}

std::shared_ptr<MenuItem> cut()
{
    return item(QStringLiteral("Cut"), TextFieldEditMenu::CutAction);
}
std::shared_ptr<MenuItem> copy()
{
    return item(QStringLiteral("Copy"), TextFieldEditMenu::CopyAction);
}
std::shared_ptr<MenuItem> paste()
{
    return item(QStringLiteral("Paste"), TextFieldEditMenu::PasteAction);
}
std::shared_ptr<MenuItem> upper()
{
    return item(QStringLiteral("Upper"), TextFieldEditMenu::UppercaseWordAction);
}
std::shared_ptr<MenuItem> lower()
{
    return item(QStringLiteral("Lower"), TextFieldEditMenu::LowercaseWordAction);
}
std::shared_ptr<MenuItem> capitalize()
{
    return item(QStringLiteral("Cap"), TextFieldEditMenu::CapitalizeWordAction);
}
std::shared_ptr<MenuItem> other(const QString& title)
{
    return item(title, QStringLiteral("other:"));
}

const QStringList kReducedStandardMenu{
    "Cut", "Copy", "Paste", "-", "Make Upper Case", "Make Lower Case", "Capitalize", "-"};

} // namespace

// ---- Geometry ----

TEST(CustomTextField, TheInnerFieldIsTheOnlySubviewInsetByNineAndThree)
{
    auto field = CustomTextField::create();
    ASSERT_NE(field->field(), nullptr);
    ASSERT_EQ(field->subviews().size(), 1u);
    EXPECT_EQ(field->subviews().front().get(), field->field().get());
    field->setFrame(Rect(10, 20, 200, 26));
    EXPECT_EQ(field->field()->frame(), Rect(9, 3, 182, 20));
    field->setFrame(Rect(0, 0, 120, 40));
    EXPECT_EQ(field->field()->frame(), Rect(9, 3, 102, 34)) << "follows every size change";
}

TEST(CustomTextField, EmptyBoundsLeaveTheInnerFieldWhereItWas)
{
    auto field = CustomTextField::create();
    field->setFrame(Rect(0, 0, 100, 30));
    const Rect before = field->field()->frame();
    field->setFrame(Rect(0, 0, 0, 30));
    EXPECT_EQ(field->field()->frame(), before);
}

TEST(CustomTextField, TextIsTheInnerFieldsString)
{
    auto field = CustomTextField::create();
    field->setText(QStringLiteral("Idea"));
    EXPECT_EQ(field->field()->text(), QStringLiteral("Idea"));
    EXPECT_EQ(field->field()->lineEdit()->text(), QStringLiteral("Idea"));
    field->field()->lineEdit()->setText(QStringLiteral("typed"));
    EXPECT_EQ(field->text(), QStringLiteral("typed"));
}

TEST(CustomTextField, TheInnerFieldHasNoBorderNoFocusFrameAndBlackText)
{
    auto inner = CustomInnerTextField::create();
    QLineEdit* edit = inner->lineEdit();
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(edit->hasFrame());
    EXPECT_FALSE(edit->testAttribute(Qt::WA_MacShowFocusRect));
    EXPECT_EQ(edit->palette().color(QPalette::Text), Globals::colorBlack().toQColor());
    EXPECT_EQ(inner->className(), QStringLiteral("CustomInnerTextField"));
}

// ---- Drawing ----

namespace {

// The field at (4, 4) in a white window, 200 x 26 points, at 2 pixels a point.
QImage renderCustomField(Rect* textArea)
{
    auto window = Window::create(Size(208, 34));
    window->setBackingScaleFactorOverride(2);
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto field = CustomTextField::create();
    background->addSubview(field);
    field->setFrame(Rect(4, 4, 200, 26));
    field->setText(QStringLiteral("Some text"));
    const QImage image = window->renderToImage(2);
    *textArea = field->convertRectToView(field->field()->frame(), background.get());
    return image;
}

} // namespace

TEST(CustomTextFieldRendering, TheOutlineMatchesTheReference)
{
    ScopedVirtualTime time;
    Rect textArea;
    const QImage shown = renderCustomField(&textArea);
    saveOutput(shown, QStringLiteral("field_custom"));
    EXPECT_EQ(textArea, Rect(13, 7, 182, 20));
    const QImage reference = widgetReference(QStringLiteral("field_custom"));
    ASSERT_FALSE(reference.isNull());
    ASSERT_EQ(shown.size(), reference.size());
    const ImageDifference d = compareImages(shown, reference, 40, {pixelRect(textArea, 2, 1)});
    EXPECT_EQ(d.beyondTolerance, 0) << d;
    EXPECT_GT(d.compared, shown.width() * shown.height() / 3);
    // The outline's inner half is light grey (white 2/3), the outer half is cut off by the
    // bounds: the edge pixel row of the view is grey, the one outside it white.
    EXPECT_NEAR(pixelAt(shown, 100, 9).red(), 170, 6) << pixelAt(shown, 100, 9);
    EXPECT_EQ(pixelAt(shown, 100, 7), QColor(255, 255, 255)) << pixelAt(shown, 100, 7);
}

// Each emoji of a title in a field with the editor's font shows in colour and whole, after
// typing as after setting the text: the camping tent, a joined sequence, a keycap, a flag.
TEST(CustomTextFieldRendering, EmojiShowInColourAndWhole)
{
    auto inner = CustomInnerTextField::create();
    QLineEdit* edit = inner->lineEdit();
    edit->setFont(PlatformFont::fontWithName(QStringLiteral("Helvetica"), 14).qfont());
    edit->resize(360, 26);
    const QStringList emoji = {QStringLiteral("\U0001F3D5"), QStringLiteral("\U0001F469\u200D\U0001F4BB"),
                               QStringLiteral("1\uFE0F\u20E3"), QStringLiteral("\U0001F1EB\U0001F1F7")};
    const QString title = QStringLiteral("Camping ") + emoji.join(QLatin1Char(' '));
    for (const bool typed : {false, true}) {
        SCOPED_TRACE(typed ? "typed" : "set");
        if (typed) {
            edit->clear();
            edit->insert(title);
        } else {
            edit->setText(title);
        }
        const QImage shown = edit->grab().toImage().convertToFormat(QImage::Format_RGB32);
        saveOutput(shown, QStringLiteral("field_emoji_") + QLatin1String(typed ? "typed" : "set"));
        const auto x = [&](qsizetype position) {
            edit->setCursorPosition(int(position));
            return int(edit->inputMethodQuery(Qt::ImCursorRectangle).toRectF().center().x() *
                       shown.devicePixelRatio());
        };
        // The share of colourful pixels in the columns [from, to) of the line's height (the
        // keycap's light steel blue is 51 apart from grey).
        const QRectF line = edit->inputMethodQuery(Qt::ImCursorRectangle).toRectF();
        const auto colourful = [&](int from, int to) {
            int count = 0;
            int all = 0;
            for (int px = from; px < to; ++px)
                for (int py = int(line.top()); py < int(line.bottom()); ++py, ++all) {
                    const QColor c = shown.pixelColor(px, py);
                    count +=
                        std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) >
                        40;
                }
            return all > 0 ? double(count) / all : 0.0;
        };
        EXPECT_EQ(colourful(x(0), x(7)), 0.0) << "the text stays black";
        qsizetype at = 8;
        for (const QString& one : emoji) {
            SCOPED_TRACE(one.toStdString());
            // Both halves of the emoji's place: a sequence split across faces shows one part
            // in colour (or none) beside a black or empty one.
            const int left = x(at) + 1;
            const int right = x(at + one.size());
            EXPECT_GT(colourful(left, (left + right) / 2), 0.1);
            EXPECT_GT(colourful((left + right) / 2, right), 0.1);
            at += one.size() + 1;
        }
    }
}

// ---- The reduced edit menu ----

TEST(TextFieldMenuReduction, CutCopyPasteThenSubmenusGiveTheEditItemsTheCaseChangesAndClosingSeparator)
{
    auto menu = Menu::create();
    menu->addItem(other(QStringLiteral("Undo")));
    menu->addItem(cut());
    menu->addItem(copy());
    menu->addItem(paste());
    menu->addItem(MenuItem::separator());
    menu->addItem(submenuItem(QStringLiteral("Find"), {other(QStringLiteral("Find…"))}));
    menu->addItem(submenuItem(QStringLiteral("Spelling"), {other(QStringLiteral("Check"))}));
    menu->addItem(submenuItem(QStringLiteral("Transformations"), {upper(), lower(), capitalize()}));
    menu->addItem(submenuItem(QStringLiteral("Speech"), {other(QStringLiteral("Start"))}));
    const auto reduced = CustomTextField::createTextFieldMenuFrom(menu);
    EXPECT_EQ(titles(*reduced), (QStringList{"Cut", "Copy", "Paste", "-", "Upper", "Lower", "Cap", "-"}));
    EXPECT_EQ(menu->numberOfItems(), 9) << "the menu offered is left alone";
    EXPECT_EQ(menu->itemAtIndex(1)->menu(), menu) << "the reduced menu holds copies";
    EXPECT_EQ(reduced->itemAtIndex(0)->actionId(), TextFieldEditMenu::CutAction);
    EXPECT_EQ(reduced->itemAtIndex(4)->actionId(), TextFieldEditMenu::UppercaseWordAction);
}

TEST(TextFieldMenuReduction, AMenuWithoutEditOrCaseItemsGivesOnlyOneSeparator)
{
    auto menu = Menu::create();
    menu->addItem(other(QStringLiteral("Undo")));
    menu->addItem(MenuItem::separator());
    menu->addItem(other(QStringLiteral("Select All")));
    menu->addItem(submenuItem(QStringLiteral("Speech"), {other(QStringLiteral("Start"))}));
    menu->addItem(submenuItem(QStringLiteral("Empty"), {}));
    EXPECT_EQ(titles(*CustomTextField::createTextFieldMenuFrom(menu)), (QStringList{"-"}));
    EXPECT_EQ(titles(*CustomTextField::createTextFieldMenuFrom(Menu::create())), (QStringList{"-"}));
    EXPECT_EQ(titles(*CustomTextField::createTextFieldMenuFrom(nullptr)), (QStringList{"-"}));
}

TEST(TextFieldMenuReduction, ASeparatorGoesBeforeASubmenuOnlyWhenItemsWereAddedSinceTheLastOne)
{
    // After a submenu the flag means "nothing added" again, even when the submenu added items.
    auto menu = Menu::create();
    menu->addItem(cut());
    menu->addItem(submenuItem(QStringLiteral("A"), {copy()}));
    menu->addItem(submenuItem(QStringLiteral("B"), {paste()}));
    menu->addItem(upper());
    menu->addItem(submenuItem(QStringLiteral("C"), {lower()}));
    auto target = Menu::create();
    EXPECT_TRUE(CustomTextField::processMenu(*menu, *target));
    EXPECT_EQ(titles(*target), (QStringList{"Cut", "-", "Copy", "Paste", "Upper", "-", "Lower"}));
}

TEST(TextFieldMenuReduction, NestedSubmenusAreWalkedFlat)
{
    auto inner = submenuItem(QStringLiteral("Inner"), {capitalize()});
    auto menu = Menu::create();
    menu->addItem(submenuItem(QStringLiteral("Outer"), {upper(), inner}));
    auto target = Menu::create();
    EXPECT_TRUE(CustomTextField::processMenu(*menu, *target));
    EXPECT_EQ(titles(*target), (QStringList{"Upper", "-", "Cap"}));
    for (const auto& i : target->items())
        EXPECT_EQ(i->submenu(), nullptr) << i->title().toStdString();
}

TEST(TextFieldMenuReduction, CopiesKeepStateAndRunTheOriginalAction)
{
    int runs = 0;
    auto menu = Menu::create();
    auto original = menu->addItem(QStringLiteral("Copy"), [&](MenuItem&) { ++runs; });
    original->setActionId(TextFieldEditMenu::CopyAction);
    original->setEnabled(false);
    original->setKeyEquivalent(QStringLiteral("c"));
    auto pasteItem = menu->addItem(QStringLiteral("Paste"), [&](MenuItem&) { runs += 10; });
    pasteItem->setActionId(TextFieldEditMenu::PasteAction);
    const auto reduced = CustomTextField::createTextFieldMenuFrom(menu);
    ASSERT_EQ(reduced->numberOfItems(), 3);
    EXPECT_FALSE(reduced->itemAtIndex(0)->isEnabled());
    EXPECT_EQ(reduced->itemAtIndex(0)->keyEquivalent(), QStringLiteral("c"));
    EXPECT_FALSE(reduced->performActionForItemAtIndex(0)) << "disabled";
    EXPECT_TRUE(reduced->performActionForItemAtIndex(1));
    EXPECT_EQ(runs, 10);
}

// ---- Qt's standard menu ----

TEST(TextFieldEditMenu, TheStandardMenuCarriesQtsCommandsAndATransformationsSubmenu)
{
    QLineEdit edit;
    edit.setText(QStringLiteral("hello"));
    edit.selectAll();
    const auto menu = TextFieldEditMenu::standardMenu(edit);
    QStringList actions;
    for (const auto& i : menu->items())
        if (!i->isSeparator() && !i->submenu())
            actions << i->actionId();
    for (const QString& expected : {TextFieldEditMenu::CutAction, TextFieldEditMenu::CopyAction,
                                    TextFieldEditMenu::PasteAction, TextFieldEditMenu::SelectAllAction})
        EXPECT_TRUE(actions.contains(expected))
            << expected.toStdString() << " in " << actions.join(u' ').toStdString();
    const auto transformations = menu->itemWithTitle(QStringLiteral("Transformations"));
    ASSERT_NE(transformations, nullptr);
    ASSERT_NE(transformations->submenu(), nullptr);
    EXPECT_EQ(titles(*transformations->submenu()),
              (QStringList{"Make Upper Case", "Make Lower Case", "Capitalize"}));
    const auto cutItem = menu->findItemWithTitle(QStringLiteral("Cut"));
    ASSERT_NE(cutItem, nullptr) << "titles lose their mnemonic marks: "
                                << titles(*menu).join(u'|').toStdString();
    EXPECT_EQ(cutItem->keyEquivalent(), QStringLiteral("x"));
    EXPECT_EQ(cutItem->keyEquivalentModifierMask(), unsigned(Event::CommandKeyMask));
}

TEST(TextFieldEditMenu, TheReducedStandardMenuIsEditItemsCaseChangesAndSeparators)
{
    auto field = CustomTextField::create();
    field->setText(QStringLiteral("hello world"));
    const auto menu = field->field()->menuForEvent(Event::rightMouseDown(Point(5, 5)));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(titles(*menu), kReducedStandardMenu);
}

TEST(TextFieldEditMenu, TheMenusItemsActOnTheField)
{
    auto field = CustomTextField::create();
    QLineEdit* edit = field->field()->lineEdit();
    field->setText(QStringLiteral("hello world"));
    edit->setCursorPosition(2);
    auto menu = field->field()->menuForEvent(Event::rightMouseDown(Point(5, 5)));
    ASSERT_TRUE(
        menu->performActionForItemAtIndex(menu->indexOfItemWithTitle(QStringLiteral("Make Upper Case"))));
    EXPECT_EQ(field->text(), QStringLiteral("HELLO world")) << "the word around the cursor";

    edit->setSelection(6, 5);
    menu = field->field()->menuForEvent(Event::rightMouseDown(Point(5, 5)));
    ASSERT_TRUE(menu->performActionForItemAtIndex(menu->indexOfItemWithTitle(QStringLiteral("Capitalize"))));
    EXPECT_EQ(field->text(), QStringLiteral("HELLO World"));

    edit->setSelection(0, 6);
    menu = field->field()->menuForEvent(Event::rightMouseDown(Point(5, 5)));
    ASSERT_TRUE(menu->performActionForItemAtIndex(menu->indexOfItemWithTitle(QStringLiteral("Cut"))));
    EXPECT_EQ(field->text(), QStringLiteral("World"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("HELLO "));

    edit->setCursorPosition(5);
    menu = field->field()->menuForEvent(Event::rightMouseDown(Point(5, 5)));
    ASSERT_TRUE(menu->performActionForItemAtIndex(menu->indexOfItemWithTitle(QStringLiteral("Paste"))));
    EXPECT_EQ(field->text(), QStringLiteral("WorldHELLO "));
}

TEST(TextFieldEditMenu, AMenuMayOutliveItsField)
{
    std::shared_ptr<Menu> menu;
    {
        auto field = CustomTextField::create();
        field->setText(QStringLiteral("gone"));
        field->field()->lineEdit()->selectAll();
        menu = field->field()->menuForEvent(Event::rightMouseDown(Point(5, 5)));
    }
    ASSERT_NE(menu, nullptr);
    // The line edit and Qt's menu are gone: the items do nothing, and dropping them is safe.
    EXPECT_TRUE(
        menu->performActionForItemAtIndex(menu->indexOfItemWithTitle(QStringLiteral("Make Upper Case"))));
    menu->performActionForItemAtIndex(menu->indexOfItemWithTitle(QStringLiteral("Copy")));
    menu.reset();
}

TEST(TextFieldEditMenu, CaseChanges)
{
    using C = TextFieldEditMenu::CaseChange;
    EXPECT_EQ(TextFieldEditMenu::changeCase(QStringLiteral("hello World"), C::Upper),
              QStringLiteral("HELLO WORLD"));
    EXPECT_EQ(TextFieldEditMenu::changeCase(QStringLiteral("hello World"), C::Lower),
              QStringLiteral("hello world"));
    EXPECT_EQ(TextFieldEditMenu::changeCase(QStringLiteral("hELLO wORLD don't"), C::Capitalize),
              QStringLiteral("Hello World Don't"));
    QLineEdit readOnly;
    readOnly.setText(QStringLiteral("keep"));
    readOnly.setReadOnly(true);
    TextFieldEditMenu::changeCaseOfWord(readOnly, C::Upper);
    EXPECT_EQ(readOnly.text(), QStringLiteral("keep"));
    QLineEdit spaces;
    spaces.setText(QStringLiteral("a  b"));
    spaces.setCursorPosition(2);
    TextFieldEditMenu::changeCaseOfWord(spaces, C::Upper);
    EXPECT_EQ(spaces.text(), QStringLiteral("a  b")) << "the cursor touches no word";
}

TEST(TextFieldEditMenu, ARightClickInTheLiveFieldPopsUpTheReducedMenu)
{
    ScopedVirtualTime time;
    auto runner = std::make_shared<ScriptedMenuRunner>();
    Runners::setMenuRunner(runner);
    auto window = Window::create(Size(240, 60));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto field = CustomTextField::create();
    background->addSubview(field);
    field->setFrame(Rect(10, 10, 200, 26));
    field->setText(QStringLiteral("hello"));
    field->field()->lineEdit()->setCursorPosition(1);
    window->makeKeyAndOrderFront();
    runner->chooseTitle(QStringLiteral("Make Upper Case"));

    QLineEdit* edit = field->field()->lineEdit();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(edit, &event);
    ASSERT_EQ(runner->presentedCount(), 1);
    EXPECT_EQ(runner->presented().front().titles, kReducedStandardMenu);
    EXPECT_EQ(runner->presented().front().presentation.window, window.get());
    EXPECT_EQ(field->text(), QStringLiteral("HELLO"));
    window->close();
    Runners::reset();
}
