// The texture record, its creation forms, the frame buffer's attachment rules and the generated
// textures and helpers.
#include "base/report.h"
#include "texture/texture.h"
#include "texture/texture_generate.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// What the error report gained since `before` characters.
std::string ReportSince(int before)
{
    return std::string(_3D_KRV_Report_Error.c_str()).substr(static_cast<size_t>(before));
}

void ExpectEmpty(const CTexture& t)
{
    EXPECT_EQ(t.Bits, nullptr);
    EXPECT_EQ(t.Width, 0);
    EXPECT_EQ(t.Height, 0);
    EXPECT_EQ(t.Format, 0);
    EXPECT_EQ(t.Pitch, 0);
}

}  // namespace

TEST(TextureRecord, InitClearsWithoutReleasing)
{
    CTexture t;
    t.Create(2, 2, KrvFormat_BGR);
    uint8* bits = t.Bits;
    EXPECT_EQ(&t.Init(), &t);
    ExpectEmpty(t);
    delete[] bits;  // still ours: Init released nothing
}

TEST(TextureRecord, DestroyReleasesEveryFormatAndEmpties)
{
    for (int format : {KrvFormat_BGR, KrvFormat_RGBA32, KrvFormat_Depth16}) {
        CTexture t;
        t.Create(3, 2, format);
        ASSERT_NE(t.Bits, nullptr);
        t.Destroy();  // a leak here shows in the sanitizer build
        ExpectEmpty(t);
        t.Destroy();  // an empty texture stays empty
        ExpectEmpty(t);
    }
}

TEST(TextureCreate, LayoutPerFormat)
{
    struct Case {
        int format, pitch, bytes;
    };
    const Case cases[] = {
        {KrvFormat_BGR, 12, 48}, {KrvFormat_RGBA32, 16, 64}, {KrvFormat_Depth16, 0, 32}};
    for (const Case& c : cases) {
        CTexture t;
        t.Create(4, 4, c.format);
        ASSERT_NE(t.Bits, nullptr);
        EXPECT_EQ(t.Width, 4);
        EXPECT_EQ(t.Height, 4);
        EXPECT_EQ(t.Format, c.format);
        EXPECT_EQ(t.Pitch, c.pitch);
        std::memset(t.Bits, 0xab, static_cast<size_t>(c.bytes));  // the whole buffer is there
        t.Destroy();
    }
}

TEST(TextureCreate, BadArgumentsLeaveEmptySilently)
{
    struct Case {
        int w, h, format;
    };
    const Case cases[] = {{0, 5, KrvFormat_BGR},
                          {4, 0, KrvFormat_BGR},
                          {-1, 4, KrvFormat_BGR},
                          {4, 4, '3'},
                          {4, 4, 0},
                          {100000, 100000, KrvFormat_BGR},
                          {INT_MAX, 2, KrvFormat_RGBA32},
                          {INT_MAX / 2, 1, KrvFormat_RGBA32}};
    for (const Case& c : cases) {
        int before = _3D_KRV_Report_Error.GetLength();
        CTexture t;
        t.Create(2, 2, KrvFormat_BGR);
        t.Create(c.w, c.h, c.format);  // also releases the previous buffer
        ExpectEmpty(t);
        EXPECT_EQ(ReportSince(before), "") << c.w << "x" << c.h << " " << c.format;
    }
}

TEST(TextureCreate, ValidatingFormReportsAndKeepsTexture)
{
    struct Case {
        int w, h, bytesPerTexel;
        const char* line;
    };
    const Case cases[] = {
        {0, 4, 3, "Error generating texture  -> Width or Height is 0!\r\n"},
        {4, 0, 4, "Error generating texture  -> Width or Height is 0!\r\n"},
        {4, 4, 2, "Error generating texture  -> BPP is not 24 nor 32!\r\n"},
        {4, 4, 0x20000001, "Error generating texture  -> BPP is not 24 nor 32!\r\n"},
    };
    for (const Case& c : cases) {
        CTexture t;
        t.Create(2, 2, KrvFormat_BGR);
        const CTexture old = t;
        uint8 sentinel = 0;
        uint8* bits = &sentinel;
        int bpt = c.bytesPerTexel;
        int before = _3D_KRV_Report_Error.GetLength();
        t.Create(c.w, c.h, bpt, KrvFormat_BGR, bits);
        EXPECT_EQ(ReportSince(before), c.line);
        EXPECT_STREQ(_3D_KRV_Title_Error.c_str(), "Error");
        EXPECT_EQ(t.Bits, old.Bits);
        EXPECT_EQ(t.Width, 2);
        EXPECT_EQ(bits, &sentinel);
        t.Destroy();
    }
}

