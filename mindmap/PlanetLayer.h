#pragma once

#include "graphics/QVImage.h"
#include "mindmap/PlanetDrawer.h"
#include "platform/gfx/PlatformColor.h"
#include "toolkit/BaseLayer.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

namespace corvex {

class Color;
class IconImage;
class Idea;

// The layer of one planet: a BaseLayer that owns one PlanetDrawer, forwards the planet's
// properties to it, draws through it and keeps the identifiers of the idea and document it
// shows. Its bounds are the drawer's drawing square, so its own coordinates are the
// drawer's drawing space (the drawing comes out upright whether the layer's tree is flipped
// or not).
//
// A layer made with the default constructor has no drawer until setPlanetType: every
// forwarded getter answers null or zero, every forwarded setter does nothing and nothing is
// drawn. Make layers with create() / create(type) (or BaseLayer::make<PlanetLayer>), which
// run the base preparation. Main thread only.
class PlanetLayer : public BaseLayer
{
public:
    // Without a drawer; not opaque, marked for display.
    PlanetLayer();
    // Of a planet type: the drawer, the frame (0, 0, scaledSize), not opaque.
    explicit PlanetLayer(quint64 planetType);
    // The presentation copy: the same planet type, the same drawer object, the shadow mode.
    PlanetLayer(const PlanetLayer& other);
    ~PlanetLayer() override;

    static std::shared_ptr<PlanetLayer> create();
    static std::shared_ptr<PlanetLayer> create(quint64 planetType);

    static float radiusForPlanetType(quint64 planetType)
    {
        return PlanetDrawer::radiusForPlanetType(planetType);
    }

    QString className() const override;

    // A new drawer of the type, taking over from the old one (when there was one) the base
    // colour, picture, dots flag, scale, title, font size, icon, note number and title colour
    // (not the link ring or the web-link mark); marks the layer for display.
    void setPlanetType(quint64 planetType);
    quint64 planetType() const { return mPlanetType; }
    // The drawer (null before a planet type is set); shared with presentation copies.
    const std::shared_ptr<PlanetDrawer>& planetDrawer() const { return mPlanetDrawer; }

    // Fills the planet from an idea: text, colour, picture, icon, note, web-link mark,
    // identifier, dots (when it has children), link ring, document identifier. A null idea
    // changes nothing (logged).
    void updateWithIdea(const Idea* idea, const QString& docIdentifier);

    // ---- Forwarded to the drawer ----
    // These four also mark the layer for display.
    void setBaseColor(const std::shared_ptr<Color>& color);
    std::shared_ptr<Color> baseColor() const;
    void setImage(const QVImage& image);
    QVImage image() const;
    void setIconImage(const std::shared_ptr<IconImage>& icon);
    std::shared_ptr<IconImage> iconImage() const;
    void setText(const QString& text);
    QString text() const;
    // These only forward; the next drawing uses them.
    void setFontSize(float size);
    float fontSize() const;
    void setTextColor(const PlatformColor& color);
    PlatformColor textColor() const;
    void setShowOrbit(bool show);
    bool showOrbit() const;
    void setShowWebLink(bool show);
    bool showWebLink() const;
    void setIsLink(bool isLink);
    bool isLink() const;
    void setApproximateRendering(bool approximate);
    bool approximateRendering() const;

    // The idea's note: std::nullopt for none; any string, also an empty one, shows the note
    // mark (note number -1). No redraw by itself.
    void setNote(std::optional<QString> note);
    const std::optional<QString>& note() const { return mNote; }
    bool showNote() const { return mNote.has_value(); }

    // Nothing when equal to the drawer's scale; otherwise sets it and marks for display. The
    // frame stays.
    void setScale(double scale);
    double scale() const;
    // Keeps the frame's origin, sets its size to the drawer's scaledSize.
    void resizeToScale();
    // Scale = r / the type's radius, frame (0, 0, scaledSize); no redraw by itself.
    void setRadius(float radius);
    float radius() const;

    // Half transparent when on (opacity 0.5), else opacity 1; nothing when unchanged.
    void setShadowMode(bool on);
    bool shadowMode() const { return mShadowMode; }

    // Font size and title colour anew from the settings; marks for display.
    void updateAppearance();

    // Whether a point in the layer's own coordinates hits the note badge (false without a
    // note or drawer).
    bool hitsNote(Point point) const;

    void setIdeaIdentifier(const QString& identifier) { mIdeaIdentifier = identifier; }
    const QString& ideaIdentifier() const { return mIdeaIdentifier; }
    void setDocIdentifier(const QString& identifier) { mDocIdentifier = identifier; }
    const QString& docIdentifier() const { return mDocIdentifier; }

    void drawInContext(GraphicsContext& context) override;

private:
    quint64 mPlanetType = 0;
    std::shared_ptr<PlanetDrawer> mPlanetDrawer;
    std::optional<QString> mNote;
    bool mShadowMode = false;
    QString mIdeaIdentifier;
    QString mDocIdentifier;
};

} // namespace corvex
