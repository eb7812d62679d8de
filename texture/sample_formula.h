// The arithmetic of the texture lookups, written once for one pixel and for a vector of pixels.
//
// This file is included inside a namespace, once for each kind of value: krvi::pixel
// (texture_sampler.h: float, int, bool) for the reference samplers, and the lane namespace of
// each SIMD width (core/simd_lanes.h: GCC vectors) for the SIMD span body. Each inclusion
// defines its own functions, so that the SIMD ones carry their width's target attribute and
// nothing built for AVX2 is shared with the rest of the program. A branch of the reference is a
// select between the values both sides would give: one body serves both, and they cannot drift
// apart by a bit; only the texel fetches (pointer reads there, gathers here) are written twice.
//
// The including namespace defines the types Float, Int and Bool (the result of comparing two
// Float or two Int), the functions Splat(float), SplatI(int), Select(Bool, Float, Float),
// SelectI(Bool, Int, Int), Trunc(Float) (an int conversion, exact in the range these formulas
// use it in) and ToFloat(Int), and the macros KRV_FORMULA (how a function here is declared) and
// KRV_FORMULA_MEMBER (how a member function is). No include guard: it is meant to be included
// again.

// The repeating coordinate of a c whose magnitude is below krvi::kWrapLimit: c - trunc(c), plus 1
// when negative. Adding +0 turns the -0 of a c in (-1, 0] into the +0 that c - trunc(c) has.
KRV_FORMULA Float WrapInRange(Float c)
{
    const Float w = c - ToFloat(Trunc(c));
    return Select(w < Splat(0.0f), w + 1.0f, w + 0.0f);
}

// Texel index of a wrapped coordinate: trunc(w * size), kept below size.
KRV_FORMULA Int WrappedIndex(Float w, int size, float sizeF)
{
    const Int i = Trunc(w * sizeF);
    return SelectI(i < SplatI(size), i, SplatI(size - 1));
}

// One axis of the bilinear footprint from the wrapped coordinate w: the two texel indices
// (wrapping round) and the weight f of the second. g + size can round up to size itself; the
// texel below then takes the whole weight of the next one (f = 1), which is where the sample lies.
KRV_FORMULA void BilinearAxis(Float w, int size, float sizeF, Int& i0, Int& i1, Float& f)
{
    Float g = w * sizeF - 0.5f;
    g = Select(g < Splat(0.0f), g + sizeF, g);
    i0 = Trunc(g);
    i0 = SelectI(i0 >= SplatI(size), SplatI(size - 1), i0);
    f = g - ToFloat(i0);
    const Int next = i0 + 1;
    i1 = SelectI(next < SplatI(size), next, SplatI(0));
}

// The weights of the four texels (x0,y0), (x1,y0), (x1,y1), (x0,y1), and their sum of products.
struct BilinearWeights {
    Float w00, w10, w11, w01;
    KRV_FORMULA_MEMBER BilinearWeights(Float fx, Float fy)
        : w00((1.0f - fy) * (1.0f - fx)), w10((1.0f - fy) * fx), w11(fy * fx), w01(fy * (1.0f - fx))
    {
    }
    KRV_FORMULA_MEMBER Float Mix(Float t00, Float t10, Float t11, Float t01) const
    {
        return w00 * t00 + w10 * t10 + w11 * t11 + w01 * t01;
    }
};

// The shadow coordinate divided by w; false where no lookup is needed (outside the light's
// frustum, NaN included). The depth scale waits until then: ShadowDepth.
KRV_FORMULA Bool ShadowInside(Float& x, Float& y, Float& z, Float rw)
{
    x = x * rw;
    y = y * rw;
    z = z * rw;
    const Float zero = Splat(0.0f), one = Splat(1.0f);
    return (x >= zero) & (x < one) & (y >= zero) & (y < one) & (z >= zero) & (z <= one);
}
KRV_FORMULA Float ShadowDepth(Float z) { return z * 65535.0f; }

// The texel of a nearest shadow test: x < 1, yet x * size can round up to size.
KRV_FORMULA Int ShadowIndex(Float c, int size, float sizeF)
{
    const Int i = Trunc(c * sizeF);
    return SelectI(i >= SplatI(size), SplatI(size - 1), i);
}

// One axis of the percentage-closer footprint; clamps at the far edge instead of wrapping.
KRV_FORMULA void ShadowAxis(Float c, int size, float sizeF, Int& i0, Int& i1, Float& f)
{
    const Float g = c * sizeF - 0.5f;
    const Bool below = g < Splat(0.0f);
    Int i = Trunc(g);
    i = SelectI(i >= SplatI(size), SplatI(size - 1), i);
    i0 = SelectI(below, SplatI(0), i);
    f = Select(below, Splat(0.0f), g - ToFloat(i));
    i1 = SelectI(below, SplatI(1), i + 1);
    i1 = SelectI(i1 >= SplatI(size), i0, i1);
}

// 1 where the point at depth z is lit by a texel of depth d, 0 where it is shadowed.
KRV_FORMULA Float ShadowTest(Float z, Float d) { return Select(z > d, Splat(0.0f), Splat(1.0f)); }

// The percentage-closer blend of the four tests.
KRV_FORMULA Float ShadowMix(Float fx, Float fy, Float s00, Float s10, Float s11, Float s01)
{
    return (1.0f - fx) * (1.0f - fy) * s00 + fx * (1.0f - fy) * s10 + fx * fy * s11 +
           (1.0f - fx) * fy * s01;
}
