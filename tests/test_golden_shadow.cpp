// A lit, textured, shadowed scene through the rendering context's shadow pass, pinned by its
// bytes: a sphere over a checkered floor, its shadow from the one light falling on the floor.
// Every fast path of the span loop that the demonstration takes (depth-only, textured and lit
// with a shadow map, lit and shadowed without a texture, both samplers) is covered here.
#include "rendering_fixture.h"
#include "tests/execution.h"
#include "tests/golden.h"

#include <tuple>
#include <vector>

namespace {

const int kWidth = 96, kHeight = 72;

// The shadow pass's callback takes no argument: the caster is reached through this.
CObject* g_caster = nullptr;

// The sphere is wound counter-clockwise seen from outside: with the front faces culled the
// map holds its far side, so its lit side does not shadow itself.
void DrawCaster()
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.SetCullFace(KrvCullMode_Front);
    r.DrawTriangles(g_caster->Vertex, 0, g_caster->NumVertex);
    r.SetCullFace(KrvCullMode_Back);
}

// 16 x 16 texels, cells of 4: cream and slate blue.
void FillChecker(CTexture& t)
{
    t.Create(16, 16, KrvFormat_BGR);
    ASSERT_NE(t.Bits, nullptr);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            uint8* p = t.Bits + y * t.Pitch + x * 3;
            const bool light = ((x / 4) + (y / 4)) % 2 == 0;
            p[0] = light ? 200 : 150;  // blue
            p[1] = light ? 220 : 110;  // green
            p[2] = light ? 230 : 90;   // red
        }
    }
}

// The floor: 4 x 4 at y = -0.5, counter-clockwise seen from above, the texture three times
// across.
std::vector<CVertex> Floor()
{
    const float corners[6][4] = {{-2, 2, 0, 0}, {2, 2, 3, 0},   {2, -2, 3, 3},
                                 {2, -2, 3, 3}, {-2, -2, 0, 3}, {-2, 2, 0, 0}};
    std::vector<CVertex> v;
    for (const auto& c : corners)
        v.push_back(CVertex{c[0], -0.5f, c[1], 1, 1, 1, c[2], c[3], 0, 1, 0, {}});
    return v;
}

struct ShadowCase {
    const char* golden;
    int antiAliasing;
    bool bilinear;
};

// The scene, rendered by the tests below.
class ShadowScene : public RenderingFixture {
protected:
    CObject sphere;
    CTexture checker;
    std::vector<CVertex> ground = Floor();
    CLight light = krvSetLight(vec3(-2.4f, 3.4f, -1.2f), vec3(0.4f, 0.4f, 0.4f),
                               vec3(1.4f, 1.4f, 1.4f), vec3(0.9f, 0.9f, 0.9f), 0, 0, 0);

    void SetUp() override
    {
        RenderingFixture::SetUp();
        // What a draw leaves behind in the core, beyond what the fixture keeps: the per-draw
        // flags, the last depth and the address of the vertex array, which dies with the test.
        Keep(r.useColor);
        Keep(r.useDepthWrite);
        Keep(r.ignoreDepth);
        Keep(r.useTexture);
        Keep(r.useLight);
        Keep(r.useShadowMap);
        Keep(r.useTexture1);
        Keep(r.useTexture2);
        Keep(r.useBump);
        Keep(r.vertices);
        Keep(r.firstVertex);
        Keep(r.endVertex);
        Keep(r.drawFeatures);
        Keep(r.lastDepth);

        sphere.Sphere(0.0f, 0.25f, 0.0f, 0.6f, 16, 24, 1.0f, 1.0f);
        for (int i = 0; i < sphere.NumVertex; ++i) {
            sphere.Vertex[i].r = 0.95f;
            sphere.Vertex[i].g = 0.55f;
            sphere.Vertex[i].b = 0.35f;
        }
        FillChecker(checker);
        g_caster = &sphere;

        r.lighting = true;
        r.texturing = true;
        r.shadowMapping = true;
        r.ShadowPass = true;
        r.material = false;
        r.fog = false;
        r.multiTexture = false;
        r.bumpMapping = false;
        r.transparency = false;
        r.alphaBlend = false;
        r.interlace = false;
        r.bindBaseTexture = true;
        r.depthTest = true;
        r.cullEnabled = true;
        r.texture1 = r.texture2 = r.bumpTexture = nullptr;
    }

    void TearDown() override
    {
        g_caster = nullptr;
        sphere.Destroy();
        checker.Destroy();
        RenderingFixture::TearDown();
    }

