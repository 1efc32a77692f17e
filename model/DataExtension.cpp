#include "model/DataExtension.h"

namespace corvex {

Result<QByteArray> DataExtension::zlibDeflate(const QByteArray& data)
{
    if (data.isEmpty())
        return data;
    auto compressed = Zlib::compress(data);
    if (!compressed)
        return Error(Zlib::ErrorDomain, Zlib::OutOfMemory,
                     QStringLiteral("zlib could not compress the data"));
    return std::move(*compressed);
}

Result<QByteArray> DataExtension::zlibInflate(const QByteArray& data, qint64 maxOutput)
{
    if (data.isEmpty())
        return data;
    return Zlib::inflate(data, maxOutput);
}

} // namespace corvex
