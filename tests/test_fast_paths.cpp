// The shortcuts of the pixel loop against the plain forms they replace, bit for bit: the byte
// table, the wrap without trunc, the conversion's one-test common case, and the row walk on
// packed vectors against the scalar records. A shortcut that differs in a single input shows up
// here before it shows up as one odd pixel of a frame.
#include "core/core.h"
#include "core/draw_span.h"
#include "core/rasterize.h"
#include "math/glmath.h"
#include "tests/golden.h"
#include "tests/test_util.h"
#include "texture/texture_sampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

uint32_t Bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float FromBits(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// Edge values, then random bit patterns (every exponent, NaNs and infinities included).
std::vector<float> Inputs()
{
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v = {
        0.0f,        -0.0f,         0.5f,          -0.5f,          1.0f,           -1.0f,
        0.99999994f, -0.99999994f,  1e-45f,        -1e-45f,        1e-8f,          -1e-8f,
        2.5f,        -2.5f,         8388607.5f,    -8388607.5f,    8388608.0f,     -8388608.0f,
        16777217.0f, 2147483520.0f, 2147483648.0f, -2147483648.0f, -2147483904.0f, 3e38f,
        -3e38f,      inf,           -inf,          std::nanf("")};
    std::mt19937 rng(11);
    for (int i = 0; i < 200000; ++i) v.push_back(FromBits(static_cast<uint32_t>(rng())));
    return v;
}

TEST(FastPaths, ByteTableHoldsTheRuntimeProducts)
{
    volatile float scale = 0.003921569f;  // kept from folding: the product the loop would form
    for (volatile int i = 0; i < 256; ++i) {
        const float product = static_cast<float>(i) * scale;
        EXPECT_EQ(Bits(krvi::kByteToUnit.value[i]), Bits(product)) << "byte " << i;
    }
}

TEST(FastPaths, WrapIsCMinusTruncBitForBit)
{
    for (float c : Inputs()) {
        float w = c - std::trunc(c);
        if (w < 0.0f) w += 1.0f;
        if (!(w == w)) w = 0.0f;
        ASSERT_EQ(Bits(krvi::Wrap(c)), Bits(w)) << "c = " << c;
    }
}

TEST(FastPaths, TruncToIntSaturatesAndZeroesNaN)
{
    for (float f : Inputs()) {
        int expected;
        if (!(f == f))
            expected = 0;
        else if (f >= 2147483648.0f)
            expected = INT_MAX;
        else if (f <= -2147483648.0f)
            expected = INT_MIN;
        else
            expected = static_cast<int>(f);
        ASSERT_EQ(TruncToInt(f), expected) << "f = " << f;
    }
}

// The rows between two edges as the pipeline walks them: one CSpan a row from the scalar
// records (krvi::Lerp, CSpan::Set, SetDeltas) and the reference span loop.
void ReferenceRows(_3D_Korvane_Core& core, const CEdge& longEdge, const CEdge& shortEdge)
{
    const unsigned features = core.drawFeatures;
    if (longEdge.position.y == 0.0f || shortEdge.position.y == 0.0f) return;
    int last = std::min(TruncToInt(shortEdge.second->position.y), core.maxY);
    int first = std::max(TruncToInt(shortEdge.first->position.y), 0);
    int step = 1;
    if (core.interlace || (core.transparency && !core.TransparencySet)) {
        step = 2;
        first += first & 1;
    }
    const float longScale = 1.0f / longEdge.position.y;
    const float shortScale = 1.0f / shortEdge.position.y;
    _3D_Korvane_Shader p, q;
    CSpan span;
    for (int y = first; y <= last; y += step) {
        const float centre = static_cast<float>(y) + 0.5f;
        const float tL = (centre - longEdge.first->position.y) * longScale;
        const float tS = (centre - shortEdge.first->position.y) * shortScale;
        if (tL >= 0.0f && tL <= 1.0f && tS >= 0.0f && tS <= 1.0f) {
            krvi::Lerp(p, *longEdge.first, longEdge, tL, features);
            krvi::Lerp(q, *shortEdge.first, shortEdge, tS, features);
            span.Set(&p, &q);
            span.SetDeltas(*span.first, *span.second, features);
            krvi::DrawSpanReference(core, &span, y);
        }
    }
}

// Every mask and random switches: the rows of random triangles, walked on packed vectors by
// the draw's own routines (SIMD where the processor has it) and by the scalar records, give
// the same bytes, depths and last depth.
TEST(FastPaths, RowWalkMatchesTheScalarRecords)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<uint8> texels(5 * 3 * 3), bump(4 * 4 * 3);
    std::vector<uint16_t> depths(6 * 5);
    for (uint8& b : texels) b = uint8(rng());
    for (uint8& b : bump) b = uint8(rng());
    for (uint16_t& d : depths) d = uint16_t(20000 + rng() % 40000);
    CTexture t0 = TextureOver(texels.data(), 5, 3, KrvFormat_BGR);
    CTexture t1 = TextureOver(bump.data(), 4, 4, KrvFormat_BGR);
    CTexture shadow = TextureOver(depths.data(), 6, 5, KrvFormat_Depth16);
    CLight light{};
    light.position = vec3(1.0f, 2.0f, 3.0f);
    light.ambient = vec3(0.2f, 0.3f, 0.1f);
    light.diffuse = vec3(0.7f, 0.6f, 0.8f);
    light.specular = vec3(0.5f, 0.4f, 0.3f);
    light.constantAttenuation = 1.0f;

    const int w = 24, h = 12;
    for (int trial = 0; trial < 200; ++trial) {
        for (unsigned mask = 0; mask < kSpanFeatureCount; ++mask) {
            if (mask != 0 && !(mask & kSpanColor)) continue;
            _3D_Korvane_Core core;
            core.texture0 = &t0;
            core.texture1 = core.bumpTexture = &t1;
            core.shadowMap = &shadow;
            core.light = &light;
            core.useTexture1 = core.useBump = true;
            core.useDepthWrite = trial % 4 != 0;
            core.ignoreDepth = trial % 5 == 0;
            core.drawFeatures = mask;
            RandomiseShading(core, rng);
            core.lastDepth = uint16_t(rng());

            // A triangle in screen space with its attributes already divided by w.
            _3D_Korvane_Shader v[3];
            for (auto& e : v) {
                const float rw = 0.2f + unit(rng);
                e.position =
                    vec4(unit(rng) * (w + 8) - 4.0f, unit(rng) * (h + 4) - 2.0f, unit(rng), rw);
                e.color = vec3(unit(rng), unit(rng), unit(rng)) * rw;
                e.texCoord = vec2(4.0f * unit(rng) - 2.0f, 4.0f * unit(rng) - 2.0f) * rw;
                e.normal = vec3(unit(rng) - 0.5f, unit(rng) - 0.5f, unit(rng) - 0.5f) * rw;
                e.lightVector = vec3(unit(rng) - 0.5f, unit(rng), unit(rng) - 0.5f) * rw;
                e.shadowCoord = vec4(unit(rng), unit(rng), unit(rng), 1.0f) * rw;
            }
            // Thin, empty and non-finite rows as well: a vertical edge, a zero-area triangle,
            // a NaN x.
            if (trial % 7 == 1) v[1].position.x = v[0].position.x;
            if (trial % 7 == 3) v[2].position = v[1].position;
            if (trial % 11 == 5) v[trial % 3].position.x = std::nanf("");
            CEdge edges[3];
            for (int k = 0; k < 3; ++k) {
                edges[k].Set(&v[k], &v[(k + 1) % 3]);
                edges[k].SetDeltas(*edges[k].first, *edges[k].second, mask);
            }
            CEdge& longEdge = edges[trial % 3];
            CEdge& shortEdge = edges[(trial + 1) % 3];

            TestTarget fast(w, h, mask != 0), reference(w, h, mask != 0);
            for (size_t i = 0; i < fast.color.size(); ++i)
                fast.color[i] = reference.color[i] = uint8(rng());
            for (size_t i = 0; i < fast.depth.size(); ++i)
                fast.depth[i] = reference.depth[i] = uint16_t(rng());
            const unsigned short startDepth = core.lastDepth;
            fast.Bind(core);
            core.DrawSpansBetweenEdges(&longEdge, &shortEdge);
            const unsigned short fastLast = core.lastDepth;
            core.lastDepth = startDepth;
            reference.Bind(core);
            ReferenceRows(core, longEdge, shortEdge);
            ASSERT_TRUE(SameImage(fast.color, reference.color, w, 3))
                << "mask " << mask << " trial " << trial;
            ASSERT_TRUE(SameImage(fast.depth, reference.depth, w, 1))
                << "mask " << mask << " trial " << trial;
            ASSERT_EQ(fastLast, core.lastDepth) << "mask " << mask << " trial " << trial;
        }
    }
}

