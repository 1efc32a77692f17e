#pragma once

#include "mindmap/IdeaView.h"
#include "storage/IdeaProxy.h"

#include <memory>

namespace corvex {

class HomePlanetLayer;

// The planet of one grid item: an idea view of role 2 (radius 93, side 232.5, y-up) drawn by
// a HomePlanetLayer from the document's summary. Main thread only.
class IdeaViewForIPadListItem : public IdeaView
{
public:
    // Unprepared: use create().
    IdeaViewForIPadListItem(quint64 role, std::shared_ptr<HomePlanetLayer> layer);
    ~IdeaViewForIPadListItem() override;
    static std::shared_ptr<IdeaViewForIPadListItem> create();

    void updateWithProxy(const IdeaProxyPtr& proxy);
    const IdeaProxyPtr& proxy() const { return mProxy; }
    const std::shared_ptr<HomePlanetLayer>& homePlanetLayer() const { return mHomePlanetLayer; }

    void updateAppearance() override;
    void setShadowMode(bool on) override;
    // A planet that stands for the document while it is dragged.
    std::shared_ptr<IdeaView> copyForDragging() const override;
    bool isFlipped() const override { return false; }
    QString className() const override;

private:
    std::shared_ptr<HomePlanetLayer> mHomePlanetLayer;
    IdeaProxyPtr mProxy;
};

} // namespace corvex
