#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <atomic>
#include <memory>
#include <mutex>

namespace corvex {

class SharedPicture;
using SharedPicturePtr = std::shared_ptr<const SharedPicture>;

// The one picture every copy of a QVImage shares: its pixels, and the PNG bytes it was read
// with or that were made for it. A picture read from stored PNG bytes starts as those bytes
// alone, its size taken from the header, and decodes on the first call of pixels(): a
// document opens without decoding any picture, and only the pictures drawn or exported are
// ever decoded. Bytes that prove undecodable then are kept all the same (they are written
// back as read), the pixels stay null, and one log line tells which picture it was.
//
// Any thread: the decode runs once however many threads ask at once, and the stored bytes
// never change, so a save reading them never waits for a decode nor races one.
class SharedPicture
{
public:
    // Pixels at hand (not null); `png` their PNG bytes when known (empty: made on the first
    // pngData call).
    static SharedPicturePtr withPixels(const QImage& pixels, const QByteArray& png);
    // Stored PNG bytes, decoded on first need; null when the header is not a PNG one or
    // declares a picture over ImageCodec's caps (refused at once, as a decode would be).
    static SharedPicturePtr withStoredPNG(const QByteArray& png);

    // In pixels: the decoded size, or the header's before the decode.
    QSize size() const { return mSize; }
    // Decodes stored bytes on the first call; null when they do not decode.
    const QImage& pixels() const;
    // The picture for drawing within a square of `side` pixels: itself when it fits (as
    // pixels()), else made at the size that fits (sides rounded up to a power of two, so that
    // nearby zooms share it), decoded from the stored bytes at that size and kept in the
    // PictureCache. A picture larger than where it is drawn is so never held at full size.
    QImage pixelsFitting(int side) const;
    // The bytes read, else the encoding made by the first call. Never decodes.
    QByteArray pngData() const;
    // Whether pixels are held for it: decoded whole, or at a drawn size in the PictureCache.
    bool holdsPixels() const;
    // Whether pixels() has run its decode (always true for pixels given at hand).
    bool isDecoded() const;

    struct Private
    {
        explicit Private() = default;
    };
    SharedPicture(Private, QImage pixels, QByteArray png, QSize size, bool decoded);
    ~SharedPicture();
    SharedPicture(const SharedPicture&) = delete;
    SharedPicture& operator=(const SharedPicture&) = delete;

private:
    void decode() const;

    // Set once at creation: the bytes of a stored picture (also the decode's input).
    const QByteArray mStoredPNG;
    const QSize mSize;
    mutable std::once_flag mDecodeOnce;
    mutable std::atomic<bool> mDecoded;
    // Written once, inside mDecodeOnce (or at creation).
    mutable QImage mPixels;
    mutable std::mutex mMadeMutex;
    mutable QByteArray mMadePNG; // guarded by mMadeMutex
};

} // namespace corvex
