// The vertex stage that every triangle goes through before clipping and set-up: transform by
// the draw's matrices, colour and fog.
#include "core/vertex_stage.h"

#include "core/core.h"

#include <cmath>

vec4 krvModelViewProjection(const float* m, const CVertex* v)
{
    vec4 out;
    for (int i = 0; i < 4; ++i)
        out[i] = v->x * m[i] + v->y * m[4 + i] + v->z * m[8 + i] + m[12 + i];
    return out;
}

// The exponentials take their float argument and are evaluated in double.
static float ExpOf(float x) { return static_cast<float>(std::exp(static_cast<double>(x))); }

// The height and depth fogs scale their term by 1 / the fog colour's component. A component of
// 0 (a fog colour without that primary) leaves its channel without fog: the quotient would be
// infinite, or NaN where the term is 0 too, and a NaN colour spreads over the whole triangle.
static float FogTerm(float term, float fogComponent)
{
    return fogComponent == 0.0f ? 0.0f : term / fogComponent;
}

// Per-vertex fog by `fogMode`; w is the vertex's clip-space w, y its model-space y.
static vec3 FogColor(const float* p, int mode, const CVertex& v, float w)
{
    const float density = p[3], offset = p[4], start = p[5], end = p[6];
    const float vc[3] = {v.r, v.g, v.b};
    const float absW = std::fabs(w);
    vec3 out;
    switch (mode) {
    case KrvFogMode_Height:
        for (int i = 0; i < 3; ++i)
            out[i] = krvi::Clamp01(vc[i] + FogTerm(density * (v.y - offset), p[i]));
        return out;
    case KrvFogMode_Depth:
        for (int i = 0; i < 3; ++i)
            out[i] = krvi::Clamp01(vc[i] - FogTerm(density * (0.5f * w - offset), p[i]));
        return out;
    case KrvFogMode_Linear:
    case KrvFogMode_Exp:
    case KrvFogMode_Exp2: {
        float f;
        if (mode == KrvFogMode_Linear)
            f = start == end ? end - absW : (end - absW) / (end - start);
        else if (mode == KrvFogMode_Exp)
            f = ExpOf(-density * absW);
        else
            f = ExpOf(-((density * absW) * (density * absW)));
        for (int i = 0; i < 3; ++i) out[i] = krvi::Clamp01(f + p[i]);
        return out;
    }
    default:
        // No mode was ever accepted: the fog leaves the vertex colour as it is.
        return vec3(v.r, v.g, v.b);
    }
}

// krvModelViewProjection on four lanes: lane i sums x*m[i] + y*m[4+i] + z*m[8+i] + m[12+i] in
// that order, as the scalar form does.
static inline vec4 Transform(const float* m, const CVertex& v)
{
    krvi::Lanes4 c0, c1, c2, c3;
    std::memcpy(&c0, m, sizeof c0);
    std::memcpy(&c1, m + 4, sizeof c1);
    std::memcpy(&c2, m + 8, sizeof c2);
    std::memcpy(&c3, m + 12, sizeof c3);
    const krvi::Lanes4 p = c0 * v.x + c1 * v.y + c2 * v.z + c3;
    vec4 out;
    std::memcpy(&out, &p, sizeof out);
    return out;
}

// The three pipeline records of the triangle whose first vertex is cv[0].
void krvi::TransformTriangle(const krvi::DrawState& d, const CVertex* cv, _3D_Korvane_Shader* tri)
{
    const unsigned features = d.features;
    for (int k = 0; k < 3; ++k) {
        const CVertex& v = cv[k];
        _3D_Korvane_Shader& out = tri[k];
        out.position = Transform(d.modelViewProjection, v);
        if (!(features & kSpanColor)) continue;
        if (d.fogged) {
            out.color = FogColor(d.fogParameters, d.fogMode, v, out.position.w);
            out.fogColor = out.color;
        } else {
            out.color = vec3(v.r, v.g, v.b);
        }
        if (features & kSpanTexture) out.texCoord = vec2(v.u, v.v);
        if (features & kSpanLight) {
            out.normal = vec3(v.nx, v.ny, v.nz);
            out.lightVector = d.lightPosition - vec3(v.x, v.y, v.z);
            if (features & kSpanShadow) out.shadowCoord = Transform(d.shadowMapMatrix, v);
        }
    }
}
