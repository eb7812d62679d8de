#include "core/core.h"
#include "core/render_mode.h"
#include "platform/platform.h"
#include "tests/execution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

typedef std::set<std::pair<int, int>> Pixels;

// An image DC that goes away with the test.
struct ImageDC {
    HDC hdc;
    int w = 0, h = 0;
    const unsigned char* pixels = nullptr;
    ImageDC(int width, int height) : hdc(krvplat::CreateImageDC(width, height))
    {
        krvplat::GetImage(hdc, w, h, pixels);
    }
    ~ImageDC() { krvplat::DestroyImageDC(hdc); }

    const unsigned char* Pixel(int x, int y) const
    {
        return pixels + (static_cast<size_t>(y) * w + x) * 3;
    }
    Pixels Lit() const
    {
        Pixels lit;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (Pixel(x, y)[0] | Pixel(x, y)[1] | Pixel(x, y)[2]) lit.insert({x, y});
        return lit;
    }
    // The bounding box of the non-black pixels from the origin: (width, height).
    std::pair<int, int> LitExtent() const
    {
        std::pair<int, int> e(0, 0);
        for (const auto& p : Lit())
            e = {std::max(e.first, p.first + 1), std::max(e.second, p.second + 1)};
        return e;
    }
};

// A core of w x h output pixels without supersampling, the colour buffer (padding included)
// filled with a byte pattern that differs in every position.
void MakeCore(_3D_Korvane_Core& core, int w, int h, int mode)
{
    core.antiAliasing = KrvAA_Off;
    core.renderMode = mode;
    core.ResizeBuffers(w, h);
    for (int i = 0; i < core.colorWidth * h * 3; ++i)
        core.colorBuffer[i] = static_cast<uint8>(1 + i);
}

void FillColour(_3D_Korvane_Core& core, uint8 value)
{
    std::memset(core.colorBuffer, value,
                static_cast<size_t>(core.colorWidth) * static_cast<size_t>(core.colorHeight) * 3);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

// Width 5: the bitmap is 8 pixels wide, but only the 5 source columns reach the image.
TEST(PresentSwap, UnscaledModesCopyRowsBottomUp)
{
    for (int mode : {KrvRenderMode_Normal, KrvRenderMode_Device}) {
        _3D_Korvane_Core core;
        MakeCore(core, 5, 2, mode);
        ASSERT_EQ(core.colorWidth, 8);
        ImageDC dc(16, 8);
        core.SwapBuffers(dc.hdc);
        EXPECT_EQ(dc.LitExtent(), std::make_pair(5, 2)) << mode;
        // Buffer row 0 is the bottom image row.
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x)
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(dc.Pixel(x, y)[k], core.colorBuffer[((1 - y) * 8 + x) * 3 + k])
                        << "mode " << mode << " at " << x << "," << y;
    }
}

TEST(PresentSwap, DestinationSizeByMode)
{
    const struct {
        int mode, w, h;
    } cases[] = {{KrvRenderMode_Normal, 6, 3},
                 {KrvRenderMode_Device, 6, 3},
                 {KrvRenderMode_Speed, 9, 4},
                 {KrvRenderMode_Boost, 12, 6},
                 {KrvRenderMode_Nearest, 16, 8}};
    for (const auto& c : cases) {
        _3D_Korvane_Core core;
        MakeCore(core, 6, 3, c.mode);
        FillColour(core, 200);
        ImageDC dc(40, 20);
        core.SwapBuffers(dc.hdc);
        EXPECT_EQ(dc.LitExtent(), std::make_pair(c.w, c.h)) << "mode " << c.mode;
    }
}

TEST(PresentSwap, HalftoneOnlyForTheTwoLargestScales)
{
    const struct {
        int mode, stretchMode;
    } cases[] = {{KrvRenderMode_Normal, COLORONCOLOR},
                 {KrvRenderMode_Device, COLORONCOLOR},
                 {KrvRenderMode_Speed, COLORONCOLOR},
                 {KrvRenderMode_Boost, HALFTONE},
                 {KrvRenderMode_Nearest, HALFTONE}};
    for (const auto& c : cases) {
        _3D_Korvane_Core core;
        MakeCore(core, 2, 1, c.mode);
        // Two pixels, black and bright: only a smoothing blit makes values in between.
        FillColour(core, 0);
        core.colorBuffer[3] = core.colorBuffer[4] = core.colorBuffer[5] = 200;
        ImageDC dc(8, 4);
        SetStretchBltMode(dc.hdc, COLORONCOLOR);
        core.SwapBuffers(dc.hdc);
        EXPECT_EQ(GetStretchBltMode(dc.hdc), c.stretchMode) << c.mode;
        bool between = false;
        for (int x = 0; x < 8; ++x) {
            const unsigned char v = dc.Pixel(x, 0)[0];
            if (v != 0 && v != 200) between = true;
        }
        EXPECT_EQ(between, c.stretchMode == HALFTONE) << c.mode;
    }
}

