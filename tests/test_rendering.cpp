// The rendering context: resize, release, the shadow pass, camera moves and the vertex
// buffer's range operations.
#include "rendering_fixture.h"
#include "tests/test_util.h"

namespace {

// Vertex i of an n-vertex buffer at (i, 10 i, 100 i) with texture coordinate (i, -i).
void FillBuffer(_3D_Korvane_Rendering& r, int n)
{
    r.SetNumVertex(n);
    for (int i = 0; i < n; ++i) {
        float f = static_cast<float>(i);
        r.Buffer[i].x = f;
        r.Buffer[i].y = 10.0f * f;
        r.Buffer[i].z = 100.0f * f;
        r.Buffer[i].u = f;
        r.Buffer[i].v = -f;
    }
}

}  // namespace

using RenderingContext = RenderingFixture;

TEST_F(RenderingContext, ResizeSetsSizeViewportAndLens)
{
    r.Resize(800, 600);
    EXPECT_EQ(r.GetWidth(), 800);
    EXPECT_EQ(r.GetHeight(), 600);
    ExpectViewport(r, 0, 0, 800, 600);
    ExpectMatEq(r.Camera.ProjectionMatrix,
                perspective(r.FieldOfView, 800.0f / 600.0f, r.NearPlane, r.FarPlane));
    ExpectMatEq(r.Camera.ViewProjectionMatrix, r.Camera.ProjectionMatrix * r.Camera.ViewMatrix);

    // A minimised window has no aspect: the lens stays as it was.
    mat4x4 before = r.Camera.ProjectionMatrix;
    r.Resize(0, 0);
    ExpectMatEq(r.Camera.ProjectionMatrix, before);
}

TEST_F(RenderingContext, DestroyReleasesOwnStorageOnceAndLeavesLentArrays)
{
    r.SetNumVertex(6);
    r.Object.ObjectBegin(3);
    r.Object.ObjectEnd();
    krvGenTextureShadowProjection(4, 4);
    krvBindTextureShadowProjection();

    r.Destroy();
    EXPECT_EQ(r.Buffer, nullptr);
    EXPECT_EQ(r.BufferSize, 0);
    EXPECT_EQ(r.Object.Vertex, nullptr);
    EXPECT_EQ(r.ShadowTexture.Bits, nullptr);
    EXPECT_EQ(r.ShadowFrameBuffer.DepthTexture, nullptr);
    EXPECT_EQ(r.shadowMap, nullptr);
    r.Destroy();  // the sanitizer build catches a second release

    // The caller's object owns what krvSetObject lent: it stays usable after Destroy.
    CObject mine;
    mine.Triangle3f(vec3(0.0f), vec3(1.0f), vec3(2.0f), vec3(0.0f), vec3(0.0f), vec3(0.0f),
                    vec3(0.0f), vec3(0.0f), vec3(0.0f), vec2(), vec2(), vec2());
    mine.Texture.Create(2, 2, KrvFormat_BGR);
    krvSetObject(mine);
    r.Destroy();
    EXPECT_EQ(r.Object.Vertex, nullptr);
    EXPECT_EQ(r.Object.Texture.Bits, nullptr);
    mine.Vertex[0].x = 1.0f;
    mine.Texture.Bits[0] = 1;
    mine.Destroy();
}

// ---------------------------------------------------------------------------------------------
// The shadow pass.

namespace {

struct PassRecord {
    int calls = 0;
    CFrameBuffer* frameBuffer = nullptr;
    int viewport[4] = {};
    unsigned short depth = 0;
    mat4x4 mvp;
};
PassRecord g_pass;

void RecordPass()
{
    _3D_Korvane_Rendering& r = krvRendering();
    g_pass.calls += 1;
    g_pass.frameBuffer = r.frameBuffer;
    g_pass.viewport[0] = r.viewportX;
    g_pass.viewport[1] = r.viewportY;
    g_pass.viewport[2] = r.viewportWidth;
    g_pass.viewport[3] = r.viewportHeight;
    g_pass.depth = r.targetDepth ? r.targetDepth[15] : 0;
    g_pass.mvp = r.modelViewProjection;
    r.Viewport(1, 2, 3, 4);  // the pass restores the viewport whatever draw does
}

}  // namespace

