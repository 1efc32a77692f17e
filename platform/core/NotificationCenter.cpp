#include "platform/core/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace corvex {

struct NotificationCenter::Registration
{
    std::uint64_t id = 0;
    QString name;
    const void* sender = nullptr;
    bool hasTarget = false;
    std::weak_ptr<void> target;
    const void* targetAddress = nullptr;
    Observer observer;
    // Set under the centre's lock by removal; read by deliveries without it.
    std::atomic<bool> removed{false};

    bool matches(const Notification& notification) const
    {
        return (name.isEmpty() || name == notification.name) &&
               (sender == nullptr || sender == notification.sender);
    }
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: objects with static lifetime may still post or remove while the
    // process exits.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const QString& name, const void* sender,
                                                                  Observer observer)
{
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->sender = sender;
    registration->observer = std::move(observer);
    std::lock_guard lock(mMutex);
    registration->id = mNextId++;
    mRegistrations.push_back(registration);
    return ObserverToken{registration->id};
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(const QString& name,
                                                                  std::weak_ptr<void> target,
                                                                  const void* sender, Observer observer)
{
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->sender = sender;
    registration->hasTarget = true;
    registration->targetAddress = target.lock().get();
    registration->target = std::move(target);
    registration->observer = std::move(observer);
    std::lock_guard lock(mMutex);
    registration->id = mNextId++;
    mRegistrations.push_back(registration);
    return ObserverToken{registration->id};
}

void NotificationCenter::removeObserver(ObserverToken token)
{
    if (!token)
        return;
    std::lock_guard lock(mMutex);
    auto it = std::find_if(mRegistrations.begin(), mRegistrations.end(),
                           [&](const auto& registration) { return registration->id == token.id; });
    if (it != mRegistrations.end()) {
        (*it)->removed = true;
        mRegistrations.erase(it);
    }
}

void NotificationCenter::removeObservers(const void* target)
{
    if (target == nullptr)
        return;
    std::lock_guard lock(mMutex);
    std::erase_if(mRegistrations, [&](const auto& registration) {
        if (!registration->hasTarget || registration->targetAddress != target)
            return false;
        registration->removed = true;
        return true;
    });
}

void NotificationCenter::remove(const std::shared_ptr<Registration>& registration)
{
    std::lock_guard lock(mMutex);
    registration->removed = true;
    std::erase(mRegistrations, registration);
}

void NotificationCenter::post(const QString& name, const void* sender, const QVariantMap& userInfo)
{
    post(Notification{name, sender, userInfo});
}

void NotificationCenter::post(const Notification& notification)
{
    std::vector<std::shared_ptr<Registration>> snapshot;
    {
        std::lock_guard lock(mMutex);
        std::erase_if(mRegistrations, [&](const auto& registration) {
            if (registration->hasTarget && registration->target.expired()) {
                registration->removed = true;
                return true;
            }
            if (registration->matches(notification))
                snapshot.push_back(registration);
            return false;
        });
    }
    for (const auto& registration : snapshot) {
        if (registration->removed.load(std::memory_order_acquire))
            continue;
        if (registration->hasTarget) {
            const std::shared_ptr<void> target = registration->target.lock();
            if (!target) {
                remove(registration);
                continue;
            }
            registration->observer(notification);
        } else {
            registration->observer(notification);
        }
    }
}

std::size_t NotificationCenter::observerCount() const
{
    std::lock_guard lock(mMutex);
    return mRegistrations.size();
}

} // namespace corvex
