#include "scene/object.h"
#include "scene/rendering.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// One triangle with distinct values in every attribute, so a transform that touches the wrong
// field shows.
void MakeTriangle(CObject& o)
{
    o.Triangle3f(vec3(1.0f, 0.0f, 0.0f), vec3(-1.0f, 2.0f, 0.5f), vec3(0.0f, -1.0f, 3.0f),
                 vec3(1.0f, 0.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f), vec3(0.0f, 0.0f, 1.0f),
                 vec3(0.1f, 0.2f, 0.3f), vec3(0.4f, 0.5f, 0.6f), vec3(0.7f, 0.8f, 0.9f),
                 vec2(1.0f, 0.0f), vec2(1.0f, 1.0f), vec2(0.25f, 0.75f));
}

// Everything but the positions.
void ExpectSameExceptPositions(const CVertex& a, const CVertex& b)
{
    EXPECT_EQ(a.r, b.r);
    EXPECT_EQ(a.g, b.g);
    EXPECT_EQ(a.b, b.b);
    EXPECT_EQ(a.u, b.u);
    EXPECT_EQ(a.v, b.v);
    EXPECT_EQ(a.nx, b.nx);
    EXPECT_EQ(a.ny, b.ny);
    EXPECT_EQ(a.nz, b.nz);
}

}  // namespace

