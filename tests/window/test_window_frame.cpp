// The window and its frame loop without a screen: buffer sizes per render mode, the pacer and the
// frames on the test's clock (frame time, title line, presentation), placement on the desktop,
// the ready-made window procedure and the input helpers.
#include "tests/window/demo_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hwnd = OpenDemoWindow();
        ASSERT_NE(hwnd, nullptr);
        ResetDemoState();
    }
    void TearDown() override { ResetDemoState(); }

    HWND hwnd = nullptr;
};

// ---------------------------------------------------------------------------------------------
using WindowSize = WindowTest;

TEST_F(WindowSize, BuffersFollowTheClientSizeByRenderMode)
{
    struct Case {
        int mode, width, height, bufferWidth, bufferHeight;
    };
    const Case cases[] = {
        {KrvRenderMode_Normal, 800, 600, 800, 600},
        {KrvRenderMode_Device, 800, 600, 800, 600},
        {KrvRenderMode_Speed, 800, 600, 533, 400},
        {KrvRenderMode_Boost, 800, 600, 400, 300},
        {KrvRenderMode_Nearest, 800, 600, 290, 218},
        {KrvRenderMode_Boost, 801, 601, 400, 300},
        {KrvRenderMode_Nearest, 801, 601, 291, 218},
        {KrvRenderMode_Speed, 1, 1, 0, 0},
        // Codes outside the five modes keep the client size.
        {127, 320, 200, 320, 200},
    };
    _3D_Korvane_Rendering& r = krvRendering();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        r.renderMode = c.mode;
        _3D_KRV_Wnd.WMSize(c.width, c.height);
        EXPECT_EQ(_3D_KRV_Wnd.width, c.width);
        EXPECT_EQ(_3D_KRV_Wnd.height, c.height);
        EXPECT_EQ(r.sizeWidth, c.bufferWidth);
        EXPECT_EQ(r.sizeHeight, c.bufferHeight);
        EXPECT_EQ(r.width, c.bufferWidth);
        EXPECT_EQ(r.height, c.bufferHeight);
        EXPECT_EQ(r.viewportX, 0);
        EXPECT_EQ(r.viewportY, 0);
        EXPECT_EQ(r.viewportWidth, c.bufferWidth);
        EXPECT_EQ(r.viewportHeight, c.bufferHeight);
        if (c.bufferWidth > 0) {
            EXPECT_EQ(r.aaWidth, 2 * c.bufferWidth);  // the default 4x supersampling
            EXPECT_EQ(r.aaHeight, 2 * c.bufferHeight);
            const mat4x4 expected = perspective(
                45.0f, static_cast<float>(c.bufferWidth) / c.bufferHeight, 0.125f, 100.0f);
            EXPECT_EQ(std::memcmp(&r.Camera.ProjectionMatrix, &expected, sizeof expected), 0);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The frame loop on the test's clock: every tick is set, so nothing here waits or depends on how
// long the machine has been up.
class FrameLoopTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        _3D_KRV_Wnd.loop.Reset();
    }
    void TearDown() override
    {
        krvplat::ClearTickCount();
        _3D_KRV_Wnd.loop.Reset();
        WindowTest::TearDown();
    }
};

using FramePacing = FrameLoopTest;

