// Primitive generators: counts, the fixed vertex order where it shows, geometric invariants
// (points on the surface, unit or deliberately unnormalised normals, outward winding), bad
// counts, and the billboards rendered into a tiny target.
#include "rendering_fixture.h"
#include "tests/golden.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Twice the area vector of triangle t.
vec3 AreaVector(const CObject& o, int t)
{
    vec3 p0 = Pos(o.Vertex[3 * t]), p1 = Pos(o.Vertex[3 * t + 1]), p2 = Pos(o.Vertex[3 * t + 2]);
    return cross(p1 - p0, p2 - p0);
}

vec3 Centroid(const CObject& o, int t)
{
    return (Pos(o.Vertex[3 * t]) + Pos(o.Vertex[3 * t + 1]) + Pos(o.Vertex[3 * t + 2])) / 3.0f;
}

bool AllWhite(const CObject& o, int begin, int end)
{
    for (int i = begin; i < end; ++i)
        if (o.Vertex[i].r != 1.0f || o.Vertex[i].g != 1.0f || o.Vertex[i].b != 1.0f) return false;
    return true;
}

// Each generator gets a fresh record and releases it afterwards.
class Primitives : public testing::Test {
protected:
    void TearDown() override { o.Destroy(); }
    CObject o;
};

}  // namespace

