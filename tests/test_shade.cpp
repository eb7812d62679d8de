// Pixel shading, one path at a time with exact bytes, and the specialised span routines swept
// against the reference body.
#include "core/core.h"
#include "core/draw_span.h"
#include "core/draw_span_simd.h"
#include "core/rasterize.h"
#include "core/shade.h"
#include "core/span.h"
#include "core/submit.h"
#include "tests/golden.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Textures whose texels live in the test. Colour texels are given red, green, blue.
struct TestTextures {
    std::vector<std::unique_ptr<std::vector<uint8>>> storage;

    CTexture Color(int w, int h, std::vector<uint8> rgb)
    {
        auto bytes = std::make_unique<std::vector<uint8>>(size_t(w) * h * 3);
        for (size_t i = 0; i + 2 < rgb.size() && i < bytes->size(); i += 3) {
            (*bytes)[i] = rgb[i + 2];
            (*bytes)[i + 1] = rgb[i + 1];
            (*bytes)[i + 2] = rgb[i];
        }
        CTexture t = TextureOver(bytes->data(), w, h, KrvFormat_BGR);
        storage.push_back(std::move(bytes));
        return t;
    }
    CTexture Depth(int w, int h, unsigned short value)
    {
        auto bytes = std::make_unique<std::vector<uint8>>(size_t(w) * h * 2);
        for (size_t i = 0; i < bytes->size(); i += 2) std::memcpy(&(*bytes)[i], &value, 2);
        CTexture t = TextureOver(bytes->data(), w, h, KrvFormat_Depth16);
        storage.push_back(std::move(bytes));
        return t;
    }
};

class Shade : public ::testing::Test {
protected:
    _3D_Korvane_Core core;
    TestTarget target{4, 1};
    TestTextures textures;
    CLight light{};
    _3D_Korvane_Shader spanEnds[2];
    CSpan span;
    krvi::PixelAttributes a;

    void SetUp() override
    {
        target.Bind(core);
        core.bilinearFilter = false;
        light.constantAttenuation = 1.0f;
        spanEnds[1].position = vec4(8.0f, 3.0f, 0.5f, 1.0f);
        span.Set(&spanEnds[0], &spanEnds[1]);
    }
    void BindLight(vec3 ambient, vec3 diffuse, vec3 specular)
    {
        light.ambient = ambient;
        light.diffuse = diffuse;
        light.specular = specular;
        core.lighting = true;
        core.light = &light;
        core.useLight = true;
    }
    void BindTexture(CTexture* t)
    {
        core.texturing = true;
        core.texture0 = t;
        core.useTexture = true;
    }
    // Shades pixel 0 over the given old bytes (blue, green, red) and returns its new bytes.
    std::vector<int> Run(std::vector<int> old = {0, 0, 0}, bool* depthWrite = nullptr)
    {
        core.useColor = true;
        unsigned mask = krvi::DrawFeatures(core);
        for (int j = 0; j < 3; ++j) target.color[j] = uint8(old[j]);
        krvi::ShadeState state;
        state.Load(core, span);
        bool write =
            krvi::ShadePixel(state, a, target.color.data(), 1000, krvi::RuntimeFeatures{mask});
        if (depthWrite) *depthWrite = write;
        return {target.color[0], target.color[1], target.color[2]};
    }
};

typedef std::vector<int> Bytes;  // blue, green, red

TEST_F(Shade, PlainColour)
{
    a.color = vec3(0.25f, 0.5f, 0.75f);
    EXPECT_EQ(Run(), (Bytes{191, 127, 63}));
}

TEST_F(Shade, TextureModulatesTheColour)
{
    CTexture t = textures.Color(1, 1, {255, 101, 3});
    BindTexture(&t);
    a.color = vec3(0.5f);
    EXPECT_EQ(Run(), (Bytes{1, 50, 127}));
}

TEST_F(Shade, LightingWithoutMaterial)
{
    BindLight(vec3(0.25f, 0.0f, 0.0f), vec3(0.5f, 0.5f, 0.0f), vec3(0.25f, 0.25f, 0.5f));
    a.color = vec3(0.75f);
    a.normal = vec3(0.0f, 0.0f, 1.0f);
    a.lightVector = vec3(0.0f, 0.0f, 2.0f);  // NL / (|N| |L|) = 1
    // (specular + diffuse + ambient) / 3 * 0.75
    EXPECT_EQ(Run(), (Bytes{31, 47, 63}));
    // Facing away: ambient only.
    a.normal = vec3(0.0f, 0.0f, -1.0f);
    EXPECT_EQ(Run(), (Bytes{0, 0, 15}));
}

