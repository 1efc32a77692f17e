#pragma once

#include "storage/IdeaDocument.h"
#include "storage/PersistenceState.h"

#include <functional>

namespace corvex {

// Where the persistence controller gets the storage back end of a cloud location: each back
// end registers a maker for its location (the iCloud mode for 2, the Dropbox mode for 3),
// and tests register the in-process back end. Without a maker a location has no back end.
//
// Any thread. A maker runs without any lock held: a back end may reach the persistence
// controller (and even this factory) while it starts.
class PersistenceStateFactory
{
public:
    using Maker = std::function<PersistenceStatePtr()>;

    PersistenceStateFactory() = delete;

    // Installs the maker for the location (an empty one removes it) and answers the
    // previous one (empty when there was none).
    static Maker registerMaker(StorageLocation location, Maker maker);
    static bool hasMaker(StorageLocation location);
    // A new back end from the location's maker; null without a maker or when the maker
    // makes none.
    static PersistenceStatePtr create(StorageLocation location);
};

} // namespace corvex
