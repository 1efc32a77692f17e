#pragma once

#include "graphics/QVImage.h"
#include "mindmap/IdeaView.h"
#include "platform/core/NotificationCenter.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

namespace corvex {

class Color;
class IconImage;
class Idea;
class PlanetLayer;

// An idea view that shows one idea through its own PlanetLayer: the central idea of the mind
// map (role 1, planet type 1), a home-grid planet (role 2, type 6), a docked idea or a drag
// image (role 3 and any other role, type 0). A new view shows a grey disc (red, green and blue
// 0.5) until a colour or picture is set. It follows the appearance settings (text size,
// contrast) from construction to destruction. Docked ideas and drag images (role 3) never
// take the mouse. Main thread only.
class SimpleIdeaView : public IdeaView
{
public:
    // Unprepared: use the factories.
    explicit SimpleIdeaView(quint64 role);
    ~SimpleIdeaView() override;

    // A view of the role over a new planet layer of the role's planet type.
    static std::shared_ptr<SimpleIdeaView> create(quint64 role);
    // The same, with a title.
    static std::shared_ptr<SimpleIdeaView> create(const QString& text, quint64 role);

    // 1 for role 1, 6 for role 2, 0 for every other role.
    static quint64 planetTypeForRole(quint64 role);

    QString className() const override;

    // The view's own backing layer.
    const std::shared_ptr<PlanetLayer>& planetLayer() const { return mPlanetLayer; }

    // Font size and title colour anew from the settings, then a redraw.
    void appearanceSettingsChanged();
    void updateAppearance() override;

    // ---- Forwarded to the planet layer ----
    void setBaseColor(const std::shared_ptr<Color>& color);
    std::shared_ptr<Color> baseColor() const;
    void setImage(const QVImage& image);
    QVImage image() const;
    void setIconImage(const std::shared_ptr<IconImage>& icon);
    std::shared_ptr<IconImage> iconImage() const;
    void setIsLink(bool isLink);
    bool isLink() const;
    // std::nullopt for no note; any string, also an empty one, shows the note mark.
    void setNote(std::optional<QString> note);
    std::optional<QString> note() const;
    bool hasNote() const;
    void setHasWebLink(bool hasWebLink);
    bool hasWebLink() const;
    void setShowOrbit(bool show);
    bool showOrbit() const;
    QString text() const;
    double scale() const;

    // A new title, redrawn.
    void changeText(const QString& text);
    // The planet drawn at `scale`, the frame a square of side sideLengthForRole x scale
    // around the frame's old centre. radius() does not change.
    void setScale(double scale) override;
    // Null for role 3; otherwise the circular test of IdeaView.
    View* hitTest(Point pointInSuperview) override;
    // Whether a point in the view's coordinates lies on the note badge (with its margins).
    bool hitsNote(Point point) const;
    // When changed, also the planet layer's (opacity 0.5 or 1.0).
    void setShadowMode(bool on) override;

    QString representativeTitle() const override;
    // A role-3 twin: same title and identifiers, z position 1, and the same colour, picture,
    // icon, note, web-link mark, sub-idea dots and link flag.
    std::shared_ptr<IdeaView> copyForDragging() const override;

    // Fills the view from an idea: title, note, icon, web-link mark, colour, picture, idea
    // identifier and the given document identifier (sub-idea dots and link flag untouched).
    // A null idea is logged as an assertion failure and leaves no title, note, icon, colour
    // or picture.
    void updateWithIdea(const Idea* idea, const QString& docIdentifier);

protected:
    // The planet type by role, the grey colour and the appearance observer.
    void prepareSimpleIdeaView();

private:
    static std::shared_ptr<SimpleIdeaView> makeSimpleIdeaView(quint64 role);

    std::shared_ptr<PlanetLayer> mPlanetLayer;
    NotificationCenter::ObserverToken mAppearanceObserver;
};

} // namespace corvex
