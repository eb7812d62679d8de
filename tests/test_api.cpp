// The public krv interface: vertex input, ranges and transforms by matrix mode, drawing, state
// setters, the view, lights and fog, texture binds and render-to-texture, messages and text.
#include "rendering_fixture.h"

#include "core/draw_span_simd.h"
#include "platform/platform.h"
#include "platform/thread_pool.h"
#include "tests/test_util.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// n buffer vertices through the interface: vertex i at (i, 10 i, 100 i), texture (i, -i).
void RecordBuffer(int n)
{
    krvSetVertex(n);
    krvRendering().BufferCursor = 0;
    for (int i = 0; i < n; ++i) {
        float f = static_cast<float>(i);
        krvVertex3f(f, 10.0f * f, 100.0f * f);
        krvTexture2f(f, -f);
        krvCount();
    }
}

}  // namespace

using ApiGeometry = RenderingFixture;
using ApiState = RenderingFixture;
using ApiTexture = RenderingFixture;

// ---------------------------------------------------------------------------------------------
// Vertex input.

TEST_F(ApiGeometry, AttributeCallsWriteOnlyTheVertexUnderTheCursor)
{
    krvSetVertex(2);
    EXPECT_EQ(r.BufferSize, 2);
    r.BufferCursor = 0;
    krvVertex3f(1.0f, 2.0f, 3.0f);
    krvVertex3fv(vec3(4.0f, 5.0f, 6.0f));  // no krvCount: the same vertex again
    krvColor3fv(vec3(0.1f, 0.2f, 0.3f));
    krvTexture2fv(vec2(7.0f, 8.0f));
    krvNormal3fv(vec3(0.0f, 1.0f, 0.0f));
    const CVertex& v = r.Buffer[0];
    EXPECT_EQ(v.x, 4.0f);
    EXPECT_EQ(v.z, 6.0f);
    EXPECT_EQ(v.g, 0.2f);
    EXPECT_EQ(v.v, 8.0f);
    EXPECT_EQ(v.ny, 1.0f);
    EXPECT_EQ(v.extra[0], 0.0f);
    EXPECT_EQ(r.Buffer[1].x, 0.0f);
    krvCount();
    EXPECT_EQ(r.BufferCursor, 1);

    // Outside the buffer every attribute call is dropped (the sanitizer build sees any write).
    for (int cursor : {-1, 2, INT_MAX}) {
        r.BufferCursor = cursor;
        krvVertex3f(9.0f, 9.0f, 9.0f);
        krvColor3f(9.0f, 9.0f, 9.0f);
        krvTexture2f(9.0f, 9.0f);
        krvNormal3f(9.0f, 9.0f, 9.0f);
    }
    krvCount();
    EXPECT_EQ(r.BufferCursor, INT_MAX);
    EXPECT_EQ(r.Buffer[1].x, 0.0f);
    krvSetVertex(0);
    r.BufferCursor = 0;
    krvVertex3f(1.0f, 1.0f, 1.0f);  // no buffer: nothing
}

TEST_F(ApiGeometry, RecordingWritesIntoTheCurrentObject)
{
    krvSetVertex(1);
    r.Object.ObjectBegin(2);
    krvVertex3f(1.0f, 2.0f, 3.0f);
    krvCount();
    krvVertex3f(-1.0f, 0.0f, 5.0f);
    krvGlobalColor3f(0, 5, 1.0f, 1.0f, 0.0f);
    krvCount();
    krvVertex3f(7.0f, 7.0f, 7.0f);  // past the object's two vertices: dropped
    r.Object.ObjectEnd();

    EXPECT_EQ(r.Object.Cursor, 2);
    EXPECT_EQ(r.BufferCursor, 0);
    EXPECT_EQ(r.Buffer[0].x, 0.0f);
    EXPECT_EQ(r.Object.Vertex[1].x, -1.0f);
    EXPECT_EQ(r.Object.Vertex[1].g, 1.0f);
    EXPECT_EQ(r.Object.Min.x, -1.0f);
    EXPECT_EQ(r.Object.Max.z, 5.0f);
}

