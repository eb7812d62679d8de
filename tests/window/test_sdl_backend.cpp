// The SDL2 back end on the dummy video driver: real (invisible) windows, SDL events arriving as
// Win32 messages, presentation.
#include "platform/platform.h"
#include "platform/sdl/sdl_backend.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

LRESULT CALLBACK QuietProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CLOSE) return 0;  // keep the window: the test looks at the message only
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class SdlBackend : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        started = krvplat::UseSdlBackend();
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = QuietProc;
        wc.lpszClassName = "SdlBackendTest";
        RegisterClassExA(&wc);
    }
    static void TearDownTestSuite() { krvplat::StopSdlBackend(); }

    void SetUp() override
    {
        ASSERT_TRUE(started) << SDL_GetError();
        hwnd = CreateWindowExA(0, "SdlBackendTest", "SDL test", WS_OVERLAPPEDWINDOW, 0, 0, 64, 48,
                               nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        // Window ids only grow; other suites of this executable may have used some.
        window = nullptr;
        for (Uint32 id = 1; id < 0x10000 && !OurWindow(window); ++id)
            window = SDL_GetWindowFromID(id);
        Collect();
    }
    void TearDown() override
    {
        DestroyWindow(hwnd);
        Collect();
    }

    bool OurWindow(SDL_Window* w) const
    {
        return w && SDL_GetWindowTitle(w) == std::string("SDL test");
    }

    // Everything the queue yields now, paint excluded, each message dispatched.
    std::vector<MSG> Collect()
    {
        std::vector<MSG> out;
        MSG msg;
        for (int guard = 0; guard < 100 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++guard) {
            if (msg.message == WM_PAINT) {
                PAINTSTRUCT ps;
                BeginPaint(hwnd, &ps);
                EndPaint(hwnd, &ps);
                continue;
            }
            out.push_back(msg);
            DispatchMessageA(&msg);
        }
        return out;
    }

    // The first message of the given kind after pushing the event.
    MSG Deliver(SDL_Event e, UINT message)
    {
        EXPECT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        for (const MSG& msg : Collect())
            if (msg.message == message) return msg;
        ADD_FAILURE() << "message " << message << " did not arrive";
        return MSG{};
    }

    static bool started;
    HWND hwnd = nullptr;
    SDL_Window* window = nullptr;
};
bool SdlBackend::started = false;

TEST_F(SdlBackend, WindowOpensWithTheClientSizeAndFollowsTheProgram)
{
    ASSERT_TRUE(OurWindow(window));
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    SetWindowTextA(hwnd, "renamed");
    EXPECT_STREQ(SDL_GetWindowTitle(window), "renamed");
    MoveWindow(hwnd, 0, 0, 80, 60, FALSE);
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 60);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_SHOWN);
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_HIDDEN);
}

TEST_F(SdlBackend, PresentingAPaintedImageWorksHeadless)
{
    ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_PAINT, WM_PAINT, PM_REMOVE));
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    ASSERT_NE(hdc, nullptr);
    EXPECT_TRUE(SetPixelV(hdc, 3, 4, RGB(255, 128, 0)));
    EXPECT_TRUE(TextOutA(hdc, 20, 20, "ok", 2));
    EXPECT_TRUE(EndPaint(hwnd, &ps));
    EXPECT_TRUE(GdiFlush());
    EXPECT_FALSE(PeekMessageA(&msg, hwnd, WM_PAINT, WM_PAINT, PM_NOREMOVE));

    // What reached the window, read back as blue, green, red bytes.
    unsigned char bgr[3] = {};
    SDL_Rect pixel = {3, 4, 1, 1};
    if (SDL_Renderer* renderer = SDL_GetRenderer(window)) {
        ASSERT_EQ(SDL_RenderReadPixels(renderer, &pixel, SDL_PIXELFORMAT_BGR24, bgr, 3), 0)
            << SDL_GetError();
    } else {
        SDL_Surface* surface = SDL_GetWindowSurface(window);
        ASSERT_NE(surface, nullptr);
        SDL_Surface* copy = SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_BGR24, 0);
        ASSERT_NE(copy, nullptr);
        const unsigned char* p = static_cast<const unsigned char*>(copy->pixels);
        std::copy(p + 4 * copy->pitch + 9, p + 4 * copy->pitch + 12, bgr);
        SDL_FreeSurface(copy);
    }
    EXPECT_EQ(bgr[0], 0);
    EXPECT_EQ(bgr[1], 128);
    EXPECT_EQ(bgr[2], 255);
}

