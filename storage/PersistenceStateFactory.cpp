#include "storage/PersistenceStateFactory.h"

#include <map>
#include <mutex>

namespace corvex {

namespace {

std::mutex& makersMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<StorageLocation, PersistenceStateFactory::Maker>& makers()
{
    static std::map<StorageLocation, PersistenceStateFactory::Maker> table;
    return table;
}

} // namespace

PersistenceStateFactory::Maker PersistenceStateFactory::registerMaker(StorageLocation location, Maker maker)
{
    std::lock_guard lock(makersMutex());
    auto& table = makers();
    Maker previous;
    if (auto it = table.find(location); it != table.end()) {
        previous = std::move(it->second);
        table.erase(it);
    }
    if (maker)
        table.emplace(location, std::move(maker));
    return previous;
}

bool PersistenceStateFactory::hasMaker(StorageLocation location)
{
    std::lock_guard lock(makersMutex());
    return makers().count(location) != 0;
}

PersistenceStatePtr PersistenceStateFactory::create(StorageLocation location)
{
    Maker maker;
    {
        std::lock_guard lock(makersMutex());
        auto it = makers().find(location);
        if (it == makers().end())
            return nullptr;
        maker = it->second;
    }
    // Outside the lock: a back end may call back into the storage layer while it starts.
    return maker();
}

} // namespace corvex
