// Per-pixel texture lookups: colour samplers and shadow-map tests. Called for every covered
// pixel, so: direct indexing, reciprocals instead of divisions, no allocation.
#include "texture/texture.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

static constexpr float kByteScale = 0.003921569f;     // 1/255
static constexpr float kDepthScale = 0.000015259022f; // 1/65535

// The repeating coordinate in [0, 1]: c - trunc(c), plus 1 when negative. It reaches 1.0 when a
// tiny negative c rounds up, which the callers clamp. NaN and infinities give 0, so a broken
// coordinate still addresses a texel.
static inline float Wrap(float c)
{
    float w = c - std::trunc(c);
    if (w < 0.0f) w += 1.0f;
    return w == w ? w : 0.0f;
}

// Texel index of a wrapped coordinate: trunc(w * size), kept below size.
static inline int WrappedIndex(float w, int size)
{
    int i = TruncToInt(w * static_cast<float>(size));
    return i < size ? i : size - 1;
}

static inline const uint8* TexelBGR(const CTexture& t, int x, int y)
{
    return t.Bits + static_cast<size_t>(y) * static_cast<size_t>(t.Pitch) +
           static_cast<size_t>(x) * 3u;
}

// A depth buffer is bytes from new uint8[]; memcpy reads one 16-bit value without an aliasing
// question and compiles to a single load.
static inline float Depth(const CTexture& t, int x, int y)
{
    uint16_t d;
    std::memcpy(&d, t.Bits + (static_cast<size_t>(y) * static_cast<size_t>(t.Width) +
                              static_cast<size_t>(x)) * 2u,
                sizeof d);
    return static_cast<float>(d);
}

