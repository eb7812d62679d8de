// The texture lookups of the SIMD span body: texture/texture_sampler.h's samplers a vector of
// pixels at a time. The arithmetic is the shared formulas of texture/sample_formula.h over the
// lane policy; only the fetches (gathers) and the masking of lanes that need no lookup are
// written here. Included by span_simd.h after simd_lanes.h, in the namespace lane.

namespace KRV_SIMD_NAMESPACE {
namespace lane {

struct Texture {
    GatherSource source;
    int width = 0, height = 0, pitch = 0;
    float widthF = 0.0f, heightF = 0.0f;
};

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

// krvi::Wrap: the formula below 2^23 in magnitude, 0 from there on, for infinities and NaN.
KRV_SIMD_INLINE VF Wrap(VF c)
{
    const VI inRange = (VI)((VF)((VI)c & 0x7FFFFFFF) < Splat(krvi::kWrapLimit));
    return Select(inRange, WrapInRange(c), Splat(0.0f));
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

KRV_SIMD_INLINE void SampleNearest(const Texture& t, VF u, VF v, VF& r, VF& g, VF& b)
{
    const VI x = WrappedIndex(Wrap(u), t.width, t.widthF);
    const VI y = WrappedIndex(Wrap(v), t.height, t.heightF);
    Fetch(t, y * t.pitch + x * 3, r, g, b);
}

KRV_SIMD_INLINE void SampleBilinear(const Texture& t, VF u, VF v, VF& r, VF& g, VF& b)
{
    VI x0, x1, y0, y1;
    VF fx, fy;
    BilinearAxis(Wrap(u), t.width, t.widthF, x0, x1, fx);
    BilinearAxis(Wrap(v), t.height, t.heightF, y0, y1, fy);
    const BilinearWeights w(fx, fy);
    const VI row0 = y0 * t.pitch, row1 = y1 * t.pitch;
    const VI c0 = x0 * 3, c1 = x1 * 3;
    VF r00, g00, b00, r10, g10, b10, r11, g11, b11, r01, g01, b01;
    Fetch(t, row0 + c0, r00, g00, b00);
    Fetch(t, row0 + c1, r10, g10, b10);
    Fetch(t, row1 + c1, r11, g11, b11);
    Fetch(t, row1 + c0, r01, g01, b01);
    r = w.Mix(r00, r10, r11, r01);
    g = w.Mix(g00, g10, g11, g01);
    b = w.Mix(b00, b10, b11, b01);
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
    const VI inside = ShadowInside(x, y, z, Splat(1.0f) / w);
    lit = ~(front & inside);
    z = ShadowDepth(z);
}

KRV_SIMD_INLINE VF ShadowNearest(const Texture& t, VF x, VF y, VF z, VF w)
{
    VI lit;
    ShadowSetup(x, y, z, w, lit);
    const VI ix = ShadowIndex(x, t.width, t.widthF);
    const VI iy = ShadowIndex(y, t.height, t.heightF);
    // Lanes that need no lookup read texel 0: their indices may be anything.
    const VI index = (iy & ~lit) * t.width + (ix & ~lit);
    return Select(lit, Splat(1.0f), ShadowTest(z, Depth(t, index)));
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
    const VF s = ShadowMix(fx, fy, ShadowTest(z, d00), ShadowTest(z, d10), ShadowTest(z, d11),
                           ShadowTest(z, d01));
    return Select(lit, Splat(1.0f), s);
}

}  // namespace lane
}  // namespace KRV_SIMD_NAMESPACE
