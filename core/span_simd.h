// The SIMD span body: the scalar pixel loop of draw_span.cpp and the shading of shade.h for
// KRV_SIMD_LANES pixels at once. Included once by draw_span_sse2.cpp (4 lanes, the x86-64
// baseline) and once by draw_span_avx2.cpp (8 lanes, built for AVX2 by a target attribute so
// the rest of the program keeps the baseline); everything here lives in the namespace the
// including file names, so the two copies never meet.
//
// Exactness: every lane goes through the float operations of the scalar body in the same order,
// with no fused multiply-add and no reciprocal estimates; a branch of the scalar body becomes a
// select between the values both sides would give. A conversion to int answers INT_MIN for
// NaN and out-of-range values as the scalar one does before its fix-up, and the fix-up here
// reproduces what reaches the stored bytes. Lanes outside the span or failing the depth test
// compute values that nothing stores, and every load they make stays inside its buffer.
//
// The body covers the draws of the common kind: colour (or depth only), the base texture, the
// light and the shadow map, with nearest or bilinear filtering, written plain or through the
// alpha and transparency blends. Multitexturing, bump mapping, the material and the
// depth-colour compare stay with the scalar body (krvi::SimdSpanRoutine answers null).
//
// The including file defines KRV_SIMD_LANES (4 or 8), KRV_SIMD_TARGET (a function attribute,
// possibly empty) and KRV_SIMD_NAMESPACE, and has included <immintrin.h>.

#include "core/shade.h"
#include "core/span.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

