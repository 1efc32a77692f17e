#include "graphics/SharedPicture.h"

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