TEST_F(RenderingContext, ShadowPassRendersFromTheLightIntoTheShadowTexture)
{
    UseTarget(8, 6);
    krvGenTextureShadowProjection(4, 4);
    CLight light =
        krvSetLight(vec3(1.0f, 2.0f, 3.0f), vec3(0.0f), vec3(0.0f), vec3(0.0f), 0.0f, 0.0f, 0.0f);
    g_pass = PassRecord();
    r.shadowMapping = true;
    r.ShadowPass = true;
    r.RenderShadowMap(light, RecordPass);

    ASSERT_EQ(g_pass.calls, 1);
    EXPECT_EQ(g_pass.frameBuffer, &r.ShadowFrameBuffer);
    EXPECT_EQ(g_pass.viewport[2], 4);
    EXPECT_EQ(g_pass.viewport[3], 4);
    EXPECT_EQ(g_pass.depth, 0xFFFF);
    mat4x4 view = look(vec3(1.0f, 2.0f, 3.0f), vec3(0.0f), vec3(0.0f, 1.0f, 0.0f));
    ExpectMatEq(r.LightView, view);
    ExpectMatEq(r.LightViewProjection, r.LightProjection * view);
    ExpectMatEq(g_pass.mvp, r.LightViewProjection);
    ExpectMatEq(r.modelViewProjection, r.LightViewProjection);
    ExpectViewport(r, 0, 0, 8, 6);
    EXPECT_EQ(r.frameBuffer, nullptr);

    r.LoadTexShadowMatrix();
    r.BindTexShadow();
    ExpectMatEq(r.shadowMapMatrix, BiasMatrix * r.LightViewProjection);
    EXPECT_EQ(r.shadowMap, &r.ShadowTexture);
}

