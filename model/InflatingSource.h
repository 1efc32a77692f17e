#pragma once

#include "platform/core/JsonText.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <memory>

namespace corvex {

// The text of one zlib stream, inflated piece by piece as a reader asks for it: nothing
// larger than a piece is ever held, so a compressed document's text need never be whole in
// memory. The stream's rules are Zlib::inflate's (exactly one complete stream with a valid
// checksum and nothing after it; its error texts and codes too), and output beyond
// `maxOutput` fails with Zlib::LimitExceeded as soon as it is produced.
//
// One reader at a time; the compressed bytes must outlive the source.
class InflatingSource final : public JsonSource
{
public:
    InflatingSource(const QByteArray& compressed, qint64 maxOutput);
    ~InflatingSource() override;
    InflatingSource(const InflatingSource&) = delete;
    InflatingSource& operator=(const InflatingSource&) = delete;

    // The bytes the whole stream inflates to, counted without keeping them; the stream's
    // error (LimitExceeded beyond maxOutput) otherwise. Empty input is an empty stream.
    static Result<qint64> measure(const QByteArray& compressed, qint64 maxOutput);

    // JsonSource
    Result<qsizetype> read(char* buffer, qsizetype capacity) override;
    bool rewind() override;

    // The first failure, kept: a reader that stopped early may not have seen it.
    const Error& error() const { return mError; }
    // Output so far.
    qint64 produced() const { return mProduced; }

private:
    struct Stream;

    Error fail(Error error);

    const QByteArray& mInput;
    const qint64 mMaxOutput;
    std::unique_ptr<Stream> mStream;
    qint64 mConsumed = 0;
    qint64 mProduced = 0;
    bool mEnded = false;
    Error mError;
};

} // namespace corvex
