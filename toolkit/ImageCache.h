#pragma once

#include "platform/gfx/PlatformImage.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>

namespace corvex {

class Color;

// The process-wide cache of interface images tinted to a Color (ColorImageTinting's flat
// tint), keyed by image name and colour name and kept for the life of the process.
//
// Any thread. Lookups and stores take the cache's lock separately and the tinting runs
// outside it, so two threads missing the same key at once both tint and the later store
// stands; both answers show the same pixels.
class ImageCache
{
public:
    // The shared cache, made on first use.
    static ImageCache& cache();

    // "<name>__<colour name>"; a null colour's name reads "(null)".
    static QString keyFor(const QString& imageName, const std::shared_ptr<Color>& color);

    // The named image tinted to the colour: the cached one when there is one (the same pixels
    // every time), else tinted now and kept. A name without an image answers the null image
    // and stores nothing.
    PlatformImage imageWithName(const QString& imageName, const std::shared_ptr<Color>& color);
    // The same as imageWithName.
    PlatformImage deviceImageWithName(const QString& imageName, const std::shared_ptr<Color>& color);

    // How many tinted images are kept, and whether one is kept under a key.
    int count() const;
    bool contains(const QString& key) const;

    // An empty cache of its own (tests); the application shares cache().
    ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

private:
    // Held only around the dictionary's lookups and stores, never while tinting.
    mutable std::recursive_mutex mMutex;
    QHash<QString, PlatformImage> mImageDictionary;
};

} // namespace corvex
