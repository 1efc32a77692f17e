#include "platform/gfx/ImageCodec.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace corvex {

namespace {

// The limit is process-wide in Qt; it is set once, before the first decode.
void applyAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(ImageCodec::AllocationLimitMB); });
}

QByteArray readerFormat(ImageCodec::Format format)
{
    switch (format) {
    case ImageCodec::Format::PNG:
        return QByteArrayLiteral("png");
    case ImageCodec::Format::JPEG:
        return QByteArrayLiteral("jpeg");
    case ImageCodec::Format::GIF:
        return QByteArrayLiteral("gif");
    case ImageCodec::Format::TIFF:
        return QByteArrayLiteral("tiff");
    case ImageCodec::Format::Unknown:
        break;
    }
    return {};
}

std::atomic<quint64> gDecodes{0};

bool withinCaps(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= ImageCodec::MaxDimension &&
           height <= ImageCodec::MaxDimension && width * height <= ImageCodec::MaxPixelCount;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData()) + at;
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

} // namespace

ImageCodec::Format ImageCodec::formatOf(const QByteArray& bytes)
{
    static const char png[] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    if (bytes.size() >= 8 && std::equal(png, png + 8, bytes.constData()))
        return Format::PNG;
    if (bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 && uchar(bytes[2]) == 0xFF)
        return Format::JPEG;
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return Format::GIF;
    if (bytes.startsWith(QByteArrayLiteral("II*\0")) || bytes.startsWith(QByteArrayLiteral("MM\0*")))
        return Format::TIFF;
    return Format::Unknown;
}

QImage ImageCodec::decodePNG(const QByteArray& bytes)
{
    return formatOf(bytes) == Format::PNG ? decodeAs(bytes, Format::PNG) : QImage();
}

QImage ImageCodec::decodeJPEG(const QByteArray& bytes)
{
    return formatOf(bytes) == Format::JPEG ? decodeAs(bytes, Format::JPEG) : QImage();
}

QImage ImageCodec::decodeGIF(const QByteArray& bytes)
{
    return formatOf(bytes) == Format::GIF ? decodeAs(bytes, Format::GIF) : QImage();
}

QImage ImageCodec::decodeTIFF(const QByteArray& bytes)
{
    return formatOf(bytes) == Format::TIFF ? decodeAs(bytes, Format::TIFF) : QImage();
}

QImage ImageCodec::decode(const QByteArray& bytes)
{
    const Format format = formatOf(bytes);
    return format == Format::Unknown ? QImage() : decodeAs(bytes, format);
}

QSize ImageCodec::declaredPNGSize(const QByteArray& bytes)
{
    // The signature, then the first chunk, which must be a 13-byte IHDR starting with the
    // width and the height.
    if (formatOf(bytes) != Format::PNG || bytes.size() < 24 || bigEndian32(bytes, 8) != 13 ||
        std::memcmp(bytes.constData() + 12, "IHDR", 4) != 0)
        return {};
    const qint64 width = bigEndian32(bytes, 16);
    const qint64 height = bigEndian32(bytes, 20);
    return withinCaps(width, height) ? QSize(int(width), int(height)) : QSize();
}

quint64 ImageCodec::decodeCount()
{
    return gDecodes.load(std::memory_order_relaxed);
}

QImage ImageCodec::decodeFitting(const QByteArray& bytes, QSize bound)
{
    const Format format = formatOf(bytes);
    return format == Format::Unknown ? QImage() : decodeAs(bytes, format, bound);
}

QSize ImageCodec::fittingSize(QSize size, QSize bound)
{
    if (!bound.isValid() || (size.width() <= bound.width() && size.height() <= bound.height()))
        return size;
    const QSize scaled = size.scaled(bound, Qt::KeepAspectRatio);
    return QSize(std::max(1, scaled.width()), std::max(1, scaled.height()));
}

QImage ImageCodec::decodeAs(const QByteArray& bytes, Format format, QSize bound)
{
    gDecodes.fetch_add(1, std::memory_order_relaxed);
    applyAllocationLimit();
    QByteArray data = bytes; // shared, not copied: the buffer only reads it
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, readerFormat(format));
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    // The header's dimensions, before any pixel memory exists.
    const QSize size = reader.size();
    if (!size.isValid() || !withinCaps(size.width(), size.height()))
        return {};
    const QSize wanted = fittingSize(size, bound);
    if (wanted != size)
        reader.setScaledSize(wanted);
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.size() != wanted)
        return {};
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

QByteArray ImageCodec::encodePNG(const QImage& image)
{
    return encode(image, "png", -1);
}

QByteArray ImageCodec::encodeJPEG(const QImage& image, int quality)
{
    // JPEG has no alpha channel; the encoder drops it.
    return encode(image, "jpeg", quality);
}

QByteArray ImageCodec::encode(const QImage& image, const char* format, int quality)
{
    if (image.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return {};
    QImageWriter writer(&buffer, QByteArray(format));
    if (quality >= 0)
        writer.setQuality(qBound(0, quality, 100));
    if (!writer.write(image))
        return {};
    return bytes;
}

} // namespace corvex
