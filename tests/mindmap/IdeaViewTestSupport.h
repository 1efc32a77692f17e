#pragma once

// Shared pieces of the idea view, adder, dock, delete area and gallery tests: a window whose
// flipped content view holds the views under test, a superview that records the mouse
// events reaching it, recording delegates, pictures and pixel probes.

#include "graphics/QVImage.h"
#include "mindmap/DockAreaViewDelegate.h"
#include "mindmap/IdeaAdderViewDelegate.h"
#include "mindmap/ParentIdeaViewDelegate.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Color.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseView.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cmath>
#include <memory>
#include <vector>

namespace corvex::test {

// A BaseView that counts the mouse-downs and mouse-ups reaching it and passes them on.
class RecordingSuperview : public BaseView
{
public:
    explicit RecordingSuperview(const Rect& frame) : BaseView(frame) {}

    void mouseDown(const Event& event) override
    {
        ++mouseDowns;
        BaseView::mouseDown(event);
    }
    void mouseUp(const Event& event) override
    {
        ++mouseUps;
        BaseView::mouseUp(event);
    }

    int mouseDowns = 0;
    int mouseUps = 0;
};

// A key window of `size` whose content view is a RecordingSuperview (flipped, y down).
struct IdeaViewWindow
{
    explicit IdeaViewWindow(Size size = Size(300, 300))
        : window(Window::create(size)), content(BaseView::make<RecordingSuperview>(Rect(Point(), size)))
    {
        window->setContentView(content);
        window->makeKeyWindow();
    }
    ~IdeaViewWindow() { window->close(); }

    // A point of `view` (its own coordinates) in the window's base coordinates.
    static Point inWindow(const View& view, Point local) { return view.convertPointToView(local, nullptr); }

    // What a click at a point of the content view (its own, flipped coordinates) hits.
    View* hitAt(Point inContent) const
    {
        return content->hitTest(content->convertPointToView(inContent, nullptr));
    }

    void click(Point inBase)
    {
        window->sendEvent(Event::mouseDown(inBase));
        window->sendEvent(Event::mouseUp(inBase));
    }

    std::shared_ptr<Window> window;
    std::shared_ptr<RecordingSuperview> content;
};

class RecordingAdderDelegate : public IdeaAdderViewDelegate
{
public:
    void handleTapOnIdeaAdderView(IdeaAdderView& adder) override { taps.push_back(&adder); }
    std::vector<IdeaAdderView*> taps;
};

class RecordingDockDelegate : public DockAreaViewDelegate
{
public:
    void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                      const Event& event) override
    {
        views.push_back(ideaView);
        events.push_back(event);
    }
    std::vector<std::shared_ptr<SimpleIdeaView>> views;
    std::vector<Event> events;
};

class RecordingParentDelegate : public ParentIdeaViewDelegate
{
public:
    void handleTapOnParentIdeaView(ParentIdeaView& view) override { taps.push_back(&view); }
    std::vector<ParentIdeaView*> taps;
};

// The scale the compositor shows now: the length of the first row of the presented
// transform.
inline double presentedScale(const Layer& layer)
{
    const Transform3D t = layer.presentationProperties().transform;
    return std::hypot(t.m11, t.m12);
}

inline double modelScale(const Layer& layer)
{
    const Transform3D& t = layer.transform();
    return std::hypot(t.m11, t.m12);
}

// A picture of four coloured quadrants (red top left, green top right, blue bottom left,
// yellow bottom right), so that probes can tell which part of it shows.
inline QImage quadrantImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, QColor(220, 40, 40));
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, QColor(40, 180, 60));
    painter.fillRect(0, height / 2, width / 2, height - height / 2, QColor(40, 70, 220));
    painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, QColor(240, 200, 30));
    painter.end();
    return image;
}

inline QVImage quadrantPicture(int width = 64, int height = 64)
{
    return QVImage(quadrantImage(width, height));
}

inline ColorPtr testColor(const QString& name, int red, int green, int blue)
{
    return Color::withRGB(name, RGBA{double(red), double(green), double(blue), 1.0});
}

// Whether a pixel is close to a colour (each of red, green and blue within `tolerance`).
inline bool pixelNear(const QImage& image, int x, int y, const QColor& expected, int tolerance = 24)
{
    const QColor shown = image.pixelColor(x, y);
    return std::abs(shown.red() - expected.red()) <= tolerance &&
           std::abs(shown.green() - expected.green()) <= tolerance &&
           std::abs(shown.blue() - expected.blue()) <= tolerance;
}

// Writes an image under test-output/mindmap-gallery for a person to look at.
inline QString saveGalleryImage(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/mindmap-gallery");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    image.save(path);
    return path;
}

} // namespace corvex::test
