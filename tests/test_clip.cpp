// The clipper on its own: the pieces it hands on for triangles inside, across and outside the
// six planes of clip space.
#include "core/core.h"
#include "core/clip.h"
#include "core/rasterize.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

typedef std::array<_3D_Korvane_Shader, 3> Piece;

struct Recorder {
    std::vector<Piece> pieces;
    void operator()(_3D_Korvane_Shader* v) { pieces.push_back(Piece{{v[0], v[1], v[2]}}); }
};

const unsigned kAllGroups = kSpanColor | kSpanTexture | kSpanLight | kSpanShadow;

_3D_Korvane_Shader At(float x, float y, float z, float w, float attribute = 0.0f)
{
    _3D_Korvane_Shader s;
    s.position = vec4(x, y, z, w);
    s.color = vec3(attribute);
    s.texCoord = vec2(attribute);
    s.normal = vec3(attribute);
    s.lightVector = vec3(attribute);
    s.shadowCoord = vec4(attribute);
    return s;
}

std::vector<Piece> Clip(_3D_Korvane_Shader a, _3D_Korvane_Shader b, _3D_Korvane_Shader c,
                        unsigned features = kAllGroups, int plane = 1)
{
    _3D_Korvane_Shader v[3] = {a, b, c};
    Recorder r;
    krvi::ClipTriangle(v, plane, features, r);
    return r.pieces;
}

// Twice the signed area after the perspective divide.
float Winding(const Piece& p)
{
    float x[3], y[3];
    for (int k = 0; k < 3; ++k) {
        x[k] = p[k].position.x / p[k].position.w;
        y[k] = p[k].position.y / p[k].position.w;
    }
    return x[0] * (y[1] - y[2]) + x[1] * (y[2] - y[0]) + x[2] * (y[0] - y[1]);
}

bool InsideAll(const vec4& p, float tolerance)
{
    for (int axis = 0; axis < 3; ++axis)
        if (!(std::fabs(p[axis]) <= p.w + tolerance)) return false;
    return true;
}

TEST(Clip, TriangleInsideOrOnThePlanesPassesUnchanged)
{
    _3D_Korvane_Shader a = At(1.0f, -1.0f, 1.0f, 1.0f, 0.25f);  // on three planes
    _3D_Korvane_Shader b = At(-2.0f, 2.0f, -2.0f, 2.0f, 0.5f);  // on three others
    _3D_Korvane_Shader c = At(0.0f, 0.0f, 0.0f, 3.0f, 0.75f);
    std::vector<Piece> pieces = Clip(a, b, c);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(std::memcmp(&pieces[0][0], &a, sizeof a), 0);
    EXPECT_EQ(std::memcmp(&pieces[0][1], &b, sizeof b), 0);
    EXPECT_EQ(std::memcmp(&pieces[0][2], &c, sizeof c), 0);
}

