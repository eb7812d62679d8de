// The SIMD span body: the scalar pixel loop of draw_span.cpp and the shading of shade.h for
// KRV_SIMD_LANES pixels at once. Included once by draw_span_sse2.cpp (4 lanes, the x86-64
// baseline), once by draw_span_avx2.cpp (8 lanes, built for AVX2 by a target attribute so the
// rest of the program keeps the baseline) and once by draw_span_avx512.cpp (16 lanes, likewise
// for AVX-512); everything here lives in the namespace the including file names, so the copies
// never meet.
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
// The including file defines KRV_SIMD_LANES (4, 8 or 16), KRV_SIMD_TARGET (a function attribute,
// possibly empty) and KRV_SIMD_NAMESPACE, and has included <immintrin.h>. The lane primitives
// (simd_lanes.h) and samplers (simd_samplers.h) live in KRV_SIMD_NAMESPACE::lane; the shading
// arithmetic is the formulas of shade_formula.h that the scalar body runs as well.

#include "core/shade.h"
#include "core/span.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/simd_lanes.h"
#include "core/simd_samplers.h"

namespace KRV_SIMD_NAMESPACE {

using namespace lane;

// The queue fills to whole vectors, and a packed vector may be stored whole past its count.
static_assert(krvi::PixelQueue::kCapacity % W == 0 && krvi::PixelQueue::kSlack >= W,
              "the pixel queue holds whole vectors of every width");

// Whether the body covers a draw with these groups and this shading state.
static inline bool Covers(unsigned mask, const krvi::ShadeState& s)
{
    // Depth only, four lanes lose to the scalar loop's few instructions a pixel; eight and
    // sixteen win.
    if (!(mask & kSpanColor)) return W >= 8;
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
// The lanes of the attribute table's rows (attributes.h).
constexpr int LaneOf(krvi::AttributeName a) { return krvi::kAttributeTable.row[a].first; }
constexpr int kR = LaneOf(krvi::kAttribute_color), kG = kR + 1, kB = kR + 2;
constexpr int kU = LaneOf(krvi::kAttribute_texCoord), kV = kU + 1;
constexpr int kNx = LaneOf(krvi::kAttribute_normal), kNy = kNx + 1, kNz = kNx + 2;
constexpr int kLx = LaneOf(krvi::kAttribute_lightVector), kLy = kLx + 1, kLz = kLx + 2;
constexpr int kSx = LaneOf(krvi::kAttribute_shadowCoord), kSy = kSx + 1, kSz = kSx + 2,
              kSw = kSx + 3;
constexpr int kAttributes = krvi::kAttributeLanes;

// The lighting and texturing of W pixels: the textured colour c (the alpha term of the blends
// reads it) and the final colour F.
template <unsigned Mask, bool Bilinear>
KRV_SIMD_INLINE void Shade(const krvi::ShadeState& shade, const VF* a, VF& cr, VF& cg, VF& cb,
                           VF& fr, VF& fg, VF& fb)
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
    nl = DiffuseTerm(nl, lenN, lenL);
    const VF kd = Select(facing, nl, Splat(0.0f));
    const VF ks = Select(facing, SpecularTerm(nl), Splat(0.0f));
    const VF lenL2 = lenL * lenL;
    // The fixed attenuation holds for every lane whose |L|^2 is finite; the others, if any,
    // divide.
    const VI fixed = shade.attenuationFixed ? (VI)(lenL2 <= Splat(3.40282347e38f)) : SplatI(0);
    VF att = Splat(shade.attenuation);
    if (Bits(fixed) != (1 << W) - 1) att = Select(fixed, att, Attenuation(lenL2, lenL, light));
    fr = LitChannel(light.specular.x, light.diffuse.x, light.ambient.x, ks, kd, att, cr);
    fg = LitChannel(light.specular.y, light.diffuse.y, light.ambient.y, ks, kd, att, cg);
    fb = LitChannel(light.specular.z, light.diffuse.z, light.ambient.z, ks, kd, att, cb);
}

// The attributes a mask carries (a colour-only mask: the colour).
constexpr int AttributesOf(unsigned mask) { return krvi::AttributeLanesOf(mask | kSpanColor); }

// Shades queue entries [first, first + n) (n <= W) and writes their colours, lane by lane in
// queue order, so a pixel queued twice ends with the later colour.
template <unsigned Mask, bool Bilinear>
KRV_SIMD_INLINE void ShadeQueued(const krvi::SpanTarget& target, const krvi::ShadeState& shade,
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
KRV_SIMD_TARGET static void ShadeQueue(const krvi::SpanTarget& target,
                                       const krvi::ShadeState& shade, krvi::PixelQueue& q, bool all)
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
KRV_SIMD_TARGET static void FlushQueue(const krvi::SpanTarget& target,
                                       const krvi::ShadeState& shade)
{
    if (shade.queue && shade.queue->count > 0)
        ShadeQueue<Mask, Bilinear>(target, shade, *shade.queue, true);
}

// Appends the lanes of `bits` of a (the used attributes) and their colour offsets.
template <int kUsed>
KRV_SIMD_INLINE void Enqueue(krvi::PixelQueue& q, const VF* a, VI offsets, int bits)
{
    const int n = q.count;
#if KRV_SIMD_LANES == 16
    // One compress of the lane numbers gives the permutation that packs the chosen lanes to
    // the front in order; a permutation a vector is cheaper than a compress each. The whole
    // vector is stored (the queue's slack holds the lanes past the count), which is faster
    // than a compressing store.
    const __m512i pick = _mm512_maskz_compress_epi32(static_cast<__mmask16>(bits), (__m512i)Iota());
    for (int i = 0; i < kUsed; ++i)
        _mm512_storeu_ps(&q.attributes[i][n], _mm512_permutexvar_ps(pick, (__m512)a[i]));
    _mm512_storeu_si512(&q.offsets[n], _mm512_permutexvar_epi32(pick, (__m512i)offsets));
#elif KRV_SIMD_LANES == 8
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
KRV_SIMD_TARGET static bool SpanBody(const krvi::SpanTarget& target, const krvi::ShadeState& shade,
                                     const krvi::FlatPoint& left, const krvi::FlatPoint& delta,
                                     float rightX, int y, unsigned short& lastDepthOut)
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
    // With four lanes, packing costs more than the emptier vectors do; with eight and sixteen
    // the full vectors win (sixteen the more: a span covers 6 pixels on average).
    krvi::PixelQueue* const queue = kColor && !Blend && Deferred && W >= 8 ? shade.queue : nullptr;
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
        if (shade.texturing) alpha = AlphaTerm(cr, cg, cb, shade.alphaValue, shade.alphaInvert);
        VI ob, og, orr;
        LoadColors(dst, count, wholeColor, ob, og, orr);
        const VF oldB = ToFloat(ob), oldG = ToFloat(og), oldR = ToFloat(orr);
        if (shade.blendTransparency) {
            if (!shade.alphaBlend) alpha = Splat(0.0f);
            const float tv = shade.transparencyValue;
            StoreColors(dst, ClampedByte(BlendTransparent(oldB, alpha, tv, fb)),
                        ClampedByte(BlendTransparent(oldG, alpha, tv, fg)),
                        ClampedByte(BlendTransparent(oldR, alpha, tv, fr)), pass, passBits,
                        wholeColor);
        } else {
            StoreColors(dst, ClampedByte(BlendAlpha(oldB, alpha, fb)),
                        ClampedByte(BlendAlpha(oldG, alpha, fg)),
                        ClampedByte(BlendAlpha(oldR, alpha, fr)), pass, passBits, wholeColor);
        }
    }
    if (!lastCover) return false;
    lastDepthOut = static_cast<unsigned short>(Lane(lastD, 31 - __builtin_clz(lastCover)));
    return true;
}

template <bool Bilinear, bool Blend, bool Deferred, unsigned... Masks>
static constexpr std::array<krvi::SpanRoutine, sizeof...(Masks)> MakeRoutines(
    std::integer_sequence<unsigned, Masks...>)
{
    return {{&SpanBody<Masks, Bilinear, Blend, Deferred>...}};
}

template <bool Bilinear, unsigned... Masks>
static constexpr std::array<krvi::SpanFlush, sizeof...(Masks)> MakeFlushes(
    std::integer_sequence<unsigned, Masks...>)
{
    return {{&FlushQueue<Masks, Bilinear>...}};
}

// One body a mask, filter, blend and queueing: [deferred][bilinear][blend][mask].
template <bool Bilinear, bool Blend, bool Deferred>
static constexpr std::array<krvi::SpanRoutine, kSpanFeatureCount> Routines()
{
    return MakeRoutines<Bilinear, Blend, Deferred>(
        std::make_integer_sequence<unsigned, kSpanFeatureCount>());
}
static constexpr std::array<krvi::SpanRoutine, kSpanFeatureCount> kRoutines[2][2][2] = {
    {{Routines<false, false, false>(), Routines<false, true, false>()},
     {Routines<true, false, false>(), Routines<true, true, false>()}},
    {{Routines<false, false, true>(), Routines<false, true, true>()},
     {Routines<true, false, true>(), Routines<true, true, true>()}}};
static constexpr std::array<krvi::SpanFlush, kSpanFeatureCount> kFlushes[2] = {
    MakeFlushes<false>(std::make_integer_sequence<unsigned, kSpanFeatureCount>()),
    MakeFlushes<true>(std::make_integer_sequence<unsigned, kSpanFeatureCount>())};

// The body for a draw, or null where it does not cover it. With `flush`, the deferring body
// and the routine that empties its queue (null when the body queues nothing).
static inline krvi::SpanRoutine Choose(unsigned mask, const krvi::ShadeState& s,
                                       krvi::SpanFlush* flush)
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
