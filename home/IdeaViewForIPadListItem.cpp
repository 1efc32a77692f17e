#include "home/IdeaViewForIPadListItem.h"

#include "home/HomePlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/DrawnColor.h"
#include "platform/ui/Layer.h"

namespace corvex {

namespace {
constexpr quint64 kHomeListRole = 2;
constexpr quint64 kDraggedDocumentRole = 3;
} // namespace

IdeaViewForIPadListItem::IdeaViewForIPadListItem(quint64 role, std::shared_ptr<HomePlanetLayer> layer)
    : IdeaView(role), mHomePlanetLayer(std::move(layer))
{}

IdeaViewForIPadListItem::~IdeaViewForIPadListItem() = default;

std::shared_ptr<IdeaViewForIPadListItem> IdeaViewForIPadListItem::create()
{
    auto layer = HomePlanetLayer::create();
    return IdeaView::makeWithRole<IdeaViewForIPadListItem>(kHomeListRole, layer, layer);
}

QString IdeaViewForIPadListItem::className() const
{
    return QStringLiteral("IdeaViewForIPadListItem");
}

void IdeaViewForIPadListItem::updateWithProxy(const IdeaProxyPtr& proxy)
{
    setDocIdentifier(proxy ? proxy->docIdentifier() : QString());
    mProxy = proxy;
    // The planet layer backs this view: it asks for a redraw only when its picture changes.
    mHomePlanetLayer->updateWithProxy(proxy);
}

void IdeaViewForIPadListItem::updateAppearance()
{
    mHomePlanetLayer->updateAppearance();
}

void IdeaViewForIPadListItem::setShadowMode(bool on)
{
    IdeaView::setShadowMode(on);
    mHomePlanetLayer->setShadowMode(on);
}

std::shared_ptr<IdeaView> IdeaViewForIPadListItem::copyForDragging() const
{
    if (!mProxy)
        return nullptr;
    auto copy = SimpleIdeaView::create(mProxy->text(), kDraggedDocumentRole);
    copy->setIdeaIdentifier(QString());
    copy->setDocIdentifier(mProxy->docIdentifier());
    copy->setBaseColor(DrawnColor::ofRoot(mProxy->color()));
    if (mProxy->image().hasImage())
        copy->setImage(mProxy->image());
    copy->setIconImage(mProxy->iconImage());
    copy->setNote(mProxy->hasNote() ? std::optional<QString>(QStringLiteral("note")) : std::nullopt);
    copy->setHasWebLink(mProxy->hasWebLink());
    copy->setShowOrbit(mProxy->itemCount() > 1);
    copy->layer()->setZPosition(1);
    return copy;
}

} // namespace corvex
