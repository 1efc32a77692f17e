#pragma once

#include "toolkit/BaseView.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <utility>

namespace corvex {

class Layer;

// The base view of one idea shown as a planet outside the orbit layers: a square view backed
// by the layer handed to it (a PlanetLayer for a SimpleIdeaView; the home grid's items bring
// their own), with a role that fixes its size, a circular hit test, press feedback and the
// identifiers of the shown idea and its document.
//
// Roles: 1 central idea of the mind map (radius 76), 2 home-grid item (93), 3 docked idea or
// drag image (56); any other role is sized as 3. The view's side is 2.5 x the radius.
//
// Construction is in two phases like every BaseView: use create() or makeWithRole<T>() for
// subclasses (T's constructor takes the role first). Main thread only.
class IdeaView : public BaseView
{
public:
    // Unprepared: use the factories.
    explicit IdeaView(quint64 role);
    ~IdeaView() override;

    // A view of the role hosting `layer` (it keeps its own anchor point), frame
    // (0, 0, side, side).
    static std::shared_ptr<IdeaView> create(quint64 role, const std::shared_ptr<Layer>& layer);

    // T constructed from (role, args...), hosting `layer`, then prepared.
    template <class T, class... Args>
    static std::shared_ptr<T> makeWithRole(quint64 role, const std::shared_ptr<Layer>& layer, Args&&... args)
    {
        auto view = BaseView::makeWithCustomLayer<T>(layer, role, std::forward<Args>(args)...);
        static_cast<IdeaView&>(*view).prepareIdeaView();
        return view;
    }

    // 93 for role 2, the radius of planet type 1 for role 1, of type 0 for every other role.
    static float radiusForRole(quint64 role);
    // 2.5 x radiusForRole.
    static float sideLengthForRole(quint64 role);

    QString className() const override;

    quint64 role() const { return mRole; }
    // The role's radius truncated to whole points; it does not follow setScale.
    float radius() const { return mRadius; }

    // Restyles after a change of the text size or contrast settings; nothing here.
    virtual void updateAppearance();

    // The view itself when the point (superview coordinates) lies less than `radius` from
    // the frame's centre, else null. Subviews are never answered.
    View* hitTest(Point pointInSuperview) override;

    // Press feedback: scales to 0.95 over 0.2 s (ease in, ease out) through setScale.
    void startTapAnimation();
    // Back to the identity transform over 2.0 s, and once more 0.3 s later over 1.2 s (the
    // pending step keeps the view alive until it has run).
    void stopTapAnimation();

    // Here the transform scale of the view's layer (ViewExtensions::setScale); subclasses that
    // draw at a scale of their own override it.
    virtual void setScale(double scale);

    // The title naming a dragged idea, and a twin view used as the drag image: null and
    // nullptr here.
    virtual QString representativeTitle() const;
    virtual std::shared_ptr<IdeaView> copyForDragging() const;

    virtual void setShadowMode(bool on) { mShadowMode = on; }
    bool shadowMode() const { return mShadowMode; }
    void setDocIdentifier(const QString& identifier) { mDocIdentifier = identifier; }
    const QString& docIdentifier() const { return mDocIdentifier; }
    void setIdeaIdentifier(const QString& identifier) { mIdeaIdentifier = identifier; }
    const QString& ideaIdentifier() const { return mIdeaIdentifier; }

protected:
    // Frame (0, 0, side, side) of the role.
    void prepareIdeaView();

private:
    quint64 mRole = 0;
    float mRadius = 0;
    bool mShadowMode = false;
    QString mDocIdentifier;
    QString mIdeaIdentifier;
};

} // namespace corvex
