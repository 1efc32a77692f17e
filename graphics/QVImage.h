#pragma once

#include "graphics/SharedPicture.h"
#include "platform/gfx/BlendMode.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

namespace corvex {

class FilterImage;
class GraphicsContext;

// The system's own bitmap image: one immutable image (RGBA, premultiplied alpha, bytes in
// the order R, G, B, A) or nothing, when decoding failed. Ideas keep their pictures in it,
// storage turns it into PNG attachments, views draw it. A value: copies share the pixels,
// and every transformation makes a new one.
//
// Its PNG (pngData), the form documents store pictures in, is made at most once per picture
// and shared by every copy: a picture decoded from PNG keeps the bytes it was read with, any
// other is encoded on the first call. Saving a document therefore writes the bytes it read
// instead of encoding every picture again. Since the pixels never change, the bytes never go
// stale: a changed picture is a new value, which starts without them.
//
// A picture of a stored document (initWithStoredPNGData) is its bytes until its pixels are
// first asked for (cgImage, nsImage, drawing, scaling, jpegData); its size, its PNG and
// whether it has an image are answered from the bytes alone. The copies share that one
// decode, which any thread may cause (see SharedPicture).
//
// Decoding treats its bytes as untrusted (ImageCodec's dimension caps and allocation limit);
// an image over a limit counts as undecodable.
class QVImage
{
public:
    QVImage() = default; // holds no image
    // Holds the image, converted to the one pixel format when it is in another.
    explicit QVImage(const QImage& image);

    // The whole file decoded as PNG or JPEG; none when the file cannot be read, is larger
    // than any decodable image could be, or does not decode. The only creation that can
    // answer none.
    static std::optional<QVImage> readFromURL(const QUrl& fileUrl);
    static std::optional<QVImage> readFromURL(const QString& path);
    // Undecodable data (wrong format included) gives an image that holds nothing. A decoded
    // PNG keeps `data` as its pngData().
    static QVImage initWithPNGData(const QByteArray& data);
    static QVImage initWithJPEGData(const QByteArray& data);
    // PNG bytes kept as they are, decoded when the pixels are first needed: an image when the
    // header is a PNG one within the codec's caps, none otherwise. Should the bytes prove
    // undecodable later, the image keeps them (pngData) and its pixels are a null QImage.
    static QVImage initWithStoredPNGData(const QByteArray& data);
    // PNG when isPNG(data), JPEG otherwise.
    static QVImage initWithSomeData(const QByteArray& data);
    // At least five bytes, the first four 0x89 'P' 'N' 'G': the four alone are not enough.
    static bool isPNG(const QByteArray& data);
    static QVImage initWithCGImage(const QImage& image);
    // The representation that fits the image's size in points best at the current context's
    // scale (1 without a current context).
    static QVImage initWithNSImage(const PlatformImage& image);
    // The part `fromRect` of the filter image, rendered into a bitmap of the rectangle's size.
    static QVImage initWithCIImage(const FilterImage& image, const Rect& fromRect);

    bool hasImage() const { return mPicture != nullptr; }
    // Whether the pixels are at hand: false for a stored picture nothing has drawn yet.
    bool isDecoded() const { return !mPicture || mPicture->isDecoded(); }
    // Whether pixels of it are held, whole or at a drawn size (SharedPicture::holdsPixels).
    bool holdsPixels() const { return mPicture && mPicture->holdsPixels(); }
    // In pixels; 0 x 0 when there is no image.
    Size pixelSize() const;
    // A null QImage when there is no image or its stored bytes do not decode.
    const QImage& cgImage() const;
    // For drawing within a square of `side` device pixels: never held larger than that
    // needs (SharedPicture::pixelsFitting). A null QImage as cgImage answers one.
    QImage cgImageFitting(int side) const;
    // The pixels for drawing into `rect` of `context`, at the size the rectangle takes there.
    QImage pixelsDrawnIn(const Rect& rect, const GraphicsContext& context) const;
    // A platform image over the pixels whose size in points is pixelSize().
    PlatformImage nsImage() const;
    // The same size in points over pixels held no larger than a square of `side` (cgImageFitting).
    PlatformImage nsImageFitting(int side) const;
    // Empty when there is no image. The bytes read (initWithPNGData, initWithStoredPNGData),
    // else the encoding made by the first call of any copy. Never decodes. Any thread.
    QByteArray pngData() const;
    // At the encoder's default quality; the alpha channel is dropped.
    QByteArray jpegData() const;

    // Draws into the rectangle by the context's image drawing rule (upright in a y-up
    // space). Flipped: mirrored vertically within the same rectangle, for y-down spaces.
    // A null context draws nothing.
    void drawInRect(const Rect& rect, GraphicsContext* context, bool flipped) const;
    void drawInRect(const Rect& rect, GraphicsContext* context) const;
    // The same with the blend mode and alpha (0..1) set for this drawing only.
    void drawInRect(const Rect& rect, GraphicsContext* context, BlendMode mode, double alpha,
                    bool flipped) const;

    // A bitmap context in the format above: the size truncated to whole pixels, rows of
    // exactly 4 x width bytes, user space y-up. Null, with an assertion line in the log,
    // when the size is below one pixel, not finite or too large.
    static std::unique_ptr<GraphicsContext> createBitmapContextForSize(Size size);
    // The image drawn into (0, 0, width, height) of a new bitmap of that size (truncated);
    // an image that holds nothing when the bitmap cannot be made.
    QVImage scaleToSize(Size size) const;
    // Keeps the aspect ratio.
    QVImage scaleToWidth(double width) const;

private:
    // Shared by the copies of this picture; null when there is no image.
    SharedPicturePtr mPicture;
};

} // namespace corvex
