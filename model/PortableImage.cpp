#include "model/PortableImage.h"

namespace corvex {

PortableImagePtr PortableImage::create(const QByteArray& image)
{
    return std::make_shared<PortableImage>(image);
}

PortableImagePtr PortableImage::initWithCoder(Decoder& coder)
{
    return create(coder.decodeDataObject());
}

QString PortableImage::className() const
{
    return QStringLiteral("PortableImage");
}

void PortableImage::encodeWithCoder(Encoder& coder) const
{
    coder.encodeDataObject(mImage);
}

} // namespace corvex
