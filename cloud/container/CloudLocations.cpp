#include "cloud/container/CloudLocations.h"

#include "cloud/container/CloudMode.h"
#include "storage/PersistenceStateFactory.h"

namespace corvex {

void registerCloudLocations()
{
    PersistenceStateFactory::registerMaker(IdeaDocument::ICloudLocation,
                                           [] { return PersistenceStatePtr(CloudMode::create()); });
}

} // namespace corvex
