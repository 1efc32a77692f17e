#include "platform/ui/CompositorScaler_p.h"

#include "platform/core/ProcessorFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace corvex {

namespace {

// Where the device pixels of a row sample their source: the left pixel of the pair each
// interpolates, and the pair's weights (0 to 256 each, the opacity multiplied in) as eight
// 16-bit lanes, the left weight four times then the right one, so that SIMD code loads them
// as they are.
struct ScalerColumns
{
    std::vector<int> index;
    std::vector<std::uint16_t> weights; // 8 a column
    // The same weights in 1/128 for the AVX2 code, as bytes: (left, right) 4 times a column;
    // left + right is `half` (the opacity in 1/128) in every column.
    std::vector<std::uint8_t> narrowWeights;
    unsigned half = 128;
};

// One channel-wise mix of two premultiplied pixels, a + b at most 257 (each lane's products
// then stay within 16 bits).
inline std::uint32_t scalerMix(std::uint32_t x, unsigned a, std::uint32_t y, unsigned b)
{
    std::uint32_t t = (x & 0xff00ffu) * a + (y & 0xff00ffu) * b;
    t = (t >> 8) & 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a + ((y >> 8) & 0xff00ffu) * b;
    x &= 0xff00ff00u;
    return x | t;
}

inline std::uint32_t scalerSwapRedBlue(std::uint32_t p)
{
    return (p & 0xff00ff00u) | ((p >> 16) & 0xffu) | ((p & 0xffu) << 16);
}

// Each channel times a / 255, rounded as QPainter's raster blends round.
inline std::uint32_t scalerByteMul(std::uint32_t x, unsigned a)
{
    std::uint32_t t = (x & 0xff00ffu) * a;
    t = ((t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = (x + ((x >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
    return x | t;
}

// Premultiplied `src` over `dst`, from `i` on: QPainter's source-over, to the bit.
void scalerBlendOverTail(const std::uint32_t* src, std::uint32_t* dst, int i, int count)
{
    for (; i < count; ++i) {
        const std::uint32_t s = src[i];
        if (s >= 0xff000000u)
            dst[i] = s;
        else if (s != 0)
            dst[i] = s + scalerByteMul(dst[i], 255u - (s >> 24));
    }
}

// out[i] = a[i] * (256 - d) / 256 + b[i] * d / 256, channel by channel, from `i` on.
void scalerLerpRowsTail(const std::uint32_t* a, const std::uint32_t* b, unsigned d, std::uint32_t* out, int i,
                        int count)
{
    for (; i < count; ++i)
        out[i] = scalerMix(a[i], 256 - d, b[i], d);
}

// out[x] = the mix of row[index[x]] and row[index[x] + 1] by the column's weights, from `x`
// on. With `swap`, the first and third bytes of each pixel change places (RGBA to ARGB32).
template <bool swap>
void scalerMixColumnsTail(const std::uint32_t* row, const ScalerColumns& columns, std::uint32_t* out, int x,
                          int count)
{
    for (; x < count; ++x) {
        const int i = columns.index[std::size_t(x)];
        const std::uint16_t* w = &columns.weights[std::size_t(x) * 8];
        const std::uint32_t p = scalerMix(row[i], w[0], row[i + 1], w[4]);
        out[x] = swap ? scalerSwapRedBlue(p) : p;
    }
}

#if defined(__SSE2__)
void scalerLerpRowsSse2(const std::uint32_t* a, const std::uint32_t* b, unsigned d, std::uint32_t* out,
                        int count)
{
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i wa = _mm_set1_epi16(short(256 - d));
    const __m128i wb = _mm_set1_epi16(short(d));
    for (; i + 4 <= count; i += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), wa),
                                                        _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wb)),
                                          8);
        const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), wa),
                                                        _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wb)),
                                          8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
    scalerLerpRowsTail(a, b, d, out, i, count);
}