TEST(Clip, OneVertexBehindTheNearPlaneSplitsInTwo)
{
    // Vertex 0 has z < -w; the cuts lie at 2/3 and 4/7 along its edges.
    std::vector<Piece> pieces =
        Clip(At(0.0f, 0.0f, -3.0f, 1.0f, 1.0f), At(0.5f, 0.0f, 0.0f, 1.0f, 0.0f),
             At(0.0f, 0.5f, 0.5f, 1.0f, 0.0f));
    ASSERT_EQ(pieces.size(), 2u);
    const _3D_Korvane_Shader& p1 = pieces[0][0];
    const _3D_Korvane_Shader& p2 = pieces[1][0];
    EXPECT_FLOAT_EQ(p1.position.z, -p1.position.w);
    EXPECT_FLOAT_EQ(p2.position.z, -p2.position.w);
    // Slot order: (P1, v1, v2) then (P2, P1, v2).
    EXPECT_EQ(std::memcmp(&pieces[1][1], &p1, sizeof p1), 0);
    EXPECT_EQ(pieces[0][1].position.x, 0.5f);
    EXPECT_EQ(pieces[1][2].position.y, 0.5f);
    // Every group in use is interpolated with the cut parameter, in clip space.
    EXPECT_FLOAT_EQ(p1.color.x, 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(p1.texCoord.y, 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(p1.lightVector.z, 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(p2.shadowCoord.w, 3.0f / 7.0f);
    EXPECT_FLOAT_EQ(p2.normal.x, 3.0f / 7.0f);
    // Both pieces keep the input's winding.
    EXPECT_GT(Winding(pieces[0]), 0.0f);
    EXPECT_GT(Winding(pieces[1]), 0.0f);
}

TEST(Clip, TwoVerticesBeyondTheRightPlaneMoveOntoIt)
{
    std::vector<Piece> pieces =
        Clip(At(0.0f, 0.0f, 0.0f, 1.0f), At(3.0f, 0.0f, 0.0f, 1.0f), At(4.0f, 2.0f, 0.0f, 2.0f));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0][0].position.x, 0.0f);
    EXPECT_FLOAT_EQ(pieces[0][1].position.x, pieces[0][1].position.w);
    EXPECT_FLOAT_EQ(pieces[0][2].position.x, pieces[0][2].position.w);
}

TEST(Clip, TriangleOutsideOnePlaneIsDropped)
{
    // Beyond the far plane only; every other plane would keep it.
    EXPECT_TRUE(
        Clip(At(0.0f, 0.0f, 2.0f, 1.0f), At(0.5f, 0.0f, 2.0f, 1.0f), At(0.0f, 0.5f, 2.0f, 1.0f))
            .empty());
    // Behind the eye: w < 0 puts every vertex outside plane 1 or 2.
    EXPECT_TRUE(
        Clip(At(0.0f, 0.0f, 0.0f, -1.0f), At(0.5f, 0.0f, 0.0f, -1.0f), At(0.0f, 0.5f, 0.0f, -1.0f))
            .empty());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(
        Clip(At(nan, 0.0f, 0.0f, 1.0f), At(nan, 0.0f, 0.0f, 1.0f), At(nan, 0.5f, 0.0f, 1.0f))
            .empty());
}

TEST(Clip, PlaneNumbersOutsideOneToSevenDoNothing)
{
    const _3D_Korvane_Shader a = At(0, 0, 0, 1), b = At(0.5f, 0, 0, 1), c = At(0, 0.5f, 0, 1);
    EXPECT_TRUE(Clip(a, b, c, kAllGroups, 0).empty());
    EXPECT_TRUE(Clip(a, b, c, kAllGroups, 8).empty());
    EXPECT_EQ(Clip(a, b, c, kAllGroups, 7).size(), 1u);
}

TEST(Clip, HugeTrianglesYieldAtMost64PiecesInsideTheVolume)
{
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    std::uniform_real_distribution<float> w(0.1f, 5.0f);
    size_t most = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        _3D_Korvane_Shader v[3];
        for (auto& s : v) s = At(coord(rng), coord(rng), coord(rng), w(rng));
        std::vector<Piece> pieces = Clip(v[0], v[1], v[2], kSpanColor);
        most = std::max(most, pieces.size());
        ASSERT_LE(pieces.size(), 64u);
        for (const Piece& p : pieces)
            for (const auto& s : p) ASSERT_TRUE(InsideAll(s.position, 1e-3f));
    }
    // The sweep does reach deep splits, not only the trivial cases.
    EXPECT_GE(most, 6u);

    // A triangle whose corners lie far out in every direction.
    std::vector<Piece> pieces = Clip(At(-1e30f, -1e30f, -1e30f, 1.0f),
                                     At(1e30f, -1e30f, 1e30f, 1.0f), At(0.0f, 1e30f, 0.0f, 1.0f));
    EXPECT_LE(pieces.size(), 64u);
}

}  // namespace