TEST(TextureCreate, ValidatingFormLayoutFollowsFormat)
{
    CTexture t;
    int bpt = 4;
    uint8* bits = nullptr;
    t.Create(4, 4, bpt, KrvFormat_Depth16, bits);
    EXPECT_EQ(bits, t.Bits);
    EXPECT_EQ(t.Format, KrvFormat_Depth16);
    EXPECT_EQ(t.Pitch, 0);

    // A negative size passes the zero check, empties the texture and hands back no buffer.
    int before = _3D_KRV_Report_Error.GetLength();
    t.Create(-3, 4, bpt, KrvFormat_BGR, bits);
    ExpectEmpty(t);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(ReportSince(before), "");
}

TEST(TextureRecord, ReadAndWritePixel)
{
    CTexture t;
    t.Create(3, 2, KrvFormat_BGR);
    for (int i = 0; i < 18; ++i) t.Bits[i] = static_cast<uint8>(i);
    uint8 v = 0;
    t.ReadPixel(t.Bits, &v, 2, 1, 3, 1);  // 1 + 2*3 + 1*9
    EXPECT_EQ(v, 16);
    const uint8 w = 200;
    t.WritePixel(t.Bits, &w, 1, 1, 2);  // (1 + 3) * 3 + 2
    EXPECT_EQ(t.Bits[14], 200);
    t.Destroy();
}

TEST(FrameBuffer, SettersAttachOnlySuitableTextures)
{
    CTexture colour, depth, rgba, empty;
    colour.Create(4, 4, KrvFormat_BGR);
    depth.Create(4, 4, KrvFormat_Depth16);
    rgba.Create(4, 4, KrvFormat_RGBA32);
    CFrameBuffer fb;
    EXPECT_EQ(fb.GetColorTexture(), nullptr);
    EXPECT_EQ(fb.GetDepthTexture(), nullptr);

    for (CTexture* bad : {&depth, &rgba, &empty, static_cast<CTexture*>(nullptr)}) {
        fb.SetColorTexture(&colour);
        ASSERT_EQ(fb.GetColorTexture(), &colour);
        fb.SetColorTexture(bad);  // detaches
        EXPECT_EQ(fb.GetColorTexture(), nullptr);
    }
    for (CTexture* bad : {&colour, &rgba, &empty, static_cast<CTexture*>(nullptr)}) {
        fb.SetDepthTexture(&depth);
        ASSERT_EQ(fb.GetDepthTexture(), &depth);
        fb.SetDepthTexture(bad);
        EXPECT_EQ(fb.GetDepthTexture(), nullptr);
    }
    colour.Destroy();
    depth.Destroy();
    rgba.Destroy();
}

TEST(FrameBuffer, SizesMustMatch)
{
    CTexture depth, small, same, smallDepth;
    depth.Create(1024, 1024, KrvFormat_Depth16);
    small.Create(512, 512, KrvFormat_BGR);
    same.Create(1024, 1024, KrvFormat_BGR);
    smallDepth.Create(1024, 512, KrvFormat_Depth16);
    CFrameBuffer fb;
    fb.SetDepthTexture(&depth);
    fb.SetColorTexture(&small);
    EXPECT_EQ(fb.GetColorTexture(), nullptr);
    fb.SetColorTexture(&same);
    EXPECT_EQ(fb.GetColorTexture(), &same);
    fb.SetDepthTexture(&smallDepth);  // checked against the colour target
    EXPECT_EQ(fb.GetDepthTexture(), nullptr);
    for (CTexture* t : {&depth, &small, &same, &smallDepth}) t->Destroy();
}