// dst = src + dst x (255 - alpha of src) / 255 for four pixels; the pixels of `src` as they are
// where all four are opaque, `dst` untouched where all four are clear.
inline __m128i scalerBlendFourSse2(__m128i s, __m128i d)
{
    const __m128i colorMask = _mm_set1_epi32(0x00ff00ff);
    const __m128i half = _mm_set1_epi16(0x0080);
    __m128i alpha = _mm_srli_epi32(s, 24);
    alpha = _mm_sub_epi16(_mm_set1_epi16(0x00ff), _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16)));
    __m128i ag = _mm_mullo_epi16(_mm_srli_epi16(d, 8), alpha);
    __m128i rb = _mm_mullo_epi16(_mm_and_si128(d, colorMask), alpha);
    rb = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(rb, _mm_srli_epi16(rb, 8)), half), 8);
    ag = _mm_andnot_si128(colorMask, _mm_add_epi16(_mm_add_epi16(ag, _mm_srli_epi16(ag, 8)), half));
    return _mm_add_epi8(s, _mm_or_si128(ag, rb));
}

void scalerBlendOverSse2(const std::uint32_t* src, std::uint32_t* dst, int count)
{
    const __m128i alphaMask = _mm_set1_epi32(int(0xff000000u));
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(s, zero)) == 0xffff)
            continue;
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alphaMask), alphaMask)) == 0xffff) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), s);
            continue;
        }
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), scalerBlendFourSse2(s, d));
    }
    scalerBlendOverTail(src, dst, i, count);
}

template <bool swap>
void scalerMixColumnsSse2(const std::uint32_t* row, const ScalerColumns& columns, std::uint32_t* out,
                          int first, int count)
{
    const __m128i zero = _mm_setzero_si128();
    const int* index = columns.index.data();
    const std::uint16_t* weights = columns.weights.data();
    // One pixel in the low four lanes.
    const auto one = [&](int x) {
        __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[x]));
        p = _mm_mullo_epi16(_mm_unpacklo_epi8(p, zero),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * x)));
        p = _mm_srli_epi16(_mm_add_epi16(p, _mm_srli_si128(p, 8)), 8);
        if constexpr (swap)
            p = _mm_shufflelo_epi16(p, _MM_SHUFFLE(3, 0, 1, 2));
        return p;
    };
    int x = first;
    for (; x + 4 <= count; x += 4) {
        const __m128i p01 = _mm_unpacklo_epi64(one(x), one(x + 1));
        const __m128i p23 = _mm_unpacklo_epi64(one(x + 2), one(x + 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(p01, p23));
    }
    scalerMixColumnsTail<swap>(row, columns, out, x, count);
}

// The same with twice the lanes, for processors that have AVX2 (chosen at run time).
__attribute__((target("avx2"))) void scalerLerpRowsAvx2(const std::uint32_t* a, const std::uint32_t* b,
                                                        unsigned d, std::uint32_t* out, int count)
{
    int i = 0;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i wa = _mm256_set1_epi16(short(256 - d));
    const __m256i wb = _mm256_set1_epi16(short(d));
    for (; i + 8 <= count; i += 8) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const __m256i lo =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(va, zero), wa),
                                               _mm256_mullo_epi16(_mm256_unpacklo_epi8(vb, zero), wb)),
                              8);
        const __m256i hi =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(va, zero), wa),
                                               _mm256_mullo_epi16(_mm256_unpackhi_epi8(vb, zero), wb)),
                              8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_packus_epi16(lo, hi));
    }
    scalerLerpRowsTail(a, b, d, out, i, count);
}

// out[x] from the narrow weights (what the AVX2 code computes), from `x` on.
template <bool swap>
void scalerMixColumnsNarrowTail(const std::uint32_t* row, const ScalerColumns& columns, std::uint32_t* out,
                                int x, int count)
{
    for (; x < count; ++x) {
        const int i = columns.index[std::size_t(x)];
        const unsigned a = columns.narrowWeights[std::size_t(x) * 8];
        const unsigned b = columns.narrowWeights[std::size_t(x) * 8 + 1];
        const std::uint32_t l = row[i], r = row[i + 1];
        const std::uint32_t rb = (((l & 0xff00ffu) * a + (r & 0xff00ffu) * b) >> 7) & 0xff00ffu;
        const std::uint32_t ag = ((((l >> 8) & 0xff00ffu) * a + ((r >> 8) & 0xff00ffu) * b) >> 7) & 0xff00ffu;
        const std::uint32_t p = rb | (ag << 8);
        out[x] = swap ? scalerSwapRedBlue(p) : p;
    }
}

