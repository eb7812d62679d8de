// The lane primitives of the SIMD span body: KRV_SIMD_LANES (4, 8 or 16) floats or ints as one
// GCC vector, their broadcasts, selects and conversions, the formulas of texture/sample_formula.h
// and core/shade_formula.h over vectors, and the loads and stores of depths, colours and texels.
// Included by span_simd.h (which says what the including file defines) inside its namespace, in
// the namespace lane, so that no lane name meets a scalar one.
//
// A conversion to int answers INT_MIN for NaN and out-of-range values as the scalar one does
// before its fix-up; LowBits reproduces what reaches the stored bytes.

namespace KRV_SIMD_NAMESPACE {
namespace lane {
constexpr int W = KRV_SIMD_LANES;

typedef float VF KRV_VECTOR(4 * W);
typedef int VI KRV_VECTOR(4 * W);

#define KRV_SIMD_INLINE static KRV_ALWAYS_INLINE KRV_SIMD_TARGET

// Broadcasts (a sum with a zero vector would turn -0 into +0, and costs an addition).
#if KRV_SIMD_LANES == 16
KRV_SIMD_INLINE VF Splat(float f) { return (VF)_mm512_set1_ps(f); }
KRV_SIMD_INLINE VI SplatI(int i) { return (VI)_mm512_set1_epi32(i); }
#elif KRV_SIMD_LANES == 8
KRV_SIMD_INLINE VF Splat(float f) { return (VF)_mm256_set1_ps(f); }
KRV_SIMD_INLINE VI SplatI(int i) { return (VI)_mm256_set1_epi32(i); }
#else
KRV_SIMD_INLINE VF Splat(float f) { return (VF)_mm_set1_ps(f); }
KRV_SIMD_INLINE VI SplatI(int i) { return (VI)_mm_set1_epi32(i); }
#endif
KRV_SIMD_INLINE VI Iota()
{
#if KRV_SIMD_LANES == 16
    return VI{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
#elif KRV_SIMD_LANES == 8
    return VI{0, 1, 2, 3, 4, 5, 6, 7};
#else
    return VI{0, 1, 2, 3};
#endif
}

// Bit-level selects: m lanes are all ones or all zeros.
KRV_SIMD_INLINE VF Select(VI m, VF a, VF b) { return (VF)(((VI)a & m) | ((VI)b & ~m)); }
KRV_SIMD_INLINE VI SelectI(VI m, VI a, VI b) { return (a & m) | (b & ~m); }

#if KRV_SIMD_LANES == 16
KRV_SIMD_INLINE VI Trunc(VF v) { return (VI)_mm512_cvttps_epi32((__m512)v); }
KRV_SIMD_INLINE VF ToFloat(VI v) { return (VF)_mm512_cvtepi32_ps((__m512i)v); }
KRV_SIMD_INLINE VF Sqrt(VF v) { return (VF)_mm512_sqrt_ps((__m512)v); }
// The 16-bit lane mask: the sign bits, as movemask gives them at the narrower widths.
KRV_SIMD_INLINE int Bits(VI m) { return _mm512_movepi32_mask((__m512i)m); }
KRV_SIMD_INLINE VI MinI(VI a, VI b) { return (VI)_mm512_min_epi32((__m512i)a, (__m512i)b); }
KRV_SIMD_INLINE VI ShiftRight(VI v, VI n) { return (VI)_mm512_srlv_epi32((__m512i)v, (__m512i)n); }
#elif KRV_SIMD_LANES == 8
KRV_SIMD_INLINE VI Trunc(VF v) { return (VI)_mm256_cvttps_epi32((__m256)v); }
KRV_SIMD_INLINE VF ToFloat(VI v) { return (VF)_mm256_cvtepi32_ps((__m256i)v); }
KRV_SIMD_INLINE VF Sqrt(VF v) { return (VF)_mm256_sqrt_ps((__m256)v); }
KRV_SIMD_INLINE int Bits(VI m) { return _mm256_movemask_ps((__m256)m); }
KRV_SIMD_INLINE VI MinI(VI a, VI b) { return (VI)_mm256_min_epi32((__m256i)a, (__m256i)b); }
KRV_SIMD_INLINE VI ShiftRight(VI v, VI n) { return (VI)_mm256_srlv_epi32((__m256i)v, (__m256i)n); }
#else
KRV_SIMD_INLINE VI Trunc(VF v) { return (VI)_mm_cvttps_epi32((__m128)v); }
KRV_SIMD_INLINE VF ToFloat(VI v) { return (VF)_mm_cvtepi32_ps((__m128i)v); }
KRV_SIMD_INLINE VF Sqrt(VF v) { return (VF)_mm_sqrt_ps((__m128)v); }
KRV_SIMD_INLINE int Bits(VI m) { return _mm_movemask_ps((__m128)m); }
#endif

// The low 8 or 16 bits of TruncToInt(v): the conversion's INT_MIN for NaN and for values at or
// below -2^31 has zero low bits as TruncToInt's INT_MIN and 0 have; from 2^31 up TruncToInt
// saturates to INT_MAX, whose low bits are all ones.
KRV_SIMD_INLINE VI LowBits(VF v, int mask)
{
    const VI big = (VI)(v >= Splat(2147483648.0f));
    return SelectI(big, SplatI(mask), Trunc(v) & mask);
}

KRV_SIMD_INLINE int Lane(VI v, int i)
{
    int a[W];
    std::memcpy(a, &v, sizeof a);
    return a[i];
}

// ---------------------------------------------------------------------------------------------
// Texel fetches: the four bytes at each offset, little-endian. The last texel of a buffer has
// fewer than four behind it: there the bytes past the end read as zero. With AVX2 such an
// offset (beyond `limit`, the last with four bytes left) reads from `limit` instead and shifts
// the texel down into place (AVX-512 likewise); without gathers each lane loads its own bytes.

struct GatherSource {
    const uint8* bits = nullptr;
    int limit = 0;  // bytes in the buffer - 4 (>= 0)
};

KRV_SIMD_INLINE VI Gather(const GatherSource& s, VI offsets)
{
#if KRV_SIMD_LANES == 16
    const VI safe = MinI(offsets, SplatI(s.limit));
    const VI words = (VI)_mm512_i32gather_epi32((__m512i)safe, s.bits, 1);
    return ShiftRight(words, (offsets - safe) * 8);
#elif KRV_SIMD_LANES == 8
    const VI safe = MinI(offsets, SplatI(s.limit));
    const VI words =
        (VI)_mm256_i32gather_epi32(reinterpret_cast<const int*>(s.bits), (__m256i)safe, 1);
    return ShiftRight(words, (offsets - safe) * 8);
#else
    // The same read from `limit` and shift, a lane at a time.
    auto word = [&s](int o) {
        const int safe = o < s.limit ? o : s.limit;
        uint32_t w;
        std::memcpy(&w, s.bits + safe, sizeof w);
        return static_cast<int>(w >> (8 * (o - safe)));
    };
    const __m128i o = (__m128i)offsets;
    return (VI)_mm_setr_epi32(word(_mm_cvtsi128_si32(o)),
                              word(_mm_cvtsi128_si32(_mm_shuffle_epi32(o, 0x55))),
                              word(_mm_cvtsi128_si32(_mm_shuffle_epi32(o, 0xAA))),
                              word(_mm_cvtsi128_si32(_mm_shuffle_epi32(o, 0xFF))));
#endif
}

// W consecutive 16-bit depths, zero-extended. `whole`: all W lie inside the row (those past the
// span are this thread's too, and read harmlessly); otherwise only the first `count` are read
// and the rest are 0.
KRV_SIMD_INLINE VI LoadDepths(const unsigned short* p, int count, bool whole)
{
#if KRV_SIMD_LANES == 16
    // A masked load reads (and may fault on) only the lanes of its mask.
    const __mmask16 m = whole ? 0xFFFF : static_cast<__mmask16>((1u << count) - 1);
    return (VI)_mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(m, p));
#else
    if (whole) {
#if KRV_SIMD_LANES == 8
        return (VI)_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
#else
        const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return (VI)_mm_unpacklo_epi16(d, _mm_setzero_si128());
#endif
    }
    int a[W] = {};
    for (int i = 0; i < count; ++i) a[i] = p[i];
    VI v;
    std::memcpy(&v, a, sizeof v);
    return v;
#endif
}

// Writes the lanes of `bits` of d (values 0..65535) to p[0..W-1]. `whole` as for LoadDepths:
// the other lanes then write back what they read.
KRV_SIMD_INLINE void StoreDepths(unsigned short* p, VI d, VI mask, int bits, bool whole)
{
#if KRV_SIMD_LANES == 16
    // A masked store writes the lanes of `bits` only: no other lane is read or written.
    (void)mask;
    (void)whole;
    _mm512_mask_cvtepi32_storeu_epi16(p, static_cast<__mmask16>(bits), (__m512i)d);
#else
#if KRV_SIMD_LANES == 8
    if (whole) {
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi32((__m256i)d, (__m256i)d), 0x08);
        const __m256i keep =
            _mm256_permute4x64_epi64(_mm256_packs_epi32((__m256i)mask, (__m256i)mask), 0x08);
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i m = _mm256_castsi256_si128(keep);
        const __m128i out = _mm_or_si128(_mm_and_si128(_mm256_castsi256_si128(packed), m),
                                         _mm_andnot_si128(m, old));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
        return;
    }
#else
    (void)mask;
    (void)whole;
#endif
    int a[W];
    std::memcpy(a, &d, sizeof a);
    for (; bits; bits &= bits - 1) {
        const int i = __builtin_ctz(bits);
        p[i] = static_cast<unsigned short>(a[i]);
    }
#endif
}

// Writes the pixels of `bits` (blue, green, red: values 0..255) to dst, 3 bytes a pixel.
// `whole`: the row has at least 10 pixels from dst on, all this thread's: the other lanes then
// write back what they read.
KRV_SIMD_INLINE void StoreColors(uint8* dst, VI b, VI g, VI r, VI mask, int bits, bool whole)
{
#if KRV_SIMD_LANES == 16
    // As with AVX2 each 128-bit quarter packs its four pixels into its first twelve bytes;
    // a permutation then joins the quarters into 48 bytes, and a masked byte store writes the
    // bytes of the pixels of `bits` only, so `whole` is not needed.
    (void)bits;
    (void)whole;
    const __m512i pick = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m512i join = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    const __m512i packed = _mm512_permutexvar_epi32(
        join, _mm512_shuffle_epi8((__m512i)(b | (g << 8) | (r << 16)), pick));
    const __m512i keep = _mm512_permutexvar_epi32(join, _mm512_shuffle_epi8((__m512i)mask, pick));
    _mm512_mask_storeu_epi8(dst, _mm512_movepi8_mask(keep), packed);
#else
#if KRV_SIMD_LANES == 8
    if (whole) {
        // Each 128-bit half holds four pixels as blue, green, red, 0; the shuffle packs them
        // into its first twelve bytes, and the mask into the same places (the last four bytes
        // keep what was there).
        const __m256i pick =
            _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5,
                             6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        const __m256i packed = _mm256_shuffle_epi8((__m256i)(b | (g << 8) | (r << 16)), pick);
        const __m256i keep = _mm256_shuffle_epi8((__m256i)mask, pick);
        __m128i* lo = reinterpret_cast<__m128i*>(dst);
        __m128i* hi = reinterpret_cast<__m128i*>(dst + 12);
        _mm_storeu_si128(lo, _mm_blendv_epi8(_mm_loadu_si128(lo), _mm256_castsi256_si128(packed),
                                             _mm256_castsi256_si128(keep)));
        _mm_storeu_si128(hi,
                         _mm_blendv_epi8(_mm_loadu_si128(hi), _mm256_extracti128_si256(packed, 1),
                                         _mm256_extracti128_si256(keep, 1)));
        return;
    }
#else
    (void)mask;
    (void)whole;
#endif
    int blue[W], green[W], red[W];
    std::memcpy(blue, &b, sizeof blue);
    std::memcpy(green, &g, sizeof green);
    std::memcpy(red, &r, sizeof red);
    for (; bits; bits &= bits - 1) {
        const int i = __builtin_ctz(bits);
        dst[3 * i] = static_cast<uint8>(blue[i]);
        dst[3 * i + 1] = static_cast<uint8>(green[i]);
        dst[3 * i + 2] = static_cast<uint8>(red[i]);
    }
#endif
}

// The bytes of W pixels at dst (blue, green, red, each 0..255), for the blends. `whole` as for
// StoreColors; otherwise only the first `count` pixels are read and the rest are 0.
KRV_SIMD_INLINE void LoadColors(const uint8* dst, int count, bool whole, VI& b, VI& g, VI& r)
{
#if KRV_SIMD_LANES == 16
    // A masked load of the first `count` pixels' bytes (the others read as 0, and nothing past
    // them is touched, `whole` or not); then each 128-bit quarter takes twelve bytes and
    // spreads them over its four pixels.
    (void)whole;
    const __mmask64 m = (1ull << (3 * count)) - 1;
    const __m512i bytes = _mm512_maskz_loadu_epi8(m, dst);
    const __m512i split = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __m512i spread =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
    const VI v = (VI)_mm512_shuffle_epi8(_mm512_permutexvar_epi32(split, bytes), spread);
    b = v & 0xFF;
    g = (v >> 8) & 0xFF;
    r = (v >> 16) & 0xFF;
#else
#if KRV_SIMD_LANES == 8
    if (whole) {
        const __m256i spread =
            _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3,
                             4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
        const __m256i both = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + 12)), 1);
        const VI v = (VI)_mm256_shuffle_epi8(both, spread);
        b = v & 0xFF;
        g = (v >> 8) & 0xFF;
        r = (v >> 16) & 0xFF;
        return;
    }