    // The shadow pass, then the scene with or without the shadow map; the output buffer
    // resolved.
    void Render(const ShadowCase& c, bool withShadow)
    {
        r.BindFrameBuffer(nullptr);
        r.antiAliasing = c.antiAliasing;
        r.ResizeBuffers(kWidth, kHeight);
        r.Viewport(0, 0, kWidth, kHeight);
        r.bilinearFilter = c.bilinear;

        krvGenTextureShadowProjection(256, 256);
        r.light = nullptr;
        r.shadowMap = nullptr;
        r.RenderShadowMap(light, DrawCaster);
        if (withShadow) {
            r.LoadTexShadowMatrix();
            r.BindTexShadow();
        }

        r.Clear(true, true);
        r.LoadModelViewProjectionMatrix(
            perspective(45.0f, float(kWidth) / float(kHeight), 0.5f, 20.0f) *
            look(vec3(0.3f, 2.4f, 3.6f), vec3(0.0f, -0.2f, 0.0f), vec3(0.0f, 1.0f, 0.0f)));
        r.light = &light;
        r.BindTexture(&checker);
        r.DrawTriangles(ground.data(), 0, int(ground.size()));
        r.BindTexture(nullptr);
        r.DrawTriangles(sphere.Vertex, 0, sphere.NumVertex);
        if (c.antiAliasing != KrvAA_Off) r.SetAntiAliasingFilter(c.antiAliasing);
    }

    std::vector<uint8> Output() const
    {
        std::vector<uint8> out;
        for (int y = 0; y < kHeight; ++y) {
            const uint8* row = r.colorBuffer + size_t(y) * r.colorWidth * 3;
            out.insert(out.end(), row, row + kWidth * 3);
        }
        return out;
    }
};

// Every case on every thread count and SIMD width.
class GoldenShadow : public ShadowScene,
                     public ::testing::WithParamInterface<std::tuple<ShadowCase, Execution>> {
protected:
    ScopedExecution execution{std::get<1>(GetParam())};
};

TEST_P(GoldenShadow, SphereShadowOnTexturedFloor)
{
    const ShadowCase& c = std::get<0>(GetParam());
    Render(c, true);
    EXPECT_TRUE(MatchesGolden(c.golden, r.colorBuffer, kWidth, kHeight, r.colorWidth));
}

class ShadowFactor : public ShadowScene, public ::testing::WithParamInterface<ShadowCase> {};

// The shadow factor only ever scales the diffuse and specular terms down: against the same
// frame without the shadow map no byte is brighter, and the darkened pixels lie on the floor
// beyond the sphere, away from the light (to the right of the sphere, which the camera sees
// near the middle of the frame).
TEST_P(ShadowFactor, ShadowOnlyDarkensTheFloorAwayFromTheLight)
{
    const ShadowCase& c = GetParam();
    Render(c, false);
    const std::vector<uint8> unshadowed = Output();
    Render(c, true);
    const std::vector<uint8> shadowed = Output();

    int darker = 0, brighter = 0;
    long sumX = 0;
    for (size_t i = 0; i < shadowed.size(); i += 3) {
        bool dark = false;
        for (size_t k = 0; k < 3; ++k) {
            brighter += shadowed[i + k] > unshadowed[i + k] ? 1 : 0;
            dark = dark || shadowed[i + k] < unshadowed[i + k];
        }
        if (dark) {
            ++darker;
            sumX += long(i / 3) % kWidth;
        }
    }
    EXPECT_EQ(brighter, 0);
    ASSERT_GT(darker, 150);
    EXPECT_GT(sumX / darker, kWidth / 2);
}

const ShadowCase kShadowCases[] = {{"shadow_aa4_bilinear", KrvAA_2x2, true},
                                   {"shadow_bilinear", KrvAA_Off, true},
                                   {"shadow_nearest", KrvAA_Off, false}};

INSTANTIATE_TEST_SUITE_P(
    Scenes, GoldenShadow,
    ::testing::Combine(::testing::ValuesIn(kShadowCases), ::testing::ValuesIn(Executions())),
    [](const ::testing::TestParamInfo<std::tuple<ShadowCase, Execution>>& named) {
        return std::string(std::get<0>(named.param).golden) + "_" +
               ExecutionName(std::get<1>(named.param));
    });

INSTANTIATE_TEST_SUITE_P(Scenes, ShadowFactor, ::testing::ValuesIn(kShadowCases),
                         [](const ::testing::TestParamInfo<ShadowCase>& named) {
                             return std::string(named.param.golden);
                         });

}  // namespace