namespace KRV_SIMD_NAMESPACE {

constexpr int W = KRV_SIMD_LANES;

typedef float VF KRV_VECTOR(4 * W);
typedef int VI KRV_VECTOR(4 * W);

#define KRV_SIMD_INLINE static KRV_ALWAYS_INLINE KRV_SIMD_TARGET

// Broadcasts (a sum with a zero vector would turn -0 into +0, and costs an addition).
#if KRV_SIMD_LANES == 8
KRV_SIMD_INLINE VF Splat(float f) { return (VF)_mm256_set1_ps(f); }
KRV_SIMD_INLINE VI SplatI(int i) { return (VI)_mm256_set1_epi32(i); }
#else
KRV_SIMD_INLINE VF Splat(float f) { return (VF)_mm_set1_ps(f); }
KRV_SIMD_INLINE VI SplatI(int i) { return (VI)_mm_set1_epi32(i); }
#endif
KRV_SIMD_INLINE VI Iota()
{
#if KRV_SIMD_LANES == 8
    return VI{0, 1, 2, 3, 4, 5, 6, 7};
#else
    return VI{0, 1, 2, 3};
#endif
}

// Bit-level selects: m lanes are all ones or all zeros.
KRV_SIMD_INLINE VF Select(VI m, VF a, VF b) { return (VF)(((VI)a & m) | ((VI)b & ~m)); }
KRV_SIMD_INLINE VI SelectI(VI m, VI a, VI b) { return (a & m) | (b & ~m); }

#if KRV_SIMD_LANES == 8
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
// the texel down into place; without gathers each lane loads its own bytes.

struct GatherSource {
    const uint8* bits = nullptr;
    int limit = 0;  // bytes in the buffer - 4 (>= 0)
};

KRV_SIMD_INLINE VI Gather(const GatherSource& s, VI offsets)
{
#if KRV_SIMD_LANES == 8
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
}

// Writes the lanes of `bits` of d (values 0..65535) to p[0..W-1]. `whole` as for LoadDepths:
// the other lanes then write back what they read.
KRV_SIMD_INLINE void StoreDepths(unsigned short* p, VI d, VI mask, int bits, bool whole)
{
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
}

// Writes the pixels of `bits` (blue, green, red: values 0..255) to dst, 3 bytes a pixel.
// `whole`: the row has at least 10 pixels from dst on, all this thread's: the other lanes then
// write back what they read.
KRV_SIMD_INLINE void StoreColors(uint8* dst, VI b, VI g, VI r, VI mask, int bits, bool whole)
{
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
}

// The bytes of W pixels at dst (blue, green, red, each 0..255), for the blends. `whole` as for
// StoreColors; otherwise only the first `count` pixels are read and the rest are 0.
KRV_SIMD_INLINE void LoadColors(const uint8* dst, int count, bool whole, VI& b, VI& g, VI& r)
{
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
}

// ShadeClampedByte: clamped to 0..255 first; NaN gives 0 (the conversion's INT_MIN).
KRV_SIMD_INLINE VI ClampedByte(VF v)
{
    v = Select((VI)(v < Splat(0.0f)), Splat(0.0f),
               Select((VI)(v > Splat(255.0f)), Splat(255.0f), v));
    return Trunc(v) & 0xFF;
}

// ShadeClamp: 0..1, NaN stays.
KRV_SIMD_INLINE VF Clamp01(VF t)
{
    return Select((VI)(t < Splat(0.0f)), Splat(0.0f),
                  Select((VI)(t > Splat(1.0f)), Splat(1.0f), t));
}

// ---------------------------------------------------------------------------------------------
// Samplers, lane by lane the functions of texture/texture_sampler.h.

struct Texture {
    GatherSource source;
    int width = 0, height = 0, pitch = 0;
    float widthF = 0.0f, heightF = 0.0f;
};

// krvi::Wrap: c - trunc(c) plus 1 when negative; 0 from 2^23 on, for infinities and NaN.
KRV_SIMD_INLINE VF Wrap(VF c)
{
    const VI inRange = (VI)((VF)((VI)c & 0x7FFFFFFF) < Splat(8388608.0f));
    const VF w = c - ToFloat(Trunc(c));
    return Select(inRange, Select((VI)(w < Splat(0.0f)), w + 1.0f, w + 0.0f), Splat(0.0f));
}

KRV_SIMD_INLINE VF Unit(VI byte) { return ToFloat(byte & 0xFF) * krvi::kByteScale; }

// (red, green, blue) of texel offsets.
KRV_SIMD_INLINE void Fetch(const Texture& t, VI offsets, VF& r, VF& g, VF& b)
{
    const VI texel = Gather(t.source, offsets);
    b = Unit(texel);
    g = Unit(texel >> 8);
    r = Unit(texel >> 16);
}

KRV_SIMD_INLINE VI WrappedIndex(VF w, int size, float sizeF)
{
    const VI i = Trunc(w * sizeF);
    return SelectI(i < SplatI(size), i, SplatI(size - 1));
}

KRV_SIMD_INLINE void SampleNearest(const Texture& t, VF u, VF v, VF& r, VF& g, VF& b)
{
    const VI x = WrappedIndex(Wrap(u), t.width, t.widthF);
    const VI y = WrappedIndex(Wrap(v), t.height, t.heightF);
    Fetch(t, y * t.pitch + x * 3, r, g, b);
}

KRV_SIMD_INLINE void BilinearAxis(VF c, int size, float sizeF, VI& i0, VI& i1, VF& f)
{
    VF g = Wrap(c) * sizeF - 0.5f;
    g = Select((VI)(g < Splat(0.0f)), g + sizeF, g);
    i0 = Trunc(g);
    i0 = SelectI(i0 >= SplatI(size), SplatI(size - 1), i0);
    f = g - ToFloat(i0);
    const VI next = i0 + 1;
    i1 = SelectI(next < SplatI(size), next, SplatI(0));
}

KRV_SIMD_INLINE void SampleBilinear(const Texture& t, VF u, VF v, VF& r, VF& g, VF& b)
{
    VI x0, x1, y0, y1;
    VF fx, fy;
    BilinearAxis(u, t.width, t.widthF, x0, x1, fx);
    BilinearAxis(v, t.height, t.heightF, y0, y1, fy);
    const VF w00 = (1.0f - fy) * (1.0f - fx);
    const VF w10 = (1.0f - fy) * fx;
    const VF w11 = fy * fx;
    const VF w01 = fy * (1.0f - fx);
    const VI row0 = y0 * t.pitch, row1 = y1 * t.pitch;
    const VI c0 = x0 * 3, c1 = x1 * 3;
    VF r00, g00, b00, r10, g10, b10, r11, g11, b11, r01, g01, b01;
    Fetch(t, row0 + c0, r00, g00, b00);
    Fetch(t, row0 + c1, r10, g10, b10);
    Fetch(t, row1 + c1, r11, g11, b11);
    Fetch(t, row1 + c0, r01, g01, b01);
    r = w00 * r00 + w10 * r10 + w11 * r11 + w01 * r01;
    g = w00 * g00 + w10 * g10 + w11 * g11 + w01 * g01;
    b = w00 * b00 + w10 * b10 + w11 * b11 + w01 * b01;
}

// Depths of a format '2' texture as floats; the offsets are texel indices.
KRV_SIMD_INLINE VF Depth(const Texture& t, VI index)
{
    return ToFloat(Gather(t.source, index * 2) & 0xFFFF);
}

// krvi::ShadowSetup: divides the coordinate by w and scales its depth; `lit` marks the lanes that
// need no lookup (behind the light, outside its frustum, NaN).
KRV_SIMD_INLINE void ShadowSetup(VF& x, VF& y, VF& z, VF w, VI& lit)
{
    const VI front = (VI)(w > Splat(0.0f));
    const VF rw = Splat(1.0f) / w;
    x = x * rw;
    y = y * rw;
    z = z * rw;
    const VI inside = (VI)(x >= Splat(0.0f)) & (VI)(x < Splat(1.0f)) & (VI)(y >= Splat(0.0f)) &
                      (VI)(y < Splat(1.0f)) & (VI)(z >= Splat(0.0f)) & (VI)(z <= Splat(1.0f));
    lit = ~(front & inside);
    z = z * 65535.0f;
}

KRV_SIMD_INLINE VF ShadowNearest(const Texture& t, VF x, VF y, VF z, VF w)
{
    VI lit;
    ShadowSetup(x, y, z, w, lit);
    VI ix = Trunc(x * t.widthF), iy = Trunc(y * t.heightF);
    ix = SelectI(ix >= SplatI(t.width), SplatI(t.width - 1), ix);
    iy = SelectI(iy >= SplatI(t.height), SplatI(t.height - 1), iy);
    // Lanes that need no lookup read texel 0: their indices may be anything.
    const VI index = (iy & ~lit) * t.width + (ix & ~lit);
    const VF s = Select((VI)(z > Depth(t, index)), Splat(0.0f), Splat(1.0f));
    return Select(lit, Splat(1.0f), s);
}

KRV_SIMD_INLINE void ShadowAxis(VF c, int size, float sizeF, VI& i0, VI& i1, VF& f)
{
    const VF g = c * sizeF - 0.5f;
    const VI below = (VI)(g < Splat(0.0f));
    VI i = Trunc(g);
    i = SelectI(i >= SplatI(size), SplatI(size - 1), i);
    i0 = SelectI(below, SplatI(0), i);
    f = Select(below, Splat(0.0f), g - ToFloat(i));
    i1 = SelectI(below, SplatI(1), i + 1);
    i1 = SelectI(i1 >= SplatI(size), i0, i1);
}

// The depths at x0 and x1 of one row, x1 being x0 + 1 or x0 itself (the last column): one
// four-byte read at x0 holds both where x1 = x0 + 1; where x1 = x0 the second is the first.
KRV_SIMD_INLINE void DepthPair(const Texture& t, VI row, VI x0, VI x1, VF& d0, VF& d1)
{
    const VI pair = Gather(t.source, (row + x0) * 2);
    const VI first = pair & 0xFFFF;
    d0 = ToFloat(first);
    d1 = ToFloat(SelectI(x1 == x0, first, (VI)((unsigned KRV_VECTOR(4 * W)) pair >> 16)));
}

KRV_SIMD_INLINE VF ShadowBilinear(const Texture& t, VF x, VF y, VF z, VF w)
{
    VI lit;
    ShadowSetup(x, y, z, w, lit);
    VI x0, x1, y0, y1;
    VF fx, fy;
    ShadowAxis(x, t.width, t.widthF, x0, x1, fx);
    ShadowAxis(y, t.height, t.heightF, y0, y1, fy);
    // Lanes that need no lookup read texel 0: their indices may be anything.
    const VI keep = ~lit;
    x0 &= keep;
    x1 &= keep;
    y0 &= keep;
    y1 &= keep;
    VF d00, d10, d01, d11;
    DepthPair(t, y0 * t.width, x0, x1, d00, d10);
    DepthPair(t, y1 * t.width, x0, x1, d01, d11);
    const VF one = Splat(1.0f), zero = Splat(0.0f);
    const VF s00 = Select((VI)(z > d00), zero, one);
    const VF s10 = Select((VI)(z > d10), zero, one);
    const VF s11 = Select((VI)(z > d11), zero, one);
    const VF s01 = Select((VI)(z > d01), zero, one);
    const VF s = (1.0f - fx) * (1.0f - fy) * s00 + fx * (1.0f - fy) * s10 + fx * fy * s11 +
                 (1.0f - fx) * fy * s01;
    return Select(lit, one, s);
}

// ---------------------------------------------------------------------------------------------
// The span.

// The gather view of a texture of the shading state; `limit` is its krvi::GatherLimit, which the
// choice of the body has checked.
static inline Texture MakeTexture(const krvi::TexelSource& s, int limit)
{
    Texture t;
    t.source.bits = s.bits;
    t.source.limit = limit;
    t.width = s.width;
    t.height = s.height;
    t.pitch = s.pitch;
    t.widthF = s.widthF;
    t.heightF = s.heightF;
    return t;
}

// Whether the body covers a draw with these groups and this shading state.
static inline bool Covers(unsigned mask, const ShadeState& s)
{
    // Depth only, four lanes lose to the scalar loop's few instructions a pixel.
    if (!(mask & kSpanColor)) return W == 8;
    if (s.material || s.texture1) return false;
    // The depth-colour compare reads the next pixel's first byte: the scalar body keeps it.
    if (s.blendTransparency && s.depthColorCompare) return false;
    if ((mask & kSpanLight) && s.bumpTexture) return false;
    if ((mask & kSpanTexture) && (s.texture0.format != KrvFormat_BGR || s.texture0Gather < 0))
        return false;
    if ((mask & kSpanLight) && (mask & kSpanShadow) &&
        (s.shadowMap.format != KrvFormat_Depth16 || s.shadowMapGather < 0))
        return false;
    return true;
}

// The attribute lanes of a FlatPoint (vectors 1..4): colour, u, v, normal, light, shadow.
enum Attribute {
    kR = 0,
    kG,
    kB,
    kU,
    kV,
    kNx,
    kNy,
    kNz,
    kLx,
    kLy,
    kLz,
    kSx,
    kSy,
    kSz,
    kSw,
    kAttributes
};

// The lighting and texturing of W pixels: the textured colour c (the alpha term of the blends
// reads it) and the final colour F.
template <unsigned Mask, bool Bilinear>
KRV_SIMD_INLINE void Shade(const ShadeState& shade, const VF* a, VF& cr, VF& cg, VF& cb, VF& fr,
                           VF& fg, VF& fb)
{
    constexpr bool kTexture = (Mask & kSpanTexture) != 0;
    constexpr bool kLight = (Mask & kSpanLight) != 0;
    constexpr bool kShadow = kLight && (Mask & kSpanShadow) != 0;
    cr = a[kR];
    cg = a[kG];
    cb = a[kB];
    if (kTexture) {
        const Texture texture0 = MakeTexture(shade.texture0, shade.texture0Gather);
        VF tr, tg, tb;
        if (Bilinear)
            SampleBilinear(texture0, a[kU], a[kV], tr, tg, tb);
        else
            SampleNearest(texture0, a[kU], a[kV], tr, tg, tb);
        cr = tr * cr;
        cg = tg * cg;
        cb = tb * cb;
    }
    fr = cr;
    fg = cg;
    fb = cb;
    if (!kLight) return;
    const CLight& light = shade.light;
    const VF nx = a[kNx], ny = a[kNy], nz = a[kNz];
    const VF lx = a[kLx], ly = a[kLy], lz = a[kLz];
    const VF lenL = Sqrt(lx * lx + ly * ly + lz * lz);
    const VF nl0 = nx * lx + ny * ly + nz * lz;
    const VI facing = (VI)(nl0 >= Splat(0.0f));
    VF nl = nl0;
    if (kShadow) {
        const Texture shadowMap = MakeTexture(shade.shadowMap, shade.shadowMapGather);
        const VF s = Bilinear ? ShadowBilinear(shadowMap, a[kSx], a[kSy], a[kSz], a[kSw])
                              : ShadowNearest(shadowMap, a[kSx], a[kSy], a[kSz], a[kSw]);
        nl = nl * s;
    }
    const VF lenN = Sqrt(nx * nx + ny * ny + nz * nz);
    nl = Select((VI)(nl > Splat(0.0f)), nl / (lenN * lenL), nl);
    const VF kd = Select(facing, nl, Splat(0.0f));
    const VF ks = Select(facing, nl * nl * nl, Splat(0.0f));
    const VF lenL2 = lenL * lenL;
    // The fixed attenuation holds for every lane whose |L|^2 is finite; the others, if any,
    // divide.
    const VI fixed = shade.attenuationFixed ? (VI)(lenL2 <= Splat(3.40282347e38f)) : SplatI(0);
    VF att = Splat(shade.attenuation);
    if (Bits(fixed) != (1 << W) - 1)
        att = Select(
            fixed, att,
            Splat(0.33333334f) / (lenL2 * light.quadraticAttenuation +
                                  lenL * light.linearAttenuation + light.constantAttenuation));
    fr = (light.specular.x * ks + light.diffuse.x * kd + light.ambient.x) * att * cr;
    fg = (light.specular.y * ks + light.diffuse.y * kd + light.ambient.y) * att * cg;
    fb = (light.specular.z * ks + light.diffuse.z * kd + light.ambient.z) * att * cb;
}

// The attributes a mask carries: colour, then u and v, the normal and light vector, the shadow
// coordinate.
constexpr int AttributesOf(unsigned mask)
{
    return (mask & kSpanShadow) && (mask & kSpanLight) ? kSw + 1
           : (mask & kSpanLight)                       ? kLz + 1
           : (mask & kSpanTexture)                     ? kV + 1
                                                       : kB + 1;
}

// Shades queue entries [first, first + n) (n <= W) and writes their colours, lane by lane in
// queue order, so a pixel queued twice ends with the later colour.
template <unsigned Mask, bool Bilinear>
KRV_SIMD_INLINE void ShadeQueued(const SpanTarget& target, const ShadeState& shade,
                                 krvi::PixelQueue& q, int first, int n)
{
    constexpr int kUsed = AttributesOf(Mask);
    if (n < W) {
        // The lanes past the queue's end repeat its first entry: they compute what nothing
        // stores, from values that are set.
        for (int i = 0; i < kUsed; ++i)
            for (int l = n; l < W; ++l) q.attributes[i][first + l] = q.attributes[i][first];
    }
    VF a[kAttributes];
    for (int i = 0; i < kUsed; ++i) std::memcpy(&a[i], &q.attributes[i][first], sizeof a[i]);
    VF cr, cg, cb, fr, fg, fb;
    Shade<Mask, Bilinear>(shade, a, cr, cg, cb, fr, fg, fb);
    int blue[W], green[W], red[W];
    const VI vb = LowBits(fb * 255.0f, 0xFF), vg = LowBits(fg * 255.0f, 0xFF),
             vr = LowBits(fr * 255.0f, 0xFF);
    std::memcpy(blue, &vb, sizeof blue);
    std::memcpy(green, &vg, sizeof green);
    std::memcpy(red, &vr, sizeof red);
    for (int l = 0; l < n; ++l) {
        uint8* dst = target.color + q.offsets[first + l];
        dst[0] = static_cast<uint8>(blue[l]);
        dst[1] = static_cast<uint8>(green[l]);
        dst[2] = static_cast<uint8>(red[l]);
    }
}

// Shades the whole vectors of the queue (all of it with `all`) and keeps the rest at its front.
template <unsigned Mask, bool Bilinear>
KRV_SIMD_TARGET static void ShadeQueue(const SpanTarget& target, const ShadeState& shade,
                                       krvi::PixelQueue& q, bool all)
{
    int first = 0;
    for (; q.count - first >= W; first += W)
        ShadeQueued<Mask, Bilinear>(target, shade, q, first, W);
    const int rest = q.count - first;
    if (rest > 0 && all) {
        ShadeQueued<Mask, Bilinear>(target, shade, q, first, rest);
    } else if (rest > 0 && first > 0) {
        for (int i = 0; i < AttributesOf(Mask); ++i)
            std::memmove(q.attributes[i], q.attributes[i] + first, sizeof(float) * rest);
        std::memmove(q.offsets, q.offsets + first, sizeof(int) * rest);
    }
    q.count = all ? 0 : rest;
}

template <unsigned Mask, bool Bilinear>
KRV_SIMD_TARGET static void FlushQueue(const SpanTarget& target, const ShadeState& shade)
{
    if (shade.queue && shade.queue->count > 0)
        ShadeQueue<Mask, Bilinear>(target, shade, *shade.queue, true);
}

// Appends the lanes of `bits` of a (the used attributes) and their colour offsets.
template <int kUsed>
KRV_SIMD_INLINE void Enqueue(krvi::PixelQueue& q, const VF* a, VI offsets, int bits)
{
    const int n = q.count;
#if KRV_SIMD_LANES == 8
    // A permutation that packs the chosen lanes to the front, from a table of all 256.
    struct PackTable {
        int index[256][8];
        constexpr PackTable() : index()
        {
            for (int m = 0; m < 256; ++m) {
                int k = 0;
                for (int l = 0; l < 8; ++l)
                    if (m & (1 << l)) index[m][k++] = l;
                for (; k < 8; ++k) index[m][k] = 0;
            }
        }
    };
    static constexpr PackTable kPack{};
    const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kPack.index[bits]));
    for (int i = 0; i < kUsed; ++i)
        _mm256_storeu_ps(&q.attributes[i][n], _mm256_permutevar8x32_ps((__m256)a[i], pick));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(&q.offsets[n]),
                        _mm256_permutevar8x32_epi32((__m256i)offsets, pick));
