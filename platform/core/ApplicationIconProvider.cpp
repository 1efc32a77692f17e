#include "platform/core/ApplicationIconProvider.h"

#include <mutex>
#include <utility>

namespace corvex {

namespace {

std::mutex& iconProviderMutex()
{
    static std::mutex mutex;
    return mutex;
}

ApplicationIconProvider::Provider& iconProvider()
{
    static ApplicationIconProvider::Provider provider;
    return provider;
}

} // namespace

ApplicationIconProvider::Provider ApplicationIconProvider::install(Provider provider)
{
    std::lock_guard lock(iconProviderMutex());
    return std::exchange(iconProvider(), std::move(provider));
}

std::optional<ApplicationIcon> ApplicationIconProvider::applicationIcon()
{
    Provider provider;
    {
        std::lock_guard lock(iconProviderMutex());
        provider = iconProvider();
    }
    // Called outside the lock: the provider may take its time drawing.
    if (!provider)
        return std::nullopt;
    return provider();
}

} // namespace corvex
