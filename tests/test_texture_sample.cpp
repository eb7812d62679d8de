// Texture sampling: wrap rules, bilinear footprints, formats and the shadow-map tests.
#include "texture/texture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr float kByte = 0.003921569f;

// A w x h colour texture whose texel (x, y) holds blue x, green y, red 100 + x + 10 y, so a
// colour names the texel it came from.
CTexture MakeIndexed(int w, int h)
{
    CTexture t;
    t.Create(w, h, KrvFormat_BGR);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8* p = t.Bits + y * t.Pitch + x * 3;
            p[0] = static_cast<uint8>(x);
            p[1] = static_cast<uint8>(y);
            p[2] = static_cast<uint8>(100 + x + 10 * y);
        }
    return t;
}

vec3 TexelColor(int x, int y)
{
    return vec3(static_cast<float>(100 + x + 10 * y) * kByte, static_cast<float>(y) * kByte,
                static_cast<float>(x) * kByte);
}

CTexture MakeDepth(int w, int h, std::initializer_list<uint16_t> values)
{
    CTexture t;
    t.Create(w, h, KrvFormat_Depth16);
    size_t i = 0;
    for (uint16_t v : values) std::memcpy(t.Bits + 2 * i++, &v, 2);
    return t;
}

void ExpectColor(const vec3& c, const vec3& e)
{
    EXPECT_FLOAT_EQ(c.x, e.x);
    EXPECT_FLOAT_EQ(c.y, e.y);
    EXPECT_FLOAT_EQ(c.z, e.z);
}

}  // namespace

TEST(TextureSampleNearest, WrapsBothWays)
{
    CTexture t = MakeIndexed(4, 2);
    struct Case {
        float u, v;
        int x, y;
    };
    const Case cases[] = {
        {0.0f, 0.25f, 0, 0},
        {1.0f, 0.25f, 0, 0},
        {-0.25f, 0.25f, 3, 0},
        {2.5f, 0.75f, 2, 1},
        {0.6f, -0.25f, 2, 1},
        {-3.9f, 0.0f, 0, 0},
        {1e20f, 0.3f, 0, 0},
        {0.999f, 0.999f, 3, 1},
        // Rounds to 1.0 after wrapping: the last texel of its own row, not the next row.
        {-1e-9f, 0.25f, 3, 0},
        {0.25f, -1e-9f, 1, 1},
    };
    for (const Case& c : cases) {
        vec3 col;
        t.GetColorNearest(c.u, c.v, col);
        SCOPED_TRACE(testing::Message() << "u=" << c.u << " v=" << c.v);
        ExpectColor(col, TexelColor(c.x, c.y));
    }
    t.Destroy();
}

TEST(TextureSampleNearest, BrokenCoordinatesStayInside)
{
    CTexture t = MakeIndexed(3, 3);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float u : {nan, inf, -inf}) {
        vec3 c;
        t.GetColorNearest(u, u, c);
        ExpectColor(c, TexelColor(0, 0));
        t.GetColorBilinear(u, u, c);
        EXPECT_FALSE(std::isnan(c.x));
        t.GetColorMipMapNearest(u, u, c);
        ExpectColor(c, TexelColor(0, 0));
    }
    t.Destroy();
}

TEST(TextureSampleNearest, EmptyWhiteAndUnsampledFormatUntouched)
{
    CTexture empty;
    CTexture rgba;
    rgba.Create(2, 2, KrvFormat_RGBA32);
    std::memset(rgba.Bits, 0, 16);
    for (int sampler = 0; sampler < 3; ++sampler) {
        vec3 c(0.1f, 0.2f, 0.3f);
        if (sampler == 0) empty.GetColorNearest(0.5f, 0.5f, c);
        if (sampler == 1) empty.GetColorBilinear(0.5f, 0.5f, c);
        if (sampler == 2) empty.GetColorMipMapNearest(0.5f, 0.5f, c);
        ExpectColor(c, vec3(1.0f, 1.0f, 1.0f));
        c = vec3(0.1f, 0.2f, 0.3f);
        if (sampler == 0) rgba.GetColorNearest(0.5f, 0.5f, c);
        if (sampler == 1) rgba.GetColorBilinear(0.5f, 0.5f, c);
        if (sampler == 2) rgba.GetColorMipMapNearest(0.5f, 0.5f, c);
        ExpectColor(c, vec3(0.1f, 0.2f, 0.3f));
    }
    rgba.Destroy();
}

