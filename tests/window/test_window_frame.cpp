// The window and its frame loop without a screen: buffer sizes per render mode, the pacer, the
// first second of frames (frame time, title line, presentation), placement on the desktop, the
// ready-made window procedure and the input helpers.
#include "tests/window/demo_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>

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
        {KrvRenderMode_Normal, 800, 600, 800, 600},  {KrvRenderMode_Device, 800, 600, 800, 600},
        {KrvRenderMode_Speed, 800, 600, 533, 400},   {KrvRenderMode_Boost, 800, 600, 400, 300},
        {KrvRenderMode_Nearest, 800, 600, 290, 218}, {KrvRenderMode_Boost, 801, 601, 400, 300},
        {KrvRenderMode_Nearest, 801, 601, 291, 218}, {KrvRenderMode_Speed, 1, 1, 0, 0},
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
            const mat4x4 expected =
                perspective(45.0f, static_cast<float>(c.bufferWidth) / c.bufferHeight, 0.125f,
                            100.0f);
            EXPECT_EQ(std::memcmp(&r.Camera.ProjectionMatrix, &expected, sizeof expected), 0);
        }
    }
}

// ---------------------------------------------------------------------------------------------
using FramePacing = WindowTest;

TEST_F(FramePacing, GrantsOneFixedStepPerCallAndKeepsTheSurplus)
{
    _3D_Korvane_Window& w = _3D_KRV_Wnd;
    const float step = 1.0f / 60.0f;
    const double sleepMs = 100.0;

    for (int i = 0; i < 10000 && w.EqualizeFrame(60); ++i) {
    }
    EXPECT_EQ(w.frameStep, 0.0f);
    const DWORD start = GetTickCount();
    Sleep(static_cast<DWORD>(sleepMs));
    int granted = 0;
    while (w.EqualizeFrame(60)) {
        EXPECT_EQ(w.frameStep, step);
        ++granted;
        ASSERT_LT(granted, 10000);
    }
    const double elapsedMs = static_cast<double>(GetTickCount() - start) + 1.0;
    EXPECT_EQ(w.frameStep, 0.0f);
    // The whole time since the drain is granted in steps of 1/60 s, one per call.
    const double stepMs = 1000.0 / 60.0;
    EXPECT_GE(granted, static_cast<int>(sleepMs / stepMs) - 1);
    EXPECT_LE(granted, static_cast<int>(elapsedMs / stepMs) + 2);
}

TEST_F(FramePacing, NoRateGrantsNoStep)
{
    for (int hz : {0, -60}) {
        Sleep(20);
        EXPECT_FALSE(_3D_KRV_Wnd.EqualizeFrame(hz));
        EXPECT_EQ(_3D_KRV_Wnd.frameStep, 0.0f);
    }
}

// ---------------------------------------------------------------------------------------------
// The first second of frames. The frame loop keeps its state in statics that only a new process
// starts afresh, so this runs in a child process of its own.

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

