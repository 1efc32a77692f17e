#pragma once

#include "platform/core/Coder.h"

#include <QByteArray>
#include <memory>

namespace corvex {

class PortableImage;
using PortableImagePtr = std::shared_ptr<PortableImage>;

// A picture's bytes wrapped for keyed archives: the coder's single unkeyed data object.
class PortableImage : public Codable
{
public:
    PortableImage() = default;
    explicit PortableImage(QByteArray image) : mImage(std::move(image)) {}

    static PortableImagePtr create(const QByteArray& image = QByteArray());
    // The coder's data object; null bytes when it has none.
    static PortableImagePtr initWithCoder(Decoder& coder);

    const QByteArray& image() const { return mImage; }
    void setImage(const QByteArray& image) { mImage = image; }

    QString className() const override;
    void encodeWithCoder(Encoder& coder) const override;

private:
    QByteArray mImage;
};

} // namespace corvex
