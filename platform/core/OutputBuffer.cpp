#include "platform/core/OutputBuffer.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>

namespace corvex {

void OutputBuffer::reserveMore(QByteArray& buffer, qsizetype more)
{
    const qsizetype needed = buffer.size() + more;
    if (needed > buffer.capacity()) {
        const qsizetype grown = std::max(needed, buffer.capacity() * 2);
        if (grown >= HugePageThreshold && buffer.capacity() < LargeCapacity)
            moveIntoAdvisedBlock(buffer, std::max(grown, LargeCapacity));
        else
            buffer.reserve(grown);
    }
    adviseIfMoved(buffer);
}

void OutputBuffer::takeUp(QByteArray& buffer)
{
    // Qt's own growth took the buffer past the threshold: move it once more, into advised
    // memory, rather than let every later growth copy into 4 KiB pages.
    if (buffer.capacity() >= HugePageThreshold && buffer.capacity() < LargeCapacity)
        moveIntoAdvisedBlock(buffer, LargeCapacity);
    mAdvisedData = buffer.constData();
    mAdvisedCapacity = buffer.capacity();
    if (adviseUnwritten(buffer))
        ++mAccepted;
}

void OutputBuffer::moveIntoAdvisedBlock(QByteArray& buffer, qsizetype capacity)
{
    // The new block is advised before the text is copied into it, so that even the copy
    // faults in huge pages; reallocating would copy into 4 KiB pages first.
    QByteArray block;
    block.reserve(capacity);
    adviseUnwritten(block);
    block.append(buffer.constData(), buffer.size());
    buffer.swap(block);
}

bool OutputBuffer::adviseUnwritten(const QByteArray& buffer)
{
    if (buffer.capacity() < HugePageThreshold)
        return false;
    // Only whole huge pages past what is written: pages already touched stay as they are,
    // and the range never reaches outside the buffer's own block.
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.constData() + buffer.size());
    const auto end = reinterpret_cast<std::uintptr_t>(buffer.constData() + buffer.capacity());
    const std::uintptr_t mask = std::uintptr_t(HugePageSize) - 1;
    const std::uintptr_t first = (begin + mask) & ~mask;
    const std::uintptr_t last = end & ~mask;
    if (last <= first)
        return false;
    return ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0;
}

} // namespace corvex