TEST(ObjectRecord, Triangle3fFillsVerticesAndBox)
{
    CObject o;
    MakeTriangle(o);
    ASSERT_NE(o.Vertex, nullptr);
    EXPECT_EQ(o.NumVertex, 3);
    const CVertex& v1 = o.Vertex[1];
    ExpectVecEq(Pos(v1), vec3(-1.0f, 2.0f, 0.5f));
    ExpectVecEq(Nrm(v1), vec3(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(v1.r, 0.4f);
    EXPECT_EQ(v1.b, 0.6f);
    EXPECT_EQ(v1.u, 1.0f);
    EXPECT_EQ(v1.v, 1.0f);
    EXPECT_EQ(v1.extra[0], 0.0f);
    ExpectVecEq(o.Min, vec3(-1.0f, -1.0f, 0.0f));
    ExpectVecEq(o.Max, vec3(1.0f, 2.0f, 3.0f));
    o.Destroy();
}

TEST(ObjectRecord, GetMinMax)
{
    CObject o;
    o.ObjectBegin(1);
    o.Vertex[0].x = 2.0f;
    o.Vertex[0].y = -3.0f;
    o.Vertex[0].z = 4.0f;
    o.ObjectEnd();
    ExpectVecEq(o.Min, vec3(2.0f, -3.0f, 4.0f));
    ExpectVecEq(o.Max, vec3(2.0f, -3.0f, 4.0f));
    o.Destroy();

    // Negative zero equals the current minimum of +0, so the bound keeps its sign.
    o.ObjectBegin(2);
    o.Vertex[1].x = -0.0f;
    o.ObjectEnd();
    EXPECT_FALSE(std::signbit(o.Min.x));
    o.Destroy();
}

// With no vertices there is nothing to read: the box stays as it was.
TEST(ObjectRecord, EmptyObjectKeepsItsBox)
{
    CObject o;
    o.Min = vec3(-1.0f);
    o.Max = vec3(2.0f);
    o.GetMinMax();
    ExpectVecEq(o.Min, vec3(-1.0f));
    ExpectVecEq(o.Max, vec3(2.0f));
    // A count without an array is treated as empty too.
    o.NumVertex = 5;
    o.GetMinMax();
    o.Rotate3fv(30.0f, vec3(0.0f, 0.0f, 1.0f));
    o.TexScale2fv(vec2(2.0f, 2.0f));
    ExpectVecEq(o.Max, vec3(2.0f));
}

TEST(ObjectRecord, DestroyKeepsBoxAndCursor)
{
    CObject empty;
    empty.Destroy();
    EXPECT_EQ(empty.Vertex, nullptr);
    EXPECT_EQ(empty.NumVertex, 0);
    EXPECT_EQ(empty.Texture.Bits, nullptr);

    CObject o;
    MakeTriangle(o);
    o.Cursor = 2;
    o.Destroy();
    EXPECT_EQ(o.Vertex, nullptr);
    EXPECT_EQ(o.NumVertex, 0);
    EXPECT_EQ(o.Cursor, 2);
    ExpectVecEq(o.Min, vec3(-1.0f, -1.0f, 0.0f));
    ExpectVecEq(o.Max, vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(o.Texture.Width, 0);
    o.Destroy();  // a second Destroy is harmless
}

// Init forgets the array without releasing it: another copy owns it.
TEST(ObjectRecord, InitForgetsSharedArray)
{
    CObject owner;
    MakeTriangle(owner);
    CObject copy = owner;
    copy.Init();
    EXPECT_EQ(copy.Vertex, nullptr);
    EXPECT_EQ(copy.NumVertex, 0);
    EXPECT_EQ(owner.Vertex[2].z, 3.0f);
    owner.Destroy();
}

// ---------------------------------------------------------------------------------------------

// Positions and both corners move; normals, colours and texture coordinates stay.
TEST(ObjectTransform, TranslateAndScale)
{
    const vec3 d(1.0f, 2.0f, 3.0f), s(2.0f, 2.0f, 2.0f);
    CObject ref;
    MakeTriangle(ref);
    for (bool scaling : {false, true}) {
        CObject o;
        MakeTriangle(o);
        if (scaling)
            o.Scale3fv(s);
        else
            o.Translate3fv(d);
        auto expect = [&](const vec3& p) { return scaling ? p * s : p + d; };
        for (int i = 0; i < 3; ++i) {
            ExpectVecEq(Pos(o.Vertex[i]), expect(Pos(ref.Vertex[i])));
            ExpectSameExceptPositions(o.Vertex[i], ref.Vertex[i]);
        }
        ExpectVecEq(o.Min, expect(ref.Min));
        ExpectVecEq(o.Max, expect(ref.Max));
        o.Destroy();
    }
    ref.Destroy();
}

TEST(ObjectTransform, RotateTurnsPositionsAndNormalsThenRebuildsBox)
{
    CObject o;
    MakeTriangle(o);
    o.Rotate3fv(90.0f, vec3(0.0f, 0.0f, 1.0f));
    const CVertex& v0 = o.Vertex[0];
    EXPECT_NEAR(v0.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v0.y, 1.0f, 1e-6f);
    EXPECT_NEAR(v0.nx, 0.0f, 1e-6f);
    EXPECT_NEAR(v0.ny, 1.0f, 1e-6f);
    EXPECT_EQ(v0.r, 0.1f);
    // (-1, 2) turns to (-2, -1): the new box comes from the rotated positions.
    EXPECT_NEAR(o.Min.x, -2.0f, 1e-6f);
    EXPECT_NEAR(o.Min.y, -1.0f, 1e-6f);
    EXPECT_NEAR(o.Max.x, 1.0f, 1e-6f);
    EXPECT_NEAR(o.Max.y, 1.0f, 1e-6f);
    EXPECT_NEAR(o.Max.z, 3.0f, 1e-6f);
    o.Destroy();
}

TEST(ObjectTransform, TexTranslateAndScale)
{
    CObject o;
    MakeTriangle(o);
    o.TexTranslate2fv(vec2(0.5f, -0.25f));
    o.TexScale2fv(vec2(2.0f, 4.0f));
    EXPECT_EQ(o.Vertex[2].u, 1.5f);
    EXPECT_EQ(o.Vertex[2].v, 2.0f);
    o.Destroy();
}

TEST(ObjectTransform, TexRotateChoosesAxis)
{
    const float a = 3.1415927f / 3.0f;
    const float c = std::cos(a), s = std::sin(a);
    struct {
        vec3 axis;
        float u, v;  // expected image of (1, 1)
    } cases[] = {
        {vec3(1.0f, 0.0f, 0.0f), 1.0f, c},      {vec3(0.0f, 1.0f, 0.0f), c, 1.0f},
        {vec3(0.0f, 0.0f, 1.0f), c - s, s + c}, {vec3(1.0f, 1.0f, 0.0f), c, 1.0f},  // y wins over x
        {vec3(1.0f, 0.0f, 1.0f), c - s, s + c},                                     // z wins over x
        {vec3(0.0f, 0.0f, 0.0f), 1.0f, 1.0f},  // no axis: unchanged
        {vec3(0.5f, 2.0f, 0.9f), 1.0f, 1.0f},
    };
    for (const auto& k : cases) {
        CObject o;
        MakeTriangle(o);
        o.TexRotate2fv(a, k.axis);
        EXPECT_FLOAT_EQ(o.Vertex[1].u, k.u) << k.axis.x << k.axis.y << k.axis.z;
        EXPECT_FLOAT_EQ(o.Vertex[1].v, k.v) << k.axis.x << k.axis.y << k.axis.z;
        o.Destroy();
    }

    CObject q;
    MakeTriangle(q);
    q.TexRotate2fv(3.1415927f / 2.0f, vec3(0.0f, 0.0f, 1.0f));
    EXPECT_NEAR(q.Vertex[0].u, 0.0f, 1e-6f);
    EXPECT_NEAR(q.Vertex[0].v, 1.0f, 1e-6f);
    q.Destroy();
}

// ---------------------------------------------------------------------------------------------

TEST(ObjectRecording, BeginAndEnd)
{
    _3D_Korvane_Rendering& rc = krvRendering();
    CObject o;
    o.Cursor = 7;
    o.ObjectBegin(6);
    EXPECT_TRUE(rc.ObjectOpen);
    EXPECT_EQ(o.NumVertex, 6);
    EXPECT_EQ(o.Cursor, 0);
    ASSERT_NE(o.Vertex, nullptr);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(o.Vertex[i].x, 0.0f);
        EXPECT_EQ(o.Vertex[i].nz, 0.0f);
        EXPECT_EQ(o.Vertex[i].extra[2], 0.0f);
    }
    o.Vertex[3].y = 5.0f;
    o.Vertex[4].z = -2.0f;
    o.ObjectEnd();
    EXPECT_FALSE(rc.ObjectOpen);
    ExpectVecEq(o.Min, vec3(0.0f, 0.0f, -2.0f));
    ExpectVecEq(o.Max, vec3(0.0f, 5.0f, 0.0f));
    o.Destroy();
}

TEST(ObjectRecording, NonPositiveCountGivesEmptyObject)
{
    for (int n : {0, -3}) {
        CObject o;
        o.Min = vec3(1.0f);
        o.ObjectBegin(n);
        EXPECT_EQ(o.Vertex, nullptr);
        EXPECT_EQ(o.NumVertex, 0);
        EXPECT_TRUE(krvRendering().ObjectOpen);
        o.ObjectEnd();
        EXPECT_FALSE(krvRendering().ObjectOpen);
        ExpectVecEq(o.Min, vec3(1.0f));
    }
}