#else
    (void)whole;
#endif
    int blue[W] = {}, green[W] = {}, red[W] = {};
    for (int i = 0; i < count; ++i) {
        blue[i] = dst[3 * i];
        green[i] = dst[3 * i + 1];
        red[i] = dst[3 * i + 2];
    }
    std::memcpy(&b, blue, sizeof b);
    std::memcpy(&g, green, sizeof g);
    std::memcpy(&r, red, sizeof r);
#endif
}

// ShadeClampedByte: clamped to 0..255 first; NaN gives 0 (the conversion's INT_MIN).
KRV_SIMD_INLINE VI ClampedByte(VF v)
{
    v = Select((VI)(v < Splat(0.0f)), Splat(0.0f),
               Select((VI)(v > Splat(255.0f)), Splat(255.0f), v));
    return Trunc(v) & 0xFF;
}

// The shared lookup and shading arithmetic over lanes (texture/sample_formula.h says what this
// defines for it).
using Float = VF;
using Int = VI;
using Bool = VI;
#define KRV_FORMULA KRV_SIMD_INLINE
#define KRV_FORMULA_MEMBER KRV_ALWAYS_INLINE KRV_SIMD_TARGET
#include "texture/sample_formula.h"
#include "core/shade_formula.h"
#undef KRV_FORMULA
#undef KRV_FORMULA_MEMBER

}  // namespace lane
}  // namespace KRV_SIMD_NAMESPACE
