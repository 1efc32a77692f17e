#pragma once

#include <QtGlobal>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvex {

// Byte-level pieces of reading JSON string text, inline, for the readers that go through
// strings themselves (JsonText, the search's payload scanner).

// The value of one hexadecimal digit; -1 for any other character.
inline int jsonHexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The code unit of the four hexadecimal digits of a \u escape at `p` (which has room for
// them); -1 when they are none.
inline int jsonHexUnit(const char* p)
{
    int unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = jsonHexDigit(p[i]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// Whether a byte continues a UTF-8 sequence, within the range its place allows (RFC 3629
// narrows the second byte after some lead bytes).
inline bool utf8Continuation(quint8 byte, quint8 low = 0x80, quint8 high = 0xBF)
{
    return byte >= low && byte <= high;
}

// The first byte from `p` on that ends a plain run of JSON string text: a quote, a
// backslash, a control character or the first byte of a character beyond ASCII; `end` when
// none does. Plain ASCII, the most of every document, goes by sixteen bytes at a time.
inline const char* plainJsonStringRun(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    // Signed bytes: below 0x20 are the control characters and every byte from 0x80 up.
    const __m128i firstPlain = _mm_set1_epi8(0x20);
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stop =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                         _mm_cmplt_epi8(bytes, firstPlain));
        const int mask = _mm_movemask_epi8(stop);
        if (mask != 0)
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#endif
    while (p < end) {
        const quint8 c = quint8(*p);
        if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80)
            return p;
        ++p;
    }
    return p;
}

} // namespace corvex