TEST(TextureSampleNearest, DepthIsGrey)
{
    CTexture t = MakeDepth(2, 1, {65535, 13107});
    vec3 c;
    t.GetColorNearest(0.75f, 0.0f, c);
    ExpectColor(c, vec3(13107.0f * 0.000015259022f));
    t.GetColorNearest(0.25f, 0.0f, c);
    ExpectColor(c, vec3(1.0f));
    t.Destroy();
}

TEST(TextureSampleBilinear, WrapsAtBothEdges)
{
    CTexture t = MakeIndexed(4, 1);
    vec3 c;
    // u = 0: half of column 3, half of column 0 (texel centres at half-integers).
    t.GetColorBilinear(0.0f, 0.5f, c);
    const vec3 a = TexelColor(3, 0), b = TexelColor(0, 0);
    ExpectColor(c, vec3(0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y, 0.5f * a.z + 0.5f * b.z));
    // At a texel centre, that texel alone.
    t.GetColorBilinear(0.375f, 0.5f, c);
    ExpectColor(c, TexelColor(1, 0));
    // Just below 1 and just below 0: still between column 3 and column 0, no read past the row.
    for (float u : {std::nextafter(1.0f, 0.0f), -1e-9f, 1.0f - 1e-3f}) {
        t.GetColorBilinear(u, 0.5f, c);
        EXPECT_GE(c.z, 0.0f) << u;
        EXPECT_LE(c.z, 3.0f * kByte) << u;
        EXPECT_GE(c.x, a.x - 3.0f * kByte) << u;
    }
    t.Destroy();
}

TEST(TextureSampleBilinear, QuarterWeights)
{
    CTexture t = MakeIndexed(2, 2);
    vec3 c;
    // u = v = 0.5 sits on the corner shared by all four texels.
    t.GetColorBilinear(0.5f, 0.5f, c);
    EXPECT_FLOAT_EQ(c.z, 0.5f * kByte);  // blue is x: 0, 1, 1, 0
    EXPECT_FLOAT_EQ(c.y, 0.5f * kByte);
    EXPECT_FLOAT_EQ(c.x, (100.0f + 101.0f + 111.0f + 110.0f) * 0.25f * kByte);
    t.Destroy();
}

TEST(TextureSampleMipMap, AveragesCoarserTexels)
{
    CTexture t = MakeIndexed(16, 1);
    vec3 c;
    // x = 10 and trunc(trunc(10 / k) * k) = 9 for k = 1.1, 1.2, 1.3.
    t.GetColorMipMapNearest(10.5f / 16.0f, 0.5f, c);
    EXPECT_FLOAT_EQ(c.z, 0.25f * (10.0f * kByte + 3.0f * (9.0f * kByte)));
    t.Destroy();
}

// ---------------------------------------------------------------------------------------------

