// DrawTriangles: per-draw flags, vertex transform, vertex colour with fog, and the hand-over of
// each triangle to the clipper.
#include "core/core.h"
#include "core/rasterize.h"

#include <climits>
#include <cmath>

vec4 krvModelViewProjection(const float* m, const CVertex* v)
{
    vec4 out;
    for (int i = 0; i < 4; ++i)
        out[i] = v->x * m[i] + v->y * m[4 + i] + v->z * m[8 + i] + m[12 + i];
    return out;
}

unsigned KrvDrawFeatures(const _3D_Korvane_Core& core)
{
    if (!core.useColor) return 0;
    unsigned f = kSpanColor;
    if (core.useTexture && core.texturing) f |= kSpanTexture;
    if (core.useLight && core.lighting) {
        f |= kSpanLight;
        if (core.useShadowMap) f |= kSpanShadow;
    }
    return f;
}

static float Clamp01(float t) { return t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t); }

// The exponentials take their float argument and are evaluated in double.
static float ExpOf(float x) { return static_cast<float>(std::exp(static_cast<double>(x))); }

// Per-vertex fog by `fogMode`; w is the vertex's clip-space w, y its model-space y.
static vec3 FogColor(const float* p, int mode, const CVertex& v, float w)
{
    const float density = p[3], offset = p[4], start = p[5], end = p[6];
    const float vc[3] = {v.r, v.g, v.b};
    const float absW = std::fabs(w);
    vec3 out;
    switch (mode) {
    case KrvFogMode_Height:
        for (int i = 0; i < 3; ++i) out[i] = Clamp01(vc[i] + density * (v.y - offset) / p[i]);
        return out;
    case KrvFogMode_Depth:
        for (int i = 0; i < 3; ++i)
            out[i] = Clamp01(vc[i] - density * (0.5f * w - offset) / p[i]);
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
        for (int i = 0; i < 3; ++i) out[i] = Clamp01(f + p[i]);
        return out;
    }
    default:
        // No mode was ever accepted: the fog leaves the vertex colour as it is.
        return vec3(v.r, v.g, v.b);
    }
}

void _3D_Korvane_Core::DrawTriangles(CVertex* array, int first, int count)
{
    if ((!targetColor && !targetDepth) || viewportWidth <= 0 || viewportHeight <= 0 || !array ||
        first < 0 || count <= 2)
        return;

    useColor = targetColor != nullptr;
    useDepthWrite = targetDepth != nullptr && depthTest;
    ignoreDepth = !useDepthWrite;
    useTexture = texture0 != nullptr;
    useTexture1 = texture1 != nullptr;
    useTexture2 = texture2 != nullptr;
    useBump = bumpTexture != nullptr;
    useLight = light != nullptr;
    useShadowMap = shadowMap != nullptr;
    drawFeatures = KrvDrawFeatures(*this);

    vertices = array;
    firstVertex = first;
    endVertex = count > INT_MAX - first ? INT_MAX : first + count;

    int factor = 1;
    if (!frameBuffer) {
        if (antiAliasing == KrvAA_2x2) factor = 2;
        if (antiAliasing == KrvAA_3x3) factor = 3;
        if (antiAliasing == KrvAA_4x4) factor = 4;
    }
    if (factor == 1) {
        DrawTriangles();
        return;
    }

    // The supersampled target is addressed with a scaled viewport; the caller's stays in output
    // pixels. Restoring the saved values equals dividing by the factor, also where the product
    // would not fit an int and saturates instead.
    int* const fields[4] = {&viewportX, &viewportY, &viewportWidth, &viewportHeight};
    int saved[4];
    for (int i = 0; i < 4; ++i) {
        saved[i] = *fields[i];
        long long scaled = static_cast<long long>(saved[i]) * factor;
        *fields[i] = scaled > INT_MAX ? INT_MAX : (scaled < INT_MIN ? INT_MIN : int(scaled));
    }
    DrawTriangles();
    for (int i = 0; i < 4; ++i) *fields[i] = saved[i];
}

void _3D_Korvane_Core::DrawTriangles()
{
    const unsigned features = drawFeatures;
    const bool fogged = FogSet && fog;
    for (int s = firstVertex; s + 2 < endVertex; s += 3) {
        _3D_Korvane_Shader tri[3];
        for (int k = 0; k < 3; ++k) {
            const CVertex& cv = vertices[s + k];
            _3D_Korvane_Shader& out = tri[k];
            out.position = krvModelViewProjection(modelViewProjection.m, &cv);
            if (!(features & kSpanColor)) continue;
            if (fogged) {
                out.color = FogColor(FogParameters, fogMode, cv, out.position.w);
                out.fogColor = out.color;
            } else {
                out.color = vec3(cv.r, cv.g, cv.b);
            }
            if (features & kSpanTexture) out.texCoord = vec2(cv.u, cv.v);
            if (features & kSpanLight) {
                out.normal = vec3(cv.nx, cv.ny, cv.nz);
                out.lightVector = light->position - vec3(cv.x, cv.y, cv.z);
                if (features & kSpanShadow)
                    out.shadowCoord = krvModelViewProjection(shadowMapMatrix.m, &cv);
            }
        }
        ClipTriangle(tri, 1);
    }
}
