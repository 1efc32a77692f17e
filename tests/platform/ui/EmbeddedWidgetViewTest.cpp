// Embedded Qt widgets: live while nothing composited changes how they would look, grabbed
// (painted in compositing order) otherwise, always live while they hold the keyboard; the
// per-frame pass on the real window host; clicks and focus shared with the window.

#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerOcclusion.h"
#include "platform/ui/RenderingScope.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/CaretWatch.h"
#include "tests/platform/ui/LayerTestSupport.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace corvex {

inline std::ostream& operator<<(std::ostream& os, EmbeddedWidgetView::State state)
{
    switch (state) {
    case EmbeddedWidgetView::State::Detached:
        return os << "Detached";
    case EmbeddedWidgetView::State::Hidden:
        return os << "Hidden";
    case EmbeddedWidgetView::State::Live:
        return os << "Live";
    case EmbeddedWidgetView::State::Grabbed:
        return os << "Grabbed";
    }
    return os << "?";
}

} // namespace corvex

// Found by argument-dependent lookup for QRect, which lives in the global namespace.
static std::ostream& operator<<(std::ostream& os, const QRect& r)
{
    return os << '(' << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ')';
}

namespace {

using State = EmbeddedWidgetView::State;

} // namespace

// A shown 300 x 200 window whose content view holds a container (the whole content) and, in
// it, a field at (20, 20, 160, 24): y up from the bottom, so Qt's y is 200 - 44 = 156.
// Outside the anonymous namespace, like the test classes TEST_F derives from it: g++ warns
// about a base with internal linkage when this file shares a unity batch.
class EmbeddedWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = Window::create(Size(300, 200));
        content = View::create();
        window->setContentView(content);
        container = View::create(Rect(0, 0, 300, 200));
        content->addSubview(container);
        field = EmbeddedWidgetView::createLineEdit(Rect(20, 20, 160, 24));
        field->lineEdit()->setText(QStringLiteral("Hello"));
        container->addSubview(field);
        window->makeKeyAndOrderFront();
    }

    void TearDown() override
    {
        if (window)
            window->close();
        window.reset();
    }

    State pass()
    {
        EmbeddedWidgetView::updatePresentations(*window);
        return field->state();
    }

    std::shared_ptr<View> coloredView(const Rect& frame,
                                      const PlatformColor& color = PlatformColor::sRGB(1, 0, 0))
    {
        auto view = View::create(frame);
        view->layer()->setBackgroundColor(color);
        return view;
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<View> content;
    std::shared_ptr<View> container;
    std::shared_ptr<EmbeddedWidgetView> field;
};

TEST_F(EmbeddedWidgetTest, AnUncoveredFieldIsLiveAtItsFrameAboveTheSurface)
{
    EXPECT_EQ(pass(), State::Live);
    QLineEdit* edit = field->lineEdit();
    EXPECT_EQ(edit->parentWidget(), window->hostWidget());
    EXPECT_TRUE(edit->isVisible());
    EXPECT_EQ(edit->geometry(), QRect(20, 156, 160, 24));
    EXPECT_TRUE(field->grabLayer()->isHidden());
    // Above the compositor's surface: the last child of the host.
    EXPECT_EQ(window->hostWidget()->children().last(), edit);
}

TEST_F(EmbeddedWidgetTest, ALaterViewOverItGrabsTheFieldUntilItGoes)
{
    ASSERT_EQ(pass(), State::Live);
    auto cover = coloredView(Rect(100, 10, 150, 50));
    container->addSubview(cover);
    EXPECT_EQ(pass(), State::Grabbed);
    EXPECT_TRUE(field->lineEdit()->isHidden());
    EXPECT_FALSE(field->grabLayer()->isHidden());
    const QImage grab = field->grabImage();
    EXPECT_EQ(grab.size(), QSize(160, 24));
    // The grab sits in the field's layer, so the cover is painted over it.
    EXPECT_EQ(field->grabLayer()->superlayer(), field->layer());
    EXPECT_EQ(field->grabLayer()->frame(), Rect(0, 0, 160, 24));

    cover->removeFromSuperview();
    EXPECT_EQ(pass(), State::Live);
    EXPECT_TRUE(field->lineEdit()->isVisible());
    EXPECT_TRUE(field->grabLayer()->isHidden());
}

