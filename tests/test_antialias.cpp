#include "core/core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// The filter as the formula states it, one sample at a time.
std::vector<uint8> ReferenceFilter(const _3D_Korvane_Core& core, int f)
{
    std::vector<uint8> out(static_cast<size_t>(core.colorWidth) * core.colorHeight * 3, 0);
    for (int r = 0; r * f < core.aaHeight; ++r)
        for (int c = 0; c * f < core.aaWidth; ++c)
            for (int k = 0; k < 3; ++k) {
                int sum = 0;
                for (int i = 0; i < f; ++i)
                    for (int j = 0; j < f; ++j)
                        sum += core.aaColorBuffer[((r * f + i) * core.aaWidth + c * f + j) * 3 + k];
                int value = 0;
                if (f == 2) value = static_cast<int>(static_cast<float>(sum) * 0.25f);
                if (f == 3) value = static_cast<int>(static_cast<double>(sum) / 9.0);
                if (f == 4) value = static_cast<int>(static_cast<float>(sum) * 0.0625f);
                out[static_cast<size_t>(r) * core.colorWidth * 3 + c * 3 + k] =
                    static_cast<uint8>(value);
            }
    return out;
}

int Factor(int mode) { return krvi::AntiAliasingFactor(mode); }

// Fills the f x f block of output pixel (0, 0), channel k, with the given samples (row-major).
void FillBlock(_3D_Korvane_Core& core, int f, int k, const std::vector<int>& samples)
{
    for (int i = 0; i < f; ++i)
        for (int j = 0; j < f; ++j)
            core.aaColorBuffer[(i * core.aaWidth + j) * 3 + k] =
                static_cast<uint8>(samples[static_cast<size_t>(i * f + j)]);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TEST(AntiAliasFilter, BlockAveragesTruncate)
{
    const struct {
        int mode;
        std::vector<int> samples;
        int expect;
    } cases[] = {
        {KrvAA_2x2, {0, 1, 1, 1}, 0},
        {KrvAA_2x2, {255, 255, 255, 255}, 255},
        {KrvAA_2x2, {3, 2, 1, 1}, 1},
        {KrvAA_3x3, std::vector<int>(9, 255), 255},
        {KrvAA_3x3, {255, 255, 255, 255, 254, 255, 255, 255, 255}, 254},
        {KrvAA_3x3, {1, 1, 1, 1, 1, 1, 1, 1, 0}, 0},
        {KrvAA_4x4, std::vector<int>(16, 200), 200},
        {KrvAA_4x4, {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 0},
    };
    for (const auto& c : cases) {
        for (int k = 0; k < 3; ++k) {
            _3D_Korvane_Core core;
            core.antiAliasing = c.mode;
            core.ResizeBuffers(2, 2);
            std::memset(core.aaColorBuffer, 0,
                        static_cast<size_t>(core.aaWidth) * core.aaHeight * 3);
            FillBlock(core, Factor(c.mode), k, c.samples);
            core.SetAntiAliasingFilter(c.mode);
            for (int kk = 0; kk < 3; ++kk)
                EXPECT_EQ(core.colorBuffer[kk], kk == k ? c.expect : 0)
                    << "mode " << c.mode << " channel " << k << " byte " << kk;
        }
    }
}

// Every width from one pixel to several vector groups with their tails, and a few heights.
TEST(AntiAliasFilter, MatchesReferenceOnNoise)
{
    std::mt19937 rng(1234);
    struct Size {
        int w, h;
    };
    std::vector<Size> sizes;
    for (int w = 1; w <= 70; ++w)
        for (int h : {1, 2, 7}) sizes.push_back({w, h});
    for (int mode : {KrvAA_2x2, KrvAA_3x3, KrvAA_4x4}) {
        for (const auto& s : sizes) {
            _3D_Korvane_Core core;
            core.antiAliasing = mode;
            core.ResizeBuffers(s.w, s.h);
            const size_t n = static_cast<size_t>(core.aaWidth) * core.aaHeight * 3;
            for (size_t i = 0; i < n; ++i) core.aaColorBuffer[i] = static_cast<uint8>(rng());
            std::memset(core.colorBuffer, 0, static_cast<size_t>(core.colorWidth) * s.h * 3);
            const std::vector<uint8> expect = ReferenceFilter(core, Factor(mode));
            core.SetAntiAliasingFilter(mode);
            ASSERT_EQ(0, std::memcmp(expect.data(), core.colorBuffer, expect.size()))
                << "mode " << mode << " size " << s.w << " x " << s.h;
        }
    }
}

// Every block sum a factor can have, in every channel and at every column of a row, against the
// integer quotient.
TEST(AntiAliasFilter, EveryBlockSumDividesExactly)
{
    for (int mode : {KrvAA_2x2, KrvAA_3x3, KrvAA_4x4}) {
        const int f = Factor(mode);
        const int maxSum = f * f * 255;
        const int w = 64;
        const int h = (maxSum + 1 + w - 1) / w;
        _3D_Korvane_Core core;
        core.antiAliasing = mode;
        core.ResizeBuffers(w, h);
        // Output pixel n's channel k sums to (n + 37 k) modulo maxSum + 1, spread greedily over
        // its block's samples.
        auto sumOf = [&](int n, int k) { return (n + 37 * k) % (maxSum + 1); };
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                for (int k = 0; k < 3; ++k) {
                    int left = sumOf(r * w + c, k);
                    for (int i = 0; i < f; ++i)
                        for (int j = 0; j < f; ++j) {
                            const int v = left < 255 ? left : 255;
                            left -= v;
                            core.aaColorBuffer[((r * f + i) * core.aaWidth + c * f + j) * 3 + k] =
                                static_cast<uint8>(v);
                        }
                }
        core.SetAntiAliasingFilter(mode);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                for (int k = 0; k < 3; ++k) {
                    const int sum = sumOf(r * w + c, k);
                    ASSERT_EQ(core.colorBuffer[(r * core.colorWidth + c) * 3 + k], sum / (f * f))
                        << "mode " << mode << " sum " << sum << " column " << c;
                }
    }
}

TEST(AntiAliasFilter, PaddingColumnsUntouched)
{
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_2x2;
    core.ResizeBuffers(5, 2);
    ASSERT_EQ(core.colorWidth, 8);
    std::memset(core.aaColorBuffer, 40, static_cast<size_t>(core.aaWidth) * core.aaHeight * 3);
    std::memset(core.colorBuffer, 0xAB, 8 * 2 * 3);
    core.SetAntiAliasingFilter(KrvAA_2x2);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 8; ++c)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(core.colorBuffer[(r * 8 + c) * 3 + k], c < 5 ? 40 : 0xAB)
                    << r << "," << c;
}

// Buffers sized for one factor and filtered with another (the mode changed without a resize):
// the filter stays inside both buffers. The sanitizer build checks the bounds.
TEST(AntiAliasFilter, MismatchedFactorStaysInBounds)
{
    for (int allocated : {KrvAA_2x2, KrvAA_3x3, KrvAA_4x4}) {
        for (int filtered : {KrvAA_2x2, KrvAA_3x3, KrvAA_4x4}) {
            _3D_Korvane_Core core;
            core.antiAliasing = allocated;
            core.ResizeBuffers(7, 5);
            std::memset(core.aaColorBuffer, 60,
                        static_cast<size_t>(core.aaWidth) * core.aaHeight * 3);
            std::memset(core.colorBuffer, 0, static_cast<size_t>(core.colorWidth) * 5 * 3);
            core.SetAntiAliasingFilter(filtered);
            EXPECT_EQ(core.colorBuffer[0], 60) << allocated << " " << filtered;
        }
    }
    _3D_Korvane_Core none;
    none.SetAntiAliasingFilter(KrvAA_2x2);

    // Modes without a factor filter nothing.
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_2x2;
    core.ResizeBuffers(4, 4);
    std::memset(core.aaColorBuffer, 90, static_cast<size_t>(core.aaWidth) * core.aaHeight * 3);
    std::memset(core.colorBuffer, 7, 4 * 4 * 3);
    for (int mode : {0, 1, 63, 67}) core.SetAntiAliasingFilter(mode);
    EXPECT_EQ(core.colorBuffer[0], 7);
}

// ---------------------------------------------------------------------------------------------

TEST(AntiAliasHelpers, ReadAndWriteOnePixel)
{
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_2x2;
    core.ResizeBuffers(4, 1);
    for (int i = 0; i < core.aaWidth * core.aaHeight * 3; ++i)
        core.aaColorBuffer[i] = static_cast<uint8>(i);
    vec3 s = core.AddAntiAliasingLine(6);
    EXPECT_EQ(s.x, 6.0f);
    EXPECT_EQ(s.y, 7.0f);
    EXPECT_EQ(s.z, 8.0f);

    std::memset(core.colorBuffer, 0, 4 * 3);
    core.SetAntiAliasingLine(vec3(1023.0f, 7.0f, 1024.0f), 3, 4);
    EXPECT_EQ(core.colorBuffer[3], 255);
    EXPECT_EQ(core.colorBuffer[4], 1);
    EXPECT_EQ(core.colorBuffer[5], 0);  // 256: low 8 bits

    // Nothing happens for a zero or negative count or a position outside the buffers.
    core.SetAntiAliasingLine(vec3(100.0f), 0, 0);
    core.SetAntiAliasingLine(vec3(100.0f), 0, -2);
    core.SetAntiAliasingLine(vec3(100.0f), -1, 1);
    core.SetAntiAliasingLine(vec3(100.0f), 4 * 3 - 2, 1);
    EXPECT_EQ(core.colorBuffer[0], 0);
    EXPECT_EQ(core.colorBuffer[11], 0);
    vec3 z = core.AddAntiAliasingLine(core.aaWidth * core.aaHeight * 3 - 2);
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(core.AddAntiAliasingLine(-3).x, 0.0f);
}