TEST_F(Shade, AttenuationByDistance)
{
    BindLight(vec3(1.0f), vec3(0.0f), vec3(0.0f));
    light.linearAttenuation = 0.5f;
    light.quadraticAttenuation = 0.25f;
    a.color = vec3(1.0f);
    a.normal = vec3(0.0f, 0.0f, -1.0f);
    a.lightVector = vec3(0.0f, 0.0f, 2.0f);  // 1/3 / (4 * 0.25 + 2 * 0.5 + 1) = 1/9
    EXPECT_EQ(Run(), (Bytes{28, 28, 28}));
}

TEST_F(Shade, ShadowFactorScalesTheDiffuseAndSpecularTerms)
{
    BindLight(vec3(0.25f, 0.0f, 0.0f), vec3(0.5f, 0.5f, 0.0f), vec3(0.25f, 0.25f, 0.5f));
    CTexture shadowed = textures.Depth(1, 1, 0);
    CTexture lit = textures.Depth(1, 1, 65535);
    core.useShadowMap = true;
    a.color = vec3(0.75f);
    a.normal = vec3(0.0f, 0.0f, 1.0f);
    a.lightVector = vec3(0.0f, 0.0f, 2.0f);
    a.shadowCoord = vec4(0.5f, 0.5f, 0.5f, 1.0f);
    core.shadowMap = &shadowed;
    EXPECT_EQ(Run(), (Bytes{0, 0, 15}));
    core.shadowMap = &lit;
    EXPECT_EQ(Run(), (Bytes{31, 47, 63}));
}

TEST_F(Shade, MaterialScalesLitAndUnlitColours)
{
    core.material = true;
    core.Material.ambient = vec3(1.0f, 0.5f, 0.25f);
    a.color = vec3(0.5f);
    EXPECT_EQ(Run(), (Bytes{31, 63, 127}));  // unlit: c * material ambient

    BindLight(vec3(0.25f, 0.0f, 0.0f), vec3(0.5f, 0.5f, 0.0f), vec3(0.25f, 0.25f, 0.5f));
    core.Material.ambient = vec3(1.0f);
    core.Material.diffuse = vec3(1.0f, 0.5f, 1.0f);
    core.Material.specular = vec3(1.0f);
    core.Material.emission = 0.25f;
    a.color = vec3(0.75f);
    a.normal = vec3(0.0f, 0.0f, 1.0f);
    a.lightVector = vec3(0.0f, 0.0f, 2.0f);
    // red (0.3125 + 0.75 + 0.5) / 3 * 0.75; green (0 + 0.5 + 0.5) / 4; blue (0 + 0.25 + 0.75) / 4
    EXPECT_EQ(Run(), (Bytes{63, 63, 99}));
}

TEST_F(Shade, AlphaBlendClampsAndMixesWithTheTarget)
{
    core.alphaBlend = true;
    // Texturing off: alpha 0, the plain colour clamped instead of wrapped.
    a.color = vec3(2.0f, 0.5f, -1.0f);
    EXPECT_EQ(Run({9, 9, 9}), (Bytes{0, 127, 255}));

    // Texturing on (no texture bound): alpha = 1 - (0.75 * 0.5) from the colour.
    core.texturing = true;
    core.AlphaValue = 0.5f;
    a.color = vec3(0.25f);
    EXPECT_EQ(Run({200, 100, 40}), (Bytes{188, 126, 88}));
    core.AlphaFlag = true;  // inverted: alpha = 0.375
    EXPECT_EQ(Run({200, 100, 40}), (Bytes{138, 101, 78}));
}

TEST_F(Shade, TransparencyBlendsOnceAValueIsSet)
{
    core.transparency = true;
    core.TransparencySet = true;
    core.Transparency = 0.5f;
    a.color = vec3(0.25f);
    // old * 0.5 + 63.75: alpha counts only together with alphaBlend.
    EXPECT_EQ(Run({200, 100, 40}), (Bytes{163, 113, 83}));
    core.alphaBlend = true;
    core.texturing = true;
    core.AlphaValue = 0.5f;  // alpha 0.625
    EXPECT_EQ(Run({200, 100, 40}), (Bytes{226, 145, 96}));
}