// Pixels x to x + 3, two in each half, their channels as 16-bit lanes. The pairs' bytes are
// interleaved (left, right) per channel and multiplied-added with the weights: the bytes
// taken as signed after flipping their top bit, the products' sum corrected by `bias`.
__attribute__((target("avx2"))) inline __m256i scalerMixFourAvx2(const std::uint32_t* row, const int* index,
                                                                 const std::uint8_t* weights, int x,
                                                                 __m256i interleave, __m256i bias)
{
    const __m128i lo =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[x])),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[x + 1])));
    const __m128i hi =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[x + 2])),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + index[x + 3])));
    __m256i p = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    p = _mm256_xor_si256(_mm256_shuffle_epi8(p, interleave), _mm256_set1_epi8(char(0x80)));
    p = _mm256_maddubs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 8 * x)), p);
    return _mm256_srli_epi16(_mm256_add_epi16(p, bias), 7);
}

template <bool swap>
__attribute__((target("avx2"))) void scalerMixColumnsAvx2(const std::uint32_t* row,
                                                          const ScalerColumns& columns, std::uint32_t* out,
                                                          int first, int count)
{
    const int* index = columns.index.data();
    const std::uint8_t* weights = columns.narrowWeights.data();
    // Each pair's bytes as (left, right) per channel; with `swap`, the first and third
    // channels change places on the way.
    const __m256i interleave = swap ? _mm256_setr_epi8(2, 6, 1, 5, 0, 4, 3, 7, 10, 14, 9, 13, 8, 12, 11, 15,
                                                       2, 6, 1, 5, 0, 4, 3, 7, 10, 14, 9, 13, 8, 12, 11, 15)
                                    : _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,
                                                       0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    // The top bits flipped took 128 x (left + right) off every sum.
    const __m256i bias = _mm256_set1_epi16(short(128 * columns.half));
    int x = first;
    for (; x + 8 <= count; x += 8) {
        const __m256i first = scalerMixFourAvx2(row, index, weights, x, interleave, bias);
        const __m256i second = scalerMixFourAvx2(row, index, weights, x + 4, interleave, bias);
        // Packed as pixels 0 1 4 5 | 2 3 6 7.
        const __m256i packed = _mm256_packus_epi16(first, second);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permute4x64_epi64(packed, 0xd8));
    }
    scalerMixColumnsNarrowTail<swap>(row, columns, out, x, count);
}

// The same source-over eight pixels at a time.
__attribute__((target("avx2"))) void scalerBlendOverAvx2(const std::uint32_t* src, std::uint32_t* dst,
                                                         int count)
{
    const __m256i alphaMask = _mm256_set1_epi32(int(0xff000000u));
    const __m256i colorMask = _mm256_set1_epi32(0x00ff00ff);
    const __m256i half = _mm256_set1_epi16(0x0080);
    const __m256i full = _mm256_set1_epi16(0x00ff);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        if (_mm256_testz_si256(s, s))
            continue;
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(s, alphaMask), alphaMask)) == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), s);
            continue;
        }
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
        __m256i alpha = _mm256_srli_epi32(s, 24);
        alpha = _mm256_sub_epi16(full, _mm256_or_si256(alpha, _mm256_slli_epi32(alpha, 16)));
        __m256i ag = _mm256_mullo_epi16(_mm256_srli_epi16(d, 8), alpha);
        __m256i rb = _mm256_mullo_epi16(_mm256_and_si256(d, colorMask), alpha);
        rb = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(rb, _mm256_srli_epi16(rb, 8)), half), 8);
        ag = _mm256_andnot_si256(colorMask,
                                 _mm256_add_epi16(_mm256_add_epi16(ag, _mm256_srli_epi16(ag, 8)), half));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_add_epi8(s, _mm256_or_si256(ag, rb)));
    }
    scalerBlendOverTail(src, dst, i, count);
}

