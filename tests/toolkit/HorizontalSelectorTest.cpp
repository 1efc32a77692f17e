// HorizontalSelector and its buttons: selection and stacking, the column layout (the
// three-element example, even widths, one and two elements), presses reported with the
// element's index (also for the selected element; a one-element selector as push button),
// indexes out of range and an empty selector refused rather than read out of bounds, and the
// rendering against the reference pictures (labels excluded).

#include "toolkit/HorizontalSelector.h"
#include "model/Globals.h"
#include "platform/gfx/AttributedString.h"
#include "platform/ui/Event.h"
#include "platform/ui/Window.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/ButtonTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/HorizontalSelectorButton.h"
#include "toolkit/HorizontalSelectorButtonDelegate.h"
#include "toolkit/TextLabel.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kAssertionLine =
    QStringLiteral("ERROR: Assertion failure, line: 118 -[HorizontalSelector selectElement:]");

class RecordingButtonPresses : public HorizontalSelectorButtonDelegate
{
public:
    void selectorButtonPressed(HorizontalSelectorButton& button) override
    {
        ++presses;
        toggledWhenTold = button.toggled();
    }
    int presses = 0;
    bool toggledWhenTold = false;
};

std::shared_ptr<HorizontalSelector> selector(int count, double width = 300, double height = 28)
{
    auto s = HorizontalSelector::create();
    s->setFrame(Rect(0, 0, width, height));
    for (int i = 0; i < count; ++i)
        s->addElement(QStringLiteral("E%1").arg(i));
    return s;
}

// The indexes of the elements in stacking order, bottom to top.
std::vector<int> stacking(const HorizontalSelector& s)
{
    std::vector<int> order;
    for (const auto& subview : s.subviews()) {
        for (std::size_t i = 0; i < s.elements().size(); ++i) {
            if (subview == s.elements()[i])
                order.push_back(int(i));
        }
    }
    return order;
}

std::vector<bool> toggles(const HorizontalSelector& s)
{
    std::vector<bool> result;
    for (const auto& element : s.elements())
        result.push_back(element->toggled());
    return result;
}

Event selectorDown()
{
    return Event::mouseDown(Point(1, 1));
}

} // namespace

// ---- HorizontalSelectorButton ----

TEST(HorizontalSelectorButton, TitleSizeAndColoursFollowTheState)
{
    auto delegate = std::make_shared<RecordingButtonPresses>();
    std::weak_ptr<RecordingButtonPresses> weakDelegate = delegate;
    auto b = HorizontalSelectorButton::createWithDelegate(delegate);
    delegate.reset();
    EXPECT_FALSE(weakDelegate.expired()) << "the delegate is held strongly";
    EXPECT_TRUE(b->userInteractionEnabled());
    ASSERT_EQ(b->subviews().size(), 1u);
    EXPECT_EQ(b->label()->textColor(), Globals::colorGray58());

    b->setButtonTitle(QStringLiteral("Border"));
    const TextAttributes& attributes = b->label()->attributedText().attributesAt(0);
    EXPECT_EQ(attributes.font, Globals::fontAvenirMedium(10.0));
    EXPECT_EQ(attributes.kern, 0.0) << "no kern";
    EXPECT_EQ(b->label()->frame().size, b->label()->intrinsicContentSize());

    b->setFrameOrigin(Point(3, 4));
    b->label()->setFrame(Rect(0, 0, 50, 14));
    b->sizeToFit();
    EXPECT_EQ(b->frame(), Rect(3, 4, 70, 28));
    EXPECT_EQ(b->label()->frame(), Rect(10, 7, 50, 14)) << "centred";

    b->setToggled(true);
    EXPECT_EQ(b->label()->textColor(), Globals::colorWhite());
    b->setToggled(false);
    EXPECT_EQ(b->label()->textColor(), Globals::colorGray58());
}