TEST_F(EmbeddedWidgetTest, OnlyWhatIsPaintedAfterItAndOverlapsCounts)
{
    // Below the field in compositing order.
    container->addSubview(coloredView(Rect(0, 0, 300, 200)), View::Ordering::Below, field.get());
    // Touching its edge only (the field spans x 20..180, y 20..44).
    container->addSubview(coloredView(Rect(180, 20, 50, 24)));
    container->addSubview(coloredView(Rect(20, 44, 160, 30)));
    // Hidden, fully transparent, or painting nothing.
    auto hidden = coloredView(Rect(0, 0, 300, 200));
    hidden->setHidden(true);
    container->addSubview(hidden);
    auto faded = coloredView(Rect(0, 0, 300, 200));
    faded->setAlphaValue(0);
    container->addSubview(faded);
    container->addSubview(View::create(Rect(0, 0, 300, 200)));
    auto clearContents = Layer::create();
    clearContents->setFrame(Rect(0, 0, 300, 200));
    QImage clear(30, 20, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    clearContents->setContents(clear);
    window->rootLayer()->addSublayer(clearContents);
    EXPECT_EQ(pass(), State::Live);

    // A raw layer above the content (an overlay) counts like a view.
    auto overlay = Layer::create();
    overlay->setFrame(Rect(150, 30, 10, 10));
    overlay->setBackgroundColor(PlatformColor::sRGB(0, 0, 1, 0.3));
    window->rootLayer()->addSublayer(overlay);
    EXPECT_EQ(pass(), State::Grabbed);
    // Moved away at once (a committed raw layer would move with an implicit animation).
    Transaction::begin();
    Transaction::setDisableActions(true);
    overlay->setPosition(Point(250, 150));
    Transaction::commit();
    EXPECT_EQ(pass(), State::Live);
    // So do visible contents and borders.
    QImage dot(4, 4, QImage::Format_ARGB32_Premultiplied);
    dot.fill(Qt::black);
    clearContents->setContents(dot);
    EXPECT_EQ(pass(), State::Grabbed);
    clearContents->removeFromSuperlayer();
    EXPECT_EQ(pass(), State::Live);
    // A border around the field does not cover it; one crossing it does.
    auto frameView = View::create(Rect(10, 10, 180, 44));
    frameView->layer()->setBorderWidth(2);
    frameView->layer()->setBorderColor(PlatformColor::black());
    container->addSubview(frameView);
    EXPECT_EQ(pass(), State::Live);
    frameView->layer()->setBorderWidth(15);
    EXPECT_EQ(pass(), State::Grabbed);
}

TEST_F(EmbeddedWidgetTest, AnAncestorsBorderIsPaintedOverTheField)
{
    container->layer()->setBorderColor(PlatformColor::black());
    container->layer()->setBorderWidth(30);
    EXPECT_EQ(pass(), State::Grabbed);
    container->layer()->setBorderWidth(3);
    EXPECT_EQ(pass(), State::Live);
}

TEST_F(EmbeddedWidgetTest, TransformsOpacityAndClippingUpTheChainGrabTheField)
{
    ASSERT_EQ(pass(), State::Live);
    container->layer()->setTransform(Transform3D::makeScale(0.9, 0.9, 1));
    EXPECT_EQ(pass(), State::Grabbed);
    container->layer()->setTransform(Transform3D());
    EXPECT_EQ(pass(), State::Live);

    container->setAlphaValue(0.5);
    EXPECT_EQ(pass(), State::Grabbed);
    container->setAlphaValue(0);
    EXPECT_EQ(pass(), State::Hidden);
    EXPECT_TRUE(field->grabLayer()->isHidden());
    container->setAlphaValue(1);
    EXPECT_EQ(pass(), State::Live);

    // A superview that clips part of the field away.
    auto clip = View::create(Rect(0, 0, 100, 100));
    clip->layer()->setMasksToBounds(true);
    container->addSubview(clip);
    clip->addSubview(field);
    EXPECT_EQ(pass(), State::Grabbed);
    clip->setFrame(Rect(0, 0, 250, 100));
    EXPECT_EQ(pass(), State::Live);
}

TEST_F(EmbeddedWidgetTest, AHiddenAncestorHidesWidgetAndGrab)
{
    container->setHidden(true);
    EXPECT_EQ(pass(), State::Hidden);
    EXPECT_TRUE(field->lineEdit()->isHidden());
    container->setHidden(false);
    EXPECT_EQ(pass(), State::Live);
    // A hidden layer that is not a view's counts too.
    content->layer()->setHidden(true);
    EXPECT_EQ(pass(), State::Hidden);
}

TEST_F(EmbeddedWidgetTest, ARunningAnimationGrabsTheFieldUntilItEnds)
{
    ScopedVirtualTime time;
    ASSERT_EQ(pass(), State::Live);
    auto fade = BasicAnimation::create(QStringLiteral("opacity"));
    fade->setFromValue(AnimationValue(0.2));
    fade->setToValue(AnimationValue(1.0));
    fade->setDuration(1.0);
    field->layer()->addAnimation(fade, QStringLiteral("fade"));
    EXPECT_EQ(pass(), State::Grabbed);
    time.advance(0.5);
    EXPECT_EQ(pass(), State::Grabbed);
    time.advance(0.6);
    EXPECT_EQ(pass(), State::Live);

    // An ancestor's animation counts while it moves the field.
    auto slide = BasicAnimation::create(QStringLiteral("position"));
    slide->setFromValue(AnimationValue(Point(0, -50)));
    slide->setToValue(AnimationValue(Point(0, 0)));
    slide->setDuration(1.0);
    container->layer()->addAnimation(slide, QStringLiteral("slide"));
    EXPECT_EQ(pass(), State::Grabbed);
    time.advance(1.1);
    EXPECT_EQ(pass(), State::Live);
}

TEST_F(EmbeddedWidgetTest, TheFieldHoldingTheKeyboardStaysLiveWhenCovered)
{
    auto cover = coloredView(Rect(0, 0, 300, 200), PlatformColor::sRGB(0, 0, 0, 0.4));
    container->addSubview(cover);
    ASSERT_EQ(pass(), State::Grabbed);
    ASSERT_TRUE(field->acceptsFirstResponder());
    EXPECT_TRUE(window->makeFirstResponder(field.get()));
    EXPECT_EQ(window->firstResponder(), field.get());
    EXPECT_TRUE(field->hasKeyboardFocus());
    EXPECT_EQ(pass(), State::Live);
    EXPECT_TRUE(field->lineEdit()->isVisible());
    // But not when it is not visible at all.
    container->setHidden(true);
    EXPECT_EQ(pass(), State::Hidden);
    container->setHidden(false);

    EXPECT_TRUE(window->makeFirstResponder(nullptr));
    EXPECT_FALSE(field->hasKeyboardFocus());
    EXPECT_EQ(pass(), State::Grabbed);
}

TEST_F(EmbeddedWidgetTest, QtFocusAndTheFirstResponderFollowEachOther)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->hostWidget()));
    ASSERT_EQ(pass(), State::Live);
    // The user clicks into the live widget: Qt gives it the focus.
    field->lineEdit()->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(runUntil([&] { return window->firstResponder() == field.get(); }));
    // Another responder takes over: the widget gives the focus back to the host.
    auto other = View::create(Rect(200, 100, 50, 50));
    container->addSubview(other);
    EXPECT_TRUE(window->makeFirstResponder(nullptr));
    EXPECT_FALSE(field->lineEdit()->hasFocus());
    EXPECT_TRUE(window->hostWidget()->hasFocus());
    // Making the view first responder focuses the widget.
    EXPECT_TRUE(window->makeFirstResponder(field.get()));
    EXPECT_TRUE(field->lineEdit()->hasFocus());
    // Focus taken away by Tab-like moves resigns the first responder.
    window->hostWidget()->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(runUntil([&] { return window->firstResponder() != field.get(); }));
    EXPECT_FALSE(field->hasKeyboardFocus());
}

