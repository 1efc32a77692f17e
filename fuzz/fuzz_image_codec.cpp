// Pictures from dropped files and attachments are untrusted: decoding must refuse what it
// cannot bound and never crash.

#include "platform/gfx/ImageCodec.h"

#include <QCoreApplication>
#include <QImage>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Image format plugins (JPEG) are found through the application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QImage image = corvex::ImageCodec::decode(bytes);
    if (!image.isNull()) {
        // Whatever decodes has the format and bounds the rest of the program expects.
        if (image.format() != QImage::Format_RGBA8888_Premultiplied ||
            image.width() > corvex::ImageCodec::MaxDimension ||
            image.height() > corvex::ImageCodec::MaxDimension)
            __builtin_trap();
    }
    corvex::ImageCodec::decodePNG(bytes);
    corvex::ImageCodec::decodeJPEG(bytes);
    return 0;
}
