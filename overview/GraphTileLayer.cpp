#include "overview/GraphTileLayer.h"

#include "model/Globals.h"
#include "platform/ui/LayerAction.h"

#include <map>

namespace corvex {

std::shared_ptr<GraphTileLayer> GraphTileLayer::create(double side)
{
    auto layer = std::make_shared<GraphTileLayer>();
    layer->setContentsScale(Globals::screenScale());
    std::map<QString, LayerAction> actions;
    for (const char* key : {"onOrderIn", "onOrderOut", "sublayers", "contents", "bounds", "position"})
        actions.emplace(QString::fromLatin1(key), LayerAction::null());
    layer->setActions(actions);
    layer->setFrame(Rect(0, 0, side, side));
    return layer;
}

void GraphTileLayer::setImage(const QImage& image)
{
    mImage = image;
    // The image is the contents as it is: no drawing pass is needed.
    setContents(image);
}

} // namespace corvex
