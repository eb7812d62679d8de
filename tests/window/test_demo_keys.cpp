// The demo's keys and mouse, fed to its window procedure through the real message loop
// (krvRedrawWindow) as posted messages, without a screen: switches, anti-aliasing and rendering
// modes with their buffer sizes and title pieces, the resolution keys, the shadow-map refresh,
// the camera's drag and zoom, and Escape.
#include "tests/window/demo_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

class DemoKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        hwnd = OpenDemoWindow();
        ASSERT_NE(hwnd, nullptr);
        ResetDemoState();
    }
    void TearDown() override { ResetDemoState(); }

    // Posts a press and release of each key, then Escape, and runs the program's message loop.
    // A nested loop would swallow Escape's quit request and keep rendering: the demo's own
    // time limit then ends it, which the elapsed time shows.
    void Press(std::initializer_list<int> keys)
    {
        for (int vk : keys) {
            PostMessageA(hwnd, WM_KEYDOWN, static_cast<WPARAM>(vk), 1);
            PostMessageA(hwnd, WM_KEYUP, static_cast<WPARAM>(vk), LPARAM(0xC0000001));
        }
        PostMessageA(hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageA(hwnd, WM_KEYUP, VK_ESCAPE, LPARAM(0xC0000001));
        RunLoop();
    }
    // A key handled at once, outside the loop.
    void Send(int vk) { SendMessageA(hwnd, WM_KEYDOWN, static_cast<WPARAM>(vk), 1); }
    void Post(UINT msg, WPARAM wParam, int x, int y)
    {
        PostMessageA(hwnd, msg, wParam, MAKELPARAM(x, y));
    }
    void RunLoop()
    {
        QuitAfter = 20.0;
        StartTick = GetTickCount();
        EXPECT_EQ(krvRedrawWindow(), 0);
        EXPECT_LT(GetTickCount() - StartTick, 20000u) << "the loop did not end on one Escape";
        QuitAfter = 0.0;
    }

    // What FrameWorks appends to the title line.
    static std::string Settings()
    {
        _3D_KRV_Title_Text = "";
        FrameWorks();
        return _3D_KRV_Title_Text.c_str();
    }
    static std::string Nt() { return ", NT: " + std::to_string(DemoTriangleCount()); }

    HWND hwnd = nullptr;
};

TEST_F(DemoKeys, StartsWithTheProgramsSettings)
{
    EXPECT_EQ(Settings(), " - 800x600, TF: ON, AA: 4x, RM: SPEED" + Nt());
    const _3D_Korvane_Rendering& r = krvRendering();
    EXPECT_EQ(r.sizeWidth, 533);
    EXPECT_EQ(r.sizeHeight, 400);
    EXPECT_EQ(r.aaWidth, 1066);
    EXPECT_EQ(r.aaHeight, 800);
}

TEST_F(DemoKeys, RenderModeKeyCyclesThroughTheFiveModes)
{
    struct Step {
        const char* name;
        int mode, bufferWidth, bufferHeight;
    };
    const Step steps[] = {{"BOOST", KrvRenderMode_Boost, 400, 300},
                          {"NEAREST", KrvRenderMode_Nearest, 290, 218},
                          {"NORMAL", KrvRenderMode_Normal, 800, 600},
                          {"DEVICE", KrvRenderMode_Device, 800, 600},
                          {"SPEED", KrvRenderMode_Speed, 533, 400}};
    const _3D_Korvane_Rendering& r = krvRendering();
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        Press({'R'});
        EXPECT_EQ(SetRender, s.mode - KrvRenderMode_Normal);
        EXPECT_EQ(RenderMode, s.mode);
        EXPECT_EQ(r.renderMode, s.mode);
        EXPECT_EQ(r.sizeWidth, s.bufferWidth);
        EXPECT_EQ(r.sizeHeight, s.bufferHeight);
        EXPECT_EQ(Settings(), std::string(" - 800x600, TF: ON, AA: 4x, RM: ") + s.name + Nt());
        RECT client;
        ASSERT_TRUE(GetClientRect(hwnd, &client));
        EXPECT_EQ(client.right, 800);
        EXPECT_EQ(client.bottom, 600);
    }
}