#else
    float lanes[kAttributes][W];
    int off[W];
    for (int i = 0; i < kUsed; ++i) std::memcpy(lanes[i], &a[i], sizeof lanes[i]);
    std::memcpy(off, &offsets, sizeof off);
    int k = n;
    for (int b = bits; b; b &= b - 1, ++k) {
        const int l = __builtin_ctz(b);
        for (int i = 0; i < kUsed; ++i) q.attributes[i][k] = lanes[i][l];
        q.offsets[k] = off[l];
    }
#endif
    q.count = n + __builtin_popcount(static_cast<unsigned>(bits));
}

// The span. Coverage, the depth test and the depth write go lane by lane as the scalar loop
// has them. The colours of the pixels that pass are worked out at once, or, in a deferring
// body with the thread's queue, queued until the queue fills or the draw flushes it, so that
// the shading runs on full vectors: a span passes 3 pixels of 8 on average in the demo.
template <unsigned Mask, bool Bilinear, bool Blend, bool Deferred>
KRV_SIMD_TARGET static bool SpanBody(const SpanTarget& target, const ShadeState& shade,
                                     const FlatPoint& left, const FlatPoint& delta, float rightX,
                                     int y, unsigned short& lastDepthOut)
{
    constexpr bool kColor = (Mask & kSpanColor) != 0;
    constexpr int kUsed = AttributesOf(Mask);

    const float dx = delta.X();
    if (dx == 0.0f || !std::isfinite(dx) || !std::isfinite(left.X())) return false;
    if (y < 0 || y > target.lastRow) return false;
    const int firstColumn = TruncToInt(left.X()) > 0 ? TruncToInt(left.X()) : 0;
    const int rightColumn = TruncToInt(rightX);
    const int lastColumn = rightColumn < target.lastColumn ? rightColumn : target.lastColumn;
    if (firstColumn > lastColumn) return false;

    // Colours wait in the thread's queue where the draw defers them and nothing reads the
    // target (the blends do).
    // With four lanes, packing costs more than the emptier vectors do.
    krvi::PixelQueue* const queue = kColor && !Blend && Deferred && W == 8 ? shade.queue : nullptr;
    const int rowOffset = y * target.colorWidth * 3;
    uint8* const colorRow = kColor ? target.color + rowOffset : nullptr;
    unsigned short* const depthRow =
        target.depth ? target.depth + static_cast<size_t>(y) * target.depthWidth : nullptr;

    // The attribute lanes of vectors 1 to 4 (GCC vectors may be read through their elements).
    const float* const leftA = reinterpret_cast<const float*>(&left.v[1]);
    const float* const deltaA = reinterpret_cast<const float*>(&delta.v[1]);
    const float leftX = left.X(), leftD = left.Depth(), deltaD = delta.Depth();
    const float leftW = left.W(), deltaW = delta.W();
    const float scale = 1.0f / dx;

    // The depth of the last covered pixel: its vector and lane, taken out once at the end.
    VI lastD = {};
    int lastCover = 0;
    for (int x = firstColumn; x <= lastColumn; x += W) {
        const int count = lastColumn - x + 1 < W ? lastColumn - x + 1 : W;
        const bool wholeDepth = depthRow && x + W <= target.depthWidth;
        const VI lane = Iota();
        const VF t = (ToFloat(lane + x) + 0.5f - leftX) * scale;
        // A NaN t is covered, as in the scalar loop: only t < 0 and t > 1 are skipped.
        const VI cover = (lane < SplatI(count)) & ~((VI)(t < Splat(0.0f)) | (VI)(t > Splat(1.0f)));
        const int coverBits = Bits(cover);
        if (!coverBits) continue;
        const VI d = LowBits((leftD + deltaD * t) * 65535.0f, 0xFFFF);
        lastD = d;
        lastCover = coverBits;
        VI pass = cover;
        if (target.testDepth) pass &= ~(LoadDepths(depthRow + x, count, wholeDepth) < d);
        const int passBits = Bits(pass);
        if (!passBits) continue;
        if (target.writeDepth) StoreDepths(depthRow + x, d, pass, passBits, wholeDepth);
        if (!kColor) continue;

        const VF w = Splat(1.0f) / (leftW + deltaW * t);
        VF a[kAttributes];
        for (int i = 0; i < kUsed; ++i) a[i] = (leftA[i] + deltaA[i] * t) * w;
        if (queue) {
            Enqueue<kUsed>(*queue, a, (lane + x) * 3 + rowOffset, passBits);
            if (queue->count >= krvi::PixelQueue::kCapacity)
                ShadeQueue<Mask, Bilinear>(target, shade, *queue, false);
            continue;
        }

        VF cr, cg, cb, fr, fg, fb;
        Shade<Mask, Bilinear>(shade, a, cr, cg, cb, fr, fg, fb);
        uint8* const dst = colorRow + static_cast<size_t>(x) * 3;
        const bool wholeColor = x + 10 <= target.colorWidth;
        if (!Blend) {
            StoreColors(dst, LowBits(fb * 255.0f, 0xFF), LowBits(fg * 255.0f, 0xFF),
                        LowBits(fr * 255.0f, 0xFF), pass, passBits, wholeColor);
            continue;
        }
        // The alpha term reads the textured colour before lighting; 0 without texturing.
        VF alpha = Splat(0.0f);
        if (shade.texturing) {
            const VF sum = (cr + cg + cb) * shade.alphaValue;
            alpha = shade.alphaInvert ? Clamp01(sum) : Clamp01(1.0f - sum);
        }
        VI ob, og, orr;
        LoadColors(dst, count, wholeColor, ob, og, orr);
        const VF oldB = ToFloat(ob), oldG = ToFloat(og), oldR = ToFloat(orr);
        if (shade.blendTransparency) {
            if (!shade.alphaBlend) alpha = Splat(0.0f);
            const float tv = shade.transparencyValue;
            StoreColors(dst, ClampedByte(oldB * alpha * 0.5f + tv * oldB + fb * 255.0f),
                        ClampedByte(oldG * alpha * 0.5f + tv * oldG + fg * 255.0f),
                        ClampedByte(oldR * alpha * 0.5f + tv * oldR + fr * 255.0f), pass, passBits,
                        wholeColor);
        } else {
            StoreColors(dst, ClampedByte(alpha * oldB + fb * 255.0f),
                        ClampedByte(alpha * oldG + fg * 255.0f),
                        ClampedByte(alpha * oldR + fr * 255.0f), pass, passBits, wholeColor);
        }
    }
    if (!lastCover) return false;
    lastDepthOut = static_cast<unsigned short>(Lane(lastD, 31 - __builtin_clz(lastCover)));
    return true;
}