void CTexture::GetColorNearest(float u, float v, vec3& color) const
{
    if (!Bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    const int x = WrappedIndex(Wrap(u), Width);
    const int y = WrappedIndex(Wrap(v), Height);
    if (Format == KrvFormat_BGR) {
        const uint8* p = TexelBGR(*this, x, y);
        color.x = static_cast<float>(p[2]) * kByteScale;
        color.y = static_cast<float>(p[1]) * kByteScale;
        color.z = static_cast<float>(p[0]) * kByteScale;
    } else if (Format == KrvFormat_Depth16) {
        color = vec3(Depth(*this, x, y) * kDepthScale);
    }
}

// One axis of the bilinear footprint: the two wrapped texel indices and the weight of the second.
static inline void BilinearAxis(float c, int size, int& i0, int& i1, float& f)
{
    float g = Wrap(c) * static_cast<float>(size) - 0.5f;
    if (g < 0.0f) g += static_cast<float>(size);
    i0 = TruncToInt(g);
    // g + size can round up to size itself; the texel below then takes the whole weight of
    // the next one (f = 1), which is where the sample lies.
    if (i0 >= size) i0 = size - 1;
    f = g - static_cast<float>(i0);
    i1 = i0 + 1 < size ? i0 + 1 : 0;
}

void CTexture::GetColorBilinear(float u, float v, vec3& color) const
{
    if (!Bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    int x0, x1, y0, y1;
    float fx, fy;
    BilinearAxis(u, Width, x0, x1, fx);
    BilinearAxis(v, Height, y0, y1, fy);
    const float w00 = (1.0f - fy) * (1.0f - fx);
    const float w10 = (1.0f - fy) * fx;
    const float w11 = fy * fx;
    const float w01 = fy * (1.0f - fx);
    if (Format == KrvFormat_BGR) {
        const uint8* t00 = TexelBGR(*this, x0, y0);
        const uint8* t10 = TexelBGR(*this, x1, y0);
        const uint8* t11 = TexelBGR(*this, x1, y1);
        const uint8* t01 = TexelBGR(*this, x0, y1);
        float c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = w00 * (static_cast<float>(t00[k]) * kByteScale) +
                   w10 * (static_cast<float>(t10[k]) * kByteScale) +
                   w11 * (static_cast<float>(t11[k]) * kByteScale) +
                   w01 * (static_cast<float>(t01[k]) * kByteScale);
        color.x = c[2];
        color.y = c[1];
        color.z = c[0];
    } else if (Format == KrvFormat_Depth16) {
        color = vec3(w00 * (Depth(*this, x0, y0) * kDepthScale) +
                     w10 * (Depth(*this, x1, y0) * kDepthScale) +
                     w11 * (Depth(*this, x1, y1) * kDepthScale) +
                     w01 * (Depth(*this, x0, y1) * kDepthScale));
    }
}

// trunc(trunc(i / k) * k) in double: the texel a coarser level of step k would hold. Never
// more than i, so it stays in range.
static inline int CoarseIndex(int i, double k)
{
    return TruncToInt(static_cast<double>(TruncToInt(static_cast<double>(i) / k)) * k);
}

void CTexture::GetColorMipMapNearest(float u, float v, vec3& color) const
{
    if (!Bits) {
        color = vec3(1.0f, 1.0f, 1.0f);
        return;
    }
    int xs[4], ys[4];
    xs[0] = WrappedIndex(Wrap(u), Width);
    ys[0] = WrappedIndex(Wrap(v), Height);
    static const double kSteps[3] = {1.1, 1.2, 1.3};
    for (int n = 0; n < 3; ++n) {
        xs[n + 1] = CoarseIndex(xs[0], kSteps[n]);
        ys[n + 1] = CoarseIndex(ys[0], kSteps[n]);
    }
    if (Format == KrvFormat_BGR) {
        float c[3] = {0.0f, 0.0f, 0.0f};
        for (int n = 0; n < 4; ++n) {
            const uint8* p = TexelBGR(*this, xs[n], ys[n]);
            for (int k = 0; k < 3; ++k) c[k] += static_cast<float>(p[k]) * kByteScale;
        }
        color.x = 0.25f * c[2];
        color.y = 0.25f * c[1];
        color.z = 0.25f * c[0];
    } else if (Format == KrvFormat_Depth16) {
        float sum = 0.0f;
        for (int n = 0; n < 4; ++n) sum += Depth(*this, xs[n], ys[n]) * kDepthScale;
        color = vec3(0.25f * sum);
    }
}

// The shared front of both shadow tests: divides coord by w and scales its depth to 0..65535.
// False when the point is lit without a lookup: no depth map, behind the light, or outside the
// light's frustum (NaN included).
static inline bool ShadowSetup(const CTexture& t, vec4& coord)
{
    if (!t.Bits || t.Format != KrvFormat_Depth16) return false;
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

float CTexture::GetShadowNearest(vec4& coord) const
{
    if (!ShadowSetup(*this, coord)) return 1.0f;
    // x < 1, yet x * Width can round up to Width.
    int x = TruncToInt(coord.x * static_cast<float>(Width));
    int y = TruncToInt(coord.y * static_cast<float>(Height));
    if (x >= Width) x = Width - 1;
    if (y >= Height) y = Height - 1;
    return coord.z > Depth(*this, x, y) ? 0.0f : 1.0f;
}

// One axis of the percentage-closer footprint; clamps at the far edge instead of wrapping.
static inline void ShadowAxis(float c, int size, int& i0, int& i1, float& f)
{
    float g = c * static_cast<float>(size) - 0.5f;
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

float CTexture::GetShadowBilinear(vec4& coord) const
{
    if (!ShadowSetup(*this, coord)) return 1.0f;
    int x0, x1, y0, y1;
    float fx, fy;
    ShadowAxis(coord.x, Width, x0, x1, fx);
    ShadowAxis(coord.y, Height, y0, y1, fy);
    const float z = coord.z;
    const float s00 = z > Depth(*this, x0, y0) ? 0.0f : 1.0f;
    const float s10 = z > Depth(*this, x1, y0) ? 0.0f : 1.0f;
    const float s11 = z > Depth(*this, x1, y1) ? 0.0f : 1.0f;
    const float s01 = z > Depth(*this, x0, y1) ? 0.0f : 1.0f;
    return (1.0f - fx) * (1.0f - fy) * s00 + fx * (1.0f - fy) * s10 + fx * fy * s11 +
           (1.0f - fx) * fy * s01;
}
