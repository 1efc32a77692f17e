#include "model/InflatedTextSource.h"

#include "platform/core/Zlib.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace corvex {

namespace {

// Pages go back in steps of this much, so that the system is asked rarely.
constexpr qsizetype kReleaseStep = qsizetype(1) << 20;

} // namespace

InflatedTextSource::InflatedTextSource(QByteArray text, const QByteArray& compressed, qint64 maxOutput)
    : mText(std::move(text)), mCompressed(compressed), mMaxOutput(maxOutput)
{}

Result<qsizetype> InflatedTextSource::read(char* buffer, qsizetype capacity)
{
    if (!mError.isNull())
        return mError;
    const qsizetype count = std::min(capacity, mText.size() - mOffset);
    if (count <= 0)
        return qsizetype(0);
    std::memcpy(buffer, mText.constData() + mOffset, std::size_t(count));
    mOffset += count;
    if (mOffset - mReleased >= kReleaseStep || mOffset == mText.size())
        releaseReadPages();
    return count;
}

bool InflatedTextSource::rewind()
{
    mOffset = 0;
    mReleased = 0;
    mText = QByteArray();
    Result<QByteArray> again = Zlib::inflate(mCompressed, mMaxOutput);
    if (!again.ok()) {
        mError = again.error();
        return false;
    }
    mText = std::move(again).value();
    mError = Error();
    return true;
}

void InflatedTextSource::releaseReadPages()
{
    // Whole pages only, inside the text: the allocation around it stays untouched. The text
    // is never read there again (rewinding inflates anew).
    static const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0)
        return;
    const auto size = quintptr(page);
    const auto base = quintptr(mText.constData());
    const quintptr from = (base + quintptr(mReleased) + size - 1) / size * size;
    const quintptr to = (base + quintptr(mOffset)) / size * size;
    if (to <= from)
        return;
    ::madvise(reinterpret_cast<void*>(from), std::size_t(to - from), MADV_DONTNEED);
    mReleased = qsizetype(to - base);
}

} // namespace corvex