TEST(PresentSwap, NothingWithoutBufferOrForUnknownMode)
{
    _3D_Korvane_Core empty;
    ImageDC dc(8, 4);
    empty.renderMode = KrvRenderMode_Normal;
    empty.SwapBuffers(dc.hdc);
    EXPECT_EQ(dc.LitExtent(), std::make_pair(0, 0));

    for (int mode : {0, 127, 133}) {
        _3D_Korvane_Core core;
        MakeCore(core, 4, 2, mode);
        core.SwapBuffers(dc.hdc);
        EXPECT_EQ(dc.LitExtent(), std::make_pair(0, 0)) << mode;
    }
}

TEST(PresentSwap, SupersampledBufferFilteredBeforeBlit)
{
    _3D_Korvane_Core core;
    core.antiAliasing = KrvAA_2x2;
    core.renderMode = KrvRenderMode_Normal;
    core.ResizeBuffers(1, 1);
    ASSERT_EQ(core.aaWidth, 2);
    const uint8 samples[12] = {10, 20, 30, 14, 20, 30, 10, 20, 30, 10, 21, 33};
    std::memcpy(core.aaColorBuffer, samples, sizeof samples);
    ImageDC dc(4, 4);
    core.SwapBuffers(dc.hdc);
    EXPECT_EQ(dc.Pixel(0, 0)[0], 11);  // 44 / 4
    EXPECT_EQ(dc.Pixel(0, 0)[1], 20);  // 81 / 4 truncated
    EXPECT_EQ(dc.Pixel(0, 0)[2], 30);  // 123 / 4 truncated
}

