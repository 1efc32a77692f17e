#pragma once

#include "platform/core/JsonText.h"
#include "platform/core/Result.h"

#include <QByteArray>

namespace corvex {

// The whole text of one zlib stream, inflated at once (Zlib::inflate) and handed to a reader
// piece by piece. The memory of what the reader has passed goes back to the system as it
// goes, so that a document's text and the tree made from it are never both whole in memory;
// rewinding inflates the stream again.
//
// One reader at a time; the compressed bytes must outlive the source.
class InflatedTextSource final : public JsonSource
{
public:
    // The text of `compressed` (inflated already, within `maxOutput`).
    InflatedTextSource(QByteArray text, const QByteArray& compressed, qint64 maxOutput);
    InflatedTextSource(const InflatedTextSource&) = delete;
    InflatedTextSource& operator=(const InflatedTextSource&) = delete;

    // JsonSource
    Result<qsizetype> read(char* buffer, qsizetype capacity) override;
    // False when the stream cannot be inflated again (out of memory); error() says why.
    bool rewind() override;

    const Error& error() const { return mError; }

private:
    void releaseReadPages();

    QByteArray mText;
    const QByteArray& mCompressed;
    const qint64 mMaxOutput;
    qsizetype mOffset = 0;   // what the reader has had
    qsizetype mReleased = 0; // what went back to the system
    Error mError;
};

} // namespace corvex
