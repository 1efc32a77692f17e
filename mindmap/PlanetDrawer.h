#pragma once

#include "graphics/QVImage.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <QtGlobal>
#include <memory>

namespace corvex {

class Color;
class GraphicsContext;
class IconImage;
class TextFrame;

// Draws one planet, the circular picture of an idea: a coloured disc with a white rim or a
// picture clipped to a circle, the title set inside the circle, the emoji icon, the dots of
// sub-ideas, the note badge (a number or the note mark), the web-link mark, the dotted ring
// of a link idea and the faded state. Also the planet sizes and title font sizes of every
// planet type:
//
//   type 0 planet on the orbit (and any unknown type), 1 central idea, 2 editor example
//   planet, 3 editor example dot, 4 overview root, 5 overview node, 6 home-grid planet.
//
// Drawing space: a square of side scaledSize() with its origin at the top-left corner and
// y pointing down (the planet layers live in a flipped tree; any other caller sets its
// context up the same way).
//
// Threads: a drawer is used by one thread at a time and may live on any thread; the images
// it loads come from the thread-safe named-image cache and are copied into the drawer, so
// drawers on several threads draw the same bytes. The static functions only read settings.
class PlanetDrawer
{
public:
    explicit PlanetDrawer(quint64 planetType);
    ~PlanetDrawer();
    PlanetDrawer(const PlanetDrawer&) = delete;
    PlanetDrawer& operator=(const PlanetDrawer&) = delete;

    // The radius (unscaled) of a planet type; unknown types answer type 0's.
    static float radiusForPlanetType(quint64 planetType);
    // The drawing square (unscaled) of a planet type: 2.5 radii a side.
    static Size sizeForPlanetType(quint64 planetType);
    // The title font size of a planet type for the current text size factor (a factor below
    // 4 counts as 3, above 6 as 7).
    static float fontSizeForPlanetType(quint64 planetType);
    // The same for a given text size factor (clamped as above).
    static float fontSizeForPlanetType(quint64 planetType, qint64 fontSizeFactor);

    quint64 planetType() const { return mPlanetType; }

    // Font size from the planet type and the title colour from the contrast setting.
    void updateAppearance();

    // A non-null colour drops the picture, then updateAppearance runs.
    void setBaseColor(const std::shared_ptr<Color>& color);
    const std::shared_ptr<Color>& baseColor() const { return mBaseColor; }
    // A non-null picture drops the colour (no updateAppearance).
    void setImage(const QVImage& image);
    const QVImage& image() const { return mPlanetUserImage; }

    // Loads or drops the web-link mark; showWebLink answers whether it is loaded.
    void setShowWebLink(bool show);
    bool showWebLink() const { return !mWebLinkIndicatorImage.isNull(); }

    void setScale(float scale) { mScale = scale; }
    float scale() const { return mScale; }
    Size scaledSize() const;
    float scaledRadius() const;
    Point scaledCenter() const;
    // The unscaled radius and drawing square of the type.
    float radius() const { return mRadius; }
    Size size() const { return mSize; }

    void setIconImage(const std::shared_ptr<IconImage>& icon) { mIconImage = icon; }
    const std::shared_ptr<IconImage>& iconImage() const { return mIconImage; }
    // A picture drawn in the icon square in place of the icon's own symbol picture, for a
    // caller that holds the picture already (the reference renderings of the tests); the
    // planet counts as having an icon while either is set.
    void setIconPicture(const PlatformImage& picture) { mIconPicture = picture; }
    const PlatformImage& iconPicture() const { return mIconPicture; }
    bool hasIcon() const { return mIconImage || !mIconPicture.isNull(); }
    // A null string draws no title.
    void setText(const QString& text) { mText = text; }
    const QString& text() const { return mText; }
    void setTextColor(const PlatformColor& color) { mTextColor = color; }
    const PlatformColor& textColor() const { return mTextColor; }
    void setFontSize(float size) { mFontSize = size; }
    float fontSize() const { return mFontSize; }
    // 0 no badge, above 0 that number, below 0 the note mark.
    void setNoteNumber(qint64 number) { mNoteNumber = number; }
    qint64 noteNumber() const { return mNoteNumber; }
    void setIsLink(bool isLink) { mIsLink = isLink; }
    bool isLink() const { return mIsLink; }
    void setFade(bool fade) { mFade = fade; }
    bool fade() const { return mFade; }
    void setShowOrbit(bool show) { mShowOrbit = show; }
    bool showOrbit() const { return mShowOrbit; }
    // Accepted and handed on; the drawing is the same either way.
    void setApproximateRendering(bool approximate) { mApproximateRendering = approximate; }
    bool approximateRendering() const { return mApproximateRendering; }

