#include "graphics/SharedPicture.h"

#include "graphics/PictureCache.h"
#include "platform/core/Log.h"
#include "platform/gfx/ImageCodec.h"

namespace corvex {
namespace {

// Bytes over a buffer they do not own (QByteArray::fromRawData) are copied: the buffer may go
// before the picture does.
QByteArray owned(QByteArray bytes)
{
    return bytes.data_ptr().isMutable() ? bytes : QByteArray(bytes.constData(), bytes.size());
}

} // namespace

SharedPicture::SharedPicture(Private, QImage pixels, QByteArray png, QSize size, bool decoded)
    : mStoredPNG(std::move(png)), mSize(size), mDecoded(decoded), mPixels(std::move(pixels))
{
    if (decoded)
        std::call_once(mDecodeOnce, [] {});
}

SharedPicture::~SharedPicture()
{
    PictureCache::shared().forget(this);
}

SharedPicturePtr SharedPicture::withPixels(const QImage& pixels, const QByteArray& png)
{
    return std::make_shared<const SharedPicture>(Private{}, pixels, owned(png), pixels.size(), true);
}

SharedPicturePtr SharedPicture::withStoredPNG(const QByteArray& png)
{
    const QSize size = ImageCodec::declaredPNGSize(png);
    if (!size.isValid())
        return nullptr;
    return std::make_shared<const SharedPicture>(Private{}, QImage(), owned(png), size, false);
}

const QImage& SharedPicture::pixels() const
{
    std::call_once(mDecodeOnce, [this] { decode(); });
    return mPixels;
}

void SharedPicture::decode() const
{
    QImage decoded = ImageCodec::decodePNG(mStoredPNG);
    if (decoded.isNull() || decoded.size() != mSize) {
        Log::warning(
            QStringLiteral("A picture of %1 x %2 pixels (%3 bytes) could not be decoded; its bytes are "
                           "kept as they were stored")
                .arg(mSize.width())
                .arg(mSize.height())
                .arg(mStoredPNG.size()));
        decoded = QImage();
    }
    mPixels = std::move(decoded);
    mDecoded.store(true, std::memory_order_release);
}

QImage SharedPicture::pixelsFitting(int side) const
{
    int bucket = 16;
    while (bucket < side && bucket < (1 << 14))
        bucket *= 2;
    const QSize wanted = ImageCodec::fittingSize(mSize, QSize(bucket, bucket));
    if (wanted == mSize)
        return pixels();
    PictureCache& cache = PictureCache::shared();
    if (std::optional<QImage> kept = cache.find(this, bucket))
        return *kept;
    QImage made;
    if (isDecoded())
        made = mPixels.isNull() ? QImage()
                                : mPixels.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                      .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    else
        made = ImageCodec::decodeFitting(mStoredPNG, wanted);
    if (made.isNull() && !isDecoded())
        Log::warning(QStringLiteral("A picture of %1 x %2 pixels (%3 bytes) could not be decoded at %4 x %5")
                         .arg(mSize.width())
                         .arg(mSize.height())
                         .arg(mStoredPNG.size())
                         .arg(wanted.width())
                         .arg(wanted.height()));
    cache.insert(this, bucket, made);
    return made;
}

bool SharedPicture::holdsPixels() const
{
    return isDecoded() || PictureCache::shared().holds(this);
}

bool SharedPicture::isDecoded() const
{
    return mDecoded.load(std::memory_order_acquire);
}

QByteArray SharedPicture::pngData() const
{
    if (!mStoredPNG.isEmpty())
        return mStoredPNG;
    std::lock_guard lock(mMadeMutex);
    if (mMadePNG.isEmpty())
        mMadePNG = ImageCodec::encodePNG(mPixels);
    return mMadePNG;
}

} // namespace corvex