TEST(HorizontalSelectorButton, APressFlipsTheStateAndTellsTheDelegateAtOnce)
{
    ScopedVirtualTime time;
    auto delegate = std::make_shared<RecordingButtonPresses>();
    auto b = HorizontalSelectorButton::createWithDelegate(delegate);
    b->mouseDown(selectorDown());
    EXPECT_EQ(delegate->presses, 1);
    EXPECT_TRUE(delegate->toggledWhenTold) << "flipped before the delegate hears of it";
    b->mouseUp(Event::mouseUp(Point(1, 1)));
    time.advance(1.0);
    EXPECT_EQ(delegate->presses, 1) << "the release does nothing";
    EXPECT_TRUE(b->toggled());
    b->mouseDown(selectorDown());
    EXPECT_FALSE(b->toggled());

    b->setUserInteractionEnabled(false);
    b->mouseDown(selectorDown());
    EXPECT_EQ(delegate->presses, 2);
    EXPECT_FALSE(b->toggled());
}

// ---- Elements and selection ----

TEST(HorizontalSelector, AfterEveryAdditionTheFirstElementIsSelected)
{
    auto s = selector(0);
    EXPECT_EQ(s->numElements(), 0u);
    s->addElement(QStringLiteral("One"));
    EXPECT_EQ(s->numElements(), 1u);
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false})) << "one element shows no selection";
    s->addElement(QStringLiteral("Two"));
    EXPECT_EQ(toggles(*s), (std::vector<bool>{true, false}));
    s->selectElement(1);
    s->addElement(QStringLiteral("Three"));
    EXPECT_EQ(toggles(*s), (std::vector<bool>{true, false, false})) << "the addition selects element 0 again";
    EXPECT_EQ(s->elements()[2]->label()->text(), QStringLiteral("Three"));
    EXPECT_EQ(s->subviews().size(), 3u);
    for (const auto& element : s->elements())
        EXPECT_EQ(element->delegate() != nullptr, true) << "each element reports to the selector";
}

TEST(HorizontalSelector, SelectionStacksTheSelectedElementAboveAllAndTheMiddleOneBeneath)
{
    auto s = selector(3);
    s->selectElement(0);
    EXPECT_EQ(stacking(*s), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(toggles(*s), (std::vector<bool>{true, false, false}));
    s->selectElement(1);
    EXPECT_EQ(stacking(*s), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, true, false}));
    s->selectElement(2);
    EXPECT_EQ(stacking(*s), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, false, true}));
}

TEST(HorizontalSelector, PressingTheSelectedElementKeepsItSelectedAndStillReportsIt)
{
    auto s = selector(3);
    auto delegate = std::make_shared<RecordingSelectorDelegate>();
    s->setDelegate(delegate);
    s->elements()[0]->mouseDown(selectorDown());
    EXPECT_EQ(toggles(*s), (std::vector<bool>{true, false, false})) << "still selected";
    EXPECT_EQ(delegate->indexes, (std::vector<qint64>{0}));
    EXPECT_EQ(delegate->lastSelector, s.get());

    s->elements()[2]->mouseDown(selectorDown());
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(stacking(*s).back(), 2);
    s->elements()[2]->mouseDown(selectorDown());
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(delegate->indexes, (std::vector<qint64>{0, 2, 2}));
}

TEST(HorizontalSelector, AOneElementSelectorActsAsAPushButton)
{
    auto s = selector(1, 120);
    auto delegate = std::make_shared<RecordingSelectorDelegate>();
    s->setDelegate(delegate);
    for (int i = 0; i < 3; ++i) {
        s->elements()[0]->mouseDown(selectorDown());
        EXPECT_FALSE(s->elements()[0]->toggled()) << "never shows a selection";
    }
    EXPECT_EQ(delegate->indexes, (std::vector<qint64>{0, 0, 0}));
}

TEST(HorizontalSelector, IndexesOutOfRangeAreRefusedWithTheAssertionLine)
{
    auto s = selector(3);
    s->selectElement(1);
    const auto order = stacking(*s);
    LogCapture log;
    for (qint64 bad : {qint64(-1), qint64(3), qint64(1000)})
        s->selectElement(bad);
    EXPECT_EQ(log.count(kAssertionLine), 3) << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(stacking(*s), order) << "nothing changed";
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, true, false}));

    // A button that is not one of the elements: index -1, refused, nothing reported.
    auto delegate = std::make_shared<RecordingSelectorDelegate>();
    s->setDelegate(delegate);
    auto stranger = HorizontalSelectorButton::createWithDelegate(std::make_shared<RecordingButtonPresses>());
    EXPECT_EQ(s->elementIndexFor(*stranger), -1);
    s->selectorButtonPressed(*stranger);
    EXPECT_EQ(log.count(kAssertionLine), 4);
    EXPECT_TRUE(delegate->indexes.empty());
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, true, false}));

    // An empty selector has no index to select.
    s->reset();
    s->selectElement(0);
    EXPECT_EQ(log.count(kAssertionLine), 5);
}

