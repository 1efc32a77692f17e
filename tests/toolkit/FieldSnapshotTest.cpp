// Text fields in renderings: a window rendering, a screenshot and a view's image
// representation show a field's text where the screen (a grab of the window's host widget)
// shows it, whether the field is live on a shown window or its window is not on screen.

#include "model/Globals.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/FieldTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/ViewExtensions.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// The field's text is black on white: its antialiased strokes are the only dark pixels.
bool isTextPixel(QRgb pixel)
{
    return qAlpha(pixel) > 200 && qGray(pixel) < 110;
}

struct TextPixels
{
    int reference = 0; // dark in the reference
    int missing = 0;   // dark in the reference, not in the rendering
    int extra = 0;     // dark in the rendering, not in the reference
};

// Compares the dark pixels of two images of the same size within `area` (pixels, y down).
TextPixels compareTextPixels(const QImage& rendering, const QImage& reference, const QRect& area)
{
    const QImage a = rendering.convertToFormat(QImage::Format_ARGB32);
    const QImage b = reference.convertToFormat(QImage::Format_ARGB32);
    TextPixels result;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const bool inRendering = isTextPixel(a.pixel(x, y));
            const bool inReference = isTextPixel(b.pixel(x, y));
            result.reference += inReference ? 1 : 0;
            result.missing += inReference && !inRendering ? 1 : 0;
            result.extra += inRendering && !inReference ? 1 : 0;
        }
    }
    return result;
}

// A window over a white background holding one field that holds "Search me".
struct FieldWindow
{
    enum class Kind
    {
        Search,
        Custom,
    };

    explicit FieldWindow(Kind kind)
    {
        window = Window::create(Size(360, 60));
        background = ColoredView::create(PlatformColor::white());
        window->setContentView(background);
        if (kind == Kind::Search) {
            auto search = SearchTextField::createWithStyle(0);
            search->setText(QStringLiteral("Search me"));
            search->setFrameOrigin(Point(10, 20));
            field = search;
            edit = search;
        } else {
            auto custom = CustomTextField::create();
            custom->setText(QStringLiteral("Search me"));
            custom->setFrame(Rect(10, 15, 220, 30));
            field = custom;
            edit = custom->field();
        }
        background->addSubview(field);
    }
    ~FieldWindow() { window->close(); }

    // The line edit's rectangle in the window's pixels (y down from the top).
    QRect editArea() const
    {
        const Rect base = edit->convertRectToView(edit->widgetRect(), nullptr);
        const QPointF topLeft = window->convertPointToWidget(Point(base.minX(), base.maxY()));
        return QRect(topLeft.toPoint(), QSize(int(base.width()), int(base.height())));
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<ColoredView> background;
    std::shared_ptr<View> field;
    std::shared_ptr<EmbeddedWidgetView> edit;
};

} // namespace

TEST(FieldSnapshot, RenderingsShowTheTextWhereTheHostShowsIt)
{
    // A caret that does not blink looks the same in every capture.
    QApplication::setCursorFlashTime(0);
    Globals::setScreenScaleOverride(1);
    const std::pair<const char*, std::function<QImage(FieldWindow&)>> renderings[] = {
        {"window", [](FieldWindow& w) { return w.window->renderToImage(1); }},
        {"screenshot",
         [](FieldWindow& w) {
             return QVImageScreenshot::initByCapturingScreenshot(w.background.get()).cgImage();
         }},
        {"image-representation",
         [](FieldWindow& w) {
             return ViewExtensions::imageRepresentation(*w.background)
                 .bestRepresentation(Rect(0, 0, 360, 60));
         }},
    };
    for (const auto kind : {FieldWindow::Kind::Search, FieldWindow::Kind::Custom}) {
        for (const bool shown : {true, false}) {
            ScopedVirtualTime time;
            FieldWindow w(kind);
            const QString name = QStringLiteral("%1-%2").arg(
                kind == FieldWindow::Kind::Search ? QStringLiteral("search") : QStringLiteral("custom"),
                shown ? QStringLiteral("shown") : QStringLiteral("not-shown"));
            SCOPED_TRACE(name.toStdString());
            QWidget* host = w.window->hostWidget();
            ASSERT_NE(host, nullptr);
            if (shown) {
                w.window->makeKeyAndOrderFront();
                ASSERT_TRUE(QTest::qWaitForWindowExposed(host));
                EmbeddedWidgetView::updatePresentations(*w.window);
                ASSERT_TRUE(w.edit->isLive()) << "nothing covers the field";
            }
            View::runUpdateCycle();
            const QImage screen = host->grab().toImage();
            saveOutput(screen, QStringLiteral("field-snapshot-%1-host").arg(name));
            const QRect area = w.editArea();
            for (const auto& [what, render] : renderings) {
                SCOPED_TRACE(what);
                const QImage image = render(w);
                saveOutput(image, QStringLiteral("field-snapshot-%1-%2").arg(name, QLatin1String(what)));
                ASSERT_EQ(image.size(), screen.size());
                const TextPixels text = compareTextPixels(image, screen, area);
                EXPECT_GT(text.reference, 60) << "the host shows the text";
                EXPECT_EQ(text.missing, 0);
                EXPECT_EQ(text.extra, 0);
            }
            // Rendering changed nothing of what the screen shows.
            EXPECT_EQ(w.edit->isLive(), shown);
            EXPECT_TRUE(w.edit->grabLayer()->isHidden() || !shown);
        }
    }
    Globals::setScreenScaleOverride(0);
}
