#include "core/core.h"
#include "core/unproject.h"
#include "tests/execution.h"
#include "tests/golden.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A texture record over caller-owned memory: the core only borrows the pixel array.
void ExpectNoBuffers(const _3D_Korvane_Core& core)
{
    EXPECT_EQ(core.aaColorBuffer, nullptr);
    EXPECT_EQ(core.colorBuffer, nullptr);
    EXPECT_EQ(core.depthBuffer, nullptr);
    const int sizes[] = {core.width,
                         core.height,
                         core.aaWidth,
                         core.aaHeight,
                         core.colorWidth,
                         core.colorHeight,
                         core.depthWidth,
                         core.depthHeight,
                         core.targetColorWidth,
                         core.targetDepthWidth,
                         core.maxX,
                         core.maxY};
    for (int s : sizes) EXPECT_EQ(s, 0);
    EXPECT_EQ(core.targetColor, nullptr);
    EXPECT_EQ(core.targetDepth, nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

// The window's colour rows are padded to four pixels; supersampling draws into a buffer (and
// depth) larger by the factor, without it the pipeline draws straight into the padded buffer.
TEST(CoreResize, ColourRowsPaddedAndSupersampledTargetsScaled)
{
    const struct {
        int w, h, aa, colorWidth, f;
    } cases[] = {{5, 3, KrvAA_Off, 8, 1},      {4, 3, KrvAA_Off, 4, 1},
                 {1, 3, KrvAA_Off, 4, 1},      {9, 3, KrvAA_Off, 12, 1},
                 {100, 50, KrvAA_2x2, 100, 2}, {100, 50, KrvAA_3x3, 100, 3},
                 {100, 50, KrvAA_4x4, 100, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " aa " << c.aa);
        _3D_Korvane_Core core;
        core.antiAliasing = c.aa;
        core.ResizeBuffers(c.w, c.h);
        EXPECT_EQ(core.colorWidth, c.colorWidth);
        const BITMAPINFOHEADER& bh = core.bitmapInfo.bmiHeader;
        EXPECT_EQ(bh.biSize, 40u);
        EXPECT_EQ(bh.biWidth, c.colorWidth);
        EXPECT_EQ(bh.biHeight, c.h);
        EXPECT_EQ(bh.biPlanes, 1);
        EXPECT_EQ(bh.biBitCount, 24);
        EXPECT_EQ(bh.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(bh.biSizeImage, 0u);
        EXPECT_EQ(core.depthWidth, c.w * c.f);
        EXPECT_EQ(core.depthHeight, c.h * c.f);
        EXPECT_EQ(core.maxX, c.w * c.f - 1);
        EXPECT_EQ(core.maxY, c.h * c.f - 1);
        EXPECT_EQ(core.targetColorHeight, c.h * c.f);
        if (c.f == 1) {
            EXPECT_EQ(core.aaColorBuffer, nullptr);
            EXPECT_EQ(core.targetColor, core.colorBuffer);
            EXPECT_EQ(core.targetColorWidth, c.colorWidth);
        } else {
            EXPECT_EQ(core.aaWidth, c.w * c.f);
            EXPECT_EQ(core.aaHeight, c.h * c.f);
            EXPECT_EQ(core.targetColor, core.aaColorBuffer);
            EXPECT_EQ(core.targetColorWidth, c.w * c.f);
        }
    }
}

TEST(CoreResize, RejectedSizesLeaveNoBuffers)
{
    const struct {
        int w, h, aa;
    } cases[] = {{0, 10, KrvAA_Off},
                 {10, 0, KrvAA_2x2},
                 {-5, 10, KrvAA_Off},
                 {16385, 4, KrvAA_Off},
                 {4, 16385, KrvAA_4x4},
                 {16384, 16384, KrvAA_4x4},
                 {INT32_MAX, INT32_MAX, KrvAA_3x3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " aa " << c.aa);
        _3D_Korvane_Core core;
        core.antiAliasing = c.aa;
        core.ResizeBuffers(8, 8);
        core.ResizeBuffers(c.w, c.h);
        ExpectNoBuffers(core);
        core.Clear(true, true);
        core.ResizeBuffers(3, 2);
        EXPECT_NE(core.colorBuffer, nullptr);
    }
}

TEST(CoreResize, LeavesBoundFrameBufferInPlace)
{
    std::vector<uint8> colour(4 * 2 * 3);
    std::vector<unsigned short> depth(4 * 2);
    CTexture ct = TextureOver(colour.data(), 4, 2, KrvFormat_BGR);
    CTexture dt = TextureOver(depth.data(), 4, 2, KrvFormat_Depth16);
    CFrameBuffer fb;
    fb.ColorTexture = &ct;
    fb.DepthTexture = &dt;

    _3D_Korvane_Core core;
    core.BindFrameBuffer(&fb);
    core.ResizeBuffers(20, 10);
    EXPECT_EQ(core.targetColor, colour.data());
    EXPECT_EQ(core.targetDepth, depth.data());
    EXPECT_EQ(core.maxX, 3);

    core.BindFrameBuffer(nullptr);
    EXPECT_EQ(core.targetColor, core.aaColorBuffer);
    EXPECT_EQ(core.targetDepth, core.depthBuffer);
    EXPECT_EQ(core.maxX, 39);
    EXPECT_EQ(core.maxY, 19);
}

// ---------------------------------------------------------------------------------------------

TEST(CoreClear, ColourToZeroDepthToFarOverWholeTarget)
{
    for (int aa : {KrvAA_Off, KrvAA_3x3}) {
        _3D_Korvane_Core core;
        core.antiAliasing = aa;
        core.ResizeBuffers(5, 3);
        const size_t colourBytes = static_cast<size_t>(core.targetColorWidth) *
                                   static_cast<size_t>(core.targetColorHeight) * 3u;
        const size_t depthCount =
            static_cast<size_t>(core.depthWidth) * static_cast<size_t>(core.depthHeight);
        std::memset(core.targetColor, 0x5A, colourBytes);
        std::memset(core.depthBuffer, 0x12, depthCount * 2);

        core.Clear(true, false);
        for (size_t i = 0; i < colourBytes; ++i) ASSERT_EQ(core.targetColor[i], 0) << i;
        EXPECT_EQ(core.depthBuffer[0], 0x1212);
        core.Clear(false, true);
        for (size_t i = 0; i < depthCount; ++i) ASSERT_EQ(core.depthBuffer[i], 65535) << i;
    }
}

// Clearing shares rows out over the threads: on any count every byte of both targets is
// cleared and nothing around them is touched, also when a frame buffer's colour and depth
// targets differ in size.
TEST(CoreClear, EveryThreadCountClearsExactlyTheTargets)
{
    const size_t kGuard = 64;
    const int cw = 1003, ch = 701, dw = 811, dh = 997;
    for (int threads : {1, 2, 3, 7}) {
        ScopedExecution execution({threads, 1});
        std::vector<uint8> colour(kGuard + size_t(cw) * ch * 3 + kGuard, 0x5A);
        std::vector<unsigned short> depth(kGuard + size_t(dw) * dh + kGuard, 0x1212);
        CTexture ct = TextureOver(colour.data() + kGuard, cw, ch, KrvFormat_BGR);
        CTexture dt = TextureOver(depth.data() + kGuard, dw, dh, KrvFormat_Depth16);
        CFrameBuffer fb;
        fb.ColorTexture = &ct;
        fb.DepthTexture = &dt;
        _3D_Korvane_Core core;
        core.BindFrameBuffer(&fb);
        core.Clear(true, true);
        size_t wrong = 0;
        for (size_t i = 0; i < colour.size(); ++i)
            wrong += colour[i] != (i < kGuard || i >= colour.size() - kGuard ? 0x5A : 0);
        for (size_t i = 0; i < depth.size(); ++i)
            wrong += depth[i] != (i < kGuard || i >= depth.size() - kGuard ? 0x1212 : 0xFFFF);
        EXPECT_EQ(wrong, 0u) << threads << " threads";
    }
}

TEST(CoreFrameBuffer, TargetsAndLimitsFromAttachments)
{
    std::vector<uint8> colour(6 * 5 * 3, 7);
    std::vector<unsigned short> depth(3 * 2, 7);
    CTexture ct = TextureOver(colour.data(), 6, 5, KrvFormat_BGR);
    CTexture dt = TextureOver(depth.data(), 3, 2, KrvFormat_Depth16);
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_Off;
    core.ResizeBuffers(4, 4);

    CFrameBuffer both, colourOnly, depthOnly, empty;
    both.ColorTexture = colourOnly.ColorTexture = &ct;
    both.DepthTexture = depthOnly.DepthTexture = &dt;
    const struct {
        CFrameBuffer* fb;
        uint8* colour;
        unsigned short* depth;
        int colourWidth, depthWidth, maxX, maxY;
    } cases[] = {
        // The depth attachment decides the limits when both exist.
        {&both, colour.data(), depth.data(), 6, 3, 2, 1},
        {&colourOnly, colour.data(), nullptr, 6, 0, 5, 4},
        {&depthOnly, nullptr, depth.data(), 0, 3, 2, 1},
        {&empty, nullptr, nullptr, 0, 0, 0, 0},
        {nullptr, core.colorBuffer, core.depthBuffer, 4, 4, 3, 3},
    };
    for (const auto& c : cases) {
        core.BindFrameBuffer(c.fb);
        EXPECT_EQ(core.frameBuffer, c.fb);
        EXPECT_EQ(core.targetColor, c.colour);
        EXPECT_EQ(core.targetDepth, c.depth);
        EXPECT_EQ(core.targetColorWidth, c.colourWidth);
        EXPECT_EQ(core.targetDepthWidth, c.depthWidth);
        EXPECT_EQ(core.maxX, c.maxX);
        EXPECT_EQ(core.maxY, c.maxY);
    }

    // Drawing and clearing go to the bound frame buffer only.
    core.BindFrameBuffer(&both);
    core.colorBuffer[0] = 9;
    core.Clear(true, true);
    for (uint8 b : colour) EXPECT_EQ(b, 0);
    for (unsigned short d : depth) EXPECT_EQ(d, 65535);
    EXPECT_EQ(core.colorBuffer[0], 9);
}

// ---------------------------------------------------------------------------------------------

// A setter takes a code of its set and ignores anything else: from a known state, each value
// leaves the state given.
TEST(CoreBinds, SettersIgnoreValuesOutsideTheirSets)
{
    const struct {
        int value, cullFace;
    } cull[] = {{KrvCullMode_None, KrvCullMode_None},
                {KrvCullMode_Front, KrvCullMode_Front},
                {KrvCullMode_Back, KrvCullMode_Back},
                {KrvCullMode_All, KrvCullMode_All},
                {5, KrvCullMode_Back},
                {15, KrvCullMode_Back},
                {19, KrvCullMode_Back},
                {-16, KrvCullMode_Back}};
    for (const auto& c : cull) {
        _3D_Korvane_Core core;  // culls back faces
        core.SetCullFace(c.value);
        EXPECT_EQ(core.GetCullFace(), c.cullFace) << c.value;
    }
    const struct {
        int value, fogMode;
    } fog[] = {{KrvFogMode_Height, KrvFogMode_Height},
               {KrvFogMode_Depth, KrvFogMode_Depth},
               {KrvFogMode_Linear, KrvFogMode_Linear},
               {KrvFogMode_Exp, KrvFogMode_Exp},
               {KrvFogMode_Exp2, KrvFogMode_Exp2},
               {31, KrvFogMode_Linear},
               {37, KrvFogMode_Linear},
               {0, KrvFogMode_Linear}};
    for (const auto& c : fog) {
        _3D_Korvane_Core core;
        core.SetFogMode(KrvFogMode_Linear);
        core.SetFogMode(c.value);
        EXPECT_EQ(core.fogMode, c.fogMode) << c.value;
    }
}

TEST(CoreBinds, SwitchesGateTheBinds)
{
    _3D_Korvane_Core core;
    CLight a{}, b{};
    core.lighting = true;
    core.BindLight(&a);
    core.lighting = false;
    core.BindLight(&b);
    core.BindLight(nullptr);
    EXPECT_EQ(core.light, &a);

    CTexture t0, t1;
    core.BindTexture(&t0);
    EXPECT_EQ(core.texture0, &t0);
    EXPECT_EQ(core.bumpTexture, nullptr);
    core.bumpMapping = true;
    core.bindBaseTexture = false;
    core.BindTexture(&t1);
    EXPECT_EQ(core.texture0, &t0);
    EXPECT_EQ(core.bumpTexture, &t1);

    core.BindTexture1(&t0);
    EXPECT_EQ(core.texture1, nullptr);
    core.multiTexture = true;
    core.BindTexture1(&t0);
    core.BindTexture2(&t1);
    EXPECT_EQ(core.texture1, &t0);
    EXPECT_EQ(core.texture2, &t1);
}

// ---------------------------------------------------------------------------------------------

TEST(CoreGetPixel, ReadsPackedColourAndByte)
{
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_Off;
    core.ResizeBuffers(4, 2);
    for (int i = 0; i < 4 * 2 * 3; ++i) core.colorBuffer[i] = static_cast<uint8>(10 + i);

    // Pixel index y * width + x = 5: bytes 15..17 as colour, byte 5 as one-byte read.
    vec3 c = core.getPixel(1, 1, KrvPixelRead_Color);
    EXPECT_EQ(c.x, 25.0f);
    EXPECT_EQ(c.y, 26.0f * 256.0f);
    EXPECT_EQ(c.z, 27.0f * 65536.0f);
    vec3 v = core.getPixel(1, 1, KrvPixelRead_Byte);
    EXPECT_EQ(v.x, 240.0f);
    EXPECT_EQ(v.z, 240.0f * 65536.0f);

    vec3 n = core.getPixel(1, 1, 49);
    for (int k = 0; k < 3; ++k) {
        uint32_t bits;
        std::memcpy(&bits, &n[k], sizeof bits);
        EXPECT_EQ(bits, 0x7FC00000u);
    }

    const struct {
        int x, y;
    } outside[] = {{-1, 0}, {0, -1}, {4, 0}, {0, 2}, {INT32_MIN, 0}};
    for (const auto& o : outside)
        for (int which : {48, 50, 49}) EXPECT_EQ(core.getPixel(o.x, o.y, which).x, 0.0f);
}

TEST(CoreGetPixel, NeverReadsPastSmallerTarget)
{
    // A 2 x 2 texture bound while the core is 8 x 8: the index of (1, 1) is 9, past its end.
    std::vector<uint8> colour(2 * 2 * 3, 100);
    CTexture ct = TextureOver(colour.data(), 2, 2, KrvFormat_BGR);
    CFrameBuffer fb;
    fb.ColorTexture = &ct;
    _3D_Korvane_Core core;
    core.ResizeBuffers(8, 8);
    core.BindFrameBuffer(&fb);
    EXPECT_EQ(core.getPixel(1, 1, KrvPixelRead_Color).x, 0.0f);
    EXPECT_EQ(core.getPixel(5, 0, KrvPixelRead_Color).x, 0.0f);
    EXPECT_EQ(core.getPixel(1, 0, KrvPixelRead_Color).x, 100.0f);

    CFrameBuffer empty;
    core.BindFrameBuffer(&empty);
    EXPECT_EQ(core.getPixel(0, 0, KrvPixelRead_Byte).x, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// The un-projection helper and the occlusion test built on it. The matrix scales w by 2 and
// moves z by -2: the interface's x and y terms are then offsets 0 and extents 2 (x) and -4 (y),
// and the inverse halves w, so p = (1, 2, pz) un-projects to (0, -4, 4 pz).

namespace {

mat4x4 HalvingMatrix()
{
    mat4x4 m(1.0f);
    m[14] = -2.0f;
    m[15] = 2.0f;
    return m;
}

}  // namespace

TEST(CoreHelpers, UnProjectByTheMatrixTerms)
{
    struct Case {
        mat4x4 m;
        vec3 p, expected;
    };
    mat4x4 moved(1.0f);
    moved[14] = -2.0f;  // w stays 1: (x - 0) / 2 * 2 - 1, (y - 0) / -4 * 2 - 1, 2 pz - 1 + 2
    const Case cases[] = {{HalvingMatrix(), vec3(1.0f, 2.0f, 0.75f), vec3(0.0f, -4.0f, 3.0f)},
                          {moved, vec3(1.0f, 2.0f, 0.75f), vec3(0.0f, -2.0f, 2.5f)},
                          {moved, vec3(3.0f, -2.0f, 0.0f), vec3(2.0f, 0.0f, 1.0f)}};
    for (const Case& c : cases) {
        const vec3 u = krvUnProject_(c.p, c.m);
        EXPECT_EQ(u.x, c.expected.x);
        EXPECT_EQ(u.y, c.expected.y);
        EXPECT_EQ(u.z, c.expected.z);
    }
}

TEST(CoreHelpers, OcclusionComparesTheLastDepthWithTheLow16BitsOfTheUnProjectedDepth)
{
    struct Case {
        float pz;  // the un-projected depth is 4 pz
        unsigned short lastDepth;
        bool occluded;
    };
    const Case cases[] = {
        {250.1875f, 999, true}, {250.1875f, 1000, false},  // 1000.75 truncates to 1000
        {16385.25f, 4, true},   {16385.25f, 5, false},     // 65541: low bits 5
        {-0.875f, 65532, true}, {-0.875f, 65533, false},   // -3.5 truncates to -3: 65533
        {2.5e19f, 65534, true}, {2.5e19f, 65535, false},   // saturates at INT_MAX: 65535
        {-2.5e19f, 0, false},                              // INT_MIN: low bits 0
    };
    _3D_Korvane_Core core;
    core.LoadModelViewProjectionMatrix(HalvingMatrix());
    for (const Case& c : cases) {
        core.lastDepth = c.lastDepth;
        EXPECT_EQ(core.FindOcclusionPoint(vec3(-1.0f, -2.0f, -c.pz)), c.occluded)
            << c.pz << " " << c.lastDepth;
    }
    // The identity makes both extents 0: x, y and with them the depth are not numbers, and a
    // depth that is not a number counts as 0, which no last depth lies below.
    core.LoadModelViewProjectionMatrix(mat4x4(1.0f));
    core.lastDepth = 0;
    EXPECT_TRUE(std::isnan(krvUnProject_(vec3(0.0f, 0.0f, 0.5f), mat4x4(1.0f)).z));
    EXPECT_FALSE(core.FindOcclusionPoint(vec3(0.0f, 0.0f, -0.5f)));
}