TEST(HorizontalSelector, ResetEmptiesTheSelectorForARefill)
{
    auto s = selector(3);
    std::weak_ptr<HorizontalSelectorButton> old = s->elements()[0];
    auto extra = ColoredView::create(PlatformColor::white());
    s->addSubview(extra);
    s->reset();
    EXPECT_EQ(s->numElements(), 0u);
    EXPECT_TRUE(s->subviews().empty()) << "every subview goes";
    EXPECT_EQ(extra->superview(), nullptr);
    EXPECT_TRUE(old.expired());

    s->addElement(QStringLiteral("A"));
    s->addElement(QStringLiteral("B"));
    s->selectElement(1);
    EXPECT_EQ(toggles(*s), (std::vector<bool>{false, true}));
    EXPECT_EQ(s->elementIndexFor(*s->elements()[1]), 1);
}

TEST(HorizontalSelector, TheSelectorAndItsButtonsDoNotKeepEachOtherAlive)
{
    std::weak_ptr<HorizontalSelector> weakSelector;
    std::weak_ptr<HorizontalSelectorButton> weakButton;
    {
        auto s = selector(2);
        weakSelector = s;
        weakButton = s->elements()[1];
        auto delegate = std::make_shared<RecordingSelectorDelegate>();
        s->setDelegate(delegate);
        delegate.reset();
        EXPECT_EQ(s->delegate(), nullptr) << "the selector's delegate is held weakly";
    }
    EXPECT_TRUE(weakSelector.expired());
    EXPECT_TRUE(weakButton.expired());
}

// ---- Layout ----

TEST(HorizontalSelectorLayout, ThreeElementsInThreeHundredPoints)
{
    auto s = selector(3, 300, 28);
    EXPECT_EQ(s->columnVisibleWidth(), 116) << "trunc(348 / 3), already even";
    EXPECT_EQ(s->centerForColumn(0), 58);
    EXPECT_EQ(s->centerForColumn(1), 150) << "step trunc(184 / 2) = 92";
    EXPECT_EQ(s->centerForColumn(2), 242);
    EXPECT_EQ(s->columnRealWidth(), 100);
    EXPECT_EQ(s->elements()[0]->frame(), Rect(0, 0, 116, 28));
    EXPECT_EQ(s->elements()[1]->frame(), Rect(92, 0, 116, 28));
    EXPECT_EQ(s->elements()[2]->frame(), Rect(184, 0, 116, 28));

    s->setFrameSize(Size(200, 30));
    EXPECT_EQ(s->elements()[2]->frame(), Rect(118, 0, 82, 30))
        << "a size change lays out again: w 82, step 59";
}

TEST(HorizontalSelectorLayout, TheVisibleWidthIsRoundedTowardZeroToAnEvenNumber)
{
    auto s = selector(3, 305);
    EXPECT_EQ(s->columnVisibleWidth(), 116) << "trunc(353 / 3) = 117, then 116";
    s->setFrameSize(Size(301, 28));
    EXPECT_EQ(s->columnVisibleWidth(), 116) << "trunc(349 / 3) = 116";
    EXPECT_EQ(s->centerForColumn(1), 150) << "step trunc(185 / 2) = 92, 92 + 58";
    EXPECT_EQ(s->columnRealWidth(), 100);
    s->setFrameSize(Size(200, 28));
    EXPECT_EQ(s->columnRealWidth(), 66) << "trunc(200 / 3)";
}

TEST(HorizontalSelectorLayout, OneTwoAndNoElements)
{
    auto one = selector(1, 121);
    EXPECT_EQ(one->columnVisibleWidth(), 120) << "121 made even";
    EXPECT_EQ(one->centerForColumn(0), 60) << "no step without a second column";
    EXPECT_EQ(one->elements()[0]->frame(), Rect(0, 0, 120, 28));
    EXPECT_EQ(one->columnRealWidth(), 121);

    auto two = selector(2, 200);
    EXPECT_EQ(two->columnVisibleWidth(), 112) << "trunc(224 / 2)";
    EXPECT_EQ(two->centerForColumn(1), 144) << "step 88, 88 + 56";
    EXPECT_EQ(two->elements()[1]->frame(), Rect(88, 0, 112, 28));

    auto none = selector(0, 200);
    EXPECT_EQ(none->columnVisibleWidth(), 0);
    EXPECT_EQ(none->columnRealWidth(), 0) << "no division by an element count of 0";
    none->applyLayout(); // lays out nothing
    none->setFrameSize(Size(150, 20));
    EXPECT_TRUE(none->subviews().empty());
}

