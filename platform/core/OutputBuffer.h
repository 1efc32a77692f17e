#pragma once

#include <QByteArray>

namespace corvex {

// Growing a large output text (a document's JSON, tens of megabytes) costs little in
// copying, since the allocator moves large blocks by remapping them, but much in page
// faults: every 4 KiB of fresh memory faults once when first written. OutputBuffer grows a
// QByteArray geometrically and asks the kernel to back the part of a large buffer not
// written yet with huge pages (madvise MADV_HUGEPAGE, which Linux honours when transparent
// huge pages are set to "madvise" or "always"), so that writing 40 MB faults some twenty
// times instead of ten thousand. The bytes are the same either way; where the advice is
// refused or unknown nothing changes.
//
// One writer per object; it holds no memory of its own.
class OutputBuffer
{
public:
    // Buffers from this capacity on get the advice; smaller ones gain nothing from it.
    static constexpr qsizetype HugePageThreshold = qsizetype(8) << 20;
    static constexpr qsizetype HugePageSize = qsizetype(2) << 20;
    // What a buffer passing HugePageThreshold grows to at once: more than glibc's largest
    // threshold for mapping a block on its own (32 MiB), so that the block is mapped and
    // grows further by remapping, never by copying. Untouched capacity costs no memory.
    static constexpr qsizetype LargeCapacity = qsizetype(34) << 20;

    // Makes room for `more` bytes after the buffer's end (at least doubling the capacity
    // when it must grow) and advises what was added. The size does not change. A buffer
    // passing HugePageThreshold moves into a block of at least LargeCapacity that is advised
    // before the text is copied into it, so that even the copy lands on huge pages.
    void reserveMore(QByteArray& buffer, qsizetype more);
    // Takes up a buffer whose capacity changed since the last call (Qt's own growth moves or
    // enlarges it): a large one grows to LargeCapacity and its unwritten capacity is
    // advised. Cheap when nothing changed; writers call it now and then.
    void adviseIfMoved(QByteArray& buffer)
    {
        if (buffer.constData() != mAdvisedData || buffer.capacity() != mAdvisedCapacity)
            takeUp(buffer);
    }
    // How many advice calls the kernel accepted: for tests.
    int acceptedAdvice() const { return mAccepted; }

private:
    void takeUp(QByteArray& buffer);
    static void moveIntoAdvisedBlock(QByteArray& buffer, qsizetype capacity);
    // Advises the whole huge pages of the buffer's capacity past its size.
    static bool adviseUnwritten(const QByteArray& buffer);

    const char* mAdvisedData = nullptr;
    qsizetype mAdvisedCapacity = -1;
    int mAccepted = 0;
};

} // namespace corvex