// EqualizeFrame(60) called until it refuses, at each tick of a sequence: it grants one step of
// 1/60 s a call for the time passed since the previous decision, and keeps the rest. The first
// call starts the clock. Started just before the tick count's wrap too, where the difference of
// two ticks must still be the time between them.
TEST_F(FramePacing, GrantsOneFixedStepPerCallAndKeepsTheSurplus)
{
    struct Call {
        DWORD after;  // milliseconds after the start
        int steps;
    };
    const Call calls[] = {
        {0, 0},    // starts the pacer
        {110, 6},  // 6 steps of 16.67 ms, 10 ms kept
        {117, 1},  // 17 ms: one more, 0.33 kept
        {133, 0},  // 16.33 ms: not yet
        {134, 1},  // 17.33 ms
        {134, 0},  // no time passed
        {1134, 60},
    };
    for (DWORD start : {DWORD(5000), DWORD(0u - 120u)}) {
        SCOPED_TRACE("start " + std::to_string(start));
        _3D_Korvane_Window& w = _3D_KRV_Wnd;
        w.loop.Reset();
        for (const Call& c : calls) {
            krvplat::SetTickCount(start + c.after);
            int granted = 0;
            while (w.EqualizeFrame(60)) {
                EXPECT_EQ(w.frameStep, 1.0f / 60.0f);
                ASSERT_LT(++granted, 1000);
            }
            EXPECT_EQ(w.frameStep, 0.0f);
            EXPECT_EQ(granted, c.steps) << "at " << c.after << " ms";
        }
    }
}

TEST_F(FramePacing, NoRateGrantsNoStep)
{
    krvplat::SetTickCount(1000);
    EXPECT_FALSE(_3D_KRV_Wnd.EqualizeFrame(60));
    for (int hz : {0, -60}) {
        krvplat::SetTickCount(1500);
        EXPECT_FALSE(_3D_KRV_Wnd.EqualizeFrame(hz));
        EXPECT_EQ(_3D_KRV_Wnd.frameStep, 0.0f);
    }
}

// ---------------------------------------------------------------------------------------------
using FrameLoop = FrameLoopTest;

int renders = 0;

// Every supersampled pixel mid-grey: whatever the filter and the stretch, the window shows it.
void FillGrey()
{
    ++renders;
    _3D_Korvane_Rendering& r = krvRendering();
    if (r.aaColorBuffer) std::memset(r.aaColorBuffer, 0x80, size_t(r.aaWidth) * r.aaHeight * 3);
}

std::string WindowTitle(HWND hwnd)
{
    char text[512];
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// Paints 10 ms apart on the test's clock, from a start tick, with the demo's title callback.
// Every paint after the first renders once with a frame time of 10 ms; the title is rewritten
// once more than a second has passed since the last time (or the first paint), 1010 ms, and
// then shows the paints of that interval per second, 100. Started 1.5 s before the tick count
// wraps, the updates fall on both sides of the wrap.
TEST_F(FrameLoop, RendersEveryPaintAndTitlesOncePerSecondAcrossTheTickWrap)
{
    static const std::regex format(
        "^3D Korvane Demo - FPS: 100 - 160x120, TF: ON, AA: 4x, "
        "RM: SPEED, NT: ([0-9]+)$");
    _3D_Korvane_Window& w = _3D_KRV_Wnd;
    for (DWORD start : {DWORD(5000), DWORD(0u - 1500u)}) {
        SCOPED_TRACE("start " + std::to_string(start));
        w.loop.Reset();
        w.WMSize(160, 120);  // small buffers: the paints are about the clock, not the picture
        const char* untouched = "untouched";
        SetWindowTextA(hwnd, untouched);
        std::vector<int> titledAt;
        renders = 0;
        const int paints = 320;
        for (int i = 0; i < paints; ++i) {
            krvplat::SetTickCount(start + 10u * static_cast<DWORD>(i));
            w.WMPaint(FillGrey, FrameWorks);
            EXPECT_EQ(w.GetFrame(), i == 0 ? 0.0f : 10.0f * 0.001f) << "paint " << i;
            const std::string title = WindowTitle(hwnd);
            if (title == untouched) continue;
            titledAt.push_back(i);
            std::smatch m;
            if (std::regex_match(title, m, format))
                EXPECT_EQ(std::atoi(m[1].str().c_str()), DemoTriangleCount());
            else
                ADD_FAILURE() << "paint " << i << ": title \"" << title << "\"";
            SetWindowTextA(hwnd, untouched);
        }
        EXPECT_EQ(renders, paints - 1);
        EXPECT_EQ(titledAt, (std::vector<int>{101, 202, 303}));
    }
}

// What the frames render reaches the window's client area, as far as the stretch of the
// 533 x 400 buffers by 1.5 (truncated) covers it: 799 x 600.
TEST_F(FrameLoop, PaintsShowTheFrameInTheWindow)
{
    renders = 0;
    for (DWORD tick : {1000u, 1010u}) {
        krvplat::SetTickCount(tick);
        _3D_KRV_Wnd.WMPaint(FillGrey, FrameWorks);
    }
    ASSERT_EQ(renders, 1);
    int width = 0, height = 0;
    const unsigned char* pixels = nullptr;
    ASSERT_TRUE(krvplat::GetWindowImage(hwnd, width, height, pixels));
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 600);
    const int shownWidth = TruncToInt(1.5f * static_cast<float>(krvRendering().width));
    const int shownHeight = TruncToInt(1.5f * static_cast<float>(krvRendering().height));
    EXPECT_EQ(shownWidth, 799);
    EXPECT_EQ(shownHeight, 600);
    int other = 0, firstX = 0, firstY = 0;
    for (int y = 0; y < shownHeight; ++y) {
        for (int x = 0; x < shownWidth; ++x) {
            const unsigned char* p = pixels + (size_t(y) * width + x) * 3;
            if ((p[0] != 0x80 || p[1] != 0x80 || p[2] != 0x80) && other++ == 0) {
                firstX = x;
                firstY = y;
            }
        }
    }
    EXPECT_EQ(other, 0) << "pixels of the window that do not show the frame, the first at ("
                        << firstX << ", " << firstY << ")";
}