TEST(TextureShadow, LitWithoutLookup)
{
    CTexture t = MakeDepth(2, 2, {0, 0, 0, 0});  // shadows every depth above 0
    CTexture colour = MakeIndexed(2, 2);
    struct Case {
        const CTexture* tex;
        vec4 c;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {&colour, vec4(0.5f, 0.5f, 0.5f, 1.0f)},  // not a depth texture
        {&t, vec4(0.5f, 0.5f, 0.5f, 0.0f)},       // w = 0
        {&t, vec4(0.5f, 0.5f, 0.5f, -1.0f)},      // behind the light
        {&t, vec4(1.0f, 0.5f, 0.5f, 1.0f)},       // x = 1 is outside
        {&t, vec4(0.5f, -0.1f, 0.5f, 1.0f)},     {&t, vec4(0.5f, 0.5f, 1.5f, 1.0f)},
        {&t, vec4(nan, 0.5f, 0.5f, 1.0f)},       {&t, vec4(0.5f, 0.5f, 0.5f, nan)},
    };
    for (const Case& c : cases) {
        vec4 a = c.c, b = c.c;
        EXPECT_EQ(c.tex->GetShadowNearest(a), 1.0f);
        EXPECT_EQ(c.tex->GetShadowBilinear(b), 1.0f);
    }
    t.Destroy();
    colour.Destroy();
}

TEST(TextureShadow, NearestComparesScaledDepth)
{
    CTexture t = MakeDepth(2, 2, {65535, 65534, 32768, 100});
    struct Case {
        vec4 c;
        float lit;
    };
    const Case cases[] = {
        {vec4(0.25f, 0.25f, 1.0f, 1.0f), 1.0f},  // z = 1 is tested; equal depth is lit
        {vec4(0.75f, 0.25f, 1.0f, 1.0f), 0.0f},
        {vec4(0.5f, 1.5f, 1.2f, 2.0f), 0.0f},  // divided by w: (0.25, 0.75, 0.6) vs 32768
        {vec4(0.5f, 1.5f, 0.9f, 2.0f), 1.0f},
        {vec4(0.75f, 0.75f, 0.0f, 1.0f), 1.0f},
    };
    for (const Case& c : cases) {
        vec4 a = c.c;
        EXPECT_EQ(t.GetShadowNearest(a), c.lit) << c.c.x << " " << c.c.y << " " << c.c.z;
    }
    vec4 a(0.5f, 1.5f, 1.0f, 2.0f);
    t.GetShadowNearest(a);  // the argument keeps the divided coordinate and the scaled depth
    EXPECT_FLOAT_EQ(a.w, 0.5f);
    EXPECT_FLOAT_EQ(a.x, 0.25f);
    EXPECT_FLOAT_EQ(a.z, 0.5f * 65535.0f);
    t.Destroy();
}

TEST(TextureShadow, BilinearFiltersAndClamps)
{
    // Column 0 shadows everything, column 1 nothing.
    CTexture t = MakeDepth(2, 1, {0, 65535});
    vec4 a(0.5f, 0.5f, 0.5f, 1.0f);  // gx = 0.5: half of each column
    EXPECT_FLOAT_EQ(t.GetShadowBilinear(a), 0.5f);
    a = vec4(0.9f, 0.5f, 0.5f, 1.0f);  // last column: clamped, no wrap to column 0
    EXPECT_FLOAT_EQ(t.GetShadowBilinear(a), 1.0f);
    a = vec4(0.1f, 0.5f, 0.5f, 1.0f);  // below the first centre: column 0 alone
    EXPECT_FLOAT_EQ(t.GetShadowBilinear(a), 0.0f);
    a = vec4(std::nextafter(1.0f, 0.0f), 0.5f, 0.5f, 1.0f);
    EXPECT_FLOAT_EQ(t.GetShadowBilinear(a), 1.0f);
    t.Destroy();

    CTexture one = MakeDepth(1, 1, {1000});
    for (float x : {0.0f, 0.3f, 0.7f, 0.99f}) {
        vec4 lit(x, x, 1000.0f / 65535.0f * 0.5f, 1.0f);
        vec4 dark(x, x, 0.5f, 1.0f);
        EXPECT_FLOAT_EQ(one.GetShadowBilinear(lit), 1.0f) << x;  // weights sum to 1 +- rounding
        EXPECT_EQ(one.GetShadowBilinear(dark), 0.0f) << x;
        vec4 single(x, x, 0.5f, 1.0f);
        EXPECT_EQ(one.GetShadowNearest(single), 0.0f) << x;
    }
    one.Destroy();
}
