#pragma once

// A JSON source over bytes that hands out at most `piece` bytes per read, so that a reader
// meets every token cut by a read's end, and can be made to fail after `failAfter` bytes.
// Header only, for tests and fuzz targets alike.

#include "platform/core/JsonText.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstring>
#include <utility>

namespace corvex::test {

class PieceSource final : public JsonSource
{
public:
    PieceSource(QByteArray text, qsizetype piece, qsizetype failAfter = -1)
        : mText(std::move(text)), mPiece(piece), mFailAfter(failAfter)
    {}

    Result<qsizetype> read(char* buffer, qsizetype capacity) override
    {
        if (mFailAfter >= 0 && mOffset >= mFailAfter)
            return Error(QStringLiteral("test.source"), 7, QStringLiteral("the source broke"));
        const qsizetype count = std::min({capacity, mPiece, mText.size() - mOffset});
        std::memcpy(buffer, mText.constData() + mOffset, std::size_t(count));
        mOffset += count;
        return count;
    }
    bool rewind() override
    {
        mOffset = 0;
        return true;
    }

private:
    QByteArray mText;
    qsizetype mPiece;
    qsizetype mFailAfter;
    qsizetype mOffset = 0;
};

} // namespace corvex::test
