// The triangle pipeline end to end: submission, culling, row and column coverage, depth,
// per-vertex fog, supersampled viewports, perspective correction and hostile input.
#include "core/core.h"
#include "core/rasterize.h"
#include "tests/execution.h"
#include "tests/golden.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

const vec3 kWhite(1.0f, 1.0f, 1.0f);

class PipelineTest : public ::testing::Test {
protected:
    _3D_Korvane_Core core;
    TestTarget target{8, 8};

    void SetUp() override { target.Bind(core); }

    CVertex V(float sx, float sy, float z = 0.0f, vec3 rgb = kWhite)
    {
        return ScreenVertex(core, sx, sy, z, rgb);
    }
    void Draw(std::vector<CVertex> v) { core.DrawTriangles(v.data(), 0, int(v.size())); }
    // Two counter-clockwise triangles covering the screen rectangle.
    void DrawRect(float x0, float y0, float x1, float y1, float z = 0.0f, vec3 rgb = kWhite)
    {
        Draw({V(x0, y0, z, rgb), V(x1, y0, z, rgb), V(x1, y1, z, rgb), V(x0, y0, z, rgb),
              V(x1, y1, z, rgb), V(x0, y1, z, rgb)});
    }
};

// ---------------------------------------------------------------------------------------------
// Coverage: rows and columns are sampled at their centres, both ends of an edge included.

TEST_F(PipelineTest, RowCentreBelowTheTopVertexSkipsTheRow)
{
    // Top y 2.6: the centre 2.5 of row 2 lies outside the triangle, row 3's does not.
    Draw({V(0.0f, 2.6f), V(8.0f, 2.6f), V(0.0f, 5.0f)});
    EXPECT_EQ(target.ColorMap(), MapRows({
                                     "........",
                                     "........",
                                     "........",
                                     "AA......",
                                     "AAAAA...",
                                     "........",
                                     "........",
                                     "........",
                                 }));
}

TEST_F(PipelineTest, RowCentresOnTheEndsOfAnEdgeAreDrawn)
{
    // The flat top lies on row 4's centre (edge parameter 1), the apex on row 0's (parameter 0,
    // a span of width 0).
    Draw({V(0.0f, 0.5f), V(8.0f, 4.5f), V(0.0f, 4.5f)});
    EXPECT_EQ(target.ColorMap(), MapRows({
                                     "........",
                                     "........",
                                     "........",
                                     "AAAAAAAA",
                                     "AAAAAA..",
                                     "AAAA....",
                                     "AA......",
                                     "........",
                                 }));
}

TEST_F(PipelineTest, RowsBeyondTheTargetAreClampedAtBothEnds)
{
    // The viewport reaches below and above the target, so the clipper keeps screen y from -3.7
    // to 11.9 and the rows are clamped to 0..maxY.
    core.Viewport(0, -4, 8, 16);
    Draw({V(0.0f, -3.7f), V(8.0f, -3.7f), V(8.0f, 11.9f)});
    EXPECT_EQ(target.ColorMap(), MapRows({
                                     "......AA",
                                     ".....AAA",
                                     ".....AAA",
                                     "....AAAA",
                                     "....AAAA",
                                     "...AAAAA",
                                     "...AAAAA",
                                     "..AAAAAA",
                                 }));
}

TEST_F(PipelineTest, PixelCentresOnASharedEdgeAreDrawnByBothTriangles)
{
    Draw({V(0.0f, 0.0f), V(8.0f, 0.0f), V(8.0f, 8.0f)});
    EXPECT_EQ(target.ColorMap(), MapRows({
                                     ".......A",
                                     "......AA",
                                     ".....AAA",
                                     "....AAAA",
                                     "...AAAAA",
                                     "..AAAAAA",
                                     ".AAAAAAA",
                                     "AAAAAAAA",
                                 }));
    target.Clear();
    Draw({V(0.0f, 0.0f), V(8.0f, 8.0f), V(0.0f, 8.0f)});
    EXPECT_EQ(target.ColorMap(), MapRows({
                                     "AAAAAAAA",
                                     "AAAAAAA.",
                                     "AAAAAA..",
                                     "AAAAA...",
                                     "AAAA....",
                                     "AAA.....",
                                     "AA......",
                                     "A.......",
                                 }));
}