// ---------------------------------------------------------------------------------------------
// A back end that only reports a desktop size: the window stays in memory.
class DesktopOnly : public krvplat::Backend {
public:
    DesktopOnly(int w, int h) : width(w), height(h) {}
    bool OpenWindow(HWND, int, int, const char*) override { return true; }
    void CloseWindow(HWND) override {}
    void ShowWindow(HWND, bool) override {}
    void ResizeWindow(HWND, int, int) override {}
    void MoveWindow(HWND, int, int) override {}
    void SetTitle(HWND, const char*) override {}
    void Present(HWND, int, int, const unsigned char*) override {}
    void PumpEvents(int) override {}
    void DesktopSize(int& w, int& h) override
    {
        w = width;
        h = height;
    }
    int MessageBox(const char*, const char*, unsigned) override { return IDOK; }

private:
    int width, height;
};

using WindowPlacement = WindowTest;

// The outer size is the client size plus the frame the platform reports; halves are truncated.
// Under Win32 a 16 x 39 frame puts an 800 x 600 client area on a 1920 x 1080 desktop at
// (552, 221), 816 x 639; this platform draws no frame, so the window lands at (560, 240).
TEST_F(WindowPlacement, RedrawCentresTheWindowOnTheDesktop)
{
    struct Case {
        int desktopWidth, desktopHeight;  // 0: the platform's own
        int width, height;
    };
    const Case cases[] = {{0, 0, 800, 600}, {1365, 767, 801, 601}, {1024, 768, 1280, 800}};
    krvplat::Backend* saved = krvplat::GetBackend();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.desktopWidth) + "x" + std::to_string(c.desktopHeight));
        DesktopOnly fake(c.desktopWidth, c.desktopHeight);
        if (c.desktopWidth > 0) krvplat::SetBackend(&fake);
        RECT desktop, window, client;
        GetWindowRect(GetDesktopWindow(), &desktop);
        GetWindowRect(hwnd, &window);
        GetClientRect(hwnd, &client);
        const int frameWidth = (window.right - window.left) - client.right;
        const int frameHeight = (window.bottom - window.top) - client.bottom;

        _3D_KRV_Wnd.WMSize(c.width, c.height);
        PostQuitMessage(0);
        EXPECT_EQ(_3D_KRV_Wnd.Redraw(false), 0);
        krvplat::SetBackend(saved);

        ASSERT_TRUE(GetWindowRect(hwnd, &window));
        ASSERT_TRUE(GetClientRect(hwnd, &client));
        const int outerWidth = c.width + frameWidth, outerHeight = c.height + frameHeight;
        EXPECT_EQ(window.left, desktop.right / 2 - outerWidth / 2);
        EXPECT_EQ(window.top, desktop.bottom / 2 - outerHeight / 2);
        EXPECT_EQ(window.right - window.left, outerWidth);
        EXPECT_EQ(window.bottom - window.top, outerHeight);
        EXPECT_EQ(client.right, c.width);
        EXPECT_EQ(client.bottom, c.height);
        EXPECT_TRUE(ShowWindow(hwnd, SW_SHOW)) << "Redraw left the window hidden";
        if (c.desktopWidth == 0) {
            EXPECT_EQ(frameWidth, 0);
            EXPECT_EQ(window.left, 560);
            EXPECT_EQ(window.top, 240);
        }
        ShowWindow(hwnd, SW_HIDE);
    }
}

