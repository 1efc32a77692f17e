#pragma once

#include "platform/gfx/Point.h"

#include <QCursor>
#include <QImage>
#include <QString>

namespace corvex {

// A mouse cursor: the standard shapes, the contextual-menu cursor (a small bitmap of the
// artwork, since Qt has no such shape) and custom images. set() makes a cursor current and
// shows it on the window under the pointer (the window dispatching an event, else the key
// window) through its host widget.
class Cursor
{
public:
    enum class Shape
    {
        Arrow,
        IBeam,
        PointingHand,
        OpenHand,
        ClosedHand,
        ContextualMenu,
        Custom
    };

    Cursor() = default; // the arrow
    // A custom cursor: the image at one pixel per point, the hot spot in its pixels from the
    // top left.
    Cursor(const QImage& image, Point hotSpot);

    static Cursor arrowCursor();
    static Cursor iBeamCursor();
    static Cursor pointingHandCursor();
    static Cursor openHandCursor();
    static Cursor closedHandCursor();
    // The artwork image "contextual_cursor", hot spot at the arrow's tip.
    static Cursor contextualMenuCursor();

    Shape shape() const { return mShape; }
    // Bitmap cursors only.
    const QImage& image() const { return mImage; }
    Point hotSpot() const { return mHotSpot; }
    // "arrow", "IBeam", "pointingHand", "openHand", "closedHand", "contextualMenu", "custom".
    QString name() const;
    // Needs a QGuiApplication for bitmap cursors.
    QCursor toQCursor() const;

    void set() const;
    // The cursor last set (the arrow at start).
    static Cursor currentCursor();

    friend bool operator==(const Cursor& a, const Cursor& b)
    {
        return a.mShape == b.mShape && a.mHotSpot == b.mHotSpot && a.mImage.cacheKey() == b.mImage.cacheKey();
    }

private:
    explicit Cursor(Shape shape) : mShape(shape) {}

    Shape mShape = Shape::Arrow;
    QImage mImage;
    Point mHotSpot;
};

} // namespace corvex