// GCC 12 takes the undefined vectors its AVX-512 intrinsics start from for uninitialised use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The row mix and the blend with four times SSE2's lanes, where the processor has AVX-512
// (with its byte and word instructions). A row's last pixels go through masked lanes rather
// than one at a time; whole vectors are loaded and stored plainly, since a masked store
// costs several plain ones on some processors (measured a third slower over a frame).
// The column mix stays AVX2's: built from pairs its wider form measured slower.
constexpr __mmask16 kAllLanes = 0xffff;

// The pixels from `i` on, at most 16, in as many lanes; the others clear.
__attribute__((target("avx512f"))) inline __m512i scalerLoadLanes(__mmask16 lanes, const std::uint32_t* p)
{
    return lanes == kAllLanes ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi32(lanes, p);
}

__attribute__((target("avx512f"))) inline void scalerStoreLanes(__mmask16 lanes, std::uint32_t* p, __m512i v)
{
    if (lanes == kAllLanes)
        _mm512_storeu_si512(p, v);
    else
        _mm512_mask_storeu_epi32(p, lanes, v);
}

// The lanes of the 16 pixels from `i` on that lie before `count`.
inline __mmask16 scalerLanes(int i, int count)
{
    return count - i >= 16 ? kAllLanes : __mmask16((1u << (count - i)) - 1);
}

// Channels as 16-bit lanes: (x * wx + y * wy) / 256.
__attribute__((target("avx512f,avx512bw"))) inline __m512i scalerWeighAvx512(__m512i x, __m512i wx, __m512i y,
                                                                             __m512i wy)
{
    return _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(x, wx), _mm512_mullo_epi16(y, wy)), 8);
}

__attribute__((target("avx512f,avx512bw"))) void scalerLerpRowsAvx512(const std::uint32_t* a,
                                                                      const std::uint32_t* b, unsigned d,
                                                                      std::uint32_t* out, int count)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i wa = _mm512_set1_epi16(short(256 - d));
    const __m512i wb = _mm512_set1_epi16(short(d));
    for (int i = 0; i < count; i += 16) {
        const __mmask16 lanes = scalerLanes(i, count);
        const __m512i va = scalerLoadLanes(lanes, a + i);
        const __m512i vb = scalerLoadLanes(lanes, b + i);
        const __m512i lo =
            scalerWeighAvx512(_mm512_unpacklo_epi8(va, zero), wa, _mm512_unpacklo_epi8(vb, zero), wb);
        const __m512i hi =
            scalerWeighAvx512(_mm512_unpackhi_epi8(va, zero), wa, _mm512_unpackhi_epi8(vb, zero), wb);
        scalerStoreLanes(lanes, out + i, _mm512_packus_epi16(lo, hi));
    }
}

__attribute__((target("avx512f,avx512bw"))) void scalerBlendOverAvx512(const std::uint32_t* src,
                                                                       std::uint32_t* dst, int count)
{
    const __m512i opaqueAlpha = _mm512_set1_epi32(int(0xff000000u));
    const __m512i colorMask = _mm512_set1_epi32(0x00ff00ff);
    const __m512i half = _mm512_set1_epi16(0x0080);
    const __m512i full = _mm512_set1_epi16(0x00ff);
    for (int i = 0; i < count; i += 16) {
        const __mmask16 lanes = scalerLanes(i, count);
        const __m512i s = scalerLoadLanes(lanes, src + i);
        // Clear pixels leave the target as it is, opaque ones replace it.
        const __mmask16 shown = _mm512_test_epi32_mask(s, s);
        if (shown == 0)
            continue;
        if (lanes == kAllLanes && _mm512_cmpge_epu32_mask(s, opaqueAlpha) == kAllLanes) {
            _mm512_storeu_si512(dst + i, s);
            continue;
        }
        const __m512i d = scalerLoadLanes(lanes, dst + i);
        __m512i alpha = _mm512_srli_epi32(s, 24);
        alpha = _mm512_sub_epi16(full, _mm512_or_si512(alpha, _mm512_slli_epi32(alpha, 16)));
        __m512i ag = _mm512_mullo_epi16(_mm512_srli_epi16(d, 8), alpha);
        __m512i rb = _mm512_mullo_epi16(_mm512_and_si512(d, colorMask), alpha);
        rb = _mm512_srli_epi16(_mm512_add_epi16(_mm512_add_epi16(rb, _mm512_srli_epi16(rb, 8)), half), 8);
        ag = _mm512_andnot_si512(colorMask,
                                 _mm512_add_epi16(_mm512_add_epi16(ag, _mm512_srli_epi16(ag, 8)), half));
        // Clear lanes come out as the target was.
        scalerStoreLanes(lanes, dst + i, _mm512_add_epi8(s, _mm512_or_si512(ag, rb)));
    }
}