TEST_F(WindowPlacement, MaximisedFillsTheDesktopAndTheBuffersFollow)
{
    RECT desktop, client;
    GetWindowRect(GetDesktopWindow(), &desktop);
    PostQuitMessage(0);
    EXPECT_EQ(_3D_KRV_Wnd.Redraw(true), 0);
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    EXPECT_EQ(client.right, desktop.right);
    EXPECT_EQ(client.bottom, desktop.bottom);
    EXPECT_EQ(_3D_KRV_Wnd.width, desktop.right);
    EXPECT_EQ(_3D_KRV_Wnd.height, desktop.bottom);
    EXPECT_EQ(krvRendering().sizeWidth, desktop.right * 2 / 3);  // SPEED: a third less
}

TEST_F(WindowPlacement, RedrawWithoutAWindowFails)
{
    _3D_Korvane_Window& w = _3D_KRV_Wnd;
    HWND saved = w.hwnd;
    w.hwnd = nullptr;
    EXPECT_EQ(w.Redraw(false), -1);
    w.hwnd = saved;
}

// ---------------------------------------------------------------------------------------------
using WindowProcedure = WindowTest;

TEST_F(WindowProcedure, ForwardsSizeAndTurnsCloseIntoQuit)
{
    EXPECT_EQ(krvWindowProcedure(hwnd, WM_SIZE, 0, MAKELPARAM(320, 200), nullptr, nullptr), 0);
    EXPECT_EQ(_3D_KRV_Wnd.width, 320);
    EXPECT_EQ(_3D_KRV_Wnd.height, 200);
    EXPECT_EQ(krvRendering().sizeWidth, 213);
    EXPECT_EQ(krvRendering().sizeHeight, 133);

    for (UINT msg : {WM_CLOSE, WM_DESTROY}) {
        SCOPED_TRACE(msg);
        EXPECT_EQ(krvWindowProcedure(hwnd, msg, 0, 0, nullptr, nullptr), 0);
        MSG quit;
        ASSERT_TRUE(PeekMessageA(&quit, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(quit.message, static_cast<UINT>(WM_QUIT));
        EXPECT_EQ(quit.wParam, 0u);
    }
    // Everything else is left to the default procedure, which posts nothing here.
    EXPECT_EQ(krvWindowProcedure(hwnd, WM_KEYDOWN, VK_ESCAPE, 0, nullptr, nullptr), 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// ---------------------------------------------------------------------------------------------
using InputHelpers = WindowTest;

int clicks = 0;
void CountClick() { ++clicks; }
int lastDx = 0, lastDy = 0, moves = 0;
void RecordMove(int dx, int dy)
{
    lastDx = dx;
    lastDy = dy;
    ++moves;
}
int lastWheel = 0;
void RecordWheel(int delta) { lastWheel = delta; }

TEST_F(InputHelpers, ButtonUpClicksOnlyWhereTheLastButtonWentDown)
{
    struct Case {
        void (*down)(int, int);
        void (*up)(int, int, void (*)());
        int upX, upY;
        bool clicked;
    };
    const Case cases[] = {
        {krvLButtonDown, krvLButtonUp, 5, 7, true},  {krvLButtonDown, krvLButtonUp, 5, 8, false},
        {krvLButtonDown, krvLButtonUp, 4, 7, false}, {krvRButtonDown, krvLButtonUp, 5, 7, true},
        {krvMButtonDown, krvRButtonUp, 5, 7, true},  {krvLButtonDown, krvMButtonUp, 6, 7, false},
    };
    for (const Case& c : cases) {
        clicks = 0;
        c.down(5, 7);
        EXPECT_EQ(krvRendering().clickX, 5);
        EXPECT_EQ(krvRendering().clickY, 7);
        c.up(c.upX, c.upY, CountClick);
        EXPECT_EQ(clicks, c.clicked ? 1 : 0) << c.upX << "," << c.upY;
        c.up(5, 7, nullptr);  // no callback, no call
    }
}

TEST_F(InputHelpers, MouseMoveReportsTheStepFromTheLastPosition)
{
    _3D_Korvane_Rendering& r = krvRendering();
    r.mouseX = 15;
    r.mouseY = 18;
    moves = 0;
    krvMouseMove(10, 20, RecordMove);
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(lastDx, 5);
    EXPECT_EQ(lastDy, -2);
    EXPECT_EQ(r.mouseX, 10);
    EXPECT_EQ(r.mouseY, 20);
    krvMouseMove(30, 40, nullptr);
    EXPECT_EQ(r.mouseX, 30);
    EXPECT_EQ(r.mouseY, 40);

    // Steps that do not fit an int saturate, keeping their direction.
    struct Step {
        int fromX, fromY, x, y, dx, dy;
    };
    const Step steps[] = {{INT_MIN, INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MAX},
                          {INT_MAX, INT_MIN, -1, 1, INT_MAX, INT_MIN},
                          {INT_MIN, 0, INT_MIN, INT_MIN, 0, INT_MAX},
                          {-1, 0, INT_MAX, INT_MIN + 1, INT_MIN, INT_MAX}};  // just fit
    for (const Step& s : steps) {
        r.mouseX = s.fromX;
        r.mouseY = s.fromY;
        krvMouseMove(s.x, s.y, RecordMove);
        EXPECT_EQ(lastDx, s.dx) << s.x << "," << s.y;
        EXPECT_EQ(lastDy, s.dy) << s.x << "," << s.y;
        EXPECT_EQ(r.mouseX, s.x);
        EXPECT_EQ(r.mouseY, s.y);
    }

    for (short delta : {short(120), short(-240), short(-32768)}) {
        krvMouseWheel(delta, RecordWheel);
        EXPECT_EQ(lastWheel, static_cast<int>(delta));
    }
}

TEST_F(InputHelpers, FastKeyIsTrueOnlyWhileTheKeyIsHeld)
{
    const int key = 'Q';  // no key of the demo
    krvplat::SetKeyDown(key, true);
    EXPECT_TRUE(krvFastKey(key));
    krvplat::SetKeyDown(key, false);
    if ((GetKeyState(key) & 1) == 0) {  // make it toggled, but released
        krvplat::SetKeyDown(key, true);
        krvplat::SetKeyDown(key, false);
    }
    ASSERT_EQ(GetKeyState(key) & 1, 1);
    EXPECT_FALSE(krvFastKey(key));

    krvplat::SetKeyDown(key, true);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(krvFastKey(key, 30));
    EXPECT_GE(GetTickCount() - start, 29u);
    krvplat::SetKeyDown(key, false);
    EXPECT_FALSE(krvFastKey(key, 0));
}

TEST(ProcessorClock, MeasuresAPlausibleFrequency)
{
#if defined(__x86_64__) || defined(__i386__)
    const int64_t mhz = krvGetHz();
    EXPECT_GT(mhz, 100);
    EXPECT_LT(mhz, 100000);
#else
    EXPECT_EQ(krvGetHz(), 0);
#endif
}

}  // namespace
