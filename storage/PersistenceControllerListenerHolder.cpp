#include "storage/PersistenceControllerListenerHolder.h"

#include "storage/PersistenceControllerListener.h"

namespace corvex {

PersistenceControllerListenerHolder::PersistenceControllerListenerHolder(
    const std::shared_ptr<PersistenceControllerListener>& listener)
    : mValue(listener)
{}

bool PersistenceControllerListenerHolder::holds(const PersistenceControllerListener* listener) const
{
    // Compared while the listener lives: an expired holder can no longer be told apart.
    const auto live = mValue.lock();
    return live && live.get() == listener;
}

} // namespace corvex
