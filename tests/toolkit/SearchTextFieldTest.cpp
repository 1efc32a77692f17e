// The rounded search field: its cell's geometry and outline states, its own-drawn magnifier
// and clear button (against the reference pictures, text area left out), the clicks on them,
// and its reduced edit menu.

#include "toolkit/SearchTextField.h"

#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/FieldTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/MyCell.h"
#include "toolkit/ViewExtensions.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

const PlatformColor kBackground = PlatformColor::sRGB(0.2, 0.4, 0.6);

// A window holding the field at (4, 4) on the blue background of the reference pictures.
struct SearchWindow
{
    explicit SearchWindow(quint64 style)
    {
        window = Window::create(Size(334, 30));
        window->setBackingScaleFactorOverride(2);
        background = ColoredView::create(kBackground);
        window->setContentView(background);
        field = SearchTextField::createWithStyle(style);
        background->addSubview(field);
        field->setFrameOrigin(Point(4, 4));
    }
    ~SearchWindow() { window->close(); }

    // A point of the field (its own y-down coordinates) in the window's base coordinates.
    Point inWindow(Point local) const { return field->convertPointToView(local, nullptr); }
    void click(Point local)
    {
        window->sendEvent(Event::mouseDown(inWindow(local)));
        window->sendEvent(Event::mouseUp(inWindow(local)));
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<ColoredView> background;
    std::shared_ptr<SearchTextField> field;
};

// Records how the field calls out.
struct Calls
{
    void attach(SearchTextField& field)
    {
        field.setAction([this](SearchTextField& f) { log << QStringLiteral("action:") + f.text(); });
        field.setTextDidChangeHandler(
            [this](SearchTextField& f) { log << QStringLiteral("changed:") + f.text(); });
    }
    QStringList log;
};

} // namespace

// ---- The cell ----

TEST(MyCell, GeometryFollowsTheBounds)
{
    const Rect bounds(10, 5, 326, 22);
    EXPECT_EQ(MyCell::searchTextRectForBounds(bounds), Rect(38, 8, 268, 16));
    EXPECT_EQ(MyCell::searchButtonRectForBounds(bounds), Rect(14, 5, 16, 22));
    // The cancel button is placed from the width alone, whatever the origin.
    EXPECT_EQ(MyCell::cancelButtonRectForBounds(bounds), Rect(306, 5, 16, 22));
    EXPECT_EQ(MyCell::cancelButtonRectForBounds(Rect(0, 0, 100, 30)), Rect(80, 0, 16, 30));
}

TEST(MyCell, TheOutlineIsWhiteAndTwoWideOnlyWhileEmptyAndUnfocused)
{
    MyCell cell;
    EXPECT_TRUE(cell.isBezeled());
    EXPECT_EQ(cell.outlineWidth(), 2.0);
    EXPECT_EQ(cell.outlineColor(), Globals::colorWhite());
    cell.setShowsFirstResponder(true);
    EXPECT_EQ(cell.outlineWidth(), 1.0);
    EXPECT_EQ(cell.outlineColor(), Globals::colorGray58());
    cell.setShowsFirstResponder(false);
    cell.setStringValue(QStringLiteral("x"));
    EXPECT_EQ(cell.outlineWidth(), 1.0);
    EXPECT_EQ(cell.outlineColor(), Globals::colorGray58());
    cell.setStyle(1);
    EXPECT_EQ(cell.outlineColor(), Globals::colorGray23()) << "style 1 is darker";
    cell.setStringValue(QString());
    EXPECT_EQ(cell.outlineColor(), Globals::colorWhite()) << "style does not matter while empty";
}