TEST_F(DemoKeys, AntiAliasingKeysResizeOnlyOnAChange)
{
    _3D_Korvane_Rendering& r = krvRendering();
    Send('1');
    EXPECT_EQ(r.antiAliasing, KrvAA_Off);
    EXPECT_EQ(r.aaColorBuffer, nullptr);
    EXPECT_EQ(r.sizeWidth, 533);
    EXPECT_EQ(Settings(), " - 800x600, TF: ON, AA: OFF, RM: SPEED" + Nt());

    Send('2');
    ASSERT_NE(r.aaColorBuffer, nullptr);
    EXPECT_EQ(r.aaWidth, 1066);
    // A second "2" must leave the buffers alone: the marks survive (a freed and reallocated
    // buffer loses its first bytes to the allocator, a new one is blank) and it stays put.
    const size_t bytes = size_t(r.aaWidth) * r.aaHeight * 3;
    uint8* before = r.aaColorBuffer;
    std::memset(before, 0x5A, 64);
    before[bytes - 1] = 0xA5;
    Send('2');
    ASSERT_EQ(r.aaColorBuffer, before);
    EXPECT_EQ(r.aaColorBuffer[0], 0x5A);
    EXPECT_EQ(r.aaColorBuffer[63], 0x5A);
    EXPECT_EQ(r.aaColorBuffer[bytes - 1], 0xA5);

    struct Case {
        int key, mode, factor;
        const char* text;
    };
    const Case cases[] = {
        {'3', KrvAA_3x3, 3, "9x"}, {'4', KrvAA_4x4, 4, "16x"}, {'2', KrvAA_2x2, 2, "4x"}};
    for (const Case& c : cases) {
        Send(c.key);
        EXPECT_EQ(r.antiAliasing, c.mode);
        EXPECT_EQ(r.aaWidth, 533 * c.factor);
        EXPECT_EQ(r.aaHeight, 400 * c.factor);
        EXPECT_EQ(Settings(),
                  std::string(" - 800x600, TF: ON, AA: ") + c.text + ", RM: SPEED" + Nt());
    }
}

TEST_F(DemoKeys, FeatureKeysInvertTheirSwitches)
{
    _3D_Korvane_Rendering& r = krvRendering();
    struct Case {
        int key;
        bool* flag;
    };
    const Case cases[] = {{'F', &r.bilinearFilter},     {'T', &TextureOnOff},
                          {'L', &LightOnOff},           {'O', &OBJMdlOnOff},
                          {'P', &TexShadowOnOff},       {'M', &ShadowMapOnOff},
                          {VK_SPACE, &RotateLightOnOff}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const bool start = *c.flag;
        Press({c.key});
        EXPECT_EQ(*c.flag, !start);
        if (c.key == 'P') {
            EXPECT_FALSE(r.shadowMapping);
        }
        Press({c.key});
        EXPECT_EQ(*c.flag, start);
        if (c.key == 'P') {
            EXPECT_TRUE(r.shadowMapping);
        }
    }
    Press({'F'});
    EXPECT_EQ(Settings(), " - 800x600, TF: OFF, AA: 4x, RM: SPEED" + Nt());
}

// L, M, O and P render the shadow map again while the light stands still; while it circles, the
// next frame does. P turning shadows off has nothing to render.
TEST_F(DemoKeys, SwitchKeysRefreshTheShadowMapOnlyWhileTheLightStands)
{
    CTexture& shadow = krvRendering().ShadowTexture;
    ASSERT_NE(shadow.Bits, nullptr);
    const size_t bytes = size_t(shadow.Width) * shadow.Height * 2;
    auto cleared = [&] { std::memset(shadow.Bits, 0, bytes); };
    auto rendered = [&] {
        return std::any_of(shadow.Bits, shadow.Bits + bytes, [](uint8 b) { return b != 0; });
    };
    struct Case {
        int key;
        bool firstPressRenders;
    };
    const Case cases[] = {{'L', true}, {'M', true}, {'O', true}, {'P', false}};
    for (bool rotating : {true, false}) {
        RotateLightOnOff = rotating;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(1, char(c.key)) + (rotating ? " rotating" : " standing"));
            cleared();
            Press({c.key});
            EXPECT_EQ(rendered(), !rotating && c.firstPressRenders);
            cleared();
            Press({c.key});
            EXPECT_EQ(rendered(), !rotating);
        }
    }
}

