#include "mindmap/DocumentWindowServices.h"

#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace corvex {

DocumentWindowServices::~DocumentWindowServices() = default;

DocumentWindowServices* DocumentWindowServices::forView(const View& view)
{
    return dynamic_cast<DocumentWindowServices*>(view.window());
}

} // namespace corvex