TEST(MyCell, DrawsNothingInAViewOtherThanItsControlView)
{
    auto own = View::create(Rect(0, 0, 40, 22));
    auto stranger = View::create(Rect(0, 0, 40, 22));
    MyCell cell;
    cell.setControlView(own.get());
    QImage image(40, 22, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::transparent);
    const auto drawIn = [&](const View* view) {
        QPainter painter(&image);
        GraphicsContext context(&painter, true);
        cell.drawWithFrame(Rect(0, 0, 40, 22), context, view);
    };
    drawIn(stranger.get());
    drawIn(nullptr);
    EXPECT_EQ(image.pixelColor(20, 11).alpha(), 0);
    drawIn(own.get());
    EXPECT_EQ(image.pixelColor(30, 11), QColor(255, 255, 255)) << "its own view gets the white face";
}

// ---- The field ----

TEST(SearchTextField, StartsAt326By22WithItsStyleAndTheTextInTheTextRectangle)
{
    auto field = SearchTextField::createWithStyle(1);
    EXPECT_EQ(field->frame(), Rect(0, 0, 326, 22));
    EXPECT_EQ(field->cell().style(), 1u);
    EXPECT_EQ(field->cell().controlView(), field.get());
    EXPECT_EQ(field->widgetRect(), Rect(28, 3, 268, 16));
    EXPECT_FALSE(field->lineEdit()->hasFrame());
    EXPECT_FALSE(field->lineEdit()->testAttribute(Qt::WA_MacShowFocusRect)) << "no focus ring";
    field->setFrameSize(Size(200, 30));
    EXPECT_EQ(field->widgetRect(), Rect(28, 3, 142, 24));
}

TEST(SearchTextField, TypingACharacterTurnsTheWhiteOutlineIntoTheGreyOne)
{
    ScopedVirtualTime time;
    SearchWindow w(0);
    EXPECT_EQ(w.field->cell().outlineWidth(), 2.0);
    EXPECT_EQ(w.field->cell().outlineColor(), Globals::colorWhite());
    QTest::keyClick(w.field->lineEdit(), Qt::Key_A);
    EXPECT_EQ(w.field->text(), QStringLiteral("a"));
    EXPECT_EQ(w.field->cell().stringValue(), QStringLiteral("a"));
    EXPECT_EQ(w.field->cell().outlineWidth(), 1.0);
    EXPECT_EQ(w.field->cell().outlineColor(), Globals::colorGray58());
    // The picture follows: the top edge's middle pixels are grey now, white before.
    const QImage shown = w.window->renderToImage(2);
    const QColor edge = pixelAt(shown, 300, 9);
    EXPECT_NEAR(edge.red(), 148, 30) << edge;
    EXPECT_EQ(edge.red(), edge.green()) << edge;
}

TEST(SearchTextField, FocusAloneAlsoShowsTheGreyOutline)
{
    ScopedVirtualTime time;
    SearchWindow w(1);
    w.window->makeKeyAndOrderFront();
    ASSERT_TRUE(w.window->makeFirstResponder(w.field.get()));
    EXPECT_TRUE(w.field->cell().showsFirstResponder());
    EXPECT_EQ(w.field->cell().outlineWidth(), 1.0);
    EXPECT_EQ(w.field->cell().outlineColor(), Globals::colorGray23());
    ASSERT_TRUE(w.window->makeFirstResponder(nullptr));
    EXPECT_FALSE(w.field->cell().showsFirstResponder());
    EXPECT_EQ(w.field->cell().outlineWidth(), 2.0);
}

TEST(SearchTextField, ClickingTheClearButtonEmptiesTheFieldAndNotifies)
{
    ScopedVirtualTime time;
    SearchWindow w(0);
    Calls calls;
    calls.attach(*w.field);
    w.field->setText(QStringLiteral("planet"));
    EXPECT_TRUE(calls.log.isEmpty()) << "setting the text is not the user's edit";
    const Rect cancel = MyCell::cancelButtonRectForBounds(w.field->bounds());
    w.click(Point(cancel.midX(), cancel.midY()));
    EXPECT_EQ(w.field->text(), QString());
    EXPECT_EQ(calls.log, (QStringList{"action:", "changed:"}));
    EXPECT_EQ(w.window->firstResponder(), w.field.get());
    EXPECT_EQ(w.field->cell().stringValue(), QString());

    // Empty: the clear button is gone, so a click there is an ordinary click in the field.
    calls.log.clear();
    w.click(Point(cancel.midX(), cancel.midY()));
    EXPECT_TRUE(calls.log.isEmpty()) << calls.log.join(u',').toStdString();
}