TEST_F(EmbeddedWidgetTest, AWindowBecomingActiveKeepsItsFirstResponderAndTheFieldShowsNoCaret)
{
    // Qt gives the focus of a window that becomes active to its first widget, the field.
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->hostWidget()));
    ASSERT_EQ(pass(), State::Live);
    EXPECT_NE(window->firstResponder(), field.get());
    EXPECT_FALSE(field->lineEdit()->hasFocus());
    EXPECT_FALSE(caretBlinks(*field->lineEdit())) << "a field the user is not typing into blinks";
    // Once it is the first responder, it does.
    ASSERT_TRUE(window->makeFirstResponder(field.get()));
    EXPECT_TRUE(caretBlinks(*field->lineEdit()));
}

TEST_F(EmbeddedWidgetTest, AClickOnAGrabbedFieldMakesItLiveWithTheCaretThere)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->hostWidget()));
    auto cover = coloredView(Rect(0, 0, 300, 200), PlatformColor::sRGB(0, 0, 0, 0.2));
    container->addSubview(cover);
    // Clicks on the cover would go to the cover: click where it is not.
    cover->setFrame(Rect(100, 0, 200, 200));
    ASSERT_EQ(pass(), State::Grabbed);
    field->lineEdit()->setCursorPosition(0);
    const Point nearTheStart(22, 32);
    window->sendEvent(Event::mouseDown(nearTheStart));
    EXPECT_EQ(window->firstResponder(), field.get());
    EXPECT_EQ(field->state(), State::Live);
    window->sendEvent(Event::mouseUp(nearTheStart));
    EXPECT_EQ(field->lineEdit()->cursorPosition(), 0);
    // A click right of the text (and left of the cover) puts the caret at its end.
    field->lineEdit()->setCursorPosition(0);
    const Point right(95, 32);
    window->sendEvent(Event::mouseDown(right));
    window->sendEvent(Event::mouseUp(right));
    EXPECT_EQ(field->lineEdit()->cursorPosition(), 5);
}

