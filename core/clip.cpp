// The cut of the clipper (clip.h) and the core's ClipTriangle.
#include "core/clip.h"

#include "core/core.h"
#include "core/draw_state.h"

namespace krv_clip {

static float Distance(const vec4& p, int plane)
{
    const float c = p[(plane - 1) / 2];
    return (plane & 1) ? c + p.w : c - p.w;
}

// The cut parameter from outside vertex o toward inside vertex n. Its denominator is not
// guarded: with one end inside and one outside it cannot be 0 for finite input, and non-finite
// input yields a non-finite piece that the rasterizer drops.
static float CutParameter(const vec4& o, const vec4& n, int plane)
{
    const int axis = (plane - 1) / 2;
    const float dc = o[axis] - n[axis], dw = o.w - n.w;
    return Distance(o, plane) / ((plane & 1) ? dc + dw : dc - dw);
}

void Cut(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& o, const _3D_Korvane_Shader& n,
         int plane, unsigned features)
{
    const float t = CutParameter(o.position, n.position, plane);
    krvi::Deltas d;
    d.SetDeltas(o, n, features);
    krvi::Lerp(out, o, d, t, features);
}

}  // namespace krv_clip

void _3D_Korvane_Core::ClipTriangle(_3D_Korvane_Shader* v, int plane)
{
    krvi::SerialDraw draw(*this);
    auto sink = [&draw](_3D_Korvane_Shader* piece) { draw.Triangle(piece); };
    krvi::ClipTriangle(v, plane, draw.state.features, sink);
}
