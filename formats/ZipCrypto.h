#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <functional>
#include <zlib.h> // z_stream of the inflating reader and the deflating writer

namespace corvex {

// The traditional PKWARE encryption of zip entries, the one Info-ZIP's `zip -P` and
// `unzip -P` speak. minizip as Debian builds it cannot be used for it: its reader is
// compiled without decryption (any password is a parameter error) and its writer reads
// zlib's 32-bit CRC table through a pointer to 64-bit integers, so that no tool can read
// what it encrypts. ZipWrapper therefore moves encrypted entries through minizip raw and
// encrypts or decrypts them here. A password is the UTF-8 of its text, on both sides.
//
// The scheme is weak by today's standards; it is here so that archives can be exchanged
// with other tools, not to keep secrets.
class ZipCryptoKeys
{
public:
    explicit ZipCryptoKeys(const QByteArray& password);

    void decrypt(char* data, qsizetype size);
    void encrypt(char* data, qsizetype size);

private:
    void update(quint8 plain);
    quint8 streamByte() const;

    quint32 mKeys[3];
};

namespace ZipCrypto {

// The encryption header in front of an entry's data.
constexpr int HeaderSize = 12;
// Bit 0 of an entry's flags: the entry is encrypted.
constexpr quint32 EncryptedFlag = 1;
// Bit 3: the CRC and sizes follow the data, so the header checks the time instead.
constexpr quint32 DataDescriptorFlag = 8;

// The byte the header's last byte decrypts to: the high byte of the DOS time when the
// entry has a data descriptor, else the high byte of its CRC.
quint8 checkByte(quint32 flags, quint32 crc, quint32 dosDate);

} // namespace ZipCrypto

// Reads an encrypted entry opened raw: pulls the stored bytes (the header, then encrypted
// data), decrypts them and inflates them (method 8) or hands them out as they are
// (method 0), with the CRC of what it produced. Output comes in pieces no larger than the
// caller's buffer whatever the input, so bounds on the bytes written hold for it too.
class ZipDecryptingReader
{
public:
    // The raw bytes of the entry, as unzReadCurrentFile gives them for an entry opened raw:
    // the count read, 0 at the end, negative on an error.
    using RawRead = std::function<int(char* buffer, unsigned size)>;
    enum class Header
    {
        Good,
        WrongPassword,
        Damaged, // shorter than a header, or unreadable
    };

    ZipDecryptingReader(RawRead raw, const QByteArray& password, int method);
    ~ZipDecryptingReader();
    ZipDecryptingReader(const ZipDecryptingReader&) = delete;
    ZipDecryptingReader& operator=(const ZipDecryptingReader&) = delete;

    // Methods it reads: 0 (stored) and 8 (deflated).
    static bool readsMethod(int method);

    // Reads and checks the header; call once, before read().
    Header readHeader(quint8 expectedCheck);
    // As unzReadCurrentFile: bytes produced into `buffer` (at most `size`), 0 at the end of
    // the entry, negative on failure: the raw read's own error, Z_DATA_ERROR for data that
    // does not inflate, Z_BUF_ERROR for a deflate stream that stops before its end.
    int read(char* buffer, unsigned size);
    // The CRC-32 of everything read() produced.
    quint32 crc() const { return mCrc; }

private:
    // Fills the input buffer with decrypted bytes: how many, or the raw read's error.
    int refill();

    RawRead mRaw;
    ZipCryptoKeys mKeys;
    int mMethod;
    z_stream mStream{};
    bool mInflating = false;
    bool mRawEnded = false;
    bool mEnded = false;
    quint32 mCrc = 0;
    char mInput[16384];
};

// Writes an entry encrypted: deflates (any level, 0 included) and encrypts what it is given
// and passes the result, the header first, to the sink. The CRC of the whole data must be
// known before the first byte, for the header's check byte.
class ZipEncryptingWriter
{
public:
    // Takes the next encrypted bytes; false stops the writer.
    using Sink = std::function<bool(const char* data, qsizetype size)>;

    ZipEncryptingWriter(const QByteArray& password, int level, quint32 crc, Sink sink);
    ~ZipEncryptingWriter();
    ZipEncryptingWriter(const ZipEncryptingWriter&) = delete;
    ZipEncryptingWriter& operator=(const ZipEncryptingWriter&) = delete;

    // Writes the header; the random bytes in it come from `random` (12 bytes are taken).
    [[nodiscard]] bool start(const QByteArray& random);
    [[nodiscard]] bool write(const char* data, qsizetype size);
    // Ends the deflate stream.
    [[nodiscard]] bool finish();

private:
    [[nodiscard]] bool deflateInto(int flush);

    ZipCryptoKeys mKeys;
    quint32 mCrc;
    Sink mSink;
    z_stream mStream{};
    bool mReady = false;
};

} // namespace corvex