TEST_F(EmbeddedWidgetTest, TheGrabFollowsTheWidgetsText)
{
    container->addSubview(coloredView(Rect(150, 0, 150, 200)));
    ASSERT_EQ(pass(), State::Grabbed);
    const QImage before = field->grabImage();
    pass();
    // Nothing changed: the same contents, no new frame.
    EXPECT_EQ(field->grabImage().cacheKey(), before.cacheKey());
    field->lineEdit()->setText(QStringLiteral("Hello, world, and more"));
    EXPECT_EQ(pass(), State::Grabbed);
    EXPECT_NE(field->grabImage(), before);
    EXPECT_EQ(field->grabImage().size(), QSize(160, 24));
    // A new size gives a grab of the new size.
    field->setFrame(Rect(20, 20, 200, 30));
    pass();
    EXPECT_EQ(field->grabImage().size(), QSize(200, 30));
}

TEST_F(EmbeddedWidgetTest, TheHostDecidesBeforeEachFrameOnItsOwn)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window->hostWidget()));
    ASSERT_TRUE(runUntil([&] { return field->state() == State::Live; }));
    auto cover = coloredView(Rect(100, 10, 150, 50));
    container->addSubview(cover);
    EXPECT_TRUE(runUntil([&] { return field->state() == State::Grabbed; })) << field->state();
    cover->removeFromSuperview();
    EXPECT_TRUE(runUntil([&] { return field->state() == State::Live; })) << field->state();
}

// Eats the update requests of a window, as its exposure's paint does when it comes first.
class UpdateRequestEater final : public QObject
{
protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::UpdateRequest; }
};

// A window whose update requests never come (dropped while it was hidden, or replaced by the
// paint for its exposure, as for an editor's popover just made on a busy machine) still
// decides for a field that asked: it does not keep the last state until something else
// changes in the window.
TEST_F(EmbeddedWidgetTest, AFieldThatAsksIsDecidedAgainWithoutAnUpdateRequest)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window->hostWidget()));
    ASSERT_TRUE(runUntil([&] { return field->state() == State::Live; }));
    UpdateRequestEater eater;
    window->hostWidget()->window()->installEventFilter(&eater);
    field->setWidgetRect(Rect());
    EXPECT_TRUE(runUntil([&] { return field->state() == State::Hidden; })) << field->state();
    field->setWidgetRect(std::nullopt);
    EXPECT_TRUE(runUntil([&] { return field->state() == State::Live; })) << field->state();
}