// The filter and the blits share their rows out over the threads. At a size they split, every
// render mode, with and without supersampling, shows the same image on any thread count as on
// one; the image is larger than the blit, so a slice writing outside its rows would show too.
TEST(PresentSwap, EveryThreadCountShowsTheSameImage)
{
    std::mt19937 rng(7);
    for (int mode : {KrvRenderMode_Normal, KrvRenderMode_Device, KrvRenderMode_Speed,
                     KrvRenderMode_Boost, KrvRenderMode_Nearest}) {
        for (int aa : {KrvAA_Off, KrvAA_3x3}) {
            _3D_Korvane_Core core;
            core.antiAliasing = aa;
            core.renderMode = mode;
            core.ResizeBuffers(601, 451);
            ASSERT_NE(core.colorBuffer, nullptr);
            uint8* noise = aa ? core.aaColorBuffer : core.colorBuffer;
            const size_t bytes = aa ? size_t(core.aaWidth) * core.aaHeight * 3
                                    : size_t(core.colorWidth) * core.colorHeight * 3;
            for (size_t i = 0; i < bytes; ++i) noise[i] = static_cast<uint8>(rng());
            std::vector<unsigned char> reference;
            for (int threads : {1, 2, 3, 7}) {
                ScopedExecution execution({threads, 1});
                ImageDC dc(1700, 1300);
                core.SwapBuffers(dc.hdc);  // filters the same samples again when supersampled
                std::vector<unsigned char> image(dc.pixels, dc.pixels + size_t(dc.w) * dc.h * 3);
                if (threads == 1)
                    reference = image;
                else
                    EXPECT_TRUE(image == reference)
                        << "mode " << mode << " aa " << aa << " threads " << threads;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(PresentPixel, PacksTruncatedLowBytes)
{
    _3D_Korvane_Core core;
    core.SetPixel(1, 1, 100.0f, 100.0f, 100.0f);  // no window DC: nothing, no crash
    ImageDC dc(4, 4);
    core.windowDC = dc.hdc;
    core.SetPixel(1, 2, 10.9f, 300.0f, -1.0f);
    const unsigned char* p = dc.Pixel(1, 2);
    EXPECT_EQ(p[0], 255);  // blue: -1, low byte
    EXPECT_EQ(p[1], 44);   // green: 300 & 255
    EXPECT_EQ(p[2], 10);   // red
    EXPECT_EQ(dc.Lit().size(), 1u);
}

TEST(PresentLine, BresenhamPixels)
{
    const struct {
        int x0, y0, x1, y1;
        Pixels expect;
    } cases[] = {
        {0, 0, 4, 2, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
        {4, 2, 0, 0, {{4, 2}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}},
        {1, 0, 2, 3, {{1, 0}, {1, 1}, {2, 2}, {2, 3}}},
        {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
        {3, 3, 3, 3, {{3, 3}}},
        {5, 1, 1, 1, {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}},
    };
    for (const auto& c : cases) {
        ImageDC dc(8, 8);
        _3D_Korvane_Core core;
        core.windowDC = dc.hdc;
        core.SetLineBresenham(c.x0, c.y0, c.x1, c.y1, 255.0f, 0.0f, 0.0f);
        EXPECT_EQ(dc.Lit(), c.expect) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    }
}

TEST(PresentLine, OptimizedRuns)
{
    const struct {
        int x0, y0, x1, y1;
        Pixels expect;
    } cases[] = {
        {2, 5, 2, 1, {{2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}}},
        {6, 0, 3, 0, {{3, 0}, {4, 0}, {5, 0}, {6, 0}}},
        {0, 0, 4, 2, {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}}},
        {4, 2, 0, 0, {{4, 2}, {3, 2}, {2, 2}, {1, 1}, {0, 1}}},
        {0, 0, 1, 3, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {0, 0, 2, 2, {{0, 0}, {1, 0}, {2, 1}}},
    };
    for (const auto& c : cases) {
        ImageDC dc(8, 8);
        _3D_Korvane_Core core;
        core.windowDC = dc.hdc;
        core.SetLineOptimized(c.x0, c.y0, c.x1, c.y1, 0.0f, 255.0f, 0.0f);
        EXPECT_EQ(dc.Lit(), c.expect) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    }
}

// The plain Bresenham walk of the whole line, cut to a w x h image afterwards.
static Pixels PlainBresenham(int64_t x0, int64_t y0, int64_t x1, int64_t y1, int w, int h)
{
    Pixels all;
    auto plot = [&](int64_t x, int64_t y) {
        if (x >= 0 && y >= 0 && x < w && y < h) all.insert({int(x), int(y)});
    };
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    const bool xMajor = ady < adx;
    const int64_t major = xMajor ? adx : ady, minor = xMajor ? ady : adx;
    int64_t x = x0, y = y0, e = 2 * minor - major;
    plot(x, y);
    for (int64_t k = 1; k <= major; ++k) {
        const bool step = e >= 0;
        if (xMajor) {
            x += sx;
            if (step) y += sy;
        } else {
            y += sy;
            if (step) x += sx;
        }
        plot(x, y);
        e += 2 * minor;
        if (step) e -= 2 * major;
    }
    return all;
}

// Lines reaching far outside the image walk only their visible part, pixel for pixel as the
// whole walk would draw it there, and lines as long as the int range end at once.
TEST(PresentLine, FarEndsDrawTheVisiblePartOnly)
{
    const struct {
        int x0, y0, x1, y1;
    } cases[] = {
        {-100000, 3, 50, 20},  {50, 20, -100000, 3},   {-7, -300000, 12, 40},
        {30, 2, 200000, 9000}, {-5000, 40000, 60, -9}, {17, -1, -40000, 19999},
    };
    for (const auto& c : cases) {
        ImageDC dc(64, 48);
        _3D_Korvane_Core core;
        core.windowDC = dc.hdc;
        core.SetLineBresenham(c.x0, c.y0, c.x1, c.y1, 255.0f, 0.0f, 0.0f);
        EXPECT_EQ(dc.Lit(), PlainBresenham(c.x0, c.y0, c.x1, c.y1, 64, 48))
            << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
    }
    ImageDC dc(64, 48);
    _3D_Korvane_Core core;
    core.windowDC = dc.hdc;
    core.SetLineBresenham(INT_MIN, INT_MIN + 7, INT_MAX, INT_MAX - 3, 255.0f, 255.0f, 255.0f);
    core.SetLineOptimized(INT_MIN, 5, INT_MAX, 9, 255.0f, 255.0f, 255.0f);
    core.SetLineOptimized(3, INT_MIN, 3, INT_MAX, 255.0f, 255.0f, 255.0f);
    EXPECT_EQ(dc.Lit().count({3, 20}), 1u);  // the vertical run, cut to the image
}

// Any int may reach the table as a mode or a size: the modes outside it keep sizes and blit
// nothing, whole factors saturate like the fractional ones, and nothing overflows (UBSan).
TEST(PresentRenderModes, EveryIntIsAModeAndASize)
{
    const int modes[] = {INT_MIN, INT_MIN + 1, -1, 0, 127, 128, 129, 130, 131, 132, 133, INT_MAX};
    const int sizes[] = {INT_MIN, -1, 0, 1, 800, 1 << 30, INT_MAX};
    for (int mode : modes) {
        const bool listed = mode >= KrvRenderMode_Normal && mode <= KrvRenderMode_Nearest;
        EXPECT_EQ(krvi::RenderModeOf(mode).blit != krvi::Blit_None, listed) << mode;
        for (int size : sizes) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", size " << size);
            if (!listed) {
                EXPECT_EQ(krvi::InternalSize(mode, size), size);
                EXPECT_EQ(krvi::WindowSize(mode, size), size);
            }
            if (size >= 0) {
                EXPECT_GE(krvi::WindowSize(mode, size), krvi::InternalSize(mode, size));
            }
        }
    }
    EXPECT_EQ(krvi::WindowSize(KrvRenderMode_Boost, INT_MAX), INT_MAX);
    EXPECT_EQ(krvi::WindowSize(KrvRenderMode_Boost, INT_MIN), INT_MIN);
    EXPECT_EQ(krvi::InternalSize(KrvRenderMode_Nearest, 800), 290);
}
