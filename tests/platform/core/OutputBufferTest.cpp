#include "platform/core/OutputBuffer.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(OutputBuffer, ReserveMoreMakesRoomWithoutChangingTheText)
{
    OutputBuffer buffer;
    QByteArray text("start");
    buffer.reserveMore(text, 1000);
    EXPECT_EQ(text, QByteArray("start"));
    EXPECT_GE(text.capacity(), 1005);
    const char* before = text.constData();
    text.append(QByteArray(1000, 'x'));
    EXPECT_EQ(text.constData(), before) << "the room reserved is used without reallocating";
    buffer.reserveMore(text, text.capacity()); // more than double: exactly what is needed
    EXPECT_GE(text.capacity(), 2 * 1005);
    EXPECT_EQ(text.left(5), QByteArray("start"));
}

TEST(OutputBuffer, ALargeBufferGrowsToTheMappedSizeAndIsAdvisedOnceUntilItMoves)
{
    OutputBuffer buffer;
    QByteArray text;
    buffer.reserveMore(text, 1 << 20);
    EXPECT_EQ(buffer.acceptedAdvice(), 0) << "small buffers are left alone";
    text.fill('a', 1 << 20);
    buffer.reserveMore(text, OutputBuffer::HugePageThreshold);
    EXPECT_GE(text.capacity(), OutputBuffer::LargeCapacity);
    EXPECT_EQ(text, QByteArray(1 << 20, 'a'));
    // Kernels without transparent huge pages refuse the advice; the buffer works the same.
    const int accepted = buffer.acceptedAdvice();
    EXPECT_LE(accepted, 1);
    buffer.adviseIfMoved(text);
    EXPECT_EQ(buffer.acceptedAdvice(), accepted) << "an unchanged buffer is not advised again";
    text.append(QByteArray(OutputBuffer::HugePageThreshold, 'b'));
    EXPECT_EQ(text.size(), (1 << 20) + OutputBuffer::HugePageThreshold);
    EXPECT_EQ(text.back(), 'b');
}