#pragma GCC diagnostic pop

bool scalerHasAvx512()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return has;
}
#endif

void scalerLerpRows(const std::uint32_t* a, const std::uint32_t* b, unsigned d, std::uint32_t* out, int count)
{
#if defined(__SSE2__)
    if (scalerHasAvx512())
        scalerLerpRowsAvx512(a, b, d, out, count);
    else if (processorHasAvx2())
        scalerLerpRowsAvx2(a, b, d, out, count);
    else
        scalerLerpRowsSse2(a, b, d, out, count);
#else
    scalerLerpRowsTail(a, b, d, out, 0, count);
#endif
}

void scalerBlendOver(const std::uint32_t* src, std::uint32_t* dst, int count)
{
#if defined(__SSE2__)
    if (scalerHasAvx512())
        scalerBlendOverAvx512(src, dst, count);
    else if (processorHasAvx2())
        scalerBlendOverAvx2(src, dst, count);
    else
        scalerBlendOverSse2(src, dst, count);
#else
    scalerBlendOverTail(src, dst, 0, count);
#endif
}

template <bool swap>
// Columns [first, count) of a row.
void scalerMixColumns(const std::uint32_t* row, const ScalerColumns& columns, std::uint32_t* out, int first,
                      int count)
{
#if defined(__SSE2__)
    if (processorHasAvx2())
        scalerMixColumnsAvx2<swap>(row, columns, out, first, count);
    else
        scalerMixColumnsSse2<swap>(row, columns, out, first, count);
#else
    scalerMixColumnsTail<swap>(row, columns, out, first, count);
#endif
}

// Where device pixel `i` (counted from `first`) samples along one axis of `length` source
// pixels: u = (i + 0.5 - offset) / scale - 0.5 as QPainter computes it, the fraction in
// 1/256 and the coordinate clamped to the source (edge pixels repeat).
struct ScalerSample
{
    int index = 0;       // the first of the pair
    unsigned weight = 0; // of the second
};

ScalerSample scalerSample(double device, double offset, double scale, int length)
{
    const double u = (device + 0.5 - offset) / scale - 0.5;
    const double floor = std::floor(u);
    ScalerSample s;
    if (!(floor >= 0)) {
        s.index = 0;
        s.weight = 0;
    } else if (floor >= length - 1) {
        s.index = length - 1;
        s.weight = 0;
    } else {
        s.index = int(floor);
        s.weight = std::min(unsigned((u - floor) * 256), 255u);
    }
    return s;
}

