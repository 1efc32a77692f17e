#include "graphics/PictureCache.h"

#include <limits>

namespace corvex {

PictureCache& PictureCache::shared()
{
    // Never destroyed: pictures held by objects that outlive main (statics, a tree let go at
    // exit) still forget themselves on their way out.
    static PictureCache* const cache = new PictureCache;
    return *cache;
}

std::optional<QImage> PictureCache::find(const void* picture, int side)
{
    std::lock_guard lock(mMutex);
    const auto found = mIndex.find({picture, side});
    if (found == mIndex.end())
        return std::nullopt;
    mEntries.splice(mEntries.begin(), mEntries, found->second);
    return found->second->image;
}

void PictureCache::insert(const void* picture, int side, const QImage& image)
{
    std::lock_guard lock(mMutex);
    if (const auto found = mIndex.find({picture, side}); found != mIndex.end()) {
        mEntries.splice(mEntries.begin(), mEntries, found->second);
        return;
    }
    mEntries.push_front({picture, side, image});
    mIndex.emplace(std::make_pair(picture, side), mEntries.begin());
    mBytes += image.sizeInBytes();
    trim();
}

void PictureCache::forget(const void* picture)
{
    std::lock_guard lock(mMutex);
    auto it = mIndex.lower_bound({picture, std::numeric_limits<int>::min()});
    while (it != mIndex.end() && it->first.first == picture) {
        mBytes -= it->second->image.sizeInBytes();
        mEntries.erase(it->second);
        it = mIndex.erase(it);
    }
}

bool PictureCache::holds(const void* picture) const
{
    std::lock_guard lock(mMutex);
    const auto it = mIndex.lower_bound({picture, std::numeric_limits<int>::min()});
    return it != mIndex.end() && it->first.first == picture;
}

void PictureCache::trim()
{
    // The image just drawn stays, even alone over the budget.
    while (mBytes > mBudget && mEntries.size() > 1) {
        const Entry& last = mEntries.back();
        mBytes -= last.image.sizeInBytes();
        mIndex.erase({last.picture, last.side});
        mEntries.pop_back();
    }
}

qint64 PictureCache::bytes() const
{
    std::lock_guard lock(mMutex);
    return mBytes;
}

qint64 PictureCache::budget() const
{
    std::lock_guard lock(mMutex);
    return mBudget;
}

void PictureCache::setBudget(qint64 bytes)
{
    std::lock_guard lock(mMutex);
    mBudget = bytes;
    trim();
}

void PictureCache::clear()
{
    std::lock_guard lock(mMutex);
    mEntries.clear();
    mIndex.clear();
    mBytes = 0;
}

} // namespace corvex
