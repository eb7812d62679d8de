// An un-projection with a matrix, and the occlusion test of a point against the last depth
// written that is built on it. Neither the pipeline nor the demo calls them; programs may.
#include "core/unproject.h"

#include "core/core.h"

#include <cstdint>

// The window position p (x, y from the matrix's own terms below, z in 0..1) back through m.
// x and y are placed by offsets and extents formed from m's columns as the interface defines
// them, not from a viewport; a matrix that makes an extent 0 gives an infinite or NaN result,
// which FindOcclusionPoint tolerates.
vec3 krvUnProject_(const vec3& p, mat4x4 m)
{
    const float* k = m.m;
    const float x = (p.x - (-k[0] * k[12] - k[1] * k[13] - k[2] * k[14])) /
                        (-k[8] * k[12] - k[9] * k[13] - k[10] * k[14]) * 2.0f -
                    1.0f;
    const float y = (p.y - (-k[4] * k[12] - k[5] * k[13] - k[6] * k[14])) /
                        (-k[12] * k[12] - k[13] * k[13] - k[14] * k[14]) * 2.0f -
                    1.0f;
    const float z = p.z * 2.0f - 1.0f;
    const vec4 q = inverse(m) * vec4(x, y, z, 1.0f);
    return vec3(q.x / q.w, q.y / q.w, q.z / q.w);
}

// True when the last depth written lies in front of the depth that v un-projects to. That depth
// goes to an int by TruncToInt (NaN 0, out of range saturated) and keeps its low 16 bits, as a
// depth-buffer value.
bool _3D_Korvane_Core::FindOcclusionPoint(vec3 v) const
{
    const vec3 u = krvUnProject_(vec3(-v.x, -v.y, -v.z), modelViewProjection);
    const unsigned depth = static_cast<uint16_t>(static_cast<uint32_t>(TruncToInt(u.z)));
    return lastDepth < depth;
}