// ---------------------------------------------------------------------------------------------

TEST(TextureFactory, GenTextureForms)
{
    CTexture t = krvGenTexture(4, 4, KrvFormat_Depth16);
    EXPECT_EQ(t.Format, KrvFormat_Depth16);
    EXPECT_EQ(t.Pitch, 0);
    t.Destroy();
    ExpectEmpty(krvGenTexture(4, 4, '9'));

    int bpt = 3;
    uint8* bits = nullptr;
    t = krvGenTexture(2, 3, bpt, KrvFormat_BGR, bits);
    EXPECT_EQ(bits, t.Bits);
    EXPECT_EQ(t.Pitch, 6);
    t.Destroy();

    bpt = 5;
    int before = _3D_KRV_Report_Error.GetLength();
    ExpectEmpty(krvGenTexture(2, 3, bpt, KrvFormat_BGR, bits));
    EXPECT_EQ(ReportSince(before), "Error generating texture  -> BPP is not 24 nor 32!\r\n");
}

TEST(CubeMap, CubeVector)
{
    vec3 v = krvGetCubeVector(4, 2, 0, 0);
    const float inv = 1.0f / std::sqrt(0.25f + 0.25f + 1.0f);
    EXPECT_FLOAT_EQ(v.x, -0.5f * inv);
    EXPECT_FLOAT_EQ(v.y, 0.5f * inv);
    EXPECT_FLOAT_EQ(v.z, inv);

    v = krvGetCubeVector(0, 1, 0, 0);
    ExpectVecEq(v, vec3(1.0f, 0.0f, 0.0f));

    // The faces' axes: the centre texel of an odd face points straight along it.
    const vec3 axes[6] = {vec3(1, 0, 0),  vec3(-1, 0, 0), vec3(0, 1, 0),
                          vec3(0, -1, 0), vec3(0, 0, 1),  vec3(0, 0, -1)};
    for (int face = 0; face < 6; ++face) {
        v = krvGetCubeVector(face, 3, 1, 1);
        SCOPED_TRACE(face);
        ExpectVecEq(v, axes[face]);
    }
    for (int face : {-1, 6}) {
        v = krvGetCubeVector(face, 2, 0, 0);
        ExpectVecEq(v, vec3(0.0f, 0.0f, 0.0f));
    }
}

TEST(CubeMap, NormalTextureBytes)
{
    CTexture t = krvGenCubeMapNormal(1);
    ASSERT_NE(t.Bits, nullptr);
    EXPECT_EQ(t.Width, 1);
    EXPECT_EQ(t.Height, 1);
    EXPECT_EQ(t.Format, KrvFormat_BGR);
    EXPECT_EQ(std::vector<int>(t.Bits, t.Bits + 3), (std::vector<int>{128, 128, 255}));
    t.Destroy();

    // Texel (0, 0) of a 2x2 +Z face: (-0.408, 0.408, 0.816) * 127 + 128, x in byte 0.
    t = krvGenCubeMapNormal(2);
    ASSERT_NE(t.Bits, nullptr);
    EXPECT_EQ(std::vector<int>(t.Bits, t.Bits + 3), (std::vector<int>{76, 179, 231}));
    t.Destroy();

    ExpectEmpty(krvGenCubeMapNormal(-2));
}

TEST(SphereMap, Coordinates)
{
    struct Case {
        float x, y, z, s, t;
    };
    const Case cases[] = {
        {0, 1, 0, 0.5f, 1.0f},   // e = 0
        {1, 0, 0, 0.75f, 0.5f},  // e = pi/2
        {0, 0, 1, 0.5f, 0.5f},  {0, -3, 0, 0.5f, 0.0f},
        {0, 0, 0, 0.5f, 0.5f},  // no direction: no NaN either
    };
    for (const Case& c : cases) {
        vec2 st = krvGenTexSphereMap(c.x, c.y, c.z);
        EXPECT_NEAR(st.x, c.s, 1e-6f) << c.x << " " << c.y << " " << c.z;
        EXPECT_NEAR(st.y, c.t, 1e-6f) << c.x << " " << c.y << " " << c.z;
    }
}