// Per row of premultiplied contents, the columns [first, end) between the first and the last
// pixel that is not clear: the rest of the row scales and blends to nothing, so it is left
// out. Kept for the last contents seen (by cache key), since the same contents are scaled
// frame after frame.
std::shared_ptr<const ScalerRowSpans> scalerRowSpansOf(const QImage& source)
{
    if (source.format() != QImage::Format_ARGB32_Premultiplied &&
        source.format() != QImage::Format_RGBA8888_Premultiplied)
        return nullptr;
    constexpr std::size_t kKept = 256;
    thread_local std::vector<std::pair<qint64, std::shared_ptr<const ScalerRowSpans>>> kept;
    const qint64 key = source.cacheKey();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i].first == key) {
            // Most recently used at the back.
            std::rotate(kept.begin() + std::ptrdiff_t(i), kept.begin() + std::ptrdiff_t(i) + 1, kept.end());
            return kept.back().second;
        }
    }
    auto spans = std::make_shared<ScalerRowSpans>(std::size_t(source.height()));
    const int w = source.width();
    for (int y = 0; y < source.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(source.constScanLine(y));
        int first = 0;
        while (first < w && row[first] == 0)
            ++first;
        int end = w;
        while (end > first && row[end - 1] == 0)
            --end;
        (*spans)[std::size_t(y)] = {first, end};
    }
    if (kept.size() >= kKept)
        kept.erase(kept.begin());
    kept.emplace_back(key, spans);
    return spans;
}

} // namespace

bool CompositorScaler::supports(QImage::Format format)
{
    return format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32 ||
           format == QImage::Format_RGBA8888_Premultiplied || format == QImage::Format_RGBX8888;
}

struct CompositorScaler::Plan
{
    QImage source;
    QPoint origin;
    QSize size;
    double ty = 0, sy = 1;
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0; // the pixels the scaled rectangle covers
    int lowest = 0;                     // the first source column sampled
    int span = 0;                       // source columns sampled, from `lowest`
    bool rgbaOrder = false;
    ScalerColumns columns;
    // Per source row, the columns [first, end) that are not clear; null for opaque formats.
    std::shared_ptr<const ScalerRowSpans> spans;
};

CompositorScaler::CompositorScaler(const QImage& source, const QTransform& toDevice, double opacity,
                                   int maxSide)
{
    const int w = source.width();
    const int h = source.height();
    if (source.isNull() || !supports(source.format()) || toDevice.type() > QTransform::TxScale)
        return;
    const double sx = toDevice.m11(), sy = toDevice.m22(), tx = toDevice.dx(), ty = toDevice.dy();
    if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(tx) || !std::isfinite(ty) || sx == 0 ||
        sy == 0 || !std::isfinite(opacity))
        return;
    const double left = std::min(tx, tx + w * sx), right = std::max(tx, tx + w * sx);
    const double top = std::min(ty, ty + h * sy), bottom = std::max(ty, ty + h * sy);
    const double originX = std::floor(left), originY = std::floor(top);
    const double wide = std::ceil(right) - originX, high = std::ceil(bottom) - originY;
    if (!(wide >= 1) || !(high >= 1) || wide > maxSide || high > maxSide)
        return;
    auto plan = std::make_unique<Plan>();
    plan->source = source;
    plan->origin = QPoint(int(originX), int(originY));
    plan->size = QSize(int(wide), int(high));
    plan->ty = ty;
    plan->sy = sy;
    plan->rgbaOrder = source.format() == QImage::Format_RGBA8888_Premultiplied ||
                      source.format() == QImage::Format_RGBX8888;
    // Short rows gain less from their clear ends than looking them up costs.
    if (w >= 64)
        plan->spans = scalerRowSpansOf(source);

    // The pixels whose centres lie in the scaled rectangle, as QPainter fills it.
    const QPoint origin = plan->origin;
    plan->x0 = std::clamp(int(std::floor(left + 0.5)) - origin.x(), 0, plan->size.width());
    plan->x1 = std::clamp(int(std::floor(right + 0.5)) - origin.x(), plan->x0, plan->size.width());
    plan->y0 = std::clamp(int(std::floor(top + 0.5)) - origin.y(), 0, plan->size.height());
    plan->y1 = std::clamp(int(std::floor(bottom + 0.5)) - origin.y(), plan->y0, plan->size.height());

    const unsigned alpha = unsigned(std::lround(std::clamp(opacity, 0.0, 1.0) * 256));
    ScalerColumns& columns = plan->columns;
    const int count = plan->x1 - plan->x0;
    columns.index.resize(std::size_t(count));
    columns.weights.resize(std::size_t(count) * 8);
    columns.narrowWeights.resize(std::size_t(count) * 8);
    columns.half = (alpha + 1) >> 1;
    int lowest = w - 1, highest = 0;
    for (int x = 0; x < count; ++x) {
        ScalerSample s = scalerSample(origin.x() + plan->x0 + x, tx, sx, w);
        // The pair must lie in the row: the last pixel is the right one of its pair.
        if (s.index == w - 1 && w > 1) {
            s.index = w - 2;
            s.weight = 256;
        }
        columns.index[std::size_t(x)] = s.index;
        std::uint16_t* weights = &columns.weights[std::size_t(x) * 8];
        std::fill(weights, weights + 4, std::uint16_t(((256 - s.weight) * alpha + 128) >> 8));
        std::fill(weights + 4, weights + 8, std::uint16_t((s.weight * alpha + 128) >> 8));
        const unsigned right = std::min((s.weight * alpha + 256) >> 9, columns.half);
        for (int k = 0; k < 4; ++k) {
            columns.narrowWeights[std::size_t(x) * 8 + 2 * std::size_t(k)] =
                std::uint8_t(columns.half - right);
            columns.narrowWeights[std::size_t(x) * 8 + 2 * std::size_t(k) + 1] = std::uint8_t(right);
        }
        lowest = std::min(lowest, s.index);
        highest = std::max(highest, std::min(s.index + 1, w - 1));
    }
    // From here on the columns count from the first one sampled.
    if (count == 0)
        lowest = 0;
    for (int& i : columns.index)
        i -= lowest;
    plan->lowest = lowest;
    // A one-pixel-wide source is widened to a repeated pair, so that every pair lies in memory.
    plan->span = w > 1 ? highest - lowest + 1 : 2;
    mPlan = std::move(plan);
}

