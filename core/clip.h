// The clipper: cuts a triangle against the six planes of the view volume in homogeneous clip
// space, one plane a level, and hands every surviving piece, in order, to the sink. A cut that
// leaves a quadrilateral continues as two triangles; the second lives on this level's stack,
// so a triangle costs no allocation however it is cut: at most 64 pieces, seven levels deep.
//
// The sink is a template parameter, so the set-up of each piece is a direct call.
// `_3D_Korvane_Core::ClipTriangle` is this with the core's set-up and rows as the sink.
#pragma once

#include "core/rasterize.h"
#include "core/vertex.h"

namespace krv_clip {

// Planes 1..6: x >= -w, x <= w, y >= -w, y <= w, z >= -w, z <= w. Equality is inside; a NaN
// coordinate fails both comparisons and so is outside.
inline bool Inside(const vec4& p, int plane)
{
    const float c = p[(plane - 1) / 2];
    return (plane & 1) ? c >= -p.w : c <= p.w;
}

// Inside all six planes: the tests of Inside for planes 1..6 at once.
inline bool InsideAll(const vec4& p)
{
    return p.x >= -p.w && p.x <= p.w && p.y >= -p.w && p.y <= p.w && p.z >= -p.w && p.z <= p.w;
}

// out = o + (n - o) * t over the position and the groups in use, t the cut parameter from the
// outside vertex o toward the inside vertex n (clip.cpp).
void Cut(_3D_Korvane_Shader& out, const _3D_Korvane_Shader& o, const _3D_Korvane_Shader& n,
         int plane, unsigned features);

}  // namespace krv_clip

namespace krvi {

// Cuts v (three records, changed in place) against planes plane..6 and calls sink(v) for
// every piece that survives. Plane 7 hands v on as it is; any other plane number drops it.
template <class Sink>
void ClipTriangle(_3D_Korvane_Shader* v, int plane, unsigned features, Sink& sink)
{
    using namespace krv_clip;
    // A triangle inside every plane passes all six levels unchanged, so it goes to the sink at
    // once: most triangles of a frame do.
    if (plane == 7 || (plane == 1 && InsideAll(v[0].position) && InsideAll(v[1].position) &&
                       InsideAll(v[2].position))) {
        sink(v);
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
        ClipTriangle(v, plane + 1, features, sink);
    } else if (outsideCount == 2) {
        const int n = inside[0] ? 0 : (inside[1] ? 1 : 2);
        for (int k = 1; k <= 2; ++k) {
            _3D_Korvane_Shader& o = v[(n + k) % 3];
            Cut(o, o, v[n], plane, features);
        }
        ClipTriangle(v, plane + 1, features, sink);
    } else if (outsideCount == 1) {
        const int o = !inside[0] ? 0 : (!inside[1] ? 1 : 2);
        const int i1 = (o + 1) % 3, i2 = (o + 2) % 3;
        _3D_Korvane_Shader second[3];
        Cut(second[o], v[o], v[i2], plane, features);
        Cut(second[i1], v[o], v[i1], plane, features);
        second[i2] = v[i2];
        // Slot o of the input becomes P1, the same point as slot i1 of the second triangle.
        v[o] = second[i1];
        ClipTriangle(v, plane + 1, features, sink);
        ClipTriangle(second, plane + 1, features, sink);
    }
    // Three outside: the triangle is dropped.
}

}  // namespace krvi