TEST(SphereMap, ArcTan2MatchesAtan2)
{
    const float points[][2] = {{1, 0},  {0, 1}, {0, -1}, {1, 1},  {-1, -1},
                               {-1, 0}, {0, 0}, {2, -3}, {-5, 1}, {0.25f, 4}};
    for (const auto& p : points)
        EXPECT_NEAR(ArcTan2(p[0], p[1]), std::atan2(p[0], p[1]), 2e-6f) << p[0] << " " << p[1];
}

TEST(SphereMap, FastArcTan2)
{
    const float a = arctan2(0.0f, 1.0f);
    EXPECT_LT(a, 0.0f);  // a <= 0 counts as negative; the offset keeps it from vanishing
    EXPECT_NEAR(a, -1.5707964e-10f, 1e-12f);
    EXPECT_FLOAT_EQ(arctan2(1.0f, 0.0f), 1.5707964f);
    EXPECT_FLOAT_EQ(arctan2(-1.0f, 0.0f), -1.5707964f);
    EXPECT_NEAR(arctan2(1.0f, -1.0f), 2.3561945f, 1e-6f);
    EXPECT_NEAR(arctan2(1.0f, 1.0f), 0.7853982f, 1e-6f);
}

TEST(SphereMap, CubeFacesAndSphere)
{
    const vec2 p(0.25f, -0.5f);
    const vec3 expected[6] = {vec3(0.25f, -0.5f, -1), vec3(-0.5f, 0.25f, 1),
                              vec3(-1, 0.25f, -0.5f), vec3(1, -0.5f, 0.25f),
                              vec3(-0.5f, -1, 0.25f), vec3(0.25f, 1, -0.5f)};
    for (int face = 0; face < 6; ++face) {
        vec3 v = mapCoordsToFace(p, face);
        SCOPED_TRACE(face);
        ExpectVecEq(v, expected[face]);
    }
    vec3 none = mapCoordsToFace(p, 6);
    ExpectVecEq(none, vec3(0.0f, 0.0f, 0.0f));

    vec3 c = getSphereCoords(vec3(1, 1, 1));
    const float third = 1.0f / std::sqrt(3.0f);
    ExpectVecNear(c, vec3(third, third, third), 1e-6f);
    for (const vec3& axis : {vec3(1, 0, 0), vec3(0, -1, 0), vec3(0, 0, 1)}) {
        c = getSphereCoords(axis);
        ExpectVecEq(c, axis);
    }
}

TEST(GetRgbBits, AddressArithmetic)
{
    struct Case {
        int a1, a2, a3, a4, a5, a6;
        unsigned char a7;
        float k0;
    };
    const Case cases[] = {
        {2, 3, 4, 5, 1, 1, 0, 249},    // 3 * (75 + 8)
        {2, 3, 4, 5, 1, 1, 10, 3},     // 259 wraps
        {7, 1, 9, 8, 2, 3, 0, 102},    // 3 * ((1*2*4)/3*8 + (7*2*4)/3) = 3 * (16 + 18)
        {-10, 0, 1, 1, 1, 1, 0, 226},  // -30: a byte value still
        {1, 1, 1, 1, 0, 1, 5, 0},      // division by zero
        {1, 1, 1, 1, 1, 0, 5, 0},     {INT_MAX, 1, INT_MAX, 1, 2, 1, 0, 0},  // overflow
    };
    for (const Case& c : cases) {
        vec3 v = krvGetRgbBits(c.a1, c.a2, c.a3, c.a4, c.a5, c.a6, c.a7);
        if (c.k0 == 0) {
            EXPECT_EQ(v.x + v.y + v.z, 0.0f);
            continue;
        }
        ExpectVecEq(v, vec3(c.k0, std::fmod(c.k0 + 1, 256.0f), std::fmod(c.k0 + 2, 256.0f)));
    }
}