// ---- Through a window and rendered ----

TEST(HorizontalSelector, AClickWhereTwoElementsOverlapGoesToTheUpperOne)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(320, 40));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto s = selector(3);
    s->setFrameOrigin(Point(10, 6));
    background->addSubview(s);
    auto delegate = std::make_shared<RecordingSelectorDelegate>();
    s->setDelegate(delegate);
    // x = 100 lies in element 0 (0..116) and element 1 (92..208); element 0 is selected and on top.
    const Point overlap = s->convertPointToView(Point(100, 14), nullptr);
    window->sendEvent(Event::mouseDown(overlap));
    window->sendEvent(Event::mouseUp(overlap));
    EXPECT_EQ(delegate->indexes, (std::vector<qint64>{0}));
    s->selectElement(1);
    window->sendEvent(Event::mouseDown(overlap));
    window->sendEvent(Event::mouseUp(overlap));
    EXPECT_EQ(delegate->indexes, (std::vector<qint64>{0, 1})) << "now element 1 lies above element 0";
}

namespace {

// The selector at (4, 4) on white, rendered at 2 pixels a point, with its label frames.
QImage renderSelector(int count, double width, int selected, std::vector<QRect>* labels)
{
    auto window = Window::create(Size(width + 8, 36));
    window->setBackingScaleFactorOverride(2);
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto s = HorizontalSelector::create();
    s->addElement(QStringLiteral("Fill"));
    if (count > 1) {
        s->addElement(QStringLiteral("Border"));
        s->addElement(QStringLiteral("Text"));
    }
    background->addSubview(s);
    s->setFrame(Rect(4, 4, width, 28));
    s->selectElement(selected);
    const QImage shown = window->renderToImage(2);
    for (const auto& element : s->elements())
        labels->push_back(pixelRect(
            element->label()->convertRectToView(element->label()->bounds(), background.get()), 2, 2));
    return shown;
}

constexpr int kSelectorTolerance = 40;

} // namespace

TEST(HorizontalSelectorRendering, SelectorsMatchTheirReferences)
{
    ScopedVirtualTime time;
    struct Case
    {
        int count;
        double width;
        int selected;
        QString name;
    };
    const std::vector<Case> cases{{3, 300, 0, QStringLiteral("selector3_selected0")},
                                  {3, 300, 1, QStringLiteral("selector3_selected1")},
                                  {3, 300, 2, QStringLiteral("selector3_selected2")},
                                  {1, 120, 0, QStringLiteral("selector1")}};
    for (const Case& c : cases) {
        std::vector<QRect> labels;
        const QImage shown = renderSelector(c.count, c.width, c.selected, &labels);
        saveOutput(shown, c.name);
        const QImage reference = widgetReference(c.name);
        ASSERT_FALSE(reference.isNull()) << c.name.toStdString();
        ASSERT_EQ(shown.size(), reference.size()) << c.name.toStdString();
        const ImageDifference d = compareImages(shown, reference, kSelectorTolerance, labels);
        EXPECT_EQ(d.beyondTolerance, 0) << c.name.toStdString() << ": " << d;
        EXPECT_GT(d.compared, shown.width() * shown.height() / 2);
        // Each element's own colour 4 points below its top, at its centre (above the label):
        // the tolerance above would let a light grey element go missing on white.
        const std::vector<double> centres =
            c.count == 1 ? std::vector<double>{60} : std::vector<double>{58, 150, 242};
        for (int i = 0; i < c.count; ++i) {
            const QColor expected = (c.count > 1 && i == c.selected) ? Globals::colorNiceGreen().toQColor()
                                                                     : Globals::colorGray91().toQColor();
            EXPECT_LE(colourDistance(shown, int((4 + centres[std::size_t(i)]) * 2), (4 + 4) * 2, expected), 2)
                << c.name.toStdString() << ", element " << i;
        }
    }
}
