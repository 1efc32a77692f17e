#pragma once

#include "storage/IdeaProxy.h"
#include "toolkit/BaseView.h"

#include <memory>

namespace corvex {

class IdeaViewForIPadListItem;
class SmallDockView;

// One document of the grid (250 x 250, centred on its 218-point slot): the planet in the
// middle and, in docking mode, the insertion marker on the slot's left boundary. Made by the
// grid's pool with create() and given everything afterwards, so a reused item shows nothing
// of its previous document. Main thread only.
class NormalIdeaListItemForIPad : public BaseView
{
public:
    static constexpr double PreferredWidth = 218;
    static constexpr double StandardHeight = 218;
    static constexpr double Side = 250;

    // Unprepared: use create().
    NormalIdeaListItemForIPad();
    ~NormalIdeaListItemForIPad() override;
    static std::shared_ptr<NormalIdeaListItemForIPad> create();

    const std::shared_ptr<IdeaViewForIPadListItem>& ideaView() const { return mIdeaView; }
    const std::shared_ptr<SmallDockView>& smallDock() const { return mSmallDockView; }
    const IdeaProxyPtr& ideaProxy() const { return mIdeaProxy; }
    void setIdeaProxy(const IdeaProxyPtr& proxy);
    // The document identifier: the grid's key of the item.
    QString key() const;

    bool dockingMode() const { return mDockingMode; }
    float focusStrength() const { return mFocusStrength; }
    void setFocusStrength(float strength);
    void setDockingMode(bool dockingMode);
    void updateDockingMode(bool dockingMode, float focusStrength);

    // Only the planet answers.
    View* hitTest(Point pointInSuperview) override;
    QString className() const override;

private:
    void updateView();

    IdeaProxyPtr mIdeaProxy;
    std::shared_ptr<IdeaViewForIPadListItem> mIdeaView;
    std::shared_ptr<SmallDockView> mSmallDockView;
    bool mDockingMode = false;
    float mFocusStrength = 0;
};

} // namespace corvex
