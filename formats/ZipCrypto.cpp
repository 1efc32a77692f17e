#include "formats/ZipCrypto.h"

#include <algorithm>
#include <climits>

namespace corvex {

namespace {

// One step of the CRC-32 register over a byte, as the key schedule uses it (zlib's crc32
// works on the complemented register).
quint32 crcStep(quint32 value, quint8 byte)
{
    const Bytef input = byte;
    return ~quint32(::crc32(uLong(~value), &input, 1));
}

} // namespace

ZipCryptoKeys::ZipCryptoKeys(const QByteArray& password) : mKeys{0x12345678u, 0x23456789u, 0x34567890u}
{
    for (const char c : password)
        update(quint8(c));
}

void ZipCryptoKeys::update(quint8 plain)
{
    mKeys[0] = crcStep(mKeys[0], plain);
    mKeys[1] = (mKeys[1] + (mKeys[0] & 0xffu)) * 134775813u + 1u;
    mKeys[2] = crcStep(mKeys[2], quint8(mKeys[1] >> 24));
}

quint8 ZipCryptoKeys::streamByte() const
{
    const quint32 temp = (mKeys[2] & 0xffffu) | 2u;
    return quint8(((temp * (temp ^ 1u)) >> 8) & 0xffu);
}

void ZipCryptoKeys::decrypt(char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 plain = quint8(data[i]) ^ streamByte();
        update(plain);
        data[i] = char(plain);
    }
}

void ZipCryptoKeys::encrypt(char* data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 plain = quint8(data[i]);
        data[i] = char(plain ^ streamByte());
        update(plain);
    }
}

quint8 ZipCrypto::checkByte(quint32 flags, quint32 crc, quint32 dosDate)
{
    if (flags & DataDescriptorFlag)
        return quint8((dosDate >> 8) & 0xffu);
    return quint8(crc >> 24);
}

// ---- Reading

ZipDecryptingReader::ZipDecryptingReader(RawRead raw, const QByteArray& password, int method)
    : mRaw(std::move(raw)), mKeys(password), mMethod(method)
{
    if (mMethod == Z_DEFLATED)
        mInflating = ::inflateInit2(&mStream, -MAX_WBITS) == Z_OK;
}

ZipDecryptingReader::~ZipDecryptingReader()
{
    if (mInflating)
        ::inflateEnd(&mStream);
}

bool ZipDecryptingReader::readsMethod(int method)
{
    return method == 0 || method == Z_DEFLATED;
}

ZipDecryptingReader::Header ZipDecryptingReader::readHeader(quint8 expectedCheck)
{
    char header[ZipCrypto::HeaderSize];
    int done = 0;
    while (done < ZipCrypto::HeaderSize) {
        const int got = mRaw(header + done, unsigned(ZipCrypto::HeaderSize - done));
        if (got <= 0)
            return Header::Damaged;
        done += got;
    }
    mKeys.decrypt(header, ZipCrypto::HeaderSize);
    return quint8(header[ZipCrypto::HeaderSize - 1]) == expectedCheck ? Header::Good : Header::WrongPassword;
}

int ZipDecryptingReader::refill()
{
    const int got = mRaw(mInput, unsigned(sizeof mInput));
    if (got < 0)
        return got;
    if (got == 0)
        mRawEnded = true;
    mKeys.decrypt(mInput, got);
    mStream.next_in = reinterpret_cast<Bytef*>(mInput);
    mStream.avail_in = uInt(got);
    return got;
}

int ZipDecryptingReader::read(char* buffer, unsigned size)
{
    if (mEnded || size == 0)
        return 0;
    size = std::min(size, unsigned(INT_MAX));
    if (mMethod == 0) {
        const int got = mRaw(buffer, size);
        if (got < 0)
            return got;
        if (got == 0) {
            mEnded = true;
            return 0;
        }
        mKeys.decrypt(buffer, got);
        mCrc = quint32(::crc32(mCrc, reinterpret_cast<const Bytef*>(buffer), uInt(got)));
        return got;
    }
    if (!mInflating)
        return Z_MEM_ERROR;
    mStream.next_out = reinterpret_cast<Bytef*>(buffer);
    mStream.avail_out = size;
    // Until something comes out: a piece of input may hold only stream headers.
    while (mStream.avail_out == size) {
        if (mStream.avail_in == 0) {
            if (mRawEnded)
                return Z_BUF_ERROR; // the stream stops before its end
            if (const int got = refill(); got < 0)
                return got;
        }
        const int result = ::inflate(&mStream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            mEnded = true;
            break;
        }
        if (result != Z_OK && !(result == Z_BUF_ERROR && !mRawEnded))
            return Z_DATA_ERROR;
    }
    const unsigned produced = size - mStream.avail_out;
    mCrc = quint32(::crc32(mCrc, reinterpret_cast<const Bytef*>(buffer), produced));
    return int(produced);
}

// ---- Writing

ZipEncryptingWriter::ZipEncryptingWriter(const QByteArray& password, int level, quint32 crc, Sink sink)
    : mKeys(password), mCrc(crc), mSink(std::move(sink))
{
    mReady = ::deflateInit2(&mStream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

ZipEncryptingWriter::~ZipEncryptingWriter()
{
    if (mReady)
        ::deflateEnd(&mStream);
}

bool ZipEncryptingWriter::start(const QByteArray& random)
{
    if (!mReady || random.size() < ZipCrypto::HeaderSize)
        return false;
    QByteArray header = random.left(ZipCrypto::HeaderSize);
    header[ZipCrypto::HeaderSize - 1] = char(ZipCrypto::checkByte(0, mCrc, 0));
    mKeys.encrypt(header.data(), header.size());
    return mSink(header.constData(), header.size());
}

bool ZipEncryptingWriter::deflateInto(int flush)
{
    char out[16384];
    for (;;) {
        mStream.next_out = reinterpret_cast<Bytef*>(out);
        mStream.avail_out = uInt(sizeof out);
        const int result = ::deflate(&mStream, flush);
        if (result == Z_STREAM_ERROR)
            return false;
        const qsizetype produced = qsizetype(sizeof out - mStream.avail_out);
        if (produced > 0) {
            mKeys.encrypt(out, produced);
            if (!mSink(out, produced))
                return false;
        }
        if (flush == Z_FINISH ? result == Z_STREAM_END : mStream.avail_out != 0)
            return true;
    }
}

bool ZipEncryptingWriter::write(const char* data, qsizetype size)
{
    if (!mReady)
        return false;
    while (size > 0) {
        const uInt piece = uInt(std::min<qsizetype>(size, 1 << 20));
        mStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        mStream.avail_in = piece;
        if (!deflateInto(Z_NO_FLUSH))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

bool ZipEncryptingWriter::finish()
{
    if (!mReady)
        return false;
    mStream.next_in = nullptr;
    mStream.avail_in = 0;
    return deflateInto(Z_FINISH);
}

} // namespace corvex
