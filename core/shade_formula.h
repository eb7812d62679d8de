// The arithmetic of the pixel shading, written once for one pixel (shade.h, in krvi::pixel)
// and for a vector of pixels (span_simd.h, in the lane namespace of each SIMD width): the
// lighting terms, the attenuation, the alpha term and both blends. Included inside a namespace
// as texture/sample_formula.h is, which says what the namespace provides; a change of the
// shading made here reaches the reference body and both SIMD widths at once, and the sweeps
// check that they still agree. No include guard: it is meant to be included again.

// 0..1; NaN stays (krvClamp).
KRV_FORMULA Float ClampUnit(Float t)
{
    const Float m = Select(t > Splat(1.0f), Splat(1.0f), t);
    return Select(Splat(0.0f) > m, Splat(0.0f), m);
}

// The diffuse term of a facing pixel: N.L, times the shadow factor, over |N| |L| where it is
// still positive.
KRV_FORMULA Float DiffuseTerm(Float nl, Float lenN, Float lenL)
{
    return Select(nl > Splat(0.0f), nl / (lenN * lenL), nl);
}

// The specular term of the diffuse one.
KRV_FORMULA Float SpecularTerm(Float kd) { return kd * kd * kd; }

// The light's attenuation at distance lenL (lenL2 its square): a third over the quadratic.
KRV_FORMULA Float Attenuation(Float lenL2, Float lenL, const CLight& light)
{
    return krvi::kLightShare / (lenL2 * light.quadraticAttenuation +
                                lenL * light.linearAttenuation + light.constantAttenuation);
}

// One channel of a lit colour without material: (specular ks + diffuse kd + ambient) att c.
KRV_FORMULA Float LitChannel(float specular, float diffuse, float ambient, Float ks, Float kd,
                             Float att, Float c)
{
    return (specular * ks + diffuse * kd + ambient) * att * c;
}

// The alpha term of the blends from the textured colour (before lighting).
KRV_FORMULA Float AlphaTerm(Float r, Float g, Float b, float alphaValue, bool invert)
{
    const Float sum = (r + g + b) * alphaValue;
    return invert ? ClampUnit(sum) : ClampUnit(1.0f - sum);
}

// The two blends of a channel: the old byte value, the alpha term and the final colour f (0..1)
// give the new value before its clamp to 0..255.
KRV_FORMULA Float BlendTransparent(Float old, Float alpha, float transparency, Float f)
{
    return old * alpha * 0.5f + transparency * old + f * 255.0f;
}
KRV_FORMULA Float BlendAlpha(Float old, Float alpha, Float f) { return alpha * old + f * 255.0f; }