CompositorScaler::~CompositorScaler() = default;

QPoint CompositorScaler::origin() const
{
    return mPlan ? mPlan->origin : QPoint();
}

QSize CompositorScaler::size() const
{
    return mPlan ? mPlan->size : QSize();
}

std::pair<int, int> CompositorScaler::scaleRow(int y, std::uint32_t* line,
                                               std::vector<std::uint32_t>& mixed) const
{
    const Plan& plan = *mPlan;
    const int columnCount = plan.x1 - plan.x0;
    const int w = plan.source.width();
    const int h = plan.source.height();
    const ScalerSample s = scalerSample(plan.origin.y() + y, plan.ty, plan.sy, h);
    const int nextRow = std::min(s.index + 1, h - 1);
    // The source columns [low, high) of the two rows that hold anything; the rest is clear.
    int low = plan.lowest;
    int high = plan.lowest + plan.span;
    if (plan.spans) {
        const auto& first = (*plan.spans)[std::size_t(s.index)];
        const auto& second = (*plan.spans)[std::size_t(s.weight == 0 ? s.index : nextRow)];
        const bool firstEmpty = first.first >= first.second;
        const bool secondEmpty = second.first >= second.second;
        if (firstEmpty && secondEmpty)
            return {plan.x0, plan.x0};
        low = std::max(low, firstEmpty    ? second.first
                            : secondEmpty ? first.first
                                          : std::min(first.first, second.first));
        high = std::min(high, firstEmpty    ? second.second
                              : secondEmpty ? first.second
                                            : std::max(first.second, second.second));
    }
    // The output columns whose pair (index, index + 1) reaches into [low, high): the indices
    // run monotonically, up or down with the mirroring.
    const std::vector<int>& index = plan.columns.index;
    const int lowPair = low - 1 - plan.lowest;
    const int highPair = high - plan.lowest;
    int from = 0;
    int to = columnCount;
    if (plan.spans && columnCount > 0) {
        if (index.front() <= index.back()) {
            from = int(std::partition_point(index.begin(), index.end(), [&](int i) { return i < lowPair; }) -
                       index.begin());
            to = int(std::partition_point(index.begin(), index.end(), [&](int i) { return i < highPair; }) -
                     index.begin());
        } else {
            from =
                int(std::partition_point(index.begin(), index.end(), [&](int i) { return i >= highPair; }) -
                    index.begin());
            to = int(std::partition_point(index.begin(), index.end(), [&](int i) { return i >= lowPair; }) -
                     index.begin());
        }
        if (from >= to)
            return {plan.x0, plan.x0};
    }
    const auto* a = reinterpret_cast<const std::uint32_t*>(plan.source.constScanLine(s.index));
    const auto* b = reinterpret_cast<const std::uint32_t*>(plan.source.constScanLine(nextRow));
    const std::uint32_t* row = nullptr;
    if (w == 1) {
        mixed[0] = mixed[1] = s.weight == 0 ? a[0] : scalerMix(a[0], 256 - s.weight, b[0], s.weight);
        row = mixed.data();
    } else if (s.weight == 0) {
        row = a + plan.lowest;
    } else {
        // Only the part the pairs read: [low - 1, high + 1) within the sampled span.
        const int begin = std::max(low - 1, plan.lowest) - plan.lowest;
        const int end = std::min(high + 1, plan.lowest + plan.span) - plan.lowest;
        scalerLerpRows(a + plan.lowest + begin, b + plan.lowest + begin, s.weight, mixed.data() + begin,
                       end - begin);
        row = mixed.data();
    }
    if (plan.rgbaOrder)
        scalerMixColumns<true>(row, plan.columns, line + plan.x0, from, to);
    else
        scalerMixColumns<false>(row, plan.columns, line + plan.x0, from, to);
    return {plan.x0 + from, plan.x0 + to};
}

