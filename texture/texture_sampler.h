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

// The repeating coordinate in [0, 1]: c - trunc(c), plus 1 when negative. It reaches 1.0 when a
// tiny negative c rounds up, which the callers clamp. NaN and infinities give 0, so a broken
// coordinate still addresses a texel.
//
// Below 2^23 in magnitude trunc(c) is the int conversion; from there on every float is an
// integer, so c - trunc(c) is 0, and for infinities and NaN it is NaN, which becomes 0 as well.
// The int conversion gives +0 where trunc gives -0 (c in (-1, 0]), which changes nothing but
// the sign of a zero result; adding +0 makes that +0 too, as c - trunc(c) has it.
KRV_ALWAYS_INLINE float Wrap(float c)
{
    if (!(std::fabs(c) < 8388608.0f)) return 0.0f;
    const float w = c - static_cast<float>(static_cast<int>(c));
    return w < 0.0f ? w + 1.0f : w + 0.0f;
}

// Texel index of a wrapped coordinate: trunc(w * size), kept below size.
KRV_ALWAYS_INLINE int WrappedIndex(float w, int size, float sizeF)
{
    int i = TruncToInt(w * sizeF);
    return i < size ? i : size - 1;
}

// Colour lookups: (red, green, blue) in 0..1; white without texels; a format other than '0'
// and '2' leaves the colour as it was.
KRV_ALWAYS_INLINE void SampleNearest(const TexelSource& t, float u, float v, vec3& color)
{
    if (!t.bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    const int x = WrappedIndex(Wrap(u), t.width, t.widthF);
    const int y = WrappedIndex(Wrap(v), t.height, t.heightF);
    if (t.format == KrvFormat_BGR) {
        const uint8* p = t.TexelBGR(x, y);
        color.x = kByteToUnit.value[p[2]];
        color.y = kByteToUnit.value[p[1]];
        color.z = kByteToUnit.value[p[0]];
    } else if (t.format == KrvFormat_Depth16) {
        color = vec3(t.Depth(x, y) * kDepthScale);
    }
}

// One axis of the bilinear footprint: the two wrapped texel indices and the weight of the second.
KRV_ALWAYS_INLINE void BilinearAxis(float c, int size, float sizeF, int& i0, int& i1, float& f)
{
    float g = Wrap(c) * sizeF - 0.5f;
    if (g < 0.0f) g += sizeF;
    i0 = TruncToInt(g);
    // g + size can round up to size itself; the texel below then takes the whole weight of
    // the next one (f = 1), which is where the sample lies.
    if (i0 >= size) i0 = size - 1;
    f = g - static_cast<float>(i0);
    i1 = i0 + 1 < size ? i0 + 1 : 0;
}

KRV_ALWAYS_INLINE void SampleBilinear(const TexelSource& t, float u, float v, vec3& color)
{
    if (!t.bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    int x0, x1, y0, y1;
    float fx, fy;
    BilinearAxis(u, t.width, t.widthF, x0, x1, fx);
    BilinearAxis(v, t.height, t.heightF, y0, y1, fy);
    const float w00 = (1.0f - fy) * (1.0f - fx);
    const float w10 = (1.0f - fy) * fx;
    const float w11 = fy * fx;
    const float w01 = fy * (1.0f - fx);
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
            return w00 * unit[t00[k]] + w10 * unit[t10[k]] + w11 * unit[t11[k]] +
                   w01 * unit[t01[k]];
        };
        color.x = channel(2);
        color.y = channel(1);
        color.z = channel(0);
    } else if (t.format == KrvFormat_Depth16) {
        color = vec3(w00 * (t.Depth(x0, y0) * kDepthScale) + w10 * (t.Depth(x1, y0) * kDepthScale) +
                     w11 * (t.Depth(x1, y1) * kDepthScale) + w01 * (t.Depth(x0, y1) * kDepthScale));
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
    coord.x *= coord.w;
    coord.y *= coord.w;
    coord.z *= coord.w;
    if (!(coord.x >= 0.0f && coord.x < 1.0f && coord.y >= 0.0f && coord.y < 1.0f &&
          coord.z >= 0.0f && coord.z <= 1.0f))
        return false;
    coord.z *= 65535.0f;
    return true;
}

// Shadow tests: 1 lit, 0 shadowed; coord is divided and scaled in place.
KRV_ALWAYS_INLINE float ShadowNearest(const TexelSource& t, vec4& coord)
{
    if (!ShadowSetup(t, coord)) return 1.0f;
    // x < 1, yet x * Width can round up to Width.
    int x = TruncToInt(coord.x * t.widthF);
    int y = TruncToInt(coord.y * t.heightF);
    if (x >= t.width) x = t.width - 1;
    if (y >= t.height) y = t.height - 1;
    return coord.z > t.Depth(x, y) ? 0.0f : 1.0f;
}

// One axis of the percentage-closer footprint; clamps at the far edge instead of wrapping.
KRV_ALWAYS_INLINE void ShadowAxis(float c, int size, float sizeF, int& i0, int& i1, float& f)
{
    float g = c * sizeF - 0.5f;
    if (g < 0.0f) {
        i0 = 0;
        i1 = 1;
        f = 0.0f;
    } else {
        i0 = TruncToInt(g);
        if (i0 >= size) i0 = size - 1;
        f = g - static_cast<float>(i0);
        i1 = i0 + 1;
    }
    if (i1 >= size) i1 = i0;
}

KRV_ALWAYS_INLINE float ShadowBilinear(const TexelSource& t, vec4& coord)
{
    if (!ShadowSetup(t, coord)) return 1.0f;
    int x0, x1, y0, y1;
    float fx, fy;
    ShadowAxis(coord.x, t.width, t.widthF, x0, x1, fx);
    ShadowAxis(coord.y, t.height, t.heightF, y0, y1, fy);
    const float z = coord.z;
    const float s00 = z > t.Depth(x0, y0) ? 0.0f : 1.0f;
    const float s10 = z > t.Depth(x1, y0) ? 0.0f : 1.0f;
    const float s11 = z > t.Depth(x1, y1) ? 0.0f : 1.0f;
    const float s01 = z > t.Depth(x0, y1) ? 0.0f : 1.0f;
    return (1.0f - fx) * (1.0f - fy) * s00 + fx * (1.0f - fy) * s10 + fx * fy * s11 +
           (1.0f - fx) * fy * s01;
}

}  // namespace krvi