TEST_F(PipelineTest, TriangleOnOneRowDrawsNothing)
{
    core.SetCullFace(KrvCullMode_None);
    Draw({V(0.0f, 3.5f), V(8.0f, 3.5f), V(4.0f, 3.5f)});
    EXPECT_EQ(target.CountColored(), 0);
}

TEST_F(PipelineTest, InterlaceAndScreenDoorDrawEvenRowsOnly)
{
    struct Case {
        bool interlace, transparency, transparencySet;
    };
    const Case cases[] = {
        {true, false, false},
        {false, true, false},
        {false, true, true},  // a set value blends instead, on every row
        {false, false, false},
    };
    for (const Case& c : cases) {
        target.Clear();
        core.interlace = c.interlace;
        core.transparency = c.transparency;
        core.TransparencySet = c.transparencySet;
        // The rectangle starts on odd row 1: the first row moves up to 2.
        DrawRect(0.0f, 1.0f, 8.0f, 8.0f, 0.0f, vec3(0.5f, 0.5f, 0.5f));
        const bool everyRow = !c.interlace && !(c.transparency && !c.transparencySet);
        std::string expected;
        for (int y = 7; y >= 0; --y) {
            expected += (y >= 1 && (everyRow || y % 2 == 0)) ? "########" : "........";
            if (y > 0) expected += '\n';
        }
        EXPECT_EQ(target.DepthMap(), expected)
            << c.interlace << c.transparency << c.transparencySet;
    }
}

// ---------------------------------------------------------------------------------------------
// Culling: A > 0 is counter-clockwise in the y-up screen.

TEST_F(PipelineTest, CullModesByWinding)
{
    struct Case {
        bool enabled;
        int mode;
        bool drawsCcw, drawsCw;
    };
    const Case cases[] = {
        {true, KrvCullMode_None, true, true},  {true, KrvCullMode_Front, false, true},
        {true, KrvCullMode_Back, true, false}, {true, KrvCullMode_All, false, false},
        {false, KrvCullMode_Back, true, true}, {false, KrvCullMode_All, true, true},
    };
    for (const Case& c : cases) {
        core.cullEnabled = c.enabled;
        core.SetCullFace(c.mode);
        target.Clear();
        Draw({V(1.0f, 1.0f), V(7.0f, 1.0f), V(4.0f, 7.0f)});
        EXPECT_EQ(target.CountColored() > 0, c.drawsCcw) << c.enabled << " " << c.mode;
        target.Clear();
        Draw({V(1.0f, 1.0f), V(4.0f, 7.0f), V(7.0f, 1.0f)});
        EXPECT_EQ(target.CountColored() > 0, c.drawsCw) << c.enabled << " " << c.mode;
    }
}

// ---------------------------------------------------------------------------------------------
// Colour and depth.

TEST_F(PipelineTest, PlainColourIsTruncatedToBytes)
{
    DrawRect(0.0f, 0.0f, 8.0f, 8.0f, 0.0f, vec3(1.0f, 0.5f, 0.0f));
    const uint8* p = target.Pixel(3, 4);
    EXPECT_EQ(p[0], 0);    // blue
    EXPECT_EQ(p[1], 127);  // green
    EXPECT_EQ(p[2], 255);  // red
    // Depth 0.5 of clip z 0, scaled by 65535 and truncated.
    EXPECT_EQ(target.Depth(3, 4), 32767);
    EXPECT_EQ(core.GetDepthBuffer(), 32767);
}

TEST_F(PipelineTest, ColoursOutsideZeroToOneWrapInTheirLowByte)
{
    DrawRect(0.0f, 0.0f, 8.0f, 8.0f, 0.0f, vec3(2.0f, -0.5f, 1.5f));
    const uint8* p = target.Pixel(5, 5);
    EXPECT_EQ(p[0], uint8(382));   // 1.5 * 255 = 382.5
    EXPECT_EQ(p[1], uint8(-127));  // -127.5 truncates toward zero
    EXPECT_EQ(p[2], uint8(510));
}

