#include "toolkit/ImageCache.h"

#include "model/Color.h"
#include "toolkit/ColorImageTinting.h"

namespace corvex {

ImageCache::ImageCache() = default;

ImageCache& ImageCache::cache()
{
    // Made once, thread-safely, and never destroyed: images may be asked for while other
    // statics go away at exit.
    static ImageCache* shared = new ImageCache();
    return *shared;
}

QString ImageCache::keyFor(const QString& imageName, const std::shared_ptr<Color>& color)
{
    return imageName + QStringLiteral("__") + (color ? color->name() : QStringLiteral("(null)"));
}

PlatformImage ImageCache::imageWithName(const QString& imageName, const std::shared_ptr<Color>& color)
{
    const QString key = keyFor(imageName, color);
    {
        std::lock_guard<std::recursive_mutex> lock(mMutex);
        const auto found = mImageDictionary.constFind(key);
        if (found != mImageDictionary.constEnd())
            return found.value();
    }
    const PlatformImage source = PlatformImage::imageNamed(imageName);
    if (source.isNull())
        return {};
    const PlatformImage tinted = ColorImageTinting::transformImage(source, color);
    if (tinted.isNull())
        return {};
    {
        std::lock_guard<std::recursive_mutex> lock(mMutex);
        mImageDictionary.insert(key, tinted);
    }
    return tinted;
}

PlatformImage ImageCache::deviceImageWithName(const QString& imageName, const std::shared_ptr<Color>& color)
{
    return imageWithName(imageName, color);
}

int ImageCache::count() const
{
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    return int(mImageDictionary.size());
}

bool ImageCache::contains(const QString& key) const
{
    std::lock_guard<std::recursive_mutex> lock(mMutex);
    return mImageDictionary.contains(key);
}

} // namespace corvex