    // Draws the planet into the drawing space (y-down, origin top-left).
    void drawInCurrentContext(GraphicsContext& context);

    // The note badge's rectangle in the drawing space.
    Rect noteRect() const;
    // Whether a point (relative to the planet's centre, drawing units) hits the note badge
    // with its margins (9 left, 7 right, 5 above, 8 below, scaled). False without a note.
    bool hitsNote(Point point) const;

    // ---- Steps of the drawing ----
    // The title in the circle (text radius round(0.95 radius)).
    void drawText(GraphicsContext& context);
    void drawTextWithIcon(GraphicsContext& context, double textRadius);
    void drawTextInCircle(GraphicsContext& context, double textRadius);
    // The title string: Helvetica of fontSize, textColor, centred, line spacing 2, minimum
    // and maximum line height fontSize.
    AttributedString newAttributedString() const;
    // The same for any title, size and colour (the home grid's planets set theirs alike).
    static AttributedString titleString(const QString& text, double fontSize, const PlatformColor& color);
    // The text area inside a circle of radius t around (t, t), y-up: the disc cut by a chord
    // 0.55 t below the centre and one k t above it (k 0.475 with an icon, 0.70 without).
    static Path textAreaPath(double textRadius, bool withIcon);
    // The vertical move (positive up) that brings a typeset block toward `desiredCenter`
    // within the bounds; forwards to textFrameCentringOffset.
    static double calculateOffsetToPositionTextInFrame(const TextFrame& frame, double desiredCenter,
                                                       double lowerBound, double upperBound,
                                                       GraphicsContext& context);
    void drawLinkIndicator(GraphicsContext& context);
    void drawFading(GraphicsContext& context);
    // The note number printed "%03d" in full 64 bits (Helvetica 11, white).
    AttributedString newAttributedNoteNumberString() const;
    void drawNoteNumber(GraphicsContext& context, const Rect& rect);

    // The images the drawer loaded (null when their artwork is missing).
    const PlatformImage& subPlanetIndicatorImage() const { return mSubPlanetIndicatorImage; }
    const PlatformImage& noteIndicatorImage() const { return mNoteIndicatorImage; }

private:
    void drawWithoutPicture(GraphicsContext& context);
    void drawWithPicture(GraphicsContext& context, const QImage& picture);
    void drawTextInArea(GraphicsContext& context, double textRadius, bool withIcon);
    void drawSubPlanetIndicator(GraphicsContext& context, bool withNote);
    void drawIcon(GraphicsContext& context);
    void drawWebLink(GraphicsContext& context);
    Rect discRect() const;

    QVImage mPlanetUserImage;
    PlatformImage mSubPlanetIndicatorImage;
    PlatformImage mNoteIndicatorImage;
    PlatformImage mWebLinkIndicatorImage;
    quint64 mPlanetType = 0;
    float mRadius = 56;
    Size mSize;
    bool mShowOrbit = false;
    bool mIsLink = false;
    bool mFade = false;
    bool mApproximateRendering = false;
    float mScale = 1.0f;
    float mFontSize = 0;
    std::shared_ptr<Color> mBaseColor;
    std::shared_ptr<IconImage> mIconImage;
    PlatformImage mIconPicture;
    PlatformColor mTextColor;
    QString mText;
    qint64 mNoteNumber = 0;
};

} // namespace corvex
