// The beta service's update answer: JSON that must hold a "url" forming a URL.

#include "crash/beta/BBXBetaUpdate.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::Error error;
    const auto update = corvex::BBXBetaUpdate::updateWithData(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &error);
    if (update)
        (void)update->url().toString();
    return 0;
}