TEST_F(ApiGeometry, GlobalColourActsOnTheRangeInsideTheBuffer)
{
    struct Case {
        int first, end;
        int lo, hi;  // vertices that turn red
    };
    const Case cases[] = {
        {4, 4, 0, 0}, {1, 3, 1, 3}, {-5, 100, 0, 6}, {5, 2, 0, 0}, {INT_MIN, INT_MAX, 0, 6}};
    for (const Case& c : cases) {
        krvSetVertex(6);
        krvGlobalColor3f(c.first, c.end, 1.0f, 0.0f, 0.0f);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(r.Buffer[i].r, i >= c.lo && i < c.hi ? 1.0f : 0.0f)
                << c.first << ".." << c.end << " vertex " << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Ranges and transforms.

TEST_F(ApiGeometry, SetVertexModelConvertsPrimitivesToVertices)
{
    struct Case {
        int kind, first, end;
        int begin, stop;
    };
    const Case cases[] = {{96, 2, 5, 6, 15},
                          {97, 1, 2, 6, 12},
                          {98, 1, 2, 1, 2},  // unknown kind: the range before stays
                          {97, INT_MAX, INT_MIN, INT_MAX, INT_MIN}};
    for (const Case& c : cases) {
        r.SetModelVertex(1, 2);
        krvSetVertexModel(c.kind, c.first, c.end);
        EXPECT_EQ(r.ModelBegin, c.begin);
        EXPECT_EQ(r.ModelEnd, c.stop);
    }
}

TEST_F(ApiGeometry, BufferModesMoveOnlyTheSelectedRange)
{
    RecordBuffer(12);
    krvMatrixMode(KrvMatrixMode_BufferModel);
    krvSetVertexModel(KrvModel_Triangles, 1, 3);
    krvTranslate3f(1.0f, 0.0f, 0.0f);
    krvMatrixMode(80);  // ignored: still the buffer's positions
    krvTranslate3fv(vec3(0.0f, 0.0f, 1.0f));
    for (int i = 0; i < 12; ++i) {
        bool in = i >= 3 && i < 9;
        EXPECT_EQ(r.Buffer[i].x, static_cast<float>(i) + (in ? 1.0f : 0.0f)) << i;
        EXPECT_EQ(r.Buffer[i].z, 100.0f * static_cast<float>(i) + (in ? 1.0f : 0.0f)) << i;
        EXPECT_EQ(r.Buffer[i].u, static_cast<float>(i)) << i;
    }

    krvMatrixMode(KrvMatrixMode_BufferTexture);
    krvScale3f(2.0f, 3.0f, 4.0f);
    EXPECT_EQ(r.Buffer[3].u, 6.0f);
    EXPECT_EQ(r.Buffer[3].v, -9.0f);
    EXPECT_EQ(r.Buffer[3].x, 4.0f);
    EXPECT_EQ(r.Buffer[2].u, 2.0f);

    // A range reaching past the buffer's end stops at it.
    krvSetVertexModel(KrvModel_Quads, 1, 100);
    krvTranslate3f(1.0f, 1.0f, 1.0f);
    EXPECT_EQ(r.Buffer[11].u, 12.0f);
    EXPECT_EQ(r.Buffer[5].u, 10.0f);
}

TEST_F(ApiGeometry, ObjectModesChangeTheSharedVerticesAndOnlyTheContextsBox)
{
    CObject mine;
    mine.Triangle3f(vec3(1.0f, 2.0f, 3.0f), vec3(-1.0f, 0.0f, 1.0f), vec3(0.0f, 4.0f, 0.0f),
                    vec3(0.0f), vec3(0.0f), vec3(0.0f), vec3(0.0f), vec3(0.0f), vec3(0.0f),
                    vec2(1.0f, 1.0f), vec2(), vec2());
    krvSetObject(mine);
    krvMatrixMode(KrvMatrixMode_Object);
    krvScale3f(2.0f, 2.0f, 2.0f);
    EXPECT_EQ(mine.Vertex[0].x, 2.0f);
    EXPECT_EQ(krvGetObjectMin().x, -2.0f);
    EXPECT_EQ(krvGetObjectMax().y, 8.0f);
    EXPECT_EQ(mine.Min.x, -1.0f);
    EXPECT_EQ(mine.Max.y, 4.0f);

    krvMatrixMode(KrvMatrixMode_ObjectTexture);
    krvTranslate3f(0.5f, 0.25f, 9.0f);
    EXPECT_EQ(mine.Vertex[0].u, 1.5f);
    EXPECT_EQ(mine.Vertex[0].v, 1.25f);
    EXPECT_EQ(mine.Vertex[0].z, 6.0f);
    mine.Destroy();
}

// ---------------------------------------------------------------------------------------------
// Drawing: a red quad on each half of an 8 x 4 target.

TEST_F(ApiGeometry, DrawModelDrawsOnlyWholeTrianglesInsideTheBuffer)
{
    struct Case {
        int kind, first, count;
        bool left, right;
    };
    const Case cases[] = {
        {97, 0, 1, true, false},        {97, 1, 5, false, true},
        {97, -1, 2, true, false},       {96, 0, 4, true, true},
        {96, 2, 2, false, true},        {98, 0, 2, false, false},
        {97, 0, 0, false, false},       {97, INT_MAX, INT_MAX, false, false},
        {96, INT_MIN, 2, false, false},
    };
    UseTarget(8, 4);
    r.cullEnabled = false;
    r.depthTest = false;
    r.LoadModelViewProjectionMatrix(mat4x4(1.0f));
    krvSetVertex(12);
    r.BufferCursor = 0;
    for (int q = 0; q < 2; ++q) {
        const float x0 = static_cast<float>(q) - 1.0f, x1 = static_cast<float>(q);
        const float corners[6][2] = {{x0, -1.0f}, {x1, -1.0f}, {x1, 1.0f},
                                     {x1, 1.0f},  {x0, 1.0f},  {x0, -1.0f}};
        for (const auto& c : corners) {
            krvVertex3f(c[0], c[1], 0.0f);
            krvColor3f(1.0f, 0.0f, 0.0f);
            krvCount();
        }
    }
    for (const Case& c : cases) {
        krvClear(KrvClear_Both);
        krvDrawModel(c.kind, c.first, c.count);
        // Pixels away from the shared edge: columns 1 and 6 of row 1.
        const uint8* left = r.colorBuffer + (1 * r.colorWidth + 1) * 3;
        const uint8* right = r.colorBuffer + (1 * r.colorWidth + 6) * 3;
        EXPECT_EQ(left[2], c.left ? 255 : 0) << c.kind << " " << c.first << " " << c.count;
        EXPECT_EQ(right[2], c.right ? 255 : 0) << c.kind << " " << c.first << " " << c.count;
        EXPECT_EQ(left[0] + left[1] + right[0] + right[1], 0);
    }
}

TEST_F(ApiGeometry, SettersAcceptOnlyTheirCodes)
{
    r.SetCullFace(17);
    krvCullFace(15);
    EXPECT_EQ(r.cullFace, 17);
    krvCullFace(0);
    EXPECT_EQ(r.cullFace, 0);

    r.AlphaFlag = false;
    krvSetAlpha(111, true);
    EXPECT_FALSE(r.AlphaFlag);
    krvSetAlpha(KrvAlpha_Invert, true);
    EXPECT_TRUE(r.AlphaFlag);
    krvSetAlpha(0.25f);
    EXPECT_EQ(r.AlphaValue, 0.25f);

    // Both spellings set the blended value.
    for (void (*set)(float) : {krvSetTransparency, krvSetTransparecy}) {
        krvSwitch(KrvSwitch_Transparency, false);
        set(0.5f);
        EXPECT_TRUE(r.TransparencySet);
        EXPECT_EQ(r.Transparency, 0.5f);
        krvSwitch(KrvSwitch_Transparency, true);  // back to screen-door transparency
        EXPECT_TRUE(r.transparency);
        EXPECT_FALSE(r.TransparencySet);
    }
}

// ---------------------------------------------------------------------------------------------
// State.

// Each named switch turns its own field on and off and leaves the others; codes outside the
// set change nothing.
TEST_F(ApiState, EachSwitchCodeSetsItsOwnField)
{
    using R = _3D_Korvane_Rendering;
    const struct {
        int code;
        bool R::*field;
    } switches[] = {
        {KrvSwitch_Interlace, &R::interlace},
        {KrvSwitch_Texturing, &R::texturing},
        {KrvSwitch_Lighting, &R::lighting},
        {KrvSwitch_Material, &R::material},
        {KrvSwitch_ShadowMapping, &R::shadowMapping},
        {KrvSwitch_DepthTest, &R::depthTest},
        {KrvSwitch_CullFace, &R::cullEnabled},
        {KrvSwitch_Fog, &R::fog},
        {KrvSwitch_BilinearFilter, &R::bilinearFilter},
        {KrvSwitch_Dot3, &R::dot3},
        {KrvSwitch_MultiTexture, &R::multiTexture},
        {KrvSwitch_BumpMapping, &R::bumpMapping},
        {KrvSwitch_Transparency, &R::transparency},
        {KrvSwitch_AlphaBlend, &R::alphaBlend},
        {KrvSwitch_DepthColorCompare, &R::depthColorCompare},
    };
    for (const auto& s : switches) r.*s.field = false;
    for (int code : {0, 16, -1}) krvSwitch(code, true);
    for (const auto& s : switches) EXPECT_FALSE(r.*s.field);
    for (const auto& on : switches) {
        krvSwitch(on.code, true);
        for (const auto& s : switches) EXPECT_EQ(r.*s.field, &s == &on) << "code " << on.code;
        krvSwitch(on.code, false);
        EXPECT_FALSE(r.*on.field) << "code " << on.code;
    }
}

TEST_F(ApiState, AntiAliasingResizesOnlyOnAChange)
{
    UseTarget(8, 6);
    r.antiAliasing = KrvAA_2x2;
    r.sizeWidth = 4;
    r.sizeHeight = 2;
    krvSetAntiAliasing(KrvAA_2x2);
    EXPECT_EQ(r.width, 8);
    krvSetAntiAliasing(3);
    EXPECT_EQ(krvGetAntiAliasing(), KrvAA_2x2);
    EXPECT_EQ(r.width, 8);
    krvSetAntiAliasing(KrvAA_3x3);
    EXPECT_EQ(krvGetAntiAliasing(), KrvAA_3x3);
    EXPECT_EQ(r.width, 4);
    EXPECT_EQ(r.aaWidth, 12);
    EXPECT_EQ(r.aaHeight, 6);
}

TEST_F(ApiState, ClearCodes)
{
    struct Case {
        int what;
        bool colour, depth;
    };
    const Case cases[] = {
        {1000, true, false}, {1001, false, true}, {2001, true, true}, {2000, false, false}};
    UseTarget(4, 2);
    for (const Case& c : cases) {
        std::memset(r.colorBuffer, 0x55, static_cast<size_t>(r.colorWidth) * 2 * 3);
        for (int i = 0; i < 8; ++i) r.depthBuffer[i] = 0x1234;
        krvClear(c.what);
        EXPECT_EQ(r.colorBuffer[r.colorWidth * 2 * 3 - 1], c.colour ? 0 : 0x55) << c.what;
        EXPECT_EQ(r.depthBuffer[7], c.depth ? 0xFFFF : 0x1234) << c.what;
    }
}

// Each setting in turn and what the getter answers after it: counts <= 0 and lanes 0 mean the
// machine's own, lanes outside 0, 1, 4, 8, 16 leave the setting alone, and lanes never exceed what
// the processor has.
TEST_F(ApiState, ThreadsAndSimdWidth)
{
    const int threads = krvGetThreads(), lanes = krvGetSimdWidth();
    const int hardware = krvi::ThreadPool::HardwareThreads(), widest = krvi::SimdLanesAvailable();
    struct Case {
        void (*set)(int);
        int (*get)();
        int value, expect;
    };
    const Case cases[] = {
        {krvSetThreads, krvGetThreads, 1, 1},
        {krvSetThreads, krvGetThreads, 3, 3},
        {krvSetThreads, krvGetThreads, 0, hardware},
        {krvSetThreads, krvGetThreads, 2, 2},
        {krvSetThreads, krvGetThreads, -4, hardware},
        {krvSetSimdWidth, krvGetSimdWidth, 1, 1},
        {krvSetSimdWidth, krvGetSimdWidth, 0, widest},
        {krvSetSimdWidth, krvGetSimdWidth, 2, widest},
        {krvSetSimdWidth, krvGetSimdWidth, 32, widest},
        {krvSetSimdWidth, krvGetSimdWidth, -1, widest},
        {krvSetSimdWidth, krvGetSimdWidth, 1, 1},
        {krvSetSimdWidth, krvGetSimdWidth, 4, std::min(4, widest)},
        {krvSetSimdWidth, krvGetSimdWidth, 8, std::min(8, widest)},
        {krvSetSimdWidth, krvGetSimdWidth, 16, std::min(16, widest)},
        {krvSetSimdWidth, krvGetSimdWidth, 12, std::min(16, widest)},
    };
    for (const Case& c : cases) {
        c.set(c.value);
        EXPECT_EQ(c.get(), c.expect) << (c.set == krvSetThreads ? "threads " : "lanes ") << c.value;
    }
    krvSetThreads(threads);
    krvSetSimdWidth(lanes);
}

TEST_F(ApiState, ViewportIsScaledToTheInternalImage)
{
    struct Case {
        int mode;
        int x, w, h;  // of krvViewport(-384, -384, 800, 600)
    };
    const Case cases[] = {{128, -384, 800, 600}, {129, -384, 800, 600}, {130, -256, 533, 400},
                          {131, -192, 400, 300}, {132, -139, 290, 218}, {200, -384, 800, 600}};
    for (const Case& c : cases) {
        krvSetRenderingMode(c.mode);
        krvViewport(-384, -384, 800, 600);
        ExpectViewport(r, c.x, c.x, c.w, c.h);
    }
}

TEST_F(ApiState, ProjectionCallsResetTheViewportToTheWholeView)
{
    // Before a window exists the view is the internal image scaled back up.
    UseTarget(400, 300);
    krvSetRenderingMode(KrvRenderMode_Boost);
    EXPECT_EQ(krvViewWidth(), 800);
    EXPECT_EQ(krvViewHeight(), 600);
    r.Viewport(1, 1, 1, 1);
    krvOrtho(-1.0f, 1.0f, -2.0f, 2.0f, 0.5f, 10.0f);
    ExpectViewport(r, 0, 0, 400, 300);
    ExpectMatEq(krvGetProjectionMatrix(), ortho(-1.0f, 1.0f, -2.0f, 2.0f, 0.5f, 10.0f));
    ExpectMatEq(krvGetViewProjectionMatrix(), krvGetProjectionMatrix() * krvGetViewMatrix());

    // With a window, its client size as the last resize stored it.
    _3D_KRV_Wnd.width = 800;
    _3D_KRV_Wnd.height = 600;
    krvSetRenderingMode(KrvRenderMode_Speed);
    krvPerspective(45.0f, 2.0f, 1.0f, 50.0f);
    ExpectViewport(r, 0, 0, 533, 400);
    ExpectMatEq(krvGetProjectionMatrix(), perspective(45.0f, 2.0f, 1.0f, 50.0f));
}

TEST_F(ApiState, View2DAndView3D)
{
    krvSetView2D(600, 800, -1.0f, 1.0f);
    ExpectMatEq(krvGetOrthoMatrix(), ortho(-2.0f, 2.0f, -1.0f, 1.0f, -1.0f, 1.0f));
    krvSetView2D(INT_MAX, 0, -1.0f, 1.0f);  // no quotient: ignored
    ExpectMatEq(krvGetOrthoMatrix(), ortho(-2.0f, 2.0f, -1.0f, 1.0f, -1.0f, 1.0f));
    krvSetView3D(60.0f, 0.5f, 20.0f);
    EXPECT_EQ(r.FieldOfView, 60.0f);
    EXPECT_EQ(r.NearPlane, 0.5f);
    EXPECT_EQ(r.FarPlane, 20.0f);
}

TEST_F(ApiState, GetViewPortFindsTheEye)
{
    vec3 eye(1.0f, 2.0f, 3.0f);
    krvLoadMatrix(look(eye, vec3(0.0f), vec3(0.0f, 1.0f, 0.0f)));
    vec3 out;
    krvGetViewPort(out);
    EXPECT_NEAR(out.x, 1.0f, 1e-5f);
    EXPECT_NEAR(out.y, 2.0f, 1e-5f);
    EXPECT_NEAR(out.z, 3.0f, 1e-5f);
}

TEST_F(ApiState, LightsFollowTheLightingSwitch)
{
    CLight l = krvSetLight(vec3(0.0f, 2.625f, 3.5f), vec3(0.5f), vec3(0.75f), vec3(0.95f), 7.0f,
                           8.0f, 9.0f);
    EXPECT_EQ(l.diffuse.y, 0.75f);
    EXPECT_EQ(l.shininess, 0.0f);
    EXPECT_EQ(l.constantAttenuation, 1.0f);
    EXPECT_EQ(l.linearAttenuation, 0.0f);
    EXPECT_EQ(l.quadraticAttenuation, 0.0f);

    krvTranslateLight3f(&l, 1.0f, 2.0f, 3.0f);
    krvTranslateLight3f(&l, 1.0f, 2.0f, 3.0f);
    EXPECT_EQ(l.position.z, 3.0f);
    krvRotateLight3f(&l, 90.0f, 0.0f, 0.0f, 1.0f);
    vec3 turned = rotate(vec3(1.0f, 2.0f, 3.0f), 90.0f, vec3(0.0f, 0.0f, 1.0f));
    EXPECT_EQ(l.position.x, turned.x);

    CLight other;
    r.lighting = false;
    r.light = &other;
    krvAddLight(&l);
    EXPECT_EQ(r.light, &other);
    r.lighting = true;
    krvAddLight(&l);
    EXPECT_EQ(r.light, &l);
    r.shadowMap = &r.ShadowTexture;
    krvResetLight();
    EXPECT_EQ(r.light, nullptr);
    EXPECT_EQ(r.shadowMap, nullptr);
}

TEST_F(ApiState, FogIsStoredOnlyWhileTheSwitchIsOn)
{
    r.fogMode = KrvFogMode_Linear;
    r.FogSet = false;
    r.fog = false;
    krvSetFog(KrvFogMode_Exp, vec3(0.25f, 0.5f, 0.0f), 1.0f, 2.0f, 3.0f, 4.0f);
    EXPECT_FALSE(r.FogSet);
    EXPECT_EQ(r.fogMode, KrvFogMode_Linear);

    r.fog = true;
    krvSetFog(40, vec3(0.25f, 0.5f, 0.0f), 1.0f, 2.0f, 3.0f, 4.0f);
    EXPECT_TRUE(r.FogSet);
    EXPECT_EQ(r.fogMode, KrvFogMode_Linear);
    const float expected[7] = {0.25f, 0.5f, 0.0f, 3.0f, 4.0f, 1.0f, 2.0f};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(r.FogParameters[i], expected[i]) << i;
    krvSetFog(KrvFogMode_Exp2, vec3(0.0f), 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(r.fogMode, KrvFogMode_Exp2);
}

// ---------------------------------------------------------------------------------------------
// Textures.

TEST_F(ApiTexture, BindsFollowTheirSwitches)
{
    CTexture a, b;
    r.bindBaseTexture = true;
    r.bumpMapping = true;
    r.multiTexture = false;
    r.texture0 = r.texture1 = r.bumpTexture = nullptr;
    krvBindTexture(&a);
    EXPECT_EQ(r.texture0, &a);
    EXPECT_EQ(r.bumpTexture, &a);
    krvBindMultiTexture(3, &b);
    krvBindMultiTexture(1, &b);
    EXPECT_EQ(r.texture1, nullptr);
    EXPECT_EQ(r.texture0, &a);
    r.multiTexture = true;
    krvBindMultiTexture(1, &b);
    krvBindMultiTexture(2, &a);
    EXPECT_EQ(r.texture1, &b);
    EXPECT_EQ(r.texture2, &a);
    krvSetBumpMapTexture(2.5f);
    EXPECT_EQ(r.BumpMapFactor, 2.5f);
}

namespace {

int g_draws = 0;
CFrameBuffer* g_boundDuringDraw = nullptr;
int g_viewportDuringDraw = 0;

void ClearWhileBound()
{
    g_draws += 1;
    g_boundDuringDraw = krvRendering().frameBuffer;
    g_viewportDuringDraw = krvRendering().viewportWidth;
    krvClear(KrvClear_Color);
}

}  // namespace

TEST_F(ApiTexture, TextureCameraDrawsIntoTheTextureAndRestoresTheWindowTarget)
{
    UseTarget(8, 6);
    CTexture camera = krvGenTextureCamera(2, 2);
    ASSERT_NE(camera.Bits, nullptr);
    EXPECT_EQ(camera.Format, KrvFormat_BGR);
    std::memset(camera.Bits, 0x77, 12);
    r.colorBuffer[0] = 0x66;

    CTexture* textures[] = {&camera, nullptr};  // the second is rejected
    for (CTexture* t : textures) {
        g_draws = 0;
        krvBindTextureCamera(2, 2, t, ClearWhileBound);
        EXPECT_EQ(g_draws, 1);
        EXPECT_EQ(g_boundDuringDraw, &r.ShadowFrameBuffer);
        EXPECT_EQ(g_viewportDuringDraw, 2);
        ExpectViewport(r, 0, 0, 8, 6);
        EXPECT_EQ(r.frameBuffer, nullptr);
        EXPECT_EQ(r.ShadowFrameBuffer.ColorTexture, nullptr);
    }
    EXPECT_EQ(camera.Bits[11], 0);
    EXPECT_EQ(r.colorBuffer[0], 0x66);
    camera.Destroy();
}

TEST_F(ApiTexture, ShadowProjectionSetsUpBindsAndDetaches)
{
    krvGenTextureShadowProjection(4, 4);
    ExpectMatEq(r.LightProjection, perspective(45.0f, 1.0f, 2.85f, 8.5f));
    EXPECT_EQ(r.ShadowTexture.Format, KrvFormat_Depth16);
    EXPECT_EQ(r.ShadowFrameBuffer.DepthTexture, &r.ShadowTexture);

    r.LightViewProjection = mat4x4(2.0f);
    r.shadowMapMatrix = mat4x4(1.0f);
    r.shadowMap = nullptr;
    r.shadowMapping = false;
    krvBindTextureShadowProjection();
    ExpectMatEq(r.shadowMapMatrix, mat4x4(1.0f));
    EXPECT_EQ(r.shadowMap, nullptr);
    r.shadowMapping = true;
    krvBindTextureShadowProjection();
    ExpectMatEq(r.shadowMapMatrix, BiasMatrix * mat4x4(2.0f));
    EXPECT_EQ(r.shadowMap, &r.ShadowTexture);

    krvGenTextureShadowProjection(0, 0);
    EXPECT_EQ(r.ShadowTexture.Bits, nullptr);
    EXPECT_EQ(r.ShadowFrameBuffer.DepthTexture, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Messages and text.

class ApiText : public RenderingFixture {
protected:
    void SetUp() override
    {
        RenderingFixture::SetUp();
        title_ = _3D_KRV_Title_Text;
        caption_ = _3D_KRV_Title_Error;
        report_ = _3D_KRV_Report_Error;
        _3D_KRV_Title_Text.Empty();
        _3D_KRV_Report_Error.Empty();
    }
    void TearDown() override
    {
        _3D_KRV_Title_Text = title_;
        _3D_KRV_Title_Error = caption_;
        _3D_KRV_Report_Error = report_;
        RenderingFixture::TearDown();
    }
    CString title_, caption_, report_;
};

TEST_F(ApiText, StrInfoTable)
{
    const char* expected[] = {"",  "Dorar 3dkrv",        "3D Korvane GDI", "1",
                              "0", "Software rendering", "None",           ""};
    for (int which = 0; which <= 7; ++which)
        EXPECT_STREQ(krvGetStrInfo(which).c_str(), expected[which]) << which;
}

TEST_F(ApiText, ErrorReportKeepsEveryLineAndTheLastCaption)
{
    krvSetMsgError("First", "100% sure\r\n");
    krvSetMsgError("Second", "file %s missing\r\n", "a.obj");
    EXPECT_STREQ(_3D_KRV_Title_Error.c_str(), "Second");
    EXPECT_STREQ(_3D_KRV_Report_Error.c_str(), "100% sure\r\nfile a.obj missing\r\n");
}

TEST_F(ApiText, TitleLine)
{
    krvSetText("50% - ");
    krvAddToText("%d");
    krvAddToText(" %dx%d", 800, 600);
    krvAddToText(" %d/%d/%d", 1, 2, 3);
    krvAddToText(" %d", -4);
    EXPECT_STREQ(krvGetText().c_str(), "50% - %d 800x600 1/2/3 -4");
}

TEST_F(ApiText, DrawTextUsesTheLowBytesOfTheColour)
{
    krvDrawText(0, 0, 300, 0, 0, "H");  // no device context yet: nothing

    HDC hdc = krvplat::CreateImageDC(16, 8);
    ASSERT_NE(hdc, nullptr);
    _3D_KRV_Wnd.hdc = hdc;
    krvDrawText(0, 0, 300, 0x1FF, 0x100, "H");
    int w = 0, h = 0;
    const unsigned char* pixels = nullptr;
    ASSERT_TRUE(krvplat::GetImage(hdc, w, h, pixels));
    int inked = 0;
    for (int i = 0; i < w * h; ++i) {
        const unsigned char* p = pixels + 3 * i;
        if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
        inked += 1;
        EXPECT_EQ(p[0], 0);     // blue 0x100 & 0xFF
        EXPECT_EQ(p[1], 0xFF);  // green 0x1FF & 0xFF
        EXPECT_EQ(p[2], 44);    // red 300 & 0xFF
    }
    EXPECT_GT(inked, 0);
    krvplat::DestroyImageDC(hdc);
}

// Every line the report keeps reaches stderr while the echo is on (the suite turns it off), the
// flood past the kept lines as one notice; the program can read and clear the report.
TEST_F(ApiText, ReportEchoesItsLinesToStderrUntilTurnedOff)
{
    ASSERT_FALSE(krvGetErrorEcho());
    krvSetErrorEcho(true);
    ::testing::internal::CaptureStderr();
    krvReportError("first failure\r\n");
    krvSetMsgError("Caption", "second %s\r\n", "failure");
    for (int i = 0; i < kReportKeptLines + 5; ++i) krvReportError("flood\r\n");
    krvSetErrorEcho(false);
    krvReportError("silent\r\n");
    const std::string echoed = ::testing::internal::GetCapturedStderr();
    std::string expected = "first failure\nsecond failure\n";
    for (int i = 2; i < kReportKeptLines; ++i) expected += "flood\n";
    expected += "... further errors are only counted in the error report\n";
    EXPECT_EQ(echoed, expected);

    EXPECT_EQ(std::strncmp(krvGetErrorReport(), "first failure\r\nsecond failure\r\n", 31), 0);
    krvClearErrorReport();
    EXPECT_STREQ(krvGetErrorReport(), "");
    krvReportError("again\r\n");
    EXPECT_STREQ(krvGetErrorReport(), "again\r\n");
}

// ---------------------------------------------------------------------------------------------
// Without a window.

class ApiOffscreen : public ApiText {
protected:
    void TearDown() override
    {
        krvDestroyOffscreen();
        ApiText::TearDown();
    }

    // A triangle of three colours through the krv calls, on whatever target is set up.
    static void DrawTriangle()
    {
        krvSetVertex(3);
        krvRendering().BufferCursor = 0;
        krvColor3f(1, 0, 0);
        krvVertex3f(-1, -1, 0);
        krvCount();
        krvColor3f(0, 1, 0);
        krvVertex3f(1, -1, 0);
        krvCount();
        krvColor3f(0, 0, 1);
        krvVertex3f(0, 1, 0);
        krvCount();
        krvClear(KrvClear_Both);
        krvLoadMatrix(perspective(45, 4.0f / 3, 0.1f, 100) * translate(0, 0, -3));
        krvDrawModel(KrvModel_Triangles, 0, 1);
    }
};

// The offscreen calls give the bytes of the buffers sized and resolved by hand, top row first
// and in red, green, blue order, in every anti-aliasing mode and at a width with row padding.
TEST_F(ApiOffscreen, PixelsAreTheFramesOfTheContextsBuffers)
{
    const int w = 37, h = 23;
    for (int aa : {KrvAA_Off, KrvAA_2x2, KrvAA_3x3, KrvAA_4x4}) {
        r.antiAliasing = aa;
        r.renderMode = KrvRenderMode_Speed;
        ASSERT_TRUE(krvCreateOffscreen(w, h));
        EXPECT_EQ(krvGetImageWidth(), w);
        EXPECT_EQ(krvGetImageHeight(), h);
        EXPECT_EQ(krvViewWidth(), w);  // NORMAL: the view is the image
        DrawTriangle();
        std::vector<unsigned char> rgb(size_t(w) * h * 3);
        ASSERT_TRUE(krvReadPixels(rgb.data(), rgb.size()));

        r.ResizeBuffers(w, h);
        r.Viewport(0, 0, w, h);
        DrawTriangle();
        r.SetAntiAliasingFilter(r.antiAliasing);
        int differing = 0, colored = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const uint8 byHand =
                        r.colorBuffer[(size_t(h - 1 - y) * r.colorWidth + x) * 3 + 2 - c];
                    differing += rgb[(size_t(y) * w + x) * 3 + c] != byHand;
                    colored += byHand != 0;
                }
        EXPECT_EQ(differing, 0) << "anti-aliasing " << aa;
        EXPECT_GT(colored, w * h / 4);
        krvDestroyOffscreen();
        EXPECT_EQ(krvGetImageWidth(), 0);
    }
    EXPECT_STREQ(krvGetErrorReport(), "");
}

// Each refusal leaves a line naming the call and writes nothing.
TEST_F(ApiOffscreen, RefusalsReportALine)
{
    const struct {
        bool (*call)();
        const char* line;
    } cases[] = {
        {[] { return krvReadPixels(nullptr, 0); },
         "krvReadPixels: there is no picture (no window or offscreen image)\r\n"},
        {[] { return krvResizeOffscreen(8, 8); },
         "krvResizeOffscreen: there is no offscreen image (krvCreateOffscreen makes one)\r\n"},
        {[] { return krvCreateOffscreen(0, 8); },
         "krvCreateOffscreen: 0 x 8 is no image size (1 to 16384 pixels a side)\r\n"},
        {[] { return krvCreateOffscreen(8, 16385); },
         "krvCreateOffscreen: 8 x 16385 is no image size (1 to 16384 pixels a side)\r\n"},
        {[] { return krvCreateOffscreen(2, 2) && krvReadPixels(nullptr, 12); },
         "krvReadPixels: the 2 x 2 picture needs 12 bytes, the buffer holds 0\r\n"},
        {[] {
             unsigned char p[11];
             return krvCreateOffscreen(2, 2) && krvReadPixels(p, 11);
         },
         "krvReadPixels: the 2 x 2 picture needs 12 bytes, the buffer holds 11\r\n"},
        {[] { return krvCreateOffscreen(2, 2) && krvResizeOffscreen(-1, 2); },
         "krvResizeOffscreen: -1 x 2 is no image size (1 to 16384 pixels a side)\r\n"},
        {[] { return krvCreateOffscreen(2, 2) && krvSavePixelsPNG(""); },
         "krvSavePixelsPNG: no file name\r\n"},
        {[] { return krvCreateOffscreen(2, 2) && krvSavePixelsPNG("/nonexistent/x.png"); },
         "krvSavePixelsPNG: could not write /nonexistent/x.png: No such file or directory\r\n"},
    };
    for (const auto& c : cases) {
        krvClearErrorReport();
        EXPECT_FALSE(c.call()) << c.line;
        EXPECT_STREQ(krvGetErrorReport(), c.line);
        krvDestroyOffscreen();
    }

    static int window;  // only the handle's presence is looked at
    _3D_KRV_Wnd.hwnd = reinterpret_cast<HWND>(&window);
    krvClearErrorReport();
    EXPECT_FALSE(krvCreateOffscreen(8, 8));
    EXPECT_STREQ(krvGetErrorReport(),
                 "krvCreateOffscreen: a window is open; the picture is the window's\r\n");
}
