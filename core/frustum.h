// The six planes of the current view volume in model space, recomputed once a frame by the
// window's paint from the matrices of the rendering context's camera, which it passes in: the
// core knows nothing of cameras. The bounding-volume tests accept
// everything: triangles are clipped one by one by the pipeline, never culled here.
#pragma once

#include "math/glmath.h"

class _3D_Korvane_Frustum {
public:
    // Planes from projection * modelview (projection on the left).
    void Update(const mat4x4& projection, const mat4x4& modelview);

    void CheckView(int plane, float a, float b, float c, float d);
    void NormalizePlane(int plane);

    bool PointInView(float x, float y, float z) const;
    bool LineInView(vec3 a, vec3 b) const;
    bool TriangleInView(vec3 a, vec3 b, vec3 c) const;
    bool QuadInView(vec3 a, vec3 b, vec3 c, vec3 d) const;
    bool BoxInView(float x0, float y0, float z0, float x1, float y1, float z1) const;
    bool SphereInView(float x, float y, float z, float radius) const;

    // True when the point lies inside the right, left, bottom, top and near planes (distances
    // positive, as Update makes them for points in view); the far plane is not tested.
    bool isInsideVF(float x, float y, float z) const;
    vec3 rayFrustumIntersect(vec3 offset, vec3& origin, vec3& direction) const;

    int right = 0, left = 1, bottom = 2, top = 3, farPlane = 4, nearPlane = 5;
    int A = 0, B = 1, C = 2, D = 3;
    float planes[6][4] = {};
    mat4x4 clip;
};