TEST_F(Primitives, CubeFacesOrderAndBox)
{
    o.Cube(0.0f, 0.0f, 0.0f, 1.0f);
    ASSERT_EQ(o.NumVertex, 36);
    ExpectVecNear(Pos(o.Vertex[0]), vec3(-1.0f, -1.0f, -1.0f), 0.0f);
    ExpectVecNear(Nrm(o.Vertex[0]), vec3(-1.0f, 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(o.Vertex[0].u, 0.0f);
    EXPECT_EQ(o.Vertex[2].u, 1.0f);
    EXPECT_EQ(o.Vertex[4].v, 1.0f);
    ExpectVecNear(o.Min, vec3(-1.0f), 0.0f);
    ExpectVecNear(o.Max, vec3(1.0f), 0.0f);
    EXPECT_TRUE(AllWhite(o, 0, 36));

    // Off centre: every vertex on its face's plane, every triangle counter-clockwise from
    // outside, faces in the order -x, +x, -y, +y, -z, +z.
    o.Destroy();
    o.Cube(1.0f, 2.0f, 3.0f, 0.5f);
    const vec3 c(1.0f, 2.0f, 3.0f);
    const vec3 normals[6] = {vec3(-1, 0, 0), vec3(1, 0, 0),  vec3(0, -1, 0),
                             vec3(0, 1, 0),  vec3(0, 0, -1), vec3(0, 0, 1)};
    for (int i = 0; i < 36; ++i) {
        SCOPED_TRACE(i);
        ExpectVecNear(Nrm(o.Vertex[i]), normals[i / 6], 0.0f);
        EXPECT_EQ(dot(Pos(o.Vertex[i]) - c, normals[i / 6]), 0.5f);
    }
    for (int t = 0; t < 12; ++t) EXPECT_GT(dot(AreaVector(o, t), normals[t / 2]), 0.0f) << t;
    ExpectVecNear(o.Min, vec3(0.5f, 1.5f, 2.5f), 0.0f);
    ExpectVecNear(o.Max, vec3(1.5f, 2.5f, 3.5f), 0.0f);
}

TEST_F(Primitives, SpherePolesRadiusAndWinding)
{
    o.Sphere(0.0f, 0.0f, 0.0f, 2.0f, 8, 16, 1.0f, 1.0f);
    ASSERT_EQ(o.NumVertex, 768);
    ExpectVecNear(Pos(o.Vertex[0]), vec3(0.0f, 2.0f, 0.0f), 0.0f);
    ExpectVecNear(Nrm(o.Vertex[0]), vec3(0.0f, 1.0f, 0.0f), 0.0f);
    // The third vertex of the last band's first triangle lies on phi = pi.
    ExpectVecNear(Pos(o.Vertex[6 * 7 * 16 + 2]), vec3(0.0f, -2.0f, 0.0f));
    for (int i = 0; i < 768; ++i) {
        EXPECT_NEAR(length(Nrm(o.Vertex[i])), 1.0f, 1e-6f) << i;
        EXPECT_NEAR(length(Pos(o.Vertex[i])), 2.0f, 1e-5f) << i;
    }
    // Both triangles of every step face outwards (or are the zero-area half at a pole).
    for (int t = 0; t < 256; ++t) {
        vec3 a = AreaVector(o, t);
        if (length(a) > 1e-4f) {
            EXPECT_GT(dot(a, Centroid(o, t)), 0.0f) << t;
        }
    }
    EXPECT_TRUE(AllWhite(o, 0, 768));
}

TEST_F(Primitives, SphereMirroredHalfAndTextureDivisors)
{
    const int stacks = 4, slices = 6;
    o.Sphere(1.0f, 0.0f, 0.0f, 1.0f, stacks, slices, 2.0f, 4.0f);
    // The second triangle of step j starts at -theta_j: the corner of slice slices - j.
    for (int i = 0; i < stacks; ++i) {
        for (int j = 1; j < slices; ++j) {
            const CVertex& mirrored = o.Vertex[6 * (i * slices + j) + 3];
            const CVertex& plain = o.Vertex[6 * (i * slices + (slices - j)) + 0];
            ExpectVecNear(Pos(mirrored), Pos(plain));
        }
    }
    // Texture coordinates: the sphere map of the offset from the centre, divided (centred on
    // the origin, so the offset is the position itself).
    o.Destroy();
    o.Sphere(0.0f, 0.0f, 0.0f, 1.0f, stacks, slices, 2.0f, 4.0f);
    for (int k = 0; k < o.NumVertex; ++k) {
        const CVertex& v = o.Vertex[k];
        vec2 t = krvGenTexSphereMap(v.x, v.y, v.z);
        EXPECT_EQ(v.u, t.x / 2.0f) << k;
        EXPECT_EQ(v.v, t.y / 4.0f) << k;
    }
}

TEST_F(Primitives, TorusRingZeroAndUnusedTail)
{
    o.Torus(0.0f, 0.0f, 0.0f, 3.0f, 1.0f, 8, 4, 1.0f, 1.0f);
    ASSERT_EQ(o.NumVertex, 384);
    ExpectVecNear(Pos(o.Vertex[0]), vec3(4.0f, 0.0f, 0.0f), 0.0f);
    ExpectVecNear(Nrm(o.Vertex[0]), vec3(1.0f, 0.0f, 0.0f), 0.0f);
    for (int t = 0; t < 16; ++t) EXPECT_EQ(length(AreaVector(o, t)), 0.0f) << t;
    for (int i = 0; i < 240; ++i) {
        // On the tube: distance 1 from the ring of radius 3, normal along that offset.
        vec3 p = Pos(o.Vertex[i]);
        float ring = std::sqrt(p.x * p.x + p.y * p.y);
        vec3 centre(p.x * 3.0f / ring, p.y * 3.0f / ring, 0.0f);
        EXPECT_NEAR(length(p - centre), 1.0f, 1e-5f) << i;
        ExpectVecNear(Nrm(o.Vertex[i]), p - centre);
    }
    EXPECT_TRUE(AllWhite(o, 0, 240));
    static const CVertex zero = {};
    for (int i = 240; i < 384; ++i)
        EXPECT_EQ(std::memcmp(&o.Vertex[i], &zero, sizeof(CVertex)), 0) << i;
    // Counter-clockwise around the outward normals (the bands are too coarse for a centroid
    // test: a triangle spans a quarter of the ring).
    for (int t = 16; t < 80; ++t) {
        vec3 n = Nrm(o.Vertex[3 * t]) + Nrm(o.Vertex[3 * t + 1]) + Nrm(o.Vertex[3 * t + 2]);
        EXPECT_GT(dot(AreaVector(o, t), n), 0.0f) << t;
    }
}

TEST_F(Primitives, CylinderNormalsFollowTheRadii)
{
    const int s = 8;
    o.Cylinder(0.0f, 1.0f, 0.0f, 2.0f, 1.0f, 3.0f, s, 1.0f, 1.0f);
    ASSERT_EQ(o.NumVertex, 12 * s);
    for (int i = 0; i < 3 * s; ++i) {
        ExpectVecNear(Nrm(o.Vertex[i]), vec3(0.0f, 1.0f, 0.0f), 0.0f);
        EXPECT_EQ(o.Vertex[i].y, 4.0f);
    }
    ExpectVecNear(Pos(o.Vertex[0]), vec3(0.0f, 4.0f, 0.0f), 0.0f);
    EXPECT_EQ(o.Vertex[0].u, 0.0f);
    for (int i = 3 * s; i < 9 * s; ++i) {
        const CVertex& v = o.Vertex[i];
        EXPECT_EQ(v.ny, 0.0f);
        EXPECT_NEAR(length(Nrm(v)), v.y == 4.0f ? 2.0f : 1.0f, 1e-6f) << i;
        EXPECT_TRUE(v.y == 4.0f || v.y == 1.0f) << i;
    }
    // Side step k: T(k), T(k+1), B(k), T(-k), B(-k), B(-k-1).
    EXPECT_EQ(o.Vertex[3 * s].y, 4.0f);
    EXPECT_EQ(o.Vertex[3 * s + 2].y, 1.0f);
    EXPECT_EQ(o.Vertex[3 * s + 3].y, 4.0f);
    EXPECT_EQ(o.Vertex[3 * s + 5].y, 1.0f);
    for (int i = 9 * s; i < 12 * s; ++i) {
        ExpectVecNear(Nrm(o.Vertex[i]), vec3(0.0f, -1.0f, 0.0f), 0.0f);
        EXPECT_EQ(o.Vertex[i].y, 1.0f);
    }
    // Cap texture coordinates: the rim offset divided.
    o.Destroy();
    o.Cylinder(0.0f, 0.0f, 0.0f, 2.0f, 1.0f, 3.0f, s, 4.0f, 8.0f);
    const CVertex& rim = o.Vertex[9 * s + 1];  // B(0) = (1, 0, 0)
    EXPECT_EQ(rim.u, 0.25f);
    EXPECT_EQ(rim.v, 0.0f);
    EXPECT_TRUE(AllWhite(o, 0, 12 * s));
}

TEST_F(Primitives, ConeApexHasNoNormal)
{
    const int s = 6;
    o.Cone(1.0f, 0.0f, 0.0f, 2.0f, 3.0f, s);
    ASSERT_EQ(o.NumVertex, 6 * s);
    for (int k = 0; k < s; ++k) {
        const CVertex& apex = o.Vertex[3 * k];
        ExpectVecNear(Pos(apex), vec3(1.0f, 3.0f, 0.0f), 0.0f);
        ExpectVecNear(Nrm(apex), vec3(0.0f), 0.0f);
        // Side rim normals are unit and radial.
        const CVertex& rim = o.Vertex[3 * k + 1];
        ExpectVecNear(Nrm(rim) * 2.0f, Pos(rim) - vec3(1.0f, 0.0f, 0.0f));
        EXPECT_NEAR(rim.u * rim.u + rim.v * rim.v, 4.0f, 1e-5f);
    }
    for (int i = 3 * s; i < 6 * s; ++i) {
        ExpectVecNear(Nrm(o.Vertex[i]), vec3(0.0f, -1.0f, 0.0f), 0.0f);
        EXPECT_EQ(o.Vertex[i].y, 0.0f);
    }
    ExpectVecNear(Pos(o.Vertex[3 * s + 1]), vec3(3.0f, 0.0f, 0.0f), 0.0f);
}

TEST_F(Primitives, DiscPlaneChosenByTheLastSelector)
{
    const struct {
        float ax, ay, az;
        int axis;  // the coordinate that stays at the centre's
    } cases[] = {{1, 0, 0, 0}, {0, 1, 0, 1}, {0, 0, 1, 2},
                 {0, 1, 1, 2}, {1, 1, 0, 1}, {-1, 0, 0, 0}};
    const vec3 c(1.0f, 2.0f, 3.0f);
    for (const auto& k : cases) {
        SCOPED_TRACE(k.axis);
        o.Disck(c.x, c.y, c.z, 8, 2.0f, k.ax, k.ay, k.az);
        ASSERT_EQ(o.NumVertex, 24);
        for (int i = 0; i < 24; ++i) {
            const CVertex& v = o.Vertex[i];
            EXPECT_EQ(Pos(v)[k.axis], c[k.axis]) << i;
            ExpectVecNear(Nrm(v), Pos(v), 0.0f);
            EXPECT_NEAR(length(Pos(v) - c), i % 3 == 0 ? 0.0f : 2.0f, 1e-5f) << i;
        }
        EXPECT_EQ(o.Vertex[1].u, 2.0f);  // r cos 0, whatever the selectors
        o.Destroy();
    }
    // No selector: rim points stay at zero.
    o.Disck(c.x, c.y, c.z, 4, 2.0f, 0.0f, 0.0f, 0.0f);
    ExpectVecNear(Pos(o.Vertex[1]), vec3(0.0f), 0.0f);
    ExpectVecNear(Pos(o.Vertex[0]), c, 0.0f);
}

TEST_F(Primitives, TetrahedronStoresTheFinestLevel)
{
    for (int depth : {0, 1, 3}) {
        SCOPED_TRACE(depth);
        o.Tetrahedron(9.0f, 9.0f, 9.0f, 9.0f, depth, 0, 2.0f, 4.0f);
        int triangles = 4 << (2 * depth);
        ASSERT_EQ(o.NumVertex, 3 * triangles);
        for (int i = 0; i < o.NumVertex; ++i) {
            const CVertex& v = o.Vertex[i];
            EXPECT_NEAR(length(Pos(v)), 1.0f, 2e-5f) << i;
            ExpectVecNear(Nrm(v), Pos(v), 0.0f);
            EXPECT_EQ(v.u, v.x / 2.0f);
            EXPECT_EQ(v.v, v.y / 4.0f);
        }
        for (int t = 0; t < triangles; ++t) EXPECT_GT(length(AreaVector(o, t)), 0.0f) << t;
        o.Destroy();
    }
    o.Tetrahedron(0, 0, 0, 0, 0, 0, 1.0f, 1.0f);
    ExpectVecNear(Pos(o.Vertex[0]), vec3(0.0f, 0.0f, 1.0f), 0.0f);
    ExpectVecNear(Pos(o.Vertex[3]), vec3(0.816497f, -0.471405f, -0.333333f), 0.0f);
}

TEST_F(Primitives, BadCountsGiveAnEmptyObject)
{
    auto expectEmpty = [this](const char* what) {
        EXPECT_EQ(o.Vertex, nullptr) << what;
        EXPECT_EQ(o.NumVertex, 0) << what;
    };
    o.Sphere(0, 0, 0, 1, 0, 8, 1, 1);
    expectEmpty("sphere stacks 0");
    o.Sphere(0, 0, 0, 1, 8, -3, 1, 1);
    expectEmpty("sphere slices < 0");
    o.Sphere(0, 0, 0, 1, INT_MAX, INT_MAX, 1, 1);
    expectEmpty("sphere overflow");
    o.Torus(0, 0, 0, 3, 1, 8, 0, 1, 1);
    expectEmpty("torus rings 0");
    o.Torus(0, 0, 0, 3, 1, -1, 4, 1, 1);
    expectEmpty("torus sides < 0");
    o.Cylinder(0, 0, 0, 1, 1, 1, 0, 1, 1);
    expectEmpty("cylinder");
    o.Cone(0, 0, 0, 1, 1, INT_MIN);
    expectEmpty("cone");
    o.Disck(0, 0, 0, 0, 1, 0, 1, 0);
    expectEmpty("disc");
    o.Disck(0, 0, 0, INT_MAX, 1, 0, 1, 0);
    expectEmpty("disc overflow");
    o.Tetrahedron(0, 0, 0, 0, -1, 0, 1, 1);
    expectEmpty("tetrahedron depth < 0");
    o.Tetrahedron(0, 0, 0, 0, 40, 0, 1, 1);
    expectEmpty("tetrahedron overflow");
}

// ---------------------------------------------------------------------------------------------
// Billboards, drawn with back faces culled: a quad that shows faces the viewer.

namespace {

class Billboards : public RenderingFixture {
protected:
    void SetUp() override
    {
        RenderingFixture::SetUp();
        target.Bind(r);
        r.modelViewProjection = mat4x4(1.0f);
        r.cullEnabled = true;
        r.cullFace = KrvCullMode_Back;
        r.texturing = false;
        r.lighting = false;
        r.fog = false;
        r.texture0 = nullptr;
        r.light = nullptr;
        r.shadowMap = nullptr;
    }
    TestTarget target{8, 8};
};

const std::string kCentreSquare = MapRows({
    "........",
    "........",
    "..AAAA..",
    "..AAAA..",
    "..AAAA..",
    "..AAAA..",
    "........",
    "........",
});

}  // namespace

TEST_F(Billboards, SquareFacesTheScreen)
{
    krvBillboard(vec3(0.0f), 0.5f, 1.0f, 1.0f);
    EXPECT_EQ(target.ColorMap(), kCentreSquare);

    target.Clear();
    krvBillboard(vec3(0.0f), 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(target.CountColored(), 64);

    // The square turns with the view: under a rotation it still faces the screen.
    target.Clear();
    r.modelViewProjection = rotate(90.0f, vec3(0.0f, 0.0f, 1.0f));
    krvBillboard(vec3(0.0f), 0.5f, 1.0f, 1.0f);
    EXPECT_EQ(target.ColorMap(), kCentreSquare);
}

TEST_F(Billboards, UprightRectangleTurnsToTheCamera)
{
    r.Camera.Position = vec3(0.0f, 0.0f, 10.0f);
    krvBillboardy(vec3(0.0f, -0.5f, 0.0f), 0.5f, 0.5f, 1.0f, 1.0f);
    EXPECT_EQ(target.ColorMap(), kCentreSquare);

    // Seen edge-on through this projection when the camera stands on the x axis.
    target.Clear();
    r.Camera.Position = vec3(10.0f, 0.0f, 0.0f);
    krvBillboardy(vec3(0.0f, -0.5f, 0.0f), 0.5f, 0.5f, 1.0f, 1.0f);
    EXPECT_EQ(target.CountColored(), 0);
}