TEST_F(EmbeddedWidgetTest, LeavingTheWindowDetachesTheWidget)
{
    ASSERT_EQ(pass(), State::Live);
    QPointer<QLineEdit> edit = field->lineEdit();
    field->removeFromSuperview();
    EXPECT_EQ(field->state(), State::Detached);
    EXPECT_EQ(edit->parentWidget(), nullptr);
    EXPECT_TRUE(edit->isHidden());
    // Closing and destroying the window leaves the widget to the view, which deletes it.
    container->addSubview(field);
    EXPECT_EQ(pass(), State::Live);
    window->close();
    window.reset();
    ASSERT_FALSE(edit.isNull());
    EXPECT_EQ(field->state(), State::Detached);
    field->removeFromSuperview();
    field.reset();
    EXPECT_TRUE(edit.isNull());
}

TEST_F(EmbeddedWidgetTest, ARenderedWindowShowsTheGrabInCompositingOrder)
{
    QPalette palette = field->lineEdit()->palette();
    palette.setColor(QPalette::Base, QColor(0, 200, 0));
    palette.setColor(QPalette::Text, QColor(0, 0, 0));
    field->lineEdit()->setPalette(palette);
    window->setBackgroundColor(PlatformColor::white());
    // Half-transparent blue over the right half of the field.
    container->addSubview(coloredView(Rect(100, 0, 200, 200), PlatformColor::sRGB(0, 0, 1, 0.5)));
    ASSERT_EQ(pass(), State::Grabbed);
    const QImage image = window->renderToImage(1);
    ASSERT_EQ(image.size(), QSize(300, 200));
    const QString dir = testOutputDir() + QStringLiteral("/embedded");
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + QStringLiteral("/grabbed-field-under-cover.png")));

    // Row 200 - 32 = 168 crosses the field. Left of the cover: the field's green base.
    const QColor bare = image.pixelColor(90, 168);
    EXPECT_LT(std::abs(bare.green() - 200), 12) << bare.name().toStdString();
    EXPECT_LT(bare.blue(), 12) << bare.name().toStdString();
    // Under the cover: green and blue mixed, so the grab lies below the cover.
    const QColor covered = image.pixelColor(170, 168);
    EXPECT_NEAR(covered.green(), 100, 12) << covered.name().toStdString();
    EXPECT_NEAR(covered.blue(), 128, 12) << covered.name().toStdString();
    // Outside the field: the window's white under the cover.
    const QColor outside = image.pixelColor(90, 100);
    EXPECT_EQ(outside, QColor(255, 255, 255)) << outside.name().toStdString();
}

TEST(LayerOcclusion, FlippedLayersAndMasksPlaceTheirSublayersInBaseSpace)
{
    auto root = Layer::create();
    root->setFrame(Rect(0, 0, 200, 100));
    auto flipped = Layer::createBackingLayer(true);
    flipped->setFrame(Rect(0, 0, 200, 100));
    root->addSublayer(flipped);
    auto target = Layer::createBackingLayer(false);
    // 10 from the top of a flipped 100-high space: y 70..90 in base space.
    target->setFrame(Rect(10, 10, 50, 20));
    flipped->addSublayer(target);
    const QRectF area = LayerOcclusion::presentedTransformToBase(*target).mapRect(QRectF(0, 0, 50, 20));
    EXPECT_EQ(area, QRectF(10, 70, 50, 20));

    auto later = Layer::create();
    later->setBackgroundColor(PlatformColor::black());
    later->setFrame(Rect(0, 0, 20, 20));
    // Flipped: y 0..20 from the top is base y 80..100, over the target.
    flipped->addSublayer(later);
    EXPECT_TRUE(LayerOcclusion::isCoveredAfter(*root, *target, area));
    later->setFrame(Rect(0, 80, 20, 20));
    EXPECT_FALSE(LayerOcclusion::isCoveredAfter(*root, *target, area));
    // A clipping layer between cuts the cover away (in the flipped space: y down).
    auto clip = Layer::create();
    clip->setAnchorPoint(Point(0, 0));
    clip->setFrame(Rect(100, 0, 100, 100));
    clip->setMasksToBounds(true);
    flipped->addSublayer(clip);
    auto wide = Layer::create();
    wide->setBackgroundColor(PlatformColor::black());
    wide->setFrame(Rect(-100, 0, 150, 50));
    clip->addSublayer(wide);
    EXPECT_FALSE(LayerOcclusion::isCoveredAfter(*root, *target, area));
    clip->setMasksToBounds(false);
    EXPECT_TRUE(LayerOcclusion::isCoveredAfter(*root, *target, area));
    EXPECT_TRUE(LayerOcclusion::isUnclipped(*target, QRectF(0, 0, 50, 20)));
    flipped->setMasksToBounds(true);
    flipped->setBounds(Rect(0, 0, 40, 100));
    EXPECT_FALSE(LayerOcclusion::isUnclipped(*target, QRectF(0, 0, 50, 20)));
}

