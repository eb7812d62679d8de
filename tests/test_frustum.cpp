#include "core/frustum.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace {

const mat4x4 kIdentity(1.0f);

_3D_Korvane_Frustum IdentityFrustum()
{
    _3D_Korvane_Frustum f;
    f.Update(kIdentity, kIdentity);
    return f;
}

}  // namespace

TEST(FrustumPlanes, IdentityGivesUnitCube)
{
    const _3D_Korvane_Frustum f = IdentityFrustum();
    const struct {
        int plane;
        float a, b, c, d;
    } cases[] = {{f.right, -1, 0, 0, 1}, {f.left, 1, 0, 0, 1},      {f.bottom, 0, 1, 0, 1},
                 {f.top, 0, -1, 0, 1},   {f.farPlane, 0, 0, -1, 1}, {f.nearPlane, 0, 0, 1, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(f.planes[c.plane][0], c.a) << "plane " << c.plane;
        EXPECT_EQ(f.planes[c.plane][1], c.b) << "plane " << c.plane;
        EXPECT_EQ(f.planes[c.plane][2], c.c) << "plane " << c.plane;
        EXPECT_EQ(f.planes[c.plane][3], c.d) << "plane " << c.plane;
    }
}

TEST(FrustumPlanes, ProjectionOnTheLeftAndNormalised)
{
    // projection: x + 0.5; modelview: 2x. P * M gives 2x + 0.5, M * P would give 2x + 1.
    mat4x4 projection(1.0f);
    projection[12] = 0.5f;
    mat4x4 modelview(1.0f);
    modelview[0] = 2.0f;
    _3D_Korvane_Frustum f;
    f.Update(projection, modelview);
    EXPECT_EQ(f.clip[0], 2.0f);
    EXPECT_EQ(f.clip[12], 0.5f);
    // right: (-2, 0, 0, 1 - 0.5) divided by 2.
    EXPECT_EQ(f.planes[f.right][0], -1.0f);
    EXPECT_EQ(f.planes[f.right][3], 0.25f);
    EXPECT_EQ(f.planes[f.left][0], 1.0f);
    EXPECT_EQ(f.planes[f.left][3], 0.75f);
}

TEST(FrustumVolumes, AcceptEverything)
{
    const _3D_Korvane_Frustum f = IdentityFrustum();
    EXPECT_TRUE(f.SphereInView(0.0f, 0.0f, -100.0f, 0.5f));
    EXPECT_TRUE(f.PointInView(50.0f, 0.0f, 0.0f));
    EXPECT_TRUE(f.LineInView(vec3(9.0f), vec3(10.0f)));
    EXPECT_TRUE(f.TriangleInView(vec3(9.0f), vec3(10.0f), vec3(11.0f)));
    EXPECT_TRUE(f.QuadInView(vec3(9.0f), vec3(10.0f), vec3(11.0f), vec3(12.0f)));
    EXPECT_TRUE(f.BoxInView(5.0f, 5.0f, 5.0f, 6.0f, 6.0f, 6.0f));
}

TEST(FrustumInside, PositiveDistancesOnTheFivePlanes)
{
    const _3D_Korvane_Frustum f = IdentityFrustum();
    const struct {
        float x, y, z;
        bool inside;
    } cases[] = {{0, 0, 0, true},   {0.5f, -0.5f, 0.9f, true}, {0, 0, 5, true},  // far not tested
                 {2, 0, 0, false},  {-2, 0, 0, false},         {0, 2, 0, false},
                 {0, -2, 0, false}, {0, 0, -2, false},         {1, 0, 0, false},  // on the plane
                 {NAN, 0, 0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(f.isInsideVF(c.x, c.y, c.z), c.inside) << c.x << " " << c.y << " " << c.z;
}

TEST(FrustumRay, PlanesBehindTheOriginNeverSupplyTheHit)
{
    const _3D_Korvane_Frustum f = IdentityFrustum();
    // Along +x the left plane lies at t = -1: taking it would put the hit at x = -1.
    vec3 origin(0.0f, 0.0f, 0.0f), direction(1.0f, 0.0f, 0.0f);
    vec3 h = f.rayFrustumIntersect(vec3(0.0f), origin, direction);
    EXPECT_EQ(h.x, 1.0f);
    EXPECT_EQ(h.y, 0.0f);
    EXPECT_EQ(h.z, 0.0f);

    // The offset moves the ray's start but the hit is returned relative to origin.
    vec3 o2(0.0f, 0.0f, 0.0f), d2(1.0f, 0.0f, 0.0f);
    vec3 h2 = f.rayFrustumIntersect(vec3(0.5f, 0.0f, 0.0f), o2, d2);
    EXPECT_EQ(h2.x, 0.5f);

    // Starting outside and pointing away: every plane is behind, the origin comes back.
    vec3 o3(3.0f, 0.0f, 0.0f), d3(1.0f, 0.0f, 0.0f);
    vec3 h3 = f.rayFrustumIntersect(vec3(0.0f), o3, d3);
    EXPECT_EQ(h3.x, 3.0f);
    EXPECT_EQ(h3.y, 0.0f);
    EXPECT_EQ(h3.z, 0.0f);
}
