#pragma once

// A zlib stream of a document payload padded with whitespace, inflating to any size while
// itself a thousandth of it: what a hostile or broken file may hold. Made without ever
// holding the inflated text, in milliseconds, for the unit tests and the measuring program.

#include <QByteArray>
#include <zlib.h>

namespace corvex::test {

// One zlib stream (header 78 9C, as the payload reader expects) of `prefix`, then `spaces`
// spaces (rounded up to whole MiB), then `suffix`. Every MiB of spaces is deflated once,
// after a full flush so that each deflates alike, and its bytes are repeated; the checksum
// is combined from the parts. Empty on a failure of zlib.
inline QByteArray zlibWithSpaces(const QByteArray& prefix, qint64 spaces, const QByteArray& suffix)
{
    constexpr qint64 kPiece = qint64(1) << 20;
    const qint64 pieces = (spaces + kPiece - 1) / kPiece;
    const QByteArray piece(kPiece, ' ');

    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK)
        return QByteArray();
    // Deflates `input` with `flush` and answers what came out.
    const auto deflated = [&z](const QByteArray& input, int flush) {
        QByteArray out;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
        z.avail_in = uInt(input.size());
        char buffer[16384];
        int rc = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            rc = deflate(&z, flush);
            out.append(buffer, qsizetype(sizeof buffer - z.avail_out));
        } while (rc == Z_OK && (z.avail_out == 0 || z.avail_in > 0));
        return rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR ? out : QByteArray();
    };
    const QByteArray head = deflated(prefix, Z_FULL_FLUSH);
    const QByteArray first = deflated(piece, Z_FULL_FLUSH);
    const QByteArray second = deflated(piece, Z_FULL_FLUSH);
    QByteArray tail = deflated(suffix, Z_FINISH);
    deflateEnd(&z);
    // After a full flush a piece deflates alone; the second proves it deflates as the first.
    if (head.isEmpty() || first.isEmpty() || first != second || tail.size() < 4)
        return QByteArray();
    tail.chop(4); // the checksum of what this stream deflated, not of the repeated text

    const auto adlerOf = [](const QByteArray& bytes) {
        return adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                       uInt(bytes.size()));
    };
    uLong checksum = adlerOf(prefix);
    const uLong pieceChecksum = adlerOf(piece);
    for (qint64 i = 0; i < pieces; ++i)
        checksum = adler32_combine(checksum, pieceChecksum, z_off_t(kPiece));
    checksum = adler32_combine(checksum, adlerOf(suffix), z_off_t(suffix.size()));

    QByteArray stream;
    stream.reserve(head.size() + first.size() * pieces + tail.size() + 4);
    stream += head;
    for (qint64 i = 0; i < pieces; ++i)
        stream += first;
    stream += tail;
    for (const int shift : {24, 16, 8, 0})
        stream += char((checksum >> shift) & 0xFF);
    return stream;
}

// A readable document payload (one root idea) whose text is `spaces` bytes of whitespace
// longer, compressed as zlibWithSpaces makes it.
inline QByteArray paddedPayload(qint64 spaces)
{
    return zlibWithSpaces(
        QByteArray("{\"ideaDocumentDataObject\":"), spaces,
        QByteArray("{\"fileFormatVersion\":4,\"idea\":{\"identifier\":\"id1_1\",\"ideaType\":1,"
                   "\"text\":\"padded\"}}}"));
}

} // namespace corvex::test