TEST(EmbeddedWidgetView, AWindowNotOnScreenShowsTheGrabSoThatRenderingsHaveTheField)
{
    auto window = Window::create(Size(200, 100));
    auto field = EmbeddedWidgetView::createLineEdit(Rect(10, 10, 120, 24));
    QPalette palette = field->lineEdit()->palette();
    palette.setColor(QPalette::Base, QColor(0, 0, 255));
    field->lineEdit()->setPalette(palette);
    window->setContentView(View::create());
    window->contentView()->addSubview(field);
    EmbeddedWidgetView::updatePresentations(*window);
    EXPECT_EQ(field->state(), EmbeddedWidgetView::State::Grabbed);
    const QImage image = window->renderToImage(1);
    // 100 - 22 = 78: a row through the field.
    EXPECT_EQ(image.pixelColor(60, 78), QColor(0, 0, 255)) << image.pixelColor(60, 78).name().toStdString();
    window->makeKeyAndOrderFront();
    EmbeddedWidgetView::updatePresentations(*window);
    EXPECT_EQ(field->state(), EmbeddedWidgetView::State::Live);
    window->close();
}

namespace {

// Dark pixels (black text on the line edit's white) in a rectangle of an image, y down.
int darkPixelsIn(const QImage& image, const QRect& area)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = argb.pixel(x, y);
            count += qAlpha(p) > 200 && qGray(p) < 110 ? 1 : 0;
        }
    }
    return count;
}

// The fixture's field in the window's pixels: (20, 156) and 160 x 24.
const QRect kFieldPixels(20, 156, 160, 24);

} // namespace

TEST_F(EmbeddedWidgetTest, RenderingsShowALiveFieldsTextAndLeaveItLive)
{
    // A caret that does not blink looks the same in both pictures.
    QApplication::setCursorFlashTime(0);
    ASSERT_EQ(pass(), State::Live);
    const int onScreen = darkPixelsIn(window->hostWidget()->grab().toImage(), kFieldPixels);
    ASSERT_GT(onScreen, 20) << "the host shows the text";
    const QImage rendered = window->renderToImage(1);
    EXPECT_EQ(darkPixelsIn(rendered, kFieldPixels), onScreen);
    // A snapshot of a view below the window's root: the container fills the window.
    auto bitmap = GraphicsContext::createBitmap(300, 200);
    ASSERT_NE(bitmap, nullptr);
    container->layer()->renderInContext(*bitmap);
    EXPECT_EQ(darkPixelsIn(bitmap->makeImage(), kFieldPixels), onScreen);
    // Renderings nest: the grab stays until the outermost ends.
    {
        const RenderingScope outer(*window->rootLayer());
        EXPECT_EQ(darkPixelsIn(window->renderToImage(1), kFieldPixels), onScreen);
        EXPECT_FALSE(field->grabLayer()->isHidden());
    }
    // The screen is as it was: the widget live, its grab hidden.
    EXPECT_EQ(field->state(), State::Live);
    EXPECT_FALSE(field->lineEdit()->isHidden());
    EXPECT_TRUE(field->grabLayer()->isHidden());
}

TEST(EmbeddedWidgetView, TheGrabIsTakenAtTheWindowsScale)
{
    auto window = Window::create(Size(200, 100));
    window->setBackingScaleFactorOverride(2);
    window->setContentView(View::create());
    auto field = EmbeddedWidgetView::createLineEdit(Rect(10, 10, 120, 24));
    window->contentView()->addSubview(field);
    EmbeddedWidgetView::updatePresentations(*window);
    ASSERT_EQ(field->state(), State::Grabbed);
    EXPECT_EQ(field->grabImage().size(), QSize(240, 48));
    EXPECT_EQ(field->grabImage().devicePixelRatio(), 2.0);
}
