#pragma once

#include <memory>

namespace corvex {

class PersistenceControllerListener;

// One entry of the persistence controller's listener list: a weak reference, so that the
// list never keeps a screen alive. A holder whose listener has gone away stays in the list
// and is skipped.
class PersistenceControllerListenerHolder
{
public:
    explicit PersistenceControllerListenerHolder(
        const std::shared_ptr<PersistenceControllerListener>& listener);

    // The listener while it lives, else nullptr.
    std::shared_ptr<PersistenceControllerListener> value() const { return mValue.lock(); }
    // The holder was made for this listener and it still lives.
    bool holds(const PersistenceControllerListener* listener) const;

private:
    std::weak_ptr<PersistenceControllerListener> mValue;
};

} // namespace corvex