TEST_F(PipelineTest, NearerOrEqualDepthWins)
{
    const vec3 red(1.0f, 0.0f, 0.0f), green(0.0f, 1.0f, 0.0f), blue(0.0f, 0.0f, 1.0f);
    DrawRect(0.0f, 0.0f, 8.0f, 8.0f, 0.5f, red);
    DrawRect(0.0f, 0.0f, 4.0f, 8.0f, 0.5f, green);  // equal depth: drawn again
    DrawRect(4.0f, 0.0f, 8.0f, 8.0f, 0.75f, blue);  // farther: rejected
    EXPECT_EQ(target.ColorMap(), MapRows({"AAAABBBB", "AAAABBBB", "AAAABBBB", "AAAABBBB",
                                          "AAAABBBB", "AAAABBBB", "AAAABBBB", "AAAABBBB"}));
    EXPECT_EQ(target.Pixel(0, 0)[1], 255);
    EXPECT_EQ(target.Pixel(7, 0)[2], 255);
    EXPECT_EQ(target.Depth(6, 6), 49151);     // trunc(0.75 * 65535)
    EXPECT_EQ(core.GetDepthBuffer(), 57343);  // the last fragment tested: trunc(0.875 * 65535)
}

TEST_F(PipelineTest, DepthTestOffDrawsEverythingAndLeavesDepthAlone)
{
    DrawRect(0.0f, 0.0f, 8.0f, 8.0f, -0.5f, vec3(1.0f, 0.0f, 0.0f));
    std::vector<unsigned short> before = target.depth;
    core.depthTest = false;
    DrawRect(0.0f, 0.0f, 8.0f, 8.0f, 0.5f, vec3(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(target.depth, before);
    EXPECT_EQ(target.Pixel(2, 2)[1], 255);
    EXPECT_EQ(target.Pixel(2, 2)[2], 0);
}

TEST_F(PipelineTest, DepthOnlyTargetWritesDepth)
{
    TestTarget depthOnly(8, 8, false, true);
    depthOnly.Bind(core);
    DrawRect(0.0f, 0.0f, 8.0f, 4.0f, 0.5f);
    EXPECT_EQ(depthOnly.DepthMap(), MapRows({"........", "........", "........", "........",
                                             "########", "########", "########", "########"}));
    EXPECT_EQ(depthOnly.Depth(7, 3), 49151);
}

TEST_F(PipelineTest, FrameBufferWithOnlyADepthTexture)
{
    std::vector<unsigned short> texels(8 * 4, 0xFFFF);
    CTexture depthTexture = TextureOver(texels.data(), 8, 4, KrvFormat_Depth16);
    CFrameBuffer fb;
    fb.DepthTexture = &depthTexture;
    core.antiAliasing = KrvAA_2x2;  // ignored while a frame buffer is bound
    core.BindFrameBuffer(&fb);
    core.Viewport(0, 0, 8, 4);
    ASSERT_EQ(core.targetColor, nullptr);
    DrawRect(0.0f, 0.0f, 4.0f, 4.0f, -0.5f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(texels[y * 8 + x], x < 4 ? 16383 : 65535) << x << "," << y;
}

// ---------------------------------------------------------------------------------------------
// Submission.

TEST_F(PipelineTest, TrailingVerticesAreNotDrawn)
{
    std::vector<CVertex> v = {V(0.0f, 0.0f), V(4.0f, 0.0f), V(4.0f, 4.0f), V(4.0f, 4.0f),
                              V(8.0f, 4.0f), V(8.0f, 8.0f), V(0.0f, 8.0f)};
    core.DrawTriangles(v.data(), 0, 7);
    EXPECT_EQ(target.ColorMap(), MapRows({".......A", "......AA", ".....AAA", "....AAAA",
                                          "...A....", "..AA....", ".AAA....", "AAAA...."}));
    target.Clear();
    core.DrawTriangles(v.data(), 3, 4);  // from the second triangle on
    EXPECT_EQ(target.CountColored(), 10);
    target.Clear();
    core.DrawTriangles(v.data(), 0, 2);
    core.DrawTriangles(v.data(), -1, 6);
    core.DrawTriangles(nullptr, 0, 6);
    core.Viewport(0, 0, 0, 8);
    core.DrawTriangles(v.data(), 0, 6);
    EXPECT_EQ(target.CountColored(), 0);
}

// Ranges near the top of the int range: an end past INT_MAX saturates there, so the whole
// triangles below it are drawn and nothing else; a stored range whose end lies below its start
// draws nothing, however far apart the two are. The caller's array is addressed from a base
// that puts index `first` on the test's vertices.
TEST_F(PipelineTest, RangesReachingIntMaxDrawTheWholeTrianglesBelowIt)
{
    std::vector<CVertex> v = {V(0.0f, 0.0f), V(4.0f, 0.0f), V(4.0f, 4.0f),
                              V(4.0f, 4.0f), V(8.0f, 4.0f), V(8.0f, 8.0f)};
    core.DrawTriangles(v.data(), 0, 3);
    const int firstOnly = target.CountColored();
    core.DrawTriangles(v.data(), 3, 3);
    const int both = target.CountColored();
    ASSERT_GT(firstOnly, 0);
    ASSERT_GT(both, firstOnly);

    const int first = INT_MAX - 6;
    CVertex* base = reinterpret_cast<CVertex*>(reinterpret_cast<uintptr_t>(v.data()) -
                                               uintptr_t(first) * sizeof(CVertex));
    struct Case {
        int count, triangles, colored;
    };
    const Case cases[] = {{5, 1, firstOnly}, {6, 2, both},       {7, 2, both},
                          {9, 2, both},      {INT_MAX, 2, both}, {INT_MAX - 1, 2, both}};
    for (const Case& c : cases) {
        target.Clear();
        const uint64_t before = core.submittedTriangles;
        core.DrawTriangles(base, first, c.count);
        EXPECT_EQ(core.endVertex, INT_MAX - 6 + std::min(c.count, 6)) << c.count;
        EXPECT_EQ(core.submittedTriangles - before, uint64_t(c.triangles)) << c.count;
        EXPECT_EQ(target.CountColored(), c.colored) << c.count;
    }

    target.Clear();
    const uint64_t before = core.submittedTriangles;
    core.DrawTriangles(v.data(), 0, 6);  // the flags and the array for the stored-range form
    const std::pair<int, int> stored[] = {{10, INT_MIN}, {INT_MAX, INT_MIN}, {0, -1}};
    for (const auto& range : stored) {
        target.Clear();
        core.firstVertex = range.first;
        core.endVertex = range.second;
        core.DrawTriangles();
        EXPECT_EQ(target.CountColored(), 0) << range.first << " " << range.second;
    }
    EXPECT_EQ(core.submittedTriangles - before, 2u);
}

TEST(PipelineSubmit, ModelViewProjectionIsColumnMajor)
{
    float m[16];
    for (int i = 0; i < 16; ++i) m[i] = float(i + 1);
    CVertex v = {};
    v.x = 1.0f;
    v.y = 10.0f;
    v.z = 100.0f;
    vec4 p = krvModelViewProjection(m, &v);
    EXPECT_EQ(p.x, 1.0f + 50.0f + 900.0f + 13.0f);
    EXPECT_EQ(p.w, 4.0f + 80.0f + 1200.0f + 16.0f);
}

TEST(PipelineSubmit, SupersamplingScalesTheViewportForTheDrawOnly)
{
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_3x3;
    core.ResizeBuffers(100, 50);
    ASSERT_EQ(core.targetColorWidth, 300);
    ASSERT_EQ(core.targetColorHeight, 150);
    core.Clear(true, true);
    core.Viewport(0, 0, 100, 50);
    // The lower-left quarter of the output: 150 x 75 supersampled pixels.
    std::vector<CVertex> v = {ScreenVertex(core, 0.0f, 0.0f),   ScreenVertex(core, 50.0f, 0.0f),
                              ScreenVertex(core, 50.0f, 25.0f), ScreenVertex(core, 0.0f, 0.0f),
                              ScreenVertex(core, 50.0f, 25.0f), ScreenVertex(core, 0.0f, 25.0f)};
    core.DrawTriangles(v.data(), 0, 6);
    EXPECT_EQ(core.viewportX, 0);
    EXPECT_EQ(core.viewportY, 0);
    EXPECT_EQ(core.viewportWidth, 100);
    EXPECT_EQ(core.viewportHeight, 50);
    int drawn = 0, outside = 0;
    for (int y = 0; y < 150; ++y) {
        for (int x = 0; x < 300; ++x) {
            bool lit = core.targetColor[(y * 300 + x) * 3] != 0;
            drawn += lit;
            outside += lit && (x >= 150 || y >= 75);
        }
    }
    EXPECT_EQ(drawn, 150 * 75);
    EXPECT_EQ(outside, 0);

    // An odd viewport origin comes back exactly too.
    core.Viewport(-7, 3, 33, 11);
    core.DrawTriangles(v.data(), 0, 6);
    EXPECT_EQ(core.viewportX, -7);
    EXPECT_EQ(core.viewportY, 3);
    EXPECT_EQ(core.viewportWidth, 33);
    EXPECT_EQ(core.viewportHeight, 11);
}

TEST_F(PipelineTest, BoundFrameBufferIsNotSupersampled)
{
    std::vector<uint8> texels(16 * 16 * 3, 0);
    CTexture colorTexture = TextureOver(texels.data(), 16, 16, KrvFormat_BGR);
    CFrameBuffer fb;
    fb.ColorTexture = &colorTexture;
    core.antiAliasing = KrvAA_4x4;
    core.BindFrameBuffer(&fb);
    core.Viewport(0, 0, 8, 8);
    DrawRect(0.0f, 0.0f, 8.0f, 8.0f);
    int drawn = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (texels[(y * 16 + x) * 3]) drawn += (x < 8 && y < 8) ? 1 : 1000;
    EXPECT_EQ(drawn, 64);
}

// ---------------------------------------------------------------------------------------------
// Per-vertex fog. Model (x, y, z) goes to clip (x, z, 0, 2): screen position from x and z,
// model y free for the height fog, w = 2 at every vertex.

class PipelineFog : public PipelineTest {
protected:
    void SetUp() override
    {
        PipelineTest::SetUp();
        core.LoadModelViewProjectionMatrix(mat4x4(1.0f, 0.0f, 0.0f, 0.0f,  // x
                                                  0.0f, 0.0f, 0.0f, 0.0f,  // y
                                                  0.0f, 1.0f, 0.0f, 0.0f,  // z
                                                  0.0f, 0.0f, 0.0f, 2.0f));
        core.fog = true;
        core.FogSet = true;
    }
    // A screen-filling quad of one vertex colour at model height y; returns pixel (4, 4).
    std::vector<int> DrawFogged(vec3 rgb, float y)
    {
        std::vector<CVertex> v(6);
        const float xz[6][2] = {{-2, -2}, {2, -2}, {2, 2}, {-2, -2}, {2, 2}, {-2, 2}};
        for (int i = 0; i < 6; ++i) {
            v[i] = CVertex{xz[i][0], y, xz[i][1], rgb.x, rgb.y, rgb.z, 0, 0, 0, 0, 0, {}};
        }
        core.DrawTriangles(v.data(), 0, 6);
        const uint8* p = target.Pixel(4, 4);
        return {p[0], p[1], p[2]};
    }
};

TEST_F(PipelineFog, EveryModeByItsFormula)
{
    struct Case {
        int mode;
        float params[7];  // fog r, g, b, density, offset, start, end
        vec3 vertex;
        float y;
        std::vector<int> bgr;
    };
    const float ln2 = 0.69314718f;
    const Case cases[] = {
        // vc + density * (y - offset) / fc: .25 + .25 / (.5, 1, .25)
        {KrvFogMode_Height,
         {0.5f, 1.0f, 0.25f, 0.25f, 0.5f, 0, 0},
         vec3(0.25f),
         1.5f,
         {255, 127, 191}},
        // vc - density * (0.5 * w - offset) / fc: .75 - .25 / (.5, 1, .25)
        {KrvFogMode_Depth, {0.5f, 1.0f, 0.25f, 0.5f, 0.5f, 0, 0}, vec3(0.75f), 0.0f, {0, 127, 63}},
        // (end - |w|) / (end - start) + fc = 0.5 + fc
        {KrvFogMode_Linear,
         {0.25f, 0.5f, 0.125f, 0, 0, 0.0f, 4.0f},
         vec3(0.9f),
         0.0f,
         {159, 255, 191}},
        // start == end: end - |w| = 0.25, not divided
        {KrvFogMode_Linear,
         {0.25f, 0.5f, 0.125f, 0, 0, 2.25f, 2.25f},
         vec3(0.9f),
         0.0f,
         {95, 191, 127}},
        // exp(-density * |w|) = 0.5
        {KrvFogMode_Exp,
         {0.25f, 0.125f, 0.0f, ln2 / 2.0f, 0, 0, 0},
         vec3(0.9f),
         0.0f,
         {127, 159, 191}},
        // exp(-(density * |w|)^2) = 0.5
        {KrvFogMode_Exp2,
         {0.25f, 0.125f, 0.0f, std::sqrt(ln2) / 2.0f, 0, 0, 0},
         vec3(0.9f),
         0.0f,
         {127, 159, 191}},
        // A fog colour component of 0 (either sign) gives its channel no fog term, also where
        // the term would be 0 / 0.
        {KrvFogMode_Height,
         {0.5f, 0.0f, 0.25f, 0.25f, 1.5f, 0, 0},
         vec3(0.25f),
         1.5f,
         {63, 63, 63}},
        {KrvFogMode_Height,
         {0.5f, 0.0f, -0.0f, 0.25f, 0.5f, 0, 0},
         vec3(0.25f),
         2.5f,
         {63, 63, 255}},
        {KrvFogMode_Depth,
         {0.0f, 1.0f, 0.0f, 0.5f, 1.0f, 0, 0},
         vec3(0.75f),
         0.0f,
         {191, 191, 191}},
        {KrvFogMode_Depth,
         {0.0f, 1.0f, 0.0f, 0.5f, 0.5f, 0, 0},
         vec3(0.75f),
         0.0f,
         {191, 127, 191}},
    };
    for (const Case& c : cases) {
        target.Clear();
        core.SetFogMode(c.mode);
        for (int i = 0; i < 7; ++i) core.FogParameters[i] = c.params[i];
        EXPECT_EQ(DrawFogged(c.vertex, c.y), c.bgr) << "mode " << c.mode;
    }
}

TEST_F(PipelineFog, WithoutParametersOrModeTheVertexColourStays)
{
    core.FogSet = false;
    core.SetFogMode(KrvFogMode_Linear);
    EXPECT_EQ(DrawFogged(vec3(0.5f, 0.25f, 1.0f), 0.0f), (std::vector<int>{255, 63, 127}));
    core.FogSet = true;
    core.fogMode = 0;
    EXPECT_EQ(DrawFogged(vec3(0.5f, 0.25f, 1.0f), 0.0f), (std::vector<int>{255, 63, 127}));
}

// ---------------------------------------------------------------------------------------------
// Perspective-correct interpolation: a quad leaning away, w = 1 on its left edge and 4 on its
// right, red 0 on the left and 1 on the right. Model (x, y, z) goes to clip (x, y, 0, z).

TEST_F(PipelineTest, AttributesAreInterpolatedInOneOverW)
{
    core.LoadModelViewProjectionMatrix(mat4x4(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f,
                                              0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    auto at = [](float ndcX, float ndcY, float w, float red) {
        return CVertex{ndcX * w, ndcY * w, w, red, 0, 0, 0, 0, 0, 0, 0, {}};
    };
    std::vector<CVertex> v = {at(-1, -1, 1, 0), at(1, -1, 4, 1), at(1, 1, 4, 1),
                              at(-1, -1, 1, 0), at(1, 1, 4, 1),  at(-1, 1, 1, 0)};
    core.DrawTriangles(v.data(), 0, 6);
    for (int x = 0; x < 8; ++x) {
        // At screen fraction s the interpolated 1/w is (1 - s) + s/4 and red/w is s/4.
        double s = (x + 0.5) / 8.0;
        double red = (s / 4.0) / ((1.0 - s) + s / 4.0);
        int expected = int(red * 255.0);
        int got = target.Pixel(x, 3)[2];
        EXPECT_NEAR(got, expected, 1)
            << "column " << x << ", screen-linear would be " << int(s * 255.0);
    }
    // Well apart from the screen-linear value there.
    EXPECT_LT(target.Pixel(3, 3)[2], 50);
}

// ---------------------------------------------------------------------------------------------
// Writes stay inside the targets whatever the viewport, maxX/maxY and the vertices say.

TEST_F(PipelineTest, DepthTargetSmallerThanColourTargetBoundsTheDraw)
{
    TestTarget small(4, 4, false, true);
    core.targetDepth = small.depth.data();
    core.targetDepthWidth = 4;
    core.targetDepthHeight = 4;
    core.maxX = core.maxY = 7;  // stale limits of the larger colour target
    DrawRect(-1.0f, -1.0f, 9.0f, 9.0f);
    EXPECT_EQ(small.DepthMap(), MapRows({"####", "####", "####", "####"}));
    EXPECT_EQ(target.CountColored(), 16);

    // And the other way round: a colour target smaller than maxX/maxY.
    TestTarget tiny(2, 3, true, false);
    core.targetColor = tiny.color.data();
    core.targetColorWidth = 2;
    core.targetColorHeight = 3;
    core.targetDepth = nullptr;
    DrawRect(-1.0f, -1.0f, 9.0f, 9.0f);
    EXPECT_EQ(tiny.CountColored(), 6);
}

TEST_F(PipelineTest, ViewportsOutsideTheTargetAreClamped)
{
    const int viewports[][4] = {{-100, -100, 1000, 1000},
                                {6, 6, 100, 100},
                                {-50, 3, 40, 40},
                                {20, 20, 8, 8},
                                {INT32_MIN / 2, 0, INT32_MAX, 8}};
    for (const auto& vp : viewports) {
        target.Clear();
        core.Viewport(vp[0], vp[1], vp[2], vp[3]);
        // The full clip square.
        std::vector<CVertex> v = {
            {-1, -1, 0, 1, 1, 1, 0, 0, 0, 0, 0, {}}, {1, -1, 0, 1, 1, 1, 0, 0, 0, 0, 0, {}},
            {1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, {}},   {-1, -1, 0, 1, 1, 1, 0, 0, 0, 0, 0, {}},
            {1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, {}},   {-1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, {}}};
        core.DrawTriangles(v.data(), 0, 6);
        int x0 = std::max(vp[0], 0), x1 = std::min(int64_t(vp[0]) + vp[2], int64_t(8));
        int y0 = std::max(vp[1], 0), y1 = std::min(int64_t(vp[1]) + vp[3], int64_t(8));
        int expected = std::max(0, x1 - x0) * std::max(0, y1 - y0);
        EXPECT_EQ(target.CountColored(), expected) << vp[0] << " " << vp[1];
    }
}

TEST_F(PipelineTest, VertexOnTheEyeIsDropped)
{
    // Clip (0, 0, 0, 0) passes every plane, and its 1/w is infinite: the triangle must not
    // reach the row and span loops with non-finite bounds.
    core.SetCullFace(KrvCullMode_None);
    core.LoadModelViewProjectionMatrix(mat4x4(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f,
                                              0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    std::vector<CVertex> v = {{0.0f, 0.0f, 0.0f, 1, 1, 1, 0, 0, 0, 0, 0, {}},
                              {1.0f, -1.0f, 1.0f, 1, 1, 1, 0, 0, 0, 0, 0, {}},
                              {1.0f, 1.0f, 1.0f, 1, 1, 1, 0, 0, 0, 0, 0, {}}};
    core.DrawTriangles(v.data(), 0, 3);
    // A denormal w whose reciprocal overflows to infinity.
    v[0] = {1e-45f, 1e-45f, 1e-45f, 1, 1, 1, 0, 0, 0, 0, 0, {}};
    core.DrawTriangles(v.data(), 0, 3);
    EXPECT_EQ(target.CountColored(), 0);
    EXPECT_EQ(target.DepthMap(), TestTarget(8, 8).DepthMap());
}

// ---------------------------------------------------------------------------------------------
// Threads and SIMD lanes: one draw of many random triangles (overlapping, clipped, culled,
// textured, lit and shadowed or not, with the depth test on or off) gives the colours, depths
// and last depth of one thread with the scalar body, whatever the execution. Where the depth
// test is off, overlapping pixels must keep the colour of the later triangle.

class DrawExecution : public ::testing::TestWithParam<Execution> {};

constexpr int kRandomSceneWidth = 97;

struct DrawResult {
    std::vector<uint8> color;
    std::vector<unsigned short> depth;
    unsigned short lastDepth;
};

DrawResult DrawRandomScene(int seed)
{
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<uint8> texels(13 * 7 * 3);
    for (uint8& b : texels) b = uint8(rng());
    std::vector<uint8> depths(29 * 23 * 2);
    for (uint8& b : depths) b = uint8(rng());
    CTexture texture = TextureOver(texels.data(), 13, 7, KrvFormat_BGR);
    CTexture shadow = TextureOver(depths.data(), 29, 23, KrvFormat_Depth16);
    CLight light{};
    light.position = vec3(0.3f, 1.0f, 2.0f);
    light.ambient = vec3(0.3f);
    light.diffuse = vec3(0.6f, 0.5f, 0.4f);
    light.specular = vec3(0.9f);
    light.constantAttenuation = 1.0f;

    _3D_Korvane_Core core;
    TestTarget target(kRandomSceneWidth,
                      61);  // rows in uneven bands, columns in part-filled vectors
    target.Bind(core);
    for (uint8& b : target.color) b = uint8(rng());
    core.texturing = seed % 2 == 0;
    core.lighting = seed % 3 != 0;
    core.bilinearFilter = seed % 4 < 2;
    core.depthTest = seed % 5 != 0;
    core.transparency = core.TransparencySet = seed % 7 == 0;
    core.Transparency = 0.5f;
    core.SetCullFace(seed % 2 ? KrvCullMode_None : KrvCullMode_Back);
    core.BindTexture(&texture);
    core.BindLight(&light);
    core.BindShadowMap(&shadow);
    core.shadowMapMatrix = BiasMatrix;
    core.LoadModelViewProjectionMatrix(perspective(60.0f, 97.0f / 61.0f, 0.5f, 20.0f) *
                                       translate(0.0f, 0.0f, -3.0f));
    std::vector<CVertex> v(3 * 600);
    for (size_t i = 0; i < v.size(); i += 3) {
        // Small triangles around random centres, some reaching past the view.
        const float cx = 6.0f * unit(rng) - 3.0f, cy = 4.0f * unit(rng) - 2.0f;
        const float cz = 2.5f * unit(rng) - 2.0f, size = i % 30 == 0 ? 3.0f : 0.3f;
        for (size_t k = 0; k < 3; ++k) {
            CVertex& e = v[i + k];
            e = CVertex();
            e.x = cx + size * (unit(rng) - 0.5f);
            e.y = cy + size * (unit(rng) - 0.5f);
            e.z = cz + size * (unit(rng) - 0.5f);
            e.r = unit(rng);
            e.g = unit(rng);
            e.b = unit(rng);
            e.u = 3.0f * unit(rng);
            e.v = 3.0f * unit(rng);
            e.nx = unit(rng) - 0.5f;
            e.ny = unit(rng) - 0.5f;
            e.nz = 1.0f;
        }
    }
    core.DrawTriangles(v.data(), 0, int(v.size()));
    return {target.color, target.depth, core.GetDepthBuffer()};
}

TEST_P(DrawExecution, SameBytesAndLastDepthAsOneThread)
{
    for (int seed = 0; seed < 14; ++seed) {
        DrawResult expected;
        {
            ScopedExecution serial({1, 1});
            expected = DrawRandomScene(seed);
        }
        ScopedExecution execution(GetParam());
        const DrawResult got = DrawRandomScene(seed);
        ASSERT_TRUE(SameImage(got.color, expected.color, kRandomSceneWidth, 3)) << "seed " << seed;
        ASSERT_TRUE(SameImage(got.depth, expected.depth, kRandomSceneWidth, 1)) << "seed " << seed;
        ASSERT_EQ(got.lastDepth, expected.lastDepth) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Sweep, DrawExecution, ::testing::ValuesIn(Executions()),
                         [](const ::testing::TestParamInfo<Execution>& named) {
                             return ExecutionName(named.param);
                         });

}  // namespace
