#include "platform/core/OutputBuffer.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>

namespace corvex {

void OutputBuffer::reserveMore(QByteArray& buffer, qsizetype more)
{
    const qsizetype needed = buffer.size() + more;
    if (needed > buffer.capacity())
        buffer.reserve(std::max(needed, buffer.capacity() * 2));
    adviseIfMoved(buffer);
}

void OutputBuffer::takeUp(QByteArray& buffer)
{
    if (buffer.capacity() >= HugePageThreshold && buffer.capacity() < LargeCapacity)
        buffer.reserve(LargeCapacity);
    mAdvisedData = buffer.constData();
    mAdvisedCapacity = buffer.capacity();
    if (mAdvisedCapacity < HugePageThreshold)
        return;
    // Only whole huge pages past what is written: pages already touched stay as they are,
    // and the range never reaches outside the buffer's own block.
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.constData() + buffer.size());
    const auto end = reinterpret_cast<std::uintptr_t>(buffer.constData() + buffer.capacity());
    const std::uintptr_t mask = std::uintptr_t(HugePageSize) - 1;
    const std::uintptr_t first = (begin + mask) & ~mask;
    const std::uintptr_t last = end & ~mask;
    if (last <= first)
        return;
    if (::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0)
        ++mAccepted;
}

} // namespace corvex