TEST_F(SdlBackend, KeysArriveAsVirtualKeyMessagesAndSetKeyState)
{
    const Uint32 id = SDL_GetWindowID(window);
    struct Case {
        SDL_Keycode sym;
        SDL_Scancode scancode;
        int vk;
    };
    const Case cases[] = {
        {SDLK_w, SDL_SCANCODE_W, 'W'},
        {SDLK_5, SDL_SCANCODE_5, '5'},
        {SDLK_0, SDL_SCANCODE_0, '0'},
        {SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, VK_ESCAPE},
        {SDLK_SPACE, SDL_SCANCODE_SPACE, VK_SPACE},
        {SDLK_F5, SDL_SCANCODE_F5, VK_F5},
        {SDLK_LEFT, SDL_SCANCODE_LEFT, VK_LEFT},
        {SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, VK_SHIFT},
    };
    for (const Case& c : cases) {
        SDL_Event e = {};
        e.type = SDL_KEYDOWN;
        e.key.windowID = id;
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = c.sym;
        e.key.keysym.scancode = c.scancode;
        MSG down = Deliver(e, WM_KEYDOWN);
        EXPECT_EQ(down.hwnd, hwnd);
        EXPECT_EQ(down.wParam, static_cast<WPARAM>(c.vk)) << c.vk;
        EXPECT_NE(GetKeyState(c.vk) & 0x100, 0) << c.vk;
        e.type = SDL_KEYUP;
        e.key.state = SDL_RELEASED;
        MSG up = Deliver(e, WM_KEYUP);
        EXPECT_EQ(up.wParam, static_cast<WPARAM>(c.vk)) << c.vk;
        EXPECT_NE(up.lParam & (LPARAM{1} << 31), 0);
        EXPECT_EQ(GetKeyState(c.vk) & 0x100, 0) << c.vk;
    }
}

TEST_F(SdlBackend, MouseArrivesPackedAsWin32PacksIt)
{
    const Uint32 id = SDL_GetWindowID(window);
    SDL_Event e = {};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.windowID = id;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = SDL_PRESSED;
    e.button.x = 10;
    e.button.y = 20;
    MSG down = Deliver(e, WM_LBUTTONDOWN);
    EXPECT_EQ(LOWORD(down.lParam), 10);
    EXPECT_EQ(HIWORD(down.lParam), 20);
    EXPECT_EQ(down.wParam & MK_LBUTTON, MK_LBUTTON);
    EXPECT_NE(GetKeyState(VK_LBUTTON) & 0x100, 0);

    e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = id;
    e.motion.state = SDL_BUTTON_LMASK;
    e.motion.x = 12;
    e.motion.y = 25;
    MSG move = Deliver(e, WM_MOUSEMOVE);
    EXPECT_EQ(move.lParam, MAKELPARAM(12, 25));
    EXPECT_EQ(move.wParam & MK_LBUTTON, MK_LBUTTON);

    e = {};
    e.type = SDL_MOUSEBUTTONUP;
    e.button.windowID = id;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = SDL_RELEASED;
    e.button.x = 12;
    e.button.y = 25;
    MSG up = Deliver(e, WM_LBUTTONUP);
    EXPECT_EQ(up.wParam & MK_LBUTTON, 0u);
    EXPECT_EQ(GetKeyState(VK_LBUTTON) & 0x100, 0);

    e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = id;
    e.wheel.y = -2;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    MSG wheel = Deliver(e, WM_MOUSEWHEEL);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel.wParam), -240);
}

TEST_F(SdlBackend, WindowEventsBecomeCloseAndSize)
{
    const Uint32 id = SDL_GetWindowID(window);
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id;
    e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    e.window.data1 = 100;
    e.window.data2 = 70;
    MSG size = Deliver(e, WM_SIZE);
    EXPECT_EQ(size.lParam, MAKELPARAM(100, 70));
    RECT client;
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    EXPECT_EQ(client.right, 100);
    EXPECT_EQ(client.bottom, 70);

    e.window.event = SDL_WINDOWEVENT_CLOSE;
    EXPECT_EQ(Deliver(e, WM_CLOSE).hwnd, hwnd);
}

}  // namespace
