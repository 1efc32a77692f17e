#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {

// Named notifications delivered to registered observers, in the way of the platform's
// notification centre. post() calls the matching observers synchronously on the posting
// thread, in the order they were added, over a snapshot taken when the post starts; no
// lock is held while an observer runs, so observers may add, remove and post freely.
// Safe from any thread.
class NotificationCenter
{
public:
    struct Notification
    {
        QString name;
        const void* sender = nullptr;
        QVariantMap userInfo;
    };
    using Observer = std::function<void(const Notification&)>;

    // Identifies one registration; a default-made token is no registration.
    struct ObserverToken
    {
        std::uint64_t id = 0;
        explicit operator bool() const { return id != 0; }
        friend bool operator==(ObserverToken, ObserverToken) = default;
    };

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre (never destroyed).
    static NotificationCenter& defaultCenter();

    // Calls `observer` for notifications named `name` (empty: every name) from `sender`
    // (nullptr: any sender).
    ObserverToken addObserver(const QString& name, const void* sender, Observer observer);
    // The same, tied to `target`: skipped and dropped once the target has expired, and
    // kept alive while the observer runs.
    ObserverToken addObserver(const QString& name, std::weak_ptr<void> target, const void* sender,
                              Observer observer);

    // After removal the observer is not called again, not even later in a delivery that is
    // under way on this thread. A call already running on another thread may still finish.
    void removeObserver(ObserverToken token);
    // Removes every registration tied to `target` (the object a weak target points to).
    void removeObservers(const void* target);

    void post(const QString& name, const void* sender = nullptr, const QVariantMap& userInfo = {});
    void post(const Notification& notification);

    // Registrations not yet removed (expired targets count until a post drops them).
    std::size_t observerCount() const;

private:
    struct Registration;

    void remove(const std::shared_ptr<Registration>& registration);

    mutable std::mutex mMutex;
    std::vector<std::shared_ptr<Registration>> mRegistrations;
    std::uint64_t mNextId = 1;
};

} // namespace corvex
