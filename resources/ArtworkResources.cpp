#include "resources/ArtworkResources.h"

#include <QtCore/qglobal.h>
#include <mutex>

// Q_INIT_RESOURCE must be used at global scope.
static void registerArtwork()
{
    Q_INIT_RESOURCE(images);
}

namespace corvex {

void initArtworkResources()
{
    static std::once_flag once;
    std::call_once(once, registerArtwork);
}

} // namespace corvex
