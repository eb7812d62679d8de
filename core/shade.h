// Pixel shading: the colour of one covered, depth-tested pixel from its perspective-corrected
// attributes, and the write of that colour into the target. Inlined into every specialisation
// of the span loop (draw_span.cpp); nothing else calls it.
#pragma once

#include "core/core.h"
#include "core/attributes.h"
#include "texture/texture_sampler.h"

#include <cmath>
#include <cstddef>

namespace krvi {
struct PixelQueue;

// The shading arithmetic for one pixel (shade_formula.h), beside the lookups' (texture_sampler.h).
namespace pixel {
#define KRV_FORMULA KRV_ALWAYS_INLINE
#include "core/shade_formula.h"
#undef KRV_FORMULA
}  // namespace pixel
}  // namespace krvi

namespace krvi {

// One pixel's attributes, already multiplied back by w. Only the groups of the draw's features
// are set.
// The fields are the attribute table's (attributes.h), in its lane order.
struct PixelAttributes {
#define KRV_ATTRIBUTE_FIELD(field, n, feature, needs) krvi::VectorOf<n>::type field;
    KRV_ATTRIBUTES(KRV_ATTRIBUTE_FIELD)
#undef KRV_ATTRIBUTE_FIELD
    float unused = 0.0f;  // pads to whole vectors of four floats (draw_span.cpp)
};
#define KRV_ATTRIBUTE_OFFSET(field, n, feature, needs)                                           \
    static_assert(offsetof(PixelAttributes, field) ==                                            \
                      krvi::kAttributeTable.row[krvi::kAttribute_##field].first * sizeof(float), \
                  "PixelAttributes::" #field " sits at its lane");
KRV_ATTRIBUTES(KRV_ATTRIBUTE_OFFSET)
#undef KRV_ATTRIBUTE_OFFSET

// What the shading reads from the core, copied once a draw (Load) and once a row (the span's
// right end): the loop's byte stores may alias any field, so reading the core inside the loop
// would reload it every pixel. The feature bits cover texture0, the light and the shadow map; the
// rarer switches are tested here at run time.
struct ShadeState {
    // The lookups of every pixel, inlined into the loop.
    krvi::TexelSource texture0;
    krvi::TexelSource shadowMap;
    int texture0Gather = -1;  // krvi::GatherLimit of each, for the SIMD bodies
    int shadowMapGather = -1;
    // The rarer ones stay calls to the CTexture samplers (the same arithmetic); null when off.
    const CTexture* texture1 = nullptr;     // multitexturing on and bound
    const CTexture* texture2 = nullptr;     // also the third texture bound
    const CTexture* bumpTexture = nullptr;  // bump mapping on and bound
    krvi::PixelQueue* queue = nullptr;      // this thread's, for the deferring SIMD bodies
    CLight light{};
    // Zeroed here as well as set by Load: a copy of a state that no draw has loaded yet (a
    // worker's) would otherwise read it uninitialised, which optimised GCC builds flag.
    CMaterial materialColor{};
    vec3 spanRight;                   // screen x, y and depth of the span's right end (Dot3)
    const uint8* colorEnd = nullptr;  // one past the colour target
    float bumpScale = 0.0f;
    float alphaValue = 1.0f;
    float transparencyValue = 0.0f;
    bool bilinear = false;
    bool texturing = false;  // the switch alone: the alpha term reads it
    bool material = false;
    bool dot3 = false;
    bool alphaInvert = false;
    bool blendTransparency = false;  // transparency on and a value set
    bool alphaBlend = false;
    bool depthColorCompare = false;
    // The attenuation 1/3 / (|L|^2 q + |L| l + c) with q and l both +0 is 1/3 / (0 + c) for
    // every |L| whose square is finite: then it is worked out once a draw.
    bool attenuationFixed = false;
    float attenuation = 0.0f;

    void Load(const _3D_Korvane_Core& core)
    {
        if (core.texture0) {
            texture0 = krvi::TexelSource(*core.texture0);
            texture0Gather = krvi::GatherLimit(texture0);
        }
        if (core.useTexture1 && core.multiTexture && core.texture1) {
            texture1 = core.texture1;
            if (core.useTexture2) texture2 = core.texture2;
        }
        if (core.useBump && core.bumpMapping) bumpTexture = core.bumpTexture;
        if (core.shadowMap) {
            shadowMap = krvi::TexelSource(*core.shadowMap);
            shadowMapGather = krvi::GatherLimit(shadowMap);
        }
        if (core.light) {
            light = *core.light;
            attenuationFixed =
                PositiveZero(light.quadraticAttenuation) && PositiveZero(light.linearAttenuation);
            attenuation = krvi::pixel::Attenuation(0.0f, 0.0f, light);  // lenL2 q + lenL l = +0
        }
        materialColor = core.Material;
        colorEnd = core.targetColor + static_cast<size_t>(core.targetColorWidth) *
                                          static_cast<size_t>(core.targetColorHeight) * 3;
        bumpScale = 0.01f * core.BumpMapFactor;
        alphaValue = core.AlphaValue;
        transparencyValue = core.Transparency;
        bilinear = core.bilinearFilter;
        texturing = core.texturing;
        material = core.material;
        dot3 = core.dot3;
        alphaInvert = core.AlphaFlag;
        blendTransparency = core.transparency && core.TransparencySet;
        alphaBlend = core.alphaBlend;
        depthColorCompare = core.depthColorCompare;
    }
    static bool PositiveZero(float v) { return v == 0.0f && !std::signbit(v); }
    void SetSpanRight(const vec3& right) { spanRight = right; }
    template <class Span>  // CSpan (rasterize.h)
    void SetSpan(const Span& span)
    {
        SetSpanRight(
            vec3(span.second->position.x, span.second->position.y, span.second->position.z));
    }
    template <class Span>
    void Load(const _3D_Korvane_Core& core, const Span& span)
    {
        Load(core);
        SetSpan(span);
    }

    KRV_ALWAYS_INLINE void Sample(const krvi::TexelSource& t, float u, float v, vec3& out) const
    {
        if (bilinear)
            krvi::SampleBilinear(t, u, v, out);
        else
            krvi::SampleNearest(t, u, v, out);
    }
    void Sample(const CTexture* t, float u, float v, vec3& out) const
    {
        if (bilinear)
            t->GetColorBilinear(u, v, out);
        else
            t->GetColorNearest(u, v, out);
    }
};

// A blended byte: clamped to 0..255 first, so it needs no wrap; NaN gives 0.
inline uint8 ShadeClampedByte(float v)
{
    return static_cast<uint8>(TruncToInt(krvClamp(v, 0.0f, 255.0f)));
}

// The bump texel for the light direction on the face the normal points to. Each test that
// holds resamples, so the last one wins; with N = 0 none holds and B stays 0.
inline vec3 ShadeBumpTexel(const ShadeState& s, const PixelAttributes& a)
{
    const vec3& L = a.lightVector;
    const vec3& N = a.normal;
    const float len = length(L), k = s.bumpScale;
    const float lx = L.x / len, ly = L.y / len, lz = L.z / len;
    const float u = a.texCoord.x, v = a.texCoord.y;
    vec3 B(0.0f);
    if (N.x > 0.0f) s.Sample(s.bumpTexture, u + k * lz, v - k * ly, B);
    if (N.x < 0.0f) s.Sample(s.bumpTexture, u - k * lz, v - k * ly, B);
    if (N.y > 0.0f) s.Sample(s.bumpTexture, u - k * lx, v + k * lz, B);
    if (N.y < 0.0f) s.Sample(s.bumpTexture, u - k * lx, v - k * lz, B);
    if (N.z > 0.0f) s.Sample(s.bumpTexture, u - k * lx, v - k * ly, B);
    if (N.z < 0.0f) s.Sample(s.bumpTexture, u + k * lx, v - k * ly, B);
    return B;
}

// Dot3: the base texel as a normal, turned by the light vector, lit from the light position
// seen from the span's right end; returns the texel that replaces T.
inline vec3 ShadeDot3(const ShadeState& s, const PixelAttributes& a, const vec3& T, const vec3& c,
                      const vec3& M1)
{
    const vec3& L = a.lightVector;
    const vec3 n = normalize(
        vec3((T.x - 0.5f) * 2.0f * L.x, (T.y - 0.5f) * 2.0f * L.y, (T.z - 0.5f) * 2.0f * L.z));
    const vec3 v = normalize(vec3((c.x - 0.5f) * L.x, (c.y - 0.5f) * L.y, (c.z - 0.5f) * L.z));
    const mat3x3 m(v, cross(n, v), n);
    const vec3 d = normalize(m * (s.light.position - s.spanRight));
    const float nd = dot(d, n);
    vec3 out;
    for (int i = 0; i < 3; ++i) {
        const float si =
            krvi::Clamp01(nd + M1[i] * s.light.ambient[i] + M1[i] * s.light.diffuse[i]);
        out[i] = M1[i] * si * s.light.specular[i];
    }
    return out;
}

// ===== Pixel shading =========================================================================
// Three stages, each inlined into the span body that calls ShadePixel: the texel stage
// modulates the vertex colour by the texture units, the light stage lights that colour, and the
// write stage blends the result into the target.

// The vertex colour times the texture units (with the bump or Dot3 term); the colour itself
// without texturing.
template <class Features>
KRV_ALWAYS_INLINE vec3 ShadeTexel(const ShadeState& s, const PixelAttributes& a, Features f)
{
    vec3 c = a.color;
    if (!f.Has(kSpanTexture)) return c;
    const float u = a.texCoord.x, v = a.texCoord.y;
    vec3 T;
    s.Sample(s.texture0, u, v, T);
    const bool bump = f.Has(kSpanLight) && s.bumpTexture;
    vec3 B;
    if (bump) B = ShadeBumpTexel(s, a);
    if (s.texture1) {
        vec3 M1, M2;
        s.Sample(s.texture1, u, v, M1);
        if (s.texture2) s.Sample(s.texture2, u, v, M2);
        if (f.Has(kSpanLight) && s.dot3) T = ShadeDot3(s, a, T, c, M1);
        for (int i = 0; i < 3; ++i)
            c[i] = krvi::Clamp01(s.texture2 ? T[i] + M1[i] + M2[i] : T[i] + M1[i]) * c[i];
    } else if (bump) {
        // Darkens the texel by 0.18 where the shifted bump texel is bright.
        for (int i = 0; i < 3; ++i) {
            float b = B[i] > 0.5f ? 1.0f : (B[i] < 0.5f ? 0.0f : B[i]);
            b = b < 0.0f ? 0.0f : b;
            c[i] = krvi::Clamp01(T[i] - (b < 0.18f ? b : 0.18f)) * c[i];
        }
    } else {
        c = T * c;
    }
    return c;
}

// The final colour F of the textured colour c: lit (shadow, attenuation, material), or c
// itself (times the material's ambient) without lighting.
template <class Features>
KRV_ALWAYS_INLINE vec3 ShadeLight(const ShadeState& s, const PixelAttributes& a, const vec3& c,
                                  Features f)
{
    if (!f.Has(kSpanLight)) return s.material ? c * s.materialColor.ambient : c;
    const vec3& N = a.normal;
    const vec3& L = a.lightVector;
    const CLight& l = s.light;
    const float lenL = length(L);
    float nl = N.x * L.x + N.y * L.y + N.z * L.z;
    float kd = 0.0f, ks = 0.0f;
    if (nl >= 0.0f) {
        if (f.Has(kSpanShadow)) {
            vec4 coord = a.shadowCoord;  // the sampler divides it in place
            nl = nl * (s.bilinear ? krvi::ShadowBilinear(s.shadowMap, coord)
                                  : krvi::ShadowNearest(s.shadowMap, coord));
        }
        kd = krvi::pixel::DiffuseTerm(nl, length(N), lenL);
        ks = krvi::pixel::SpecularTerm(kd);
    }
    const float lenL2 = lenL * lenL;
    const float att = s.attenuationFixed && lenL2 <= 3.40282347e38f
                          ? s.attenuation
                          : krvi::pixel::Attenuation(lenL2, lenL, l);
    if (!s.material) {
        vec3 F;
        for (int i = 0; i < 3; ++i)
            F[i] = krvi::pixel::LitChannel(l.specular[i], l.diffuse[i], l.ambient[i], ks, kd, att,
                                           c[i]);
        return F;
    }
    const CMaterial& m = s.materialColor;
    const float e = m.emission;
    vec3 F;
    for (int i = 0; i < 3; ++i)
        F[i] = (krvi::Clamp01(l.ambient[i] * m.ambient[i] * (e + 1.0f)) +
                krvi::Clamp01((l.diffuse[i] * m.diffuse[i] + e) * kd) +
                krvi::Clamp01((l.specular[i] * m.specular[i] + e) * ks)) *
               att * c[i];
    return F;
}

// Writes F over dst (blue, green, red): blended, with the alpha taken from the textured colour
// c, or plain. Returns whether the pixel's depth d may be written.
KRV_ALWAYS_INLINE bool ShadeWrite(const ShadeState& s, const vec3& c, const vec3& F, uint8* dst,
                                  unsigned short d)
{
    if (s.blendTransparency || s.alphaBlend) {
        // Alpha from the textured colour before lighting; 0 without texturing.
        float alpha = 0.0f;
        if (s.texturing) alpha = krvi::pixel::AlphaTerm(c.x, c.y, c.z, s.alphaValue, s.alphaInvert);
        if (s.blendTransparency) {
            if (!s.alphaBlend) alpha = 0.0f;
            for (int j = 0; j < 3; ++j) {
                const float old = static_cast<float>(dst[j]);
                dst[j] = ShadeClampedByte(
                    krvi::pixel::BlendTransparent(old, alpha, s.transparencyValue, F[2 - j]));
            }
            // The depth write waits for the next pixel's first byte to be below d; the last
            // pixel of the target has no next pixel and writes as usual.
            if (s.depthColorCompare && dst + 3 < s.colorEnd && d >= dst[3]) return false;
            return true;
        }
        for (int j = 0; j < 3; ++j)
            dst[j] = ShadeClampedByte(
                krvi::pixel::BlendAlpha(static_cast<float>(dst[j]), alpha, F[2 - j]));
        return true;
    }
    // Colours are expected in 0..1: no clamping, the low 8 bits of the truncated value are kept.
    dst[0] = static_cast<uint8>(TruncToInt(F.z * 255.0f));
    dst[1] = static_cast<uint8>(TruncToInt(F.y * 255.0f));
    dst[2] = static_cast<uint8>(TruncToInt(F.x * 255.0f));
    return true;
}

// Turns the attributes into the final colour and writes it over dst. Returns whether the
// pixel's depth d may be written.
template <class Features>
KRV_ALWAYS_INLINE bool ShadePixel(const ShadeState& s, const PixelAttributes& a, uint8* dst,
                                  unsigned short d, Features f)
{
    const vec3 c = ShadeTexel(s, a, f);
    return ShadeWrite(s, c, ShadeLight(s, a, c, f), dst, d);
}

}  // namespace krvi