TEST(SearchTextField, ClickingTheMagnifierSendsTheActionAndKeepsTheText)
{
    ScopedVirtualTime time;
    SearchWindow w(0);
    Calls calls;
    calls.attach(*w.field);
    w.field->setText(QStringLiteral("moon"));
    const Rect search = MyCell::searchButtonRectForBounds(w.field->bounds());
    w.click(Point(search.midX(), search.midY()));
    EXPECT_EQ(calls.log, (QStringList{"action:moon"}));
    EXPECT_EQ(w.field->text(), QStringLiteral("moon"));
}

TEST(SearchTextField, ReturnSendsTheActionAndEditsNotifyTheChange)
{
    ScopedVirtualTime time;
    SearchWindow w(0);
    Calls calls;
    calls.attach(*w.field);
    QTest::keyClicks(w.field->lineEdit(), QStringLiteral("ab"));
    QTest::keyClick(w.field->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(calls.log, (QStringList{"changed:a", "changed:ab", "action:ab"}));
}

TEST(SearchTextField, ItsMenuIsTheReducedEditMenu)
{
    auto field = SearchTextField::createWithStyle(0);
    field->setText(QStringLiteral("x"));
    const auto menu = field->menuForEvent(Event::rightMouseDown(Point(40, 10)));
    ASSERT_NE(menu, nullptr);
    QStringList titles;
    for (const auto& item : menu->items())
        titles << (item->isSeparator() ? QStringLiteral("-") : item->title());
    EXPECT_EQ(titles, (QStringList{"Cut", "Copy", "Paste", "-", "Make Upper Case", "Make Lower Case",
                                   "Capitalize", "-"}));
}

// ---- Drawing ----

namespace {

// Qt's stroker flattens curves into chords, which puts the outer edge of the 2-point white
// outline up to about a sixth of a point inside the true arc at the corners: up to ~60 levels
// on the edge pixels against the blue. A wrong colour, width or place differs by far more.
constexpr int kSearchFieldTolerance = 72;

void expectSearchFieldMatchesReference(SearchWindow& w, const QString& name)
{
    const QImage shown = w.window->renderToImage(2);
    saveOutput(shown, name);
    const QImage reference = widgetReference(name);
    ASSERT_FALSE(reference.isNull()) << name.toStdString();
    ASSERT_EQ(shown.size(), reference.size()) << name.toStdString();
    const Rect textArea = w.field->convertRectToView(w.field->widgetRect(), w.background.get());
    const ImageDifference d =
        compareImages(shown, reference, kSearchFieldTolerance, {pixelRect(textArea, 2, 1)});
    EXPECT_EQ(d.beyondTolerance, 0) << name.toStdString() << ": " << d;
    EXPECT_GT(d.compared, shown.width() * shown.height() / 3);
}

} // namespace

TEST(SearchTextFieldRendering, EmptyAndUnfocusedMatchesTheReference)
{
    ScopedVirtualTime time;
    SearchWindow w(0);
    expectSearchFieldMatchesReference(w, QStringLiteral("field_search_style0_empty"));
}

TEST(SearchTextFieldRendering, WithTextEachStyleMatchesItsReference)
{
    ScopedVirtualTime time;
    for (quint64 style : {0u, 1u}) {
        SearchWindow w(style);
        w.field->setText(QStringLiteral("Search"));
        expectSearchFieldMatchesReference(w, QStringLiteral("field_search_style%1_text").arg(style));
    }
}
