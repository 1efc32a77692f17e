#include "platform/core/Base64.h"

#include <QtEndian>

#include <array>
#include <cstring>
#include <type_traits>

namespace corvex {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Maps a UTF-16 unit to its 6-bit value, or -1 outside the alphabet.
constexpr std::array<signed char, 128> makeDecodeTable()
{
    std::array<signed char, 128> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return table;
}

constexpr std::array<signed char, 128> kDecodeTable = makeDecodeTable();

// The two characters of every 12-bit value as they lie in memory, so that six bytes take
// one 64-bit load, four lookups and one 64-bit store: pictures are most of a document's
// bytes, and this runs over all of them at every save. 8 KiB, which stays in the
// first-level cache.
constexpr std::array<quint16, 4096> makePairTable()
{
    std::array<quint16, 4096> table{};
    for (int i = 0; i < 4096; ++i) {
        const auto first = quint16(static_cast<unsigned char>(kAlphabet[i >> 6]));
        const auto second = quint16(static_cast<unsigned char>(kAlphabet[i & 0x3F]));
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
            table[std::size_t(i)] = quint16(first | second << 8);
        else
            table[std::size_t(i)] = quint16(first << 8 | second);
    }
    return table;
}

constexpr std::array<quint16, 4096> kPairTable = makePairTable();

inline void putPair(char* out, quint32 twelveBits)
{
    std::memcpy(out, &kPairTable[twelveBits], 2);
}

// Eight characters for the first six of the eight bytes at `in`.
inline void putSixBytes(char* out, const unsigned char* in)
{
    quint64 word;
    std::memcpy(&word, in, 8);
    word = qFromBigEndian(word); // the first byte on top
    const quint64 chars =
        quint64(kPairTable[(word >> 52) & 0xFFF]) | quint64(kPairTable[(word >> 40) & 0xFFF]) << 16 |
        quint64(kPairTable[(word >> 28) & 0xFFF]) << 32 | quint64(kPairTable[(word >> 16) & 0xFFF]) << 48;
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        std::memcpy(out, &chars, 8);
    } else {
        // The pairs are in the order of the characters; put them in memory in that order.
        for (int k = 0; k < 4; ++k) {
            const auto pair = quint16(chars >> (16 * k));
            std::memcpy(out + 2 * k, &pair, 2);
        }
    }
}

} // namespace

QString Base64::encode(const QByteArray& data)
{
    return QString::fromLatin1(data.toBase64());
}

char* Base64::encodeInto(char* out, const char* data, qsizetype size)
{
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    // Six bytes to eight characters per step, reading eight (so the last two steps' worth
    // is left to the loop below): no branch per character.
    for (; i + 14 <= size; i += 12) {
        putSixBytes(out, in + i);
        putSixBytes(out + 8, in + i + 6);
        out += 16;
    }
    for (; i + 3 <= size; i += 3) {
        const quint32 triple = quint32(in[i]) << 16 | quint32(in[i + 1]) << 8 | in[i + 2];
        putPair(out, triple >> 12);
        putPair(out + 2, triple & 0xFFF);
        out += 4;
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const quint32 triple = quint32(in[i]) << 16 | (two ? quint32(in[i + 1]) << 8 : 0);
        out[0] = kAlphabet[triple >> 18];
        out[1] = kAlphabet[(triple >> 12) & 0x3F];
        out[2] = two ? kAlphabet[(triple >> 6) & 0x3F] : '=';
        out[3] = '=';
        out += 4;
    }
    return out;
}

namespace {

// The 6-bit value of a character of Base64 text, -1 for any other.
template <class Unit> int sextet(Unit character)
{
    const auto unit = std::make_unsigned_t<Unit>(character);
    return unit >= 128 ? -1 : kDecodeTable[unit];
}

// Characters (of any width) of Base64 text to their bytes: see Base64::decode.
template <class Unit> QByteArray decodeUnits(const Unit* text, qsizetype size)
{
    QByteArray out(size / 4 * 3 + 3, Qt::Uninitialized);
    char* written = out.data();
    const Unit* const end = text + size;
    // Whole groups of four characters of the alphabet, all of a picture but its end, go
    // without a test of each; the rest follows the rules below.
    while (end - text >= 4) {
        const int a = sextet(text[0]);
        const int b = sextet(text[1]);
        const int c = sextet(text[2]);
        const int d = sextet(text[3]);
        if ((a | b | c | d) < 0)
            break;
        const quint32 bits = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
        written[0] = char(bits >> 16);
        written[1] = char(bits >> 8);
        written[2] = char(bits);
        written += 3;
        text += 4;
    }
    quint32 bits = 0;
    int pending = 0; // sextets held in `bits`
    for (; text < end; ++text) {
        if (*text == Unit('='))
            break;
        const int value = sextet(*text);
        if (value < 0)
            continue;
        bits = (bits << 6) | quint32(value);
        if (++pending == 4) {
            *written++ = char((bits >> 16) & 0xFF);
            *written++ = char((bits >> 8) & 0xFF);
            *written++ = char(bits & 0xFF);
            bits = 0;
            pending = 0;
        }
    }
    if (pending == 2) {
        *written++ = char((bits >> 4) & 0xFF);
    } else if (pending == 3) {
        *written++ = char((bits >> 10) & 0xFF);
        *written++ = char((bits >> 2) & 0xFF);
    }
    out.truncate(written - out.constData());
    return out;
}

} // namespace

QByteArray Base64::decode(QStringView text)
{
    return decodeUnits(text.utf16(), text.size());
}

QByteArray Base64::decode(QByteArrayView utf8)
{
    return decodeUnits(utf8.data(), utf8.size());
}

} // namespace corvex
