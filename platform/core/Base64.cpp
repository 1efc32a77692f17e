#include "platform/core/Base64.h"

#include <array>

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

} // namespace

QString Base64::encode(const QByteArray& data)
{
    return QString::fromLatin1(data.toBase64());
}

QByteArray Base64::decode(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() / 4 * 3 + 3);
    quint32 bits = 0;
    int pending = 0; // sextets held in `bits`
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == u'=')
            break;
        if (unit >= 128 || kDecodeTable[unit] < 0)
            continue;
        bits = (bits << 6) | quint32(kDecodeTable[unit]);
        if (++pending == 4) {
            out.append(char((bits >> 16) & 0xFF));
            out.append(char((bits >> 8) & 0xFF));
            out.append(char(bits & 0xFF));
            bits = 0;
            pending = 0;
        }
    }
    if (pending == 2) {
        out.append(char((bits >> 4) & 0xFF));
    } else if (pending == 3) {
        out.append(char((bits >> 10) & 0xFF));
        out.append(char((bits >> 2) & 0xFF));
    }
    return out;
}

} // namespace corvex
