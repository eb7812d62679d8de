// The per-pixel texture lookups as inline functions over one texture's constants. The CTexture
// samplers (texture_sample.cpp) are these applied to the texture itself; the span loop
// (core/draw_span.cpp) loads the constants once an edge pair and calls the same functions in its
// pixel loop, so the two can never drift apart by a bit.
//
// Direct indexing, reciprocals instead of divisions, no allocation.
#pragma once

#include "base/compiler.h"
#include "texture/texture.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace krvi {

constexpr float kByteScale = 0.003921569f;      // 1/255
constexpr float kDepthScale = 0.000015259022f;  // 1/65535

// byte * (1/255) for every byte. Float multiplication is correctly rounded both when the
// compiler folds it and at run time, so a table entry is the very product the loop would form.
struct ByteToUnit {
    float value[256];
    constexpr ByteToUnit() : value()
    {
        for (int i = 0; i < 256; ++i) value[i] = static_cast<float>(i) * kByteScale;
    }
};
inline constexpr ByteToUnit kByteToUnit{};

// What the lookups read of a texture, with the sizes also as floats.
struct TexelSource {
    const uint8* bits = nullptr;
    int width = 0, height = 0, pitch = 0, format = 0;
    float widthF = 0.0f, heightF = 0.0f;

    TexelSource() = default;
    explicit TexelSource(const CTexture& t)
        : bits(t.Bits),
          width(t.Width),
          height(t.Height),
          pitch(t.Pitch),
          format(t.Format),
          widthF(static_cast<float>(t.Width)),
          heightF(static_cast<float>(t.Height))
    {
    }