TEST_F(DemoKeys, EscapePostsTheQuitMessage)
{
    SendMessageA(hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(DemoKeys, ResolutionKeysReplaceTheWindowWithinTheRunningLoop)
{
    struct Case {
        int key, width, height, bufferWidth, bufferHeight;
    };
    const Case cases[] = {{'5', 400, 300, 266, 200},  {'6', 512, 384, 341, 256},
                          {'7', 640, 480, 426, 320},  {'8', 800, 600, 533, 400},
                          {'9', 1024, 768, 682, 512}, {'0', 1280, 800, 853, 533}};
    RECT desktop;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
    const _3D_Korvane_Rendering& r = krvRendering();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        Press({c.key});
        RECT client, window;
        ASSERT_TRUE(GetClientRect(hwnd, &client));
        ASSERT_TRUE(GetWindowRect(hwnd, &window));
        EXPECT_EQ(client.right, c.width);
        EXPECT_EQ(client.bottom, c.height);
        const int outerWidth = window.right - window.left;
        const int outerHeight = window.bottom - window.top;
        EXPECT_EQ(window.left, desktop.right / 2 - outerWidth / 2);
        EXPECT_EQ(window.top, desktop.bottom / 2 - outerHeight / 2);
        EXPECT_EQ(r.sizeWidth, c.bufferWidth);
        EXPECT_EQ(r.sizeHeight, c.bufferHeight);
        EXPECT_EQ(Settings(), " - " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                                  ", TF: ON, AA: 4x, RM: SPEED" + Nt());
        EXPECT_TRUE(ShowWindow(hwnd, SW_SHOW)) << "the window is hidden";
    }
}

TEST_F(DemoKeys, LeftDragOrbitsAndTheWheelZooms)
{
    _3D_Korvane_Rendering& r = krvRendering();
    CCamera expected = r.Camera;

    // Moving without a button only follows the mouse.
    Post(WM_MOUSEMOVE, 0, 100, 80);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 100, 80);
    Post(WM_MOUSEMOVE, MK_LBUTTON, 130, 60);
    Post(WM_LBUTTONUP, 0, 130, 60);
    Post(WM_MOUSEMOVE, 0, 10, 10);
    PostMessageA(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-240)), MAKELPARAM(10, 10));
    Press({});

    expected.MoveView(100 - 130, 80 - 60);
    expected.ZoomView(-240.0f);
    EXPECT_EQ(r.clickX, 100);
    EXPECT_EQ(r.clickY, 80);
    EXPECT_EQ(r.mouseX, 10);
    EXPECT_EQ(r.mouseY, 10);
    EXPECT_EQ(std::memcmp(&r.Camera.ViewMatrix, &expected.ViewMatrix, sizeof(mat4x4)), 0);
    EXPECT_EQ(std::memcmp(&r.Camera.Position, &expected.Position, sizeof(vec3)), 0);
}

// Held past the left or top edge, the mouse reports negative coordinates in the words of
// lParam. A drag from x = 2 to x = -3 orbits by 5 pixels, as any 5-pixel drag does.
TEST_F(DemoKeys, DragPastTheWindowEdgeStepsBySignedCoordinates)
{
    _3D_Korvane_Rendering& r = krvRendering();
    CCamera expected = r.Camera;
    struct Move {
        int x, y;
    };
    const Move moves[] = {{-3, 50}, {-3, -7}, {-40, -2}, {6, 9}};

    Post(WM_MOUSEMOVE, 0, 2, 50);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 2, 50);
    int lastX = 2, lastY = 50;
    for (const Move& m : moves) {
        Post(WM_MOUSEMOVE, MK_LBUTTON, m.x, m.y);
        expected.MoveView(lastX - m.x, lastY - m.y);
        lastX = m.x;
        lastY = m.y;
    }
    Post(WM_LBUTTONUP, 0, 6, 9);
    Post(WM_RBUTTONDOWN, MK_RBUTTON, -5, -6);
    Press({});

    EXPECT_EQ(r.mouseX, 6);
    EXPECT_EQ(r.mouseY, 9);
    EXPECT_EQ(r.clickX, -5);
    EXPECT_EQ(r.clickY, -6);
    EXPECT_EQ(std::memcmp(&r.Camera.ViewMatrix, &expected.ViewMatrix, sizeof(mat4x4)), 0);
    EXPECT_EQ(std::memcmp(&r.Camera.Position, &expected.Position, sizeof(vec3)), 0);
}

}  // namespace
