// ClipTriangle: the six planes of the view volume in homogeneous clip space, one plane a level.
// A cut that leaves a quadrilateral continues as two triangles; the second lives on this
// level's stack, so a triangle costs no allocation however it is cut.
#include "core/core.h"
#include "core/rasterize.h"

// Planes 1..6: x >= -w, x <= w, y >= -w, y <= w, z >= -w, z <= w. Equality is inside; a NaN
// coordinate fails both comparisons and so is outside.
static bool Inside(const vec4& p, int plane)
{
    float c = p[(plane - 1) / 2];
    return (plane & 1) ? c >= -p.w : c <= p.w;
}

static float Distance(const vec4& p, int plane)
{
    float c = p[(plane - 1) / 2];
    return (plane & 1) ? c + p.w : c - p.w;
}

// The cut parameter from outside vertex o toward inside vertex n. Its denominator is not
// guarded: with one end inside and one outside it cannot be 0 for finite input, and non-finite
// input yields a non-finite piece that the rasterizer drops.
static float CutParameter(const vec4& o, const vec4& n, int plane)
{
    int axis = (plane - 1) / 2;
    float dc = o[axis] - n[axis], dw = o.w - n.w;
    return Distance(o, plane) / ((plane & 1) ? dc + dw : dc - dw);
}

// out = o + (n - o) * t over the position and the groups in use.
static void Cut(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& o,
                const _3D_Korvane_Shader& n, int plane, unsigned features)
{
    float t = CutParameter(o.position, n.position, plane);
    KrvDeltas d;
    d.SetDeltas(o, n, features);
    KrvLerp(out, o, d, t, features);
}

// Inside all six planes: the tests of Inside for planes 1..6 at once.
static bool InsideAll(const vec4& p)
{
    return p.x >= -p.w && p.x <= p.w && p.y >= -p.w && p.y <= p.w && p.z >= -p.w && p.z <= p.w;
}

void KrvClipTriangle(_3D_Korvane_Shader* v, int plane, unsigned features, KrvTriangleSink sink,
                     void* context)
{
    // A triangle inside every plane passes all six levels unchanged, so it goes to the sink at
    // once: most triangles of a frame do.
    if (plane == 7 || (plane == 1 && InsideAll(v[0].position) && InsideAll(v[1].position) &&
                       InsideAll(v[2].position))) {
        sink(context, v);
        return;
    }
    if (plane < 1 || plane > 6) return;

    bool inside[3];
    int outsideCount = 0;
    for (int k = 0; k < 3; ++k) {
        inside[k] = Inside(v[k].position, plane);
        outsideCount += inside[k] ? 0 : 1;
    }

    if (outsideCount == 0) {
        KrvClipTriangle(v, plane + 1, features, sink, context);
    } else if (outsideCount == 2) {
        int n = inside[0] ? 0 : (inside[1] ? 1 : 2);
        for (int k = 1; k <= 2; ++k) {
            _3D_Korvane_Shader& o = v[(n + k) % 3];
            Cut(o, o, v[n], plane, features);
        }
        KrvClipTriangle(v, plane + 1, features, sink, context);
    } else if (outsideCount == 1) {
        int o = !inside[0] ? 0 : (!inside[1] ? 1 : 2);
        int i1 = (o + 1) % 3, i2 = (o + 2) % 3;
        _3D_Korvane_Shader second[3];
        Cut(second[o], v[o], v[i2], plane, features);
        Cut(second[i1], v[o], v[i1], plane, features);
        second[i2] = v[i2];
        // Slot o of the input becomes P1, the same point as slot i1 of the second triangle.
        v[o] = second[i1];
        KrvClipTriangle(v, plane + 1, features, sink, context);
        KrvClipTriangle(second, plane + 1, features, sink, context);
    }
    // Three outside: the triangle is dropped.
}

static void RasterizeSink(void* context, _3D_Korvane_Shader* v)
{
    static_cast<_3D_Korvane_Core*>(context)->RasterizeTriangle(v);
}

void _3D_Korvane_Core::ClipTriangle(_3D_Korvane_Shader* v, int plane)
{
    KrvClipTriangle(v, plane, drawFeatures, RasterizeSink, this);
}