    const uint8* TexelBGR(int x, int y) const
    {
        return bits + static_cast<size_t>(y) * static_cast<size_t>(pitch) +
               static_cast<size_t>(x) * 3u;
    }
    // A depth buffer is bytes from new uint8[]; memcpy reads one 16-bit value without an
    // aliasing question and compiles to a single load.
    float Depth(int x, int y) const
    {
        uint16_t d;
        std::memcpy(
            &d,
            bits +
                (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 2u,
            sizeof d);
        return static_cast<float>(d);
    }
};

// For lookups that read four bytes at a texel's offset (SIMD gathers): the last offset that
// still has four bytes of the texture behind it, or -1 when the texture cannot be read so (no
// texels, rows shorter than their texels, fewer than four bytes, offsets beyond int).
inline int GatherLimit(const TexelSource& t)
{
    if (!t.bits || t.width <= 0 || t.height <= 0) return -1;
    long long end;
    if (t.format == KrvFormat_BGR) {
        if (t.pitch < t.width * 3LL) return -1;
        end = (t.height - 1LL) * t.pitch + t.width * 3LL;
    } else if (t.format == KrvFormat_Depth16) {
        end = 2LL * t.width * t.height;
    } else {
        return -1;
    }
    return end < 4 || end > 2147483647LL ? -1 : static_cast<int>(end - 4);
}

// Magnitudes from here on are integers: the wrapped coordinate is 0 (Wrap).
constexpr float kWrapLimit = 8388608.0f;  // 2^23

// The lookup arithmetic for one pixel (sample_formula.h, which says what this defines).
namespace pixel {
using Float = float;
using Int = int;
using Bool = bool;
KRV_ALWAYS_INLINE Float Splat(float f) { return f; }
KRV_ALWAYS_INLINE Int SplatI(int i) { return i; }
KRV_ALWAYS_INLINE Float Select(Bool m, Float a, Float b) { return m ? a : b; }
KRV_ALWAYS_INLINE Int SelectI(Bool m, Int a, Int b) { return m ? a : b; }
KRV_ALWAYS_INLINE Int Trunc(Float f) { return TruncToInt(f); }
KRV_ALWAYS_INLINE Float ToFloat(Int i) { return static_cast<float>(i); }
#define KRV_FORMULA KRV_ALWAYS_INLINE
#define KRV_FORMULA_MEMBER KRV_ALWAYS_INLINE
#include "texture/sample_formula.h"
#undef KRV_FORMULA
#undef KRV_FORMULA_MEMBER
}  // namespace pixel

// The repeating coordinate in [0, 1]: c - trunc(c), plus 1 when negative (WrapInRange). It
// reaches 1.0 when a tiny negative c rounds up, which the callers clamp. NaN and infinities give
// 0, so a broken coordinate still addresses a texel.
//
// From 2^23 in magnitude on every float is an integer, so c - trunc(c) is 0, and for infinities
// and NaN it is NaN, which becomes 0 as well; below, trunc(c) is the int conversion.
KRV_ALWAYS_INLINE float Wrap(float c)
{
    if (!(std::fabs(c) < kWrapLimit)) return 0.0f;
    return pixel::WrapInRange(c);
}

// Colour lookups: (red, green, blue) in 0..1; white without texels; a format other than '0'
// and '2' leaves the colour as it was.
KRV_ALWAYS_INLINE void SampleNearest(const TexelSource& t, float u, float v, vec3& color)
{
    if (!t.bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    const int x = pixel::WrappedIndex(Wrap(u), t.width, t.widthF);
    const int y = pixel::WrappedIndex(Wrap(v), t.height, t.heightF);
    if (t.format == KrvFormat_BGR) {
        const uint8* p = t.TexelBGR(x, y);
        color.x = kByteToUnit.value[p[2]];
        color.y = kByteToUnit.value[p[1]];
        color.z = kByteToUnit.value[p[0]];
    } else if (t.format == KrvFormat_Depth16) {
        color = vec3(t.Depth(x, y) * kDepthScale);
    }
}

KRV_ALWAYS_INLINE void SampleBilinear(const TexelSource& t, float u, float v, vec3& color)
{
    if (!t.bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    int x0, x1, y0, y1;
    float fx, fy;
    pixel::BilinearAxis(Wrap(u), t.width, t.widthF, x0, x1, fx);
    pixel::BilinearAxis(Wrap(v), t.height, t.heightF, y0, y1, fy);
    const pixel::BilinearWeights w(fx, fy);
    if (t.format == KrvFormat_BGR) {
        const uint8* row0 = t.TexelBGR(0, y0);
        const uint8* row1 = t.TexelBGR(0, y1);
        const size_t c0 = static_cast<size_t>(x0) * 3u, c1 = static_cast<size_t>(x1) * 3u;
        const uint8* t00 = row0 + c0;
        const uint8* t10 = row0 + c1;
        const uint8* t11 = row1 + c1;
        const uint8* t01 = row1 + c0;
        const float* unit = kByteToUnit.value;
        auto channel = [&](int k) {
            return w.Mix(unit[t00[k]], unit[t10[k]], unit[t11[k]], unit[t01[k]]);
        };
        color.x = channel(2);
        color.y = channel(1);
        color.z = channel(0);
    } else if (t.format == KrvFormat_Depth16) {
        color = vec3(w.Mix(t.Depth(x0, y0) * kDepthScale, t.Depth(x1, y0) * kDepthScale,
                           t.Depth(x1, y1) * kDepthScale, t.Depth(x0, y1) * kDepthScale));
    }
}

// The shared front of both shadow tests: divides coord by w and scales its depth to 0..65535.
// False when the point is lit without a lookup: no depth map, behind the light, or outside the
// light's frustum (NaN included).
KRV_ALWAYS_INLINE bool ShadowSetup(const TexelSource& t, vec4& coord)
{
    if (!t.bits || t.format != KrvFormat_Depth16) return false;
    if (!(coord.w > 0.0f)) return false;
    coord.w = 1.0f / coord.w;
    if (!pixel::ShadowInside(coord.x, coord.y, coord.z, coord.w)) return false;
    coord.z = pixel::ShadowDepth(coord.z);
    return true;
}

// Shadow tests: 1 lit, 0 shadowed; coord is divided and scaled in place.
KRV_ALWAYS_INLINE float ShadowNearest(const TexelSource& t, vec4& coord)
{
    if (!ShadowSetup(t, coord)) return 1.0f;
    const int x = pixel::ShadowIndex(coord.x, t.width, t.widthF);
    const int y = pixel::ShadowIndex(coord.y, t.height, t.heightF);
    return pixel::ShadowTest(coord.z, t.Depth(x, y));
}

KRV_ALWAYS_INLINE float ShadowBilinear(const TexelSource& t, vec4& coord)
{
    if (!ShadowSetup(t, coord)) return 1.0f;
    int x0, x1, y0, y1;
    float fx, fy;
    pixel::ShadowAxis(coord.x, t.width, t.widthF, x0, x1, fx);
    pixel::ShadowAxis(coord.y, t.height, t.heightF, y0, y1, fy);
    const float z = coord.z;
    return pixel::ShadowMix(
        fx, fy, pixel::ShadowTest(z, t.Depth(x0, y0)), pixel::ShadowTest(z, t.Depth(x1, y0)),
        pixel::ShadowTest(z, t.Depth(x1, y1)), pixel::ShadowTest(z, t.Depth(x0, y1)));
}

}  // namespace krvi
