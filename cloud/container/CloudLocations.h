#pragma once

namespace corvex {

// Plugs the cloud back ends into the storage facade: PersistenceStateFactory makes a
// CloudMode (over the synced container folder, CloudServices::standard) for the iCloud
// location (2). The application shell calls it once at start-up, before the persistence
// controller is first used; tests call it themselves. Calling it again changes nothing.
void registerCloudLocations();

} // namespace corvex