TEST_F(Shade, DepthColourCompareHoldsBackTheDepthWrite)
{
    core.transparency = true;
    core.TransparencySet = true;
    core.depthColorCompare = true;
    a.color = vec3(0.25f);
    bool write = true;
    target.color[3] = 232;  // the next pixel's first byte: low 8 bits of d = 1000
    Run({0, 0, 0}, &write);
    EXPECT_FALSE(write);
    target.color[3] = 255;
    Run({0, 0, 0}, &write);
    EXPECT_FALSE(write);  // d is compared whole: 1000 >= 255
    core.depthColorCompare = false;
    Run({0, 0, 0}, &write);
    EXPECT_TRUE(write);
}

TEST_F(Shade, BumpTexelDarkensTheTexture)
{
    CTexture base = textures.Color(1, 1, {255, 255, 255});
    CTexture bump = textures.Color(1, 1, {200, 100, 128});
    BindTexture(&base);
    BindLight(vec3(3.0f), vec3(0.0f), vec3(0.0f));  // facing away: ambient 3 / 3 = 1
    core.bumpMapping = true;
    core.bumpTexture = &bump;
    core.useBump = true;
    core.BumpMapFactor = 5.0f;
    a.color = vec3(0.5f);
    a.normal = vec3(0.0f, 0.0f, 1.0f);
    a.lightVector = vec3(0.0f, 0.0f, -2.0f);
    // Bright bump texels (red, blue) take 0.18 off the texel; dark ones (green) nothing.
    EXPECT_EQ(Run(), (Bytes{104, 127, 104}));
}

TEST_F(Shade, MultitextureAddsTheTexels)
{
    CTexture base = textures.Color(1, 1, {51, 0, 0});
    CTexture second = textures.Color(1, 1, {51, 102, 0});
    CTexture third = textures.Color(1, 1, {255, 0, 102});
    BindTexture(&base);
    core.multiTexture = true;
    core.texture1 = &second;
    core.useTexture1 = true;
    a.color = vec3(0.75f);
    EXPECT_EQ(Run(), (Bytes{0, 76, 76}));  // (0.4, 0.4, 0) * 0.75
    core.texture2 = &third;
    core.useTexture2 = true;
    EXPECT_EQ(Run(), (Bytes{76, 76, 191}));  // red clamped to 1
}

TEST_F(Shade, Dot3LightsTheSecondTexture)
{
    // Light vector along z: the normal-map texel and the colour both turn into (0, 0, 1),
    // the light direction from the span end does too, so s = 1 and T = M1 * specular.
    CTexture normals = textures.Color(1, 1, {0, 0, 255});
    CTexture second = textures.Color(1, 1, {51, 102, 0});
    BindTexture(&normals);
    BindLight(vec3(3.0f), vec3(0.0f), vec3(0.5f));
    light.position = vec3(100.0f, 0.0f, 100.0f);
    core.multiTexture = true;
    core.texture1 = &second;
    core.useTexture1 = true;
    core.dot3 = true;
    a.color = vec3(0.75f);
    a.normal = vec3(0.0f, 0.0f, -1.0f);  // the lighting step adds ambient only
    a.lightVector = vec3(0.0f, 0.0f, 1.0f);
    // (M1 * 0.5 + M1) * 0.75 = (0.225, 0.45, 0)
    EXPECT_EQ(Run(), (Bytes{0, 114, 57}));
    core.dot3 = false;  // plain combine: (0 + 0.2, 0 + 0.4, 1 + 0) * 0.75
    EXPECT_EQ(Run(), (Bytes{191, 76, 38}));
}

// ---------------------------------------------------------------------------------------------
// Every specialised span routine against the reference body, over random spans and switches.

// A random float that is now and then one the pipeline must survive: NaN, infinities, huge,
// tiny or exactly on a texel or range boundary.
float Hostile(std::mt19937& rng, float lo, float hi)
{
    static const float kOdd[] = {std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 3e38f,
                                 -3e38f,
                                 1e-30f,
                                 0.0f,
                                 -0.0f,
                                 1.0f,
                                 0.5f,
                                 8388608.0f};
    if (rng() % 50 == 0) return kOdd[rng() % (sizeof kOdd / sizeof kOdd[0])];
    return lo + (hi - lo) * std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
}