void CompositorScaler::scaleRows(int first, int count, uchar* out, qsizetype bytesPerLine) const
{
    if (!mPlan || first < 0 || count <= 0 || first + count > mPlan->size.height())
        return;
    const Plan& plan = *mPlan;
    const int width = plan.size.width();
    std::vector<std::uint32_t> mixed(std::size_t(std::max(plan.span, 2)));
    for (int y = first; y < first + count; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(out + (y - first) * bytesPerLine);
        std::fill(line, line + width, 0u);
        if (y >= plan.y0 && y < plan.y1 && plan.x1 > plan.x0)
            scaleRow(y, line, mixed);
    }
}

void CompositorScaler::blendRows(int first, int count, int fromColumn, int toColumn, uchar* out,
                                 qsizetype bytesPerLine) const
{
    if (!mPlan || first < 0 || count <= 0 || first + count > mPlan->size.height())
        return;
    const Plan& plan = *mPlan;
    // Only the covered pixels hold anything: the rest would blend as clear.
    const int from = std::max(fromColumn, plan.x0);
    const int to = std::min(toColumn, plan.x1);
    if (from >= to)
        return;
    std::vector<std::uint32_t> mixed(std::size_t(std::max(plan.span, 2)));
    std::vector<std::uint32_t> line(std::size_t(plan.size.width()));
    for (int y = std::max(first, plan.y0); y < std::min(first + count, plan.y1); ++y) {
        auto* target = reinterpret_cast<std::uint32_t*>(out + (y - first) * bytesPerLine) - fromColumn;
        // The target row is fetched from memory while the row is scaled.
        for (int x = from; x < to; x += 16)
            __builtin_prefetch(target + x, 1);
        const auto [written, end] = scaleRow(y, line.data(), mixed);
        const int left = std::max(from, written);
        const int right = std::min(to, end);
        if (left < right)
            scalerBlendOver(line.data() + left, target + left, right - left);
    }
}

ScaledRendition CompositorScaler::scale(const QImage& source, const QTransform& toDevice, double opacity,
                                        int maxSide)
{
    const CompositorScaler scaler(source, toDevice, opacity, maxSide);
    if (!scaler.isValid())
        return {};
    QImage image(scaler.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    scaler.scaleRows(0, image.height(), image.bits(), image.bytesPerLine());
    return {std::move(image), scaler.origin()};
}

} // namespace corvex
