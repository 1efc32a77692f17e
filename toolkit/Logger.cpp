#include "toolkit/Logger.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace corvex {

namespace {

// One registered object: its identity taken at registration, and the object itself held
// weakly, so that a sweep can tell a lost one. Holders are equal when their identities are.
struct EqualityHolder
{
    const void* identity = nullptr;
    std::weak_ptr<const void> target;

    bool targetLost() const { return target.expired(); }
    QString description() const
    {
        return QStringLiteral("<EqualityHolder: 0x%1>").arg(QString::number(quintptr(identity), 16));
    }
};

struct Registry
{
    std::recursive_mutex mutex;
    std::vector<EqualityHolder> holders;
    std::size_t highWaterMark = 0;
};

Registry& registry()
{
    static Registry instance;
    static const bool announced = (Log::info(QStringLiteral("Initializing Logger")), true);
    (void)announced;
    return instance;
}

auto findHolder(std::vector<EqualityHolder>& holders, const void* identity)
{
    return std::find_if(holders.begin(), holders.end(),
                        [identity](const EqualityHolder& holder) { return holder.identity == identity; });
}

} // namespace

bool Logger::addTraceableIdentity(const void* identity, std::shared_ptr<const void> object)
{
    if (!identity)
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (findHolder(r.holders, identity) != r.holders.end())
        return false;
    r.holders.push_back(EqualityHolder{identity, std::move(object)});
    if (r.holders.size() <= r.highWaterMark)
        return true;
    // Lost holders are swept only when the set grows past its size after the last sweep.
    const std::vector<EqualityHolder> snapshot = r.holders;
    for (const EqualityHolder& holder : snapshot) {
        if (!holder.targetLost())
            continue;
        Log::info(QStringLiteral("Removing holder %1").arg(holder.description()));
        r.holders.erase(findHolder(r.holders, holder.identity));
    }
    r.highWaterMark = std::max(r.highWaterMark, r.holders.size());
    return true;
}

bool Logger::removeTraceableIdentity(const void* identity)
{
    if (!identity)
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = findHolder(r.holders, identity);
    if (it == r.holders.end())
        return false;
    r.holders.erase(it);
    return true;
}

bool Logger::canLogIdentity(const void* identity)
{
    if (!identity)
        return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return findHolder(r.holders, identity) != r.holders.end();
}

QString Logger::traceLine(int number, const char* method, const QString& text)
{
    return QString::asprintf("%.3i %s ", number, method ? method : "") + text;
}

void Logger::writeTrace(int number, const char* method, const QString& text)
{
    Log::info(traceLine(number, method, text));
}

int Logger::holderCount()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return int(r.holders.size());
}

int Logger::highWaterMark()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return int(r.highWaterMark);
}

void Logger::reset()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.holders.clear();
    r.highWaterMark = 0;
}

} // namespace corvex