// Every routine a draw can pick (the scalar body specialised per mask, and the SIMD bodies of
// every width the processor has) against the reference body, over random spans, targets,
// textures and switches: the same bytes, depths and last depth.
TEST(ShadeSpans, EveryRoutineMatchesTheReference)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<int> lanes = {1};
    if (krvi::SimdLanesAvailable() >= 4) lanes.push_back(4);
    if (krvi::SimdLanesAvailable() >= 8) lanes.push_back(8);
    if (krvi::SimdLanesAvailable() >= 16) lanes.push_back(16);
    int simdSpans = 0;

    for (int trial = 0; trial < 600; ++trial) {
        // Textures of random small sizes, some with padded rows, and a random shadow map.
        TestTextures textures;
        auto noise = [&](int w, int h) {
            std::vector<uint8> rgb(size_t(w) * h * 3);
            for (uint8& b : rgb) b = uint8(rng());
            return rgb;
        };
        const int tw = 1 + rng() % 7, th = 1 + rng() % 5;
        CTexture t0 = textures.Color(tw, th, noise(tw, th));
        CTexture t1 = textures.Color(3, 2, noise(3, 2));
        const int sw = 1 + rng() % 9, sh = 1 + rng() % 6;
        CTexture shadow = textures.Depth(sw, sh, 0);
        for (int i = 0; i < sw * sh; ++i) {
            const unsigned short d = uint16_t(rng());
            std::memcpy(shadow.Bits + 2 * i, &d, 2);
        }
        CLight light{};
        light.position = vec3(unit(rng), unit(rng), unit(rng));
        light.ambient = vec3(unit(rng), unit(rng), unit(rng));
        light.diffuse = vec3(unit(rng), unit(rng), unit(rng));
        light.specular = vec3(unit(rng), unit(rng), unit(rng));
        light.constantAttenuation = trial % 3 ? 1.0f : 0.5f;
        light.linearAttenuation = trial % 3 ? 0.0f : 0.1f;
        light.quadraticAttenuation = trial % 5 == 0 ? -0.0f : 0.0f;

        const int width = 1 + rng() % 64;
        for (unsigned mask = 0; mask < kSpanFeatureCount; ++mask) {
            _3D_Korvane_Core core;
            core.texture0 = &t0;
            core.texture1 = &t1;
            core.texture2 = trial % 3 ? &t1 : nullptr;
            core.bumpTexture = &t1;
            core.shadowMap = &shadow;
            core.light = &light;
            core.useTexture1 = true;
            core.useTexture2 = core.texture2 != nullptr;
            core.useBump = true;
            core.useDepthWrite = trial % 4 != 0;
            core.ignoreDepth = trial % 5 == 0;
            if (trial % 2) {
                RandomiseShading(core, rng);  // the rare switches: the scalar bodies
            } else {
                core.texturing = rng() & 1;  // what the SIMD bodies take
                core.bilinearFilter = rng() & 1;
            }
            TestTarget target(width, 3);
            target.Bind(core);
            krvi::SpanTarget spanTarget;
            spanTarget.Load(core, (mask & kSpanColor) != 0);
            krvi::ShadeState shade;
            if (mask & kSpanColor) shade.Load(core);

            // Colours and depths far beyond 0..1 now and then: the stored low bits of a large
            // product then show its last bits, so a routine that rounds differently anywhere
            // writes different bytes.
            const float colorScale = float(1 << (rng() % 24));
            const float depthScale = float(1 << (rng() % 12));
            _3D_Korvane_Shader ends[2];
            for (auto& e : ends) {
                e.position = vec4(Hostile(rng, -4.0f, width + 4.0f), 1.0f,
                                  Hostile(rng, -0.1f, 1.1f) * depthScale, Hostile(rng, 0.2f, 1.2f));
                e.color = vec3(unit(rng), unit(rng), Hostile(rng, 0.0f, 1.0f)) * colorScale;
                e.texCoord = vec2(Hostile(rng, -3.0f, 3.0f), Hostile(rng, -3.0f, 3.0f));
                e.normal = vec3(Hostile(rng, -1.0f, 1.0f), unit(rng) - 0.5f, unit(rng) - 0.5f);
                e.lightVector = vec3(Hostile(rng, -1.0f, 1.0f), unit(rng), unit(rng));
                e.shadowCoord = vec4(Hostile(rng, -0.2f, 1.2f), Hostile(rng, -0.2f, 1.2f),
                                     Hostile(rng, -0.1f, 1.1f), Hostile(rng, -0.2f, 1.2f));
            }
            CSpan span;
            span.Set(&ends[0], &ends[1]);
            span.SetDeltas(*span.first, *span.second, mask);
            const krvi::FlatPoint left = krvi::Flatten(*span.first, mask);
            const krvi::FlatPoint delta = krvi::Flatten(span, mask);
            const float rightX = span.second->position.x;
            shade.SetSpan(span);

            for (size_t i = 0; i < target.color.size(); ++i) target.color[i] = uint8(rng());
            for (size_t i = 0; i < target.depth.size(); ++i) target.depth[i] = uint16_t(rng());
            const std::vector<uint8> color = target.color;
            const std::vector<unsigned short> depth = target.depth;
            unsigned short referenceLast = 1234;
            const bool referenceReached =
                krvi::ReferenceSpan(mask, spanTarget, shade, left, delta, rightX, 1, referenceLast);
            const std::vector<uint8> referenceColor = target.color;
            const std::vector<unsigned short> referenceDepth = target.depth;

            // Each lane count twice: the routine that writes every colour before it returns,
            // and the one a draw uses, which may keep colours in a queue until the flush.
            for (int n : lanes) {
                for (int deferred = 0; deferred < 2; ++deferred) {
                    if (n == 1 && deferred) continue;
                    krvi::SpanFlush flush = nullptr;
                    const krvi::SpanRoutine routine =
                        n == 1      ? krvi::ScalarSpanRoutine(mask)
                        : !deferred ? krvi::SimdSpanRoutine(n, mask, shade)
                                    : krvi::SimdDrawRoutine(n, mask, shade, flush);
                    if (!routine) continue;
                    simdSpans += n > 1;
                    target.color = color;
                    target.depth = depth;
                    unsigned short last = 1234;
                    krvi::PixelQueue queue;
                    krvi::ShadeState withQueue = shade;
                    withQueue.queue = &queue;
                    const bool reached =
                        routine(spanTarget, withQueue, left, delta, rightX, 1, last);
                    if (flush) flush(spanTarget, withQueue);
                    const std::string where =
                        "lanes " + std::to_string(n) + " deferred " + std::to_string(deferred) +
                        " mask " + std::to_string(mask) + " trial " + std::to_string(trial);
                    ASSERT_TRUE(SameImage(target.color, referenceColor, target.width, 3)) << where;
                    ASSERT_TRUE(SameImage(target.depth, referenceDepth, target.width, 1)) << where;
                    ASSERT_EQ(reached, referenceReached) << where;
                    ASSERT_EQ(last, referenceLast) << where;
                }
            }
        }
    }
    if (lanes.size() > 1) {
        EXPECT_GT(simdSpans, 1000);  // the SIMD bodies were really swept
    }
}