// A set-up record keeps the corners only; the row walk takes each edge's top end (on equal y,
// the edge's own first corner) and difference from them. Triangles with equal y at every place
// a tie can fall, in every corner order, drawn through set-up give the bytes of the scalar
// records built from the edges as set-up orders them.
TEST(FastPaths, SetUpRecordMatchesTheEdgesItWasMadeFrom)
{
    // Corners at whole and half pixels of a 16 x 16 view, w = 1: the viewport mapping is then
    // exact, so the test knows the screen positions set-up works with.
    const float corners[][3][2] = {
        {{1, 1}, {13, 1}, {5, 9}},    // flat top
        {{2, 10}, {14, 10}, {6, 2}},  // flat bottom
        {{1, 2}, {13, 2}, {13, 2}},   // two corners equal
        {{1, 4}, {8, 4}, {15, 4}},    // all on one row
        {{3, 1}, {3, 11}, {9, 6}},    // a vertical edge
        {{2, 1}, {12, 11}, {7, 1}},   // a tie between the long edge's top and another
        {{1, 6}, {15, 2}, {15, 10}},  // two edges of equal height
        {{4.5f, 0.5f}, {11.5f, 7.5f}, {0.5f, 7.5f}},  // rows on the corners' centres
    };
    const int w = 16, h = 16;
    const int orders[][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
    int index = 0;
    for (const auto& shape : corners)
        for (const auto& order : orders) {
            _3D_Korvane_Core core;
            core.cullEnabled = false;
            core.drawFeatures = kSpanColor;
            _3D_Korvane_Shader clip[3], screen[3];
            for (int k = 0; k < 3; ++k) {
                const float* c = shape[order[k]];
                const float z = 0.125f * float(k) - 0.25f;
                const vec3 rgb(0.25f * float(k + 1), 0.5f, 1.0f - 0.25f * float(k));
                clip[k].position = vec4(c[0] / w * 2.0f - 1.0f, c[1] / h * 2.0f - 1.0f, z, 1.0f);
                clip[k].color = rgb;
                screen[k].position = vec4(c[0], c[1], z * 0.5f + 0.5f, 1.0f);
                screen[k].color = rgb;
            }
            TestTarget got(w, h), expected(w, h);
            got.Clear();
            expected.Clear();
            core.lastDepth = 0;
            got.Bind(core);
            core.RasterizeTriangle(clip);
            const unsigned short gotLast = core.lastDepth;

            // The edges as set-up orders them: edge k from corner k to k + 1, the longest in y
            // first (a tie keeps the earlier), then the two others in turn.
            CEdge edges[3];
            float dy[3];
            for (int k = 0; k < 3; ++k) {
                edges[k].Set(&screen[k], &screen[(k + 1) % 3]);
                edges[k].SetDeltas(*edges[k].first, *edges[k].second, kSpanColor);
                dy[k] = edges[k].position.y;
            }
            int longest = dy[0] < dy[1] ? 1 : 0;
            if (dy[longest] < dy[2]) longest = 2;
            core.lastDepth = 0;
            expected.Bind(core);
            for (int e = 1; e <= 2; ++e)
                ReferenceRows(core, edges[longest], edges[(longest + e) % 3]);
            const std::string what = "triangle " + std::to_string(index++);
            EXPECT_TRUE(SameImage(got.color, expected.color, w, 3)) << what;
            EXPECT_TRUE(SameImage(got.depth, expected.depth, w, 1)) << what;
            EXPECT_EQ(gotLast, core.lastDepth) << what;
        }
}

}  // namespace