TEST_F(RenderingContext, ShadowPassWithEitherSwitchOffDoesNothing)
{
    UseTarget(8, 6);
    krvGenTextureShadowProjection(4, 4);
    CLight light = krvSetLight(vec3(1.0f), vec3(0.0f), vec3(0.0f), vec3(0.0f), 0.0f, 0.0f, 0.0f);
    for (int off = 0; off < 2; ++off) {
        r.shadowMapping = off != 0;
        r.ShadowPass = off == 0;
        g_pass = PassRecord();
        r.LightView = mat4x4(2.0f);
        r.Viewport(1, 1, 2, 2);
        r.RenderShadowMap(light, RecordPass);
        EXPECT_EQ(g_pass.calls, 0);
        ExpectMatEq(r.LightView, mat4x4(2.0f));
        ExpectViewport(r, 1, 1, 2, 2);
        EXPECT_EQ(r.frameBuffer, nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Camera moves.

namespace {

struct MoveCase {
    char axis;  // 'X', 'Y' or 'Z': which MoveCamera
    float speed;
    int direction;
    vec3 delta;
};

}  // namespace

TEST_F(RenderingContext, CameraMovesTranslatePositionAndReference)
{
    const MoveCase cases[] = {
        {'Z', 1.0f, 1, vec3(0.0f, 0.0f, -5.0f)},
        {'Z', 1.0f, -3, vec3(0.0f, 0.0f, 5.0f)},
        {'Y', 1.0f, -1, vec3(0.0f, -5.0f, 0.0f)},
        {'X', 0.5f, 1, vec3(2.5f, 0.0f, 0.0f)},
        {'X', 1.0f, 0, vec3(0.0f)},
    };
    for (const MoveCase& c : cases) {
        r.Camera = CCamera();
        r.Camera.ViewMatrix = mat4x4(3.0f);  // a move always rebuilds the view
        if (c.axis == 'X') r.MoveCameraX(c.speed, c.direction);
        if (c.axis == 'Y') r.MoveCameraY(c.speed, c.direction);
        if (c.axis == 'Z') r.MoveCameraZ(c.speed, c.direction);
        EXPECT_EQ(r.Camera.Position.x, c.delta.x);
        EXPECT_EQ(r.Camera.Position.y, c.delta.y);
        EXPECT_EQ(r.Camera.Position.z, 5.0f + c.delta.z);
        EXPECT_EQ(r.Camera.Reference.z, c.delta.z);
        EXPECT_EQ(r.Camera.ViewMatrix[14], -r.Camera.Position.z);
    }
}

// ---------------------------------------------------------------------------------------------
// The vertex buffer.

TEST_F(RenderingContext, SetNumVertexReplacesTheBuffer)
{
    r.BufferCursor = 7;
    r.SetNumVertex(4);
    ASSERT_NE(r.Buffer, nullptr);
    EXPECT_EQ(r.BufferSize, 4);
    EXPECT_EQ(r.Buffer[3].extra[2], 0.0f);
    r.SetNumVertex(2);  // the leak checker sees a buffer that is not released
    EXPECT_EQ(r.BufferSize, 2);
    EXPECT_EQ(r.BufferCursor, 7);
    for (int n : {0, -3}) {
        r.SetNumVertex(n);
        EXPECT_EQ(r.Buffer, nullptr);
        EXPECT_EQ(r.BufferSize, 0);
    }
}

TEST_F(RenderingContext, RangeOperationsTouchOnlyTheSelectedVertices)
{
    FillBuffer(r, 14);
    r.SetModelVertex(6, 12);
    r.Translate3f(1.0f, 0.0f, 0.0f);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(r.Buffer[i].x, static_cast<float>(i) + (i >= 6 && i < 12 ? 1.0f : 0.0f)) << i;
    EXPECT_EQ(r.ModelBegin, 6);
    EXPECT_EQ(r.ModelEnd, 12);

    r.SetGlobalColor3f(0, 3, 1.0f, 0.0f, 0.0f);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(r.Buffer[i].r, i < 3 ? 1.0f : 0.0f) << i;

    // Ranges reaching outside the buffer act on the part inside; inverted ones on nothing.
    r.SetGlobalColor3f(-5, 100, 0.0f, 0.5f, 0.0f);
    EXPECT_EQ(r.Buffer[0].g, 0.5f);
    EXPECT_EQ(r.Buffer[13].g, 0.5f);
    r.SetModelVertex(10, 1000);
    r.Scale3f(2.0f, 2.0f, 2.0f);
    EXPECT_EQ(r.Buffer[13].x, 26.0f);
    EXPECT_EQ(r.Buffer[9].x, 10.0f);
    r.SetModelVertex(-20, -2);
    r.TexTranslate2fv(vec2(1.0f, 1.0f));
    r.SetModelVertex(5, 2);
    r.Rotate3f(90.0f, 0.0f, 0.0f, 1.0f);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(r.Buffer[i].u, static_cast<float>(i));
    EXPECT_EQ(r.Buffer[4].y, 40.0f);
}

TEST_F(RenderingContext, RangeRotationTurnsPositionsAndNormals)
{
    FillBuffer(r, 3);
    r.Buffer[1].nx = 1.0f;
    r.SetModelVertex(1, 2);
    r.Rotate3fv(90.0f, vec3(0.0f, 0.0f, 1.0f));
    const mat3x3 m(rotate(90.0f, vec3(0.0f, 0.0f, 1.0f)));
    vec3 p = m * vec3(1.0f, 10.0f, 100.0f);
    vec3 n = m * vec3(1.0f, 0.0f, 0.0f);
    EXPECT_EQ(r.Buffer[1].x, p.x);
    EXPECT_EQ(r.Buffer[1].y, p.y);
    EXPECT_EQ(r.Buffer[1].nx, n.x);
    EXPECT_EQ(r.Buffer[1].ny, n.y);
    EXPECT_EQ(r.Buffer[2].x, 2.0f);
}