// Hostile vertices through the whole pipeline with every feature on: nothing may crash, read
// or write outside the buffers, or convert a float the language leaves undefined (run under
// the sanitizer build).
TEST(ShadeSpans, HostileVerticesWithEveryFeature)
{
    TestTextures textures;
    CTexture t0 = textures.Color(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9});
    CTexture shadow = textures.Depth(2, 2, 100);
    CLight light{};
    light.constantAttenuation = 1.0f;
    light.ambient = light.diffuse = light.specular = vec3(0.5f);
    _3D_Korvane_Core core;
    TestTarget target(8, 8);
    target.Bind(core);
    core.lighting = core.texturing = core.material = core.multiTexture = true;
    core.bumpMapping = core.dot3 = core.fog = core.FogSet = true;
    core.transparency = core.TransparencySet = core.alphaBlend = core.depthColorCompare = true;
    core.SetFogMode(KrvFogMode_Height);
    core.BindLight(&light);
    core.BindTexture(&t0);
    core.BindTexture1(&t0);
    core.BindTexture2(&t0);
    core.BindShadowMap(&shadow);
    core.SetCullFace(KrvCullMode_None);
    ASSERT_EQ(core.bumpTexture, &t0);

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {nan,    inf,    -inf, 1e30f,  -1e30f, 3e38f,
                            -3e38f, 1e-38f, 0.0f, -0.75f, 0.5f};
    std::vector<CVertex> v(3);
    for (int m = 0; m < 2; ++m) {
        // Identity, then a projection whose w follows z.
        if (m == 1)
            core.LoadModelViewProjectionMatrix(
                mat4x4(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0));
        for (float p : values) {
            for (float q : values) {
                v[0] = {p, q, 0.5f, p, q, 0.5f, p, q, p, q, 0.5f, {}};
                v[1] = {q, 0.5f, p, 0.5f, p, q, q, p, 0.5f, p, q, {}};
                v[2] = {-0.5f, p, q, q, 0.5f, p, 0.5f, 0.5f, q, 0.5f, p, {}};
                core.DrawTriangles(v.data(), 0, 3);
                light.position = vec3(q, p, q);
            }
        }
    }
    SUCCEED();
}

}  // namespace