// Paints every 10 ms until the title changes; returns what went wrong, empty when nothing did.
std::string FirstSecondOfFrames()
{
    std::ostringstream failures;
    HWND hwnd = OpenDemoWindow();
    if (!hwnd) return "the window could not be created";
    ResetDemoState();
    _3D_Korvane_Window& w = _3D_KRV_Wnd;
    const std::string caption = "3D Korvane Demo";

    const DWORD firstBefore = GetTickCount();
    w.WMPaint(FillGrey, FrameWorks);
    const DWORD firstAfter = GetTickCount();
    if (w.GetFrame() != 0.0f)
        failures << "the first paint's frame time is " << w.GetFrame() << "\n";
    if (WindowTitle(hwnd) != caption) failures << "the first paint set the title\n";

    const double slackMs = 2.0;
    int paints = 1;
    DWORD previousBefore = firstBefore, previousAfter = firstAfter;
    for (;;) {
        Sleep(10);
        const DWORD before = GetTickCount();
        w.WMPaint(FillGrey, FrameWorks);
        const DWORD after = GetTickCount();
        const double frameMs = static_cast<double>(w.GetFrame()) * 1000.0;
        if (frameMs < before - previousAfter - 0.5 || frameMs > after - previousBefore + 0.5)
            failures << "paint " << paints << ": frame time " << frameMs << " ms, not within "
                     << before - previousAfter << ".." << after - previousBefore << "\n";

        const std::string title = WindowTitle(hwnd);
        if (title != caption) {
            if (after - firstBefore + slackMs <= 1000.0)
                failures << "the title changed " << after - firstBefore << " ms after the "
                         << "first paint\n";
            std::smatch m;
            static const std::regex format("^3D Korvane Demo - FPS: ([0-9]+) - 800x600, TF: ON, "
                                           "AA: 4x, RM: SPEED, NT: ([0-9]+)$");
            if (!std::regex_match(title, m, format)) {
                failures << "title \"" << title << "\"\n";
                break;
            }
            if (std::atoi(m[2].str().c_str()) != DemoTriangleCount())
                failures << "NT " << m[2] << ", the models have " << DemoTriangleCount() << "\n";
            // The paints before this one, over the time since the first.
            const int fps = std::atoi(m[1].str().c_str());
            const double low = paints * 1000.0 / (after - firstBefore) - 1.0;
            const double high = paints * 1000.0 / std::max(1u, before - firstAfter) + 1.0;
            if (fps < low || fps > high)
                failures << "FPS " << fps << " for " << paints << " paints in "
                         << before - firstAfter << ".." << after - firstBefore << " ms\n";
            break;
        }
        if (before - firstAfter > 1000.0 + slackMs) {
            failures << "no title " << before - firstAfter << " ms after the first paint\n";
            break;
        }
        ++paints;
        previousBefore = before;
        previousAfter = after;
    }

    // What the frames rendered reached the window's client area, as far as the stretch of the
    // 533 x 400 buffers by 1.5 (truncated) covers it: 799 x 600.
    int width = 0, height = 0;
    const unsigned char* pixels = nullptr;
    const int shownWidth = TruncToInt(1.5f * static_cast<float>(krvRendering().width));
    const int shownHeight = TruncToInt(1.5f * static_cast<float>(krvRendering().height));
    if (!krvplat::GetWindowImage(hwnd, width, height, pixels) || width != 800 || height != 600) {
        failures << "the window's image is " << width << "x" << height << "\n";
    } else if (renders > 0) {
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
        if (other > 0)
            failures << other << " pixels of the window do not show the frame, the first at ("
                     << firstX << ", " << firstY << ")\n";
    }
    return failures.str();
}

TEST(FrameLoop, FirstPaintHasNoFrameTimeAndTheTitleComesAfterASecond)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string failures = FirstSecondOfFrames();
            std::fputs(failures.c_str(), stderr);
            std::exit(failures.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The millisecond counter wraps to 0 about 49.7 days after boot. Started 1.5 s before the wrap,
// 400 paints 10 ms apart (on the test's clock) must each render once after the first, report a
// frame time of 10 ms, and rewrite the title about once a second, on both sides of the wrap.
std::string PaintsAcrossTheTickWrap()
{
    std::ostringstream failures;
    const DWORD start = 0u - 1500u;
    krvplat::SetTickCount(start);
    HWND hwnd = OpenDemoWindow();
    if (!hwnd) return "the window could not be created";
    ResetDemoState();
    _3D_Korvane_Window& w = _3D_KRV_Wnd;
    w.WMSize(160, 120);  // small buffers: the paints are about the clock, not the picture

    const char* untouched = "untouched";
    SetWindowTextA(hwnd, untouched);
    int titlesBefore = 0, titlesAfter = 0;
    renders = 0;
    const int paints = 400;
    for (int i = 0; i < paints; ++i) {
        const DWORD now = start + 10u * static_cast<DWORD>(i);
        krvplat::SetTickCount(now);
        w.WMPaint(FillGrey, nullptr);
        if (i > 0 && w.GetFrame() != 10.0f * 0.001f)
            failures << "paint " << i << " at tick " << now << ": frame time " << w.GetFrame()
                     << "\n";
        if (WindowTitle(hwnd) != untouched) {
            ++(now >= start ? titlesBefore : titlesAfter);
            SetWindowTextA(hwnd, untouched);
        }
    }
    krvplat::ClearTickCount();
    if (renders != paints - 1)
        failures << renders << " renders in " << paints << " paints\n";
    // Updates after 1.01 s, 2.02 s and 3.03 s: the first before the wrap, two after it.
    if (titlesBefore != 1 || titlesAfter != 2)
        failures << "title updates: " << titlesBefore << " before the wrap, " << titlesAfter
                 << " after it\n";
    return failures.str();
}

TEST(FrameLoop, KeepsRenderingAndTitlingAcrossTheTickCountWrap)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string failures = PaintsAcrossTheTickWrap();
            std::fputs(failures.c_str(), stderr);
            std::exit(failures.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
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
