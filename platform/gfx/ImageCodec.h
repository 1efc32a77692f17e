#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace corvex {

// Decoding of PNG, JPEG, GIF (its first frame) and TIFF (its first page) bytes, encoding of
// PNG and JPEG. Decoding treats its input as untrusted: the
// format is taken from the bytes, the declared dimensions are checked against the caps below
// before any pixel memory is allocated, and Qt's reader runs under an explicit allocation
// limit. Anything over a limit or undecodable answers a null image; so does a PNG cut short,
// while a JPEG cut short after its first scan data decodes with the missing part filled in
// by the decoder (grey), as image viewers show it. Decoded images are
// QImage::Format_RGBA8888_Premultiplied. Safe from any thread.
class ImageCodec
{
public:
    enum class Format
    {
        Unknown,
        PNG,
        JPEG,
        GIF,
        TIFF
    };

    // Qt's reader refuses images whose decoding needs more memory than this.
    static constexpr int AllocationLimitMB = 256;
    // No side may exceed this many pixels, and no image this many pixels in all (256 MB as
    // RGBA).
    static constexpr int MaxDimension = 16384;
    static constexpr qint64 MaxPixelCount = qint64(64) * 1024 * 1024;
    // The JPEG quality that asks for the encoder's default (75).
    static constexpr int DefaultJPEGQuality = -1;

    // By signature: the full eight PNG signature bytes, the JPEG start-of-image marker, "GIF87a"
    // or "GIF89a", or a TIFF header of either byte order ("II*\0", "MM\0*").
    static Format formatOf(const QByteArray& bytes);

    static QImage decodePNG(const QByteArray& bytes);
    static QImage decodeJPEG(const QByteArray& bytes);
    static QImage decodeGIF(const QByteArray& bytes);
    // Null when no TIFF reader is installed (qt6-image-formats-plugins).
    static QImage decodeTIFF(const QByteArray& bytes);
    // Any supported format, recognised from the bytes.
    static QImage decode(const QByteArray& bytes);
    // The same, made no larger than `bound` (the aspect kept): a larger image is scaled while it
    // is read (row by row for PNG, in the decoder for JPEG), so its full size is never held.
    static QImage decodeFitting(const QByteArray& bytes, QSize bound);
    // The size an image of `size` takes within `bound`: itself when it fits, else scaled down
    // with its aspect, at least one pixel a side.
    static QSize fittingSize(QSize size, QSize bound);
    // The size a PNG's header declares, read without decoding anything; invalid when the
    // bytes do not start with the PNG signature and header or the size is over the caps.
    static QSize declaredPNGSize(const QByteArray& bytes);
    // How many decodes (of any format) this process has run, from every thread: what a test
    // counts to show that nothing was decoded.
    static quint64 decodeCount();

    // Empty bytes for a null image or a failed encoder.
    static QByteArray encodePNG(const QImage& image);
    static QByteArray encodeJPEG(const QImage& image, int quality = DefaultJPEGQuality);

private:
    static QImage decodeAs(const QByteArray& bytes, Format format, QSize bound = QSize());
    static QByteArray encode(const QImage& image, const char* format, int quality);
};

} // namespace corvex
