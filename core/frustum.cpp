#include "core/frustum.h"

#include <cfloat>
#include <cmath>

void _3D_Korvane_Frustum::Update(const mat4x4& projection, const mat4x4& modelview)
{
    right = 0;
    left = 1;
    bottom = 2;
    top = 3;
    farPlane = 4;
    nearPlane = 5;
    A = 0;
    B = 1;
    C = 2;
    D = 3;

    clip = projection * modelview;
    const mat4x4& m = clip;
    CheckView(right, -m[0], -m[4], -m[8], -m[12]);
    CheckView(left, m[0], m[4], m[8], m[12]);
    CheckView(bottom, m[1], m[5], m[9], m[13]);
    CheckView(top, -m[1], -m[5], -m[9], -m[13]);
    CheckView(farPlane, -m[2], -m[6], -m[10], -m[14]);
    CheckView(nearPlane, m[2], m[6], m[10], m[14]);
}

void _3D_Korvane_Frustum::CheckView(int plane, float a, float b, float c, float d)
{
    if (plane < 0 || plane > 5) return;
    planes[plane][A] = a + clip[3];
    planes[plane][B] = b + clip[7];
    planes[plane][C] = c + clip[11];
    planes[plane][D] = d + clip[15];
    NormalizePlane(plane);
}

void _3D_Korvane_Frustum::NormalizePlane(int plane)
{
    if (plane < 0 || plane > 5) return;
    float* p = planes[plane];
    const float magnitude = std::sqrt(p[A] * p[A] + p[B] * p[B] + p[C] * p[C]);
    // A degenerate matrix gives a plane without a normal; dividing would turn it into NaNs.
    if (!(magnitude > 0.0f)) return;
    p[A] /= magnitude;
    p[B] /= magnitude;
    p[C] /= magnitude;
    p[D] /= magnitude;
}

// Triangles are clipped one by one by the pipeline; nothing is culled by bounding volume.
bool _3D_Korvane_Frustum::PointInView(float, float, float) const { return true; }
bool _3D_Korvane_Frustum::LineInView(vec3, vec3) const { return true; }
bool _3D_Korvane_Frustum::TriangleInView(vec3, vec3, vec3) const { return true; }
bool _3D_Korvane_Frustum::QuadInView(vec3, vec3, vec3, vec3) const { return true; }
bool _3D_Korvane_Frustum::BoxInView(float, float, float, float, float, float) const { return true; }
bool _3D_Korvane_Frustum::SphereInView(float, float, float, float) const { return true; }

bool _3D_Korvane_Frustum::isInsideVF(float x, float y, float z) const
{
    // Update orients every plane so that points in view have positive distances.
    const int tested[5] = {right, left, bottom, top, nearPlane};
    for (int plane : tested) {
        const float* p = planes[plane];
        const float distance = p[A] * x + p[B] * y + p[C] * z + p[D];
        if (!(distance > 0.0f)) return false;
    }
    return true;
}

vec3 _3D_Korvane_Frustum::rayFrustumIntersect(vec3 offset, vec3& origin, vec3& direction) const
{
    const vec3 P = origin + offset;
    const int crossed[5] = {left, right, top, bottom, nearPlane};
    float t = FLT_MAX;
    for (int plane : crossed) {
        const float* p = planes[plane];
        float tp = -(p[A] * P.x + p[B] * P.y + p[C] * P.z + p[D]) /
                   (p[A] * direction.x + p[B] * direction.y + p[C] * direction.z);
        // Planes behind the ray, and a ray parallel to a plane through it (0/0), never hit.
        if (!(tp >= 0.0f)) tp = FLT_MAX;
        if (tp < t) t = tp;
    }
    const vec3 H = origin + direction * t;
    const vec3 W = offset + H;
    if (isInsideVF(W.x, W.y, W.z)) return H;
    const vec3 Wb = W - direction;
    if (isInsideVF(Wb.x, Wb.y, Wb.z)) return H;
    return origin;
}