template <bool Bilinear, bool Blend, bool Deferred, unsigned... Masks>
static constexpr std::array<SpanRoutine, sizeof...(Masks)> MakeRoutines(
    std::integer_sequence<unsigned, Masks...>)
{
    return {{&SpanBody<Masks, Bilinear, Blend, Deferred>...}};
}

template <bool Bilinear, unsigned... Masks>
static constexpr std::array<SpanFlush, sizeof...(Masks)> MakeFlushes(
    std::integer_sequence<unsigned, Masks...>)
{
    return {{&FlushQueue<Masks, Bilinear>...}};
}

// One body a mask, filter, blend and queueing: [deferred][bilinear][blend][mask].
template <bool Bilinear, bool Blend, bool Deferred>
static constexpr std::array<SpanRoutine, kSpanFeatureCount> Routines()
{
    return MakeRoutines<Bilinear, Blend, Deferred>(
        std::make_integer_sequence<unsigned, kSpanFeatureCount>());
}
static constexpr std::array<SpanRoutine, kSpanFeatureCount> kRoutines[2][2][2] = {
    {{Routines<false, false, false>(), Routines<false, true, false>()},
     {Routines<true, false, false>(), Routines<true, true, false>()}},
    {{Routines<false, false, true>(), Routines<false, true, true>()},
     {Routines<true, false, true>(), Routines<true, true, true>()}}};
static constexpr std::array<SpanFlush, kSpanFeatureCount> kFlushes[2] = {
    MakeFlushes<false>(std::make_integer_sequence<unsigned, kSpanFeatureCount>()),
    MakeFlushes<true>(std::make_integer_sequence<unsigned, kSpanFeatureCount>())};

// The body for a draw, or null where it does not cover it. With `flush`, the deferring body
// and the routine that empties its queue (null when the body queues nothing).
static inline SpanRoutine Choose(unsigned mask, const ShadeState& s, SpanFlush* flush)
{
    mask %= kSpanFeatureCount;
    if (!Covers(mask, s)) return nullptr;
    const bool blend = (mask & kSpanColor) && (s.blendTransparency || s.alphaBlend);
    const int bilinear = s.bilinear ? 1 : 0;
    if (flush) *flush = (mask & kSpanColor) && !blend ? kFlushes[bilinear][mask] : nullptr;
    return kRoutines[flush ? 1 : 0][bilinear][blend ? 1 : 0][mask];
}

#undef KRV_SIMD_INLINE

}  // namespace KRV_SIMD_NAMESPACE
