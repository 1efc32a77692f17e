#include "platform/ui/Cursor.h"

#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Window.h"

#include <QPixmap>

namespace corvex {

namespace {

Cursor& current()
{
    static Cursor cursor;
    return cursor;
}

} // namespace

Cursor::Cursor(const QImage& image, Point hotSpot) : mShape(Shape::Custom), mImage(image), mHotSpot(hotSpot)
{}

Cursor Cursor::arrowCursor()
{
    return Cursor(Shape::Arrow);
}

Cursor Cursor::iBeamCursor()
{
    return Cursor(Shape::IBeam);
}

Cursor Cursor::pointingHandCursor()
{
    return Cursor(Shape::PointingHand);
}

Cursor Cursor::openHandCursor()
{
    return Cursor(Shape::OpenHand);
}

Cursor Cursor::closedHandCursor()
{
    return Cursor(Shape::ClosedHand);
}

Cursor Cursor::contextualMenuCursor()
{
    static const Cursor cursor = [] {
        Cursor c(Shape::ContextualMenu);
        const PlatformImage art = PlatformImage::imageNamed(QStringLiteral("contextual_cursor"));
        if (!art.isNull())
            c.mImage = art.representations().front();
        // The arrow's tip in the 16-pixel artwork.
        c.mHotSpot = Point(2, 2);
        return c;
    }();
    return cursor;
}

QString Cursor::name() const
{
    switch (mShape) {
    case Shape::Arrow:
        return QStringLiteral("arrow");
    case Shape::IBeam:
        return QStringLiteral("IBeam");
    case Shape::PointingHand:
        return QStringLiteral("pointingHand");
    case Shape::OpenHand:
        return QStringLiteral("openHand");
    case Shape::ClosedHand:
        return QStringLiteral("closedHand");
    case Shape::ContextualMenu:
        return QStringLiteral("contextualMenu");
    case Shape::Custom:
        return QStringLiteral("custom");
    }
    return {};
}

QCursor Cursor::toQCursor() const
{
    switch (mShape) {
    case Shape::Arrow:
        return QCursor(Qt::ArrowCursor);
    case Shape::IBeam:
        return QCursor(Qt::IBeamCursor);
    case Shape::PointingHand:
        return QCursor(Qt::PointingHandCursor);
    case Shape::OpenHand:
        return QCursor(Qt::OpenHandCursor);
    case Shape::ClosedHand:
        return QCursor(Qt::ClosedHandCursor);
    case Shape::ContextualMenu:
    case Shape::Custom:
        if (mImage.isNull())
            return QCursor(Qt::ArrowCursor);
        return QCursor(QPixmap::fromImage(mImage), int(mHotSpot.x), int(mHotSpot.y));
    }
    return QCursor(Qt::ArrowCursor);
}

void Cursor::set() const
{
    current() = *this;
    if (Window* window = Window::cursorWindow())
        window->setCursor(*this);
}

Cursor Cursor::currentCursor()
{
    return current();
}

} // namespace corvex
