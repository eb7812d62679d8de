// The platform layer without a back end: windows in memory, the message queue, key state, and
// the GDI calls that write into a DC's image.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    seen.push_back({hwnd, msg, wParam, lParam});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

const char* RegisteredClass()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "PlatformTest";
        registered = RegisterClassExA(&wc) != 0;
    }
    return "PlatformTest";
}

class PlatformWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        seen.clear();
        hwnd = CreateWindowExA(0, RegisteredClass(), "caption", WS_OVERLAPPEDWINDOW, 0, 0, 8, 4,
                               nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        seen.clear();
    }
    void TearDown() override
    {
        DestroyWindow(hwnd);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {}
        seen.clear();
    }
    // Retrieves and dispatches everything retrievable, the way a message loop would.
    std::vector<UINT> Drain(int limit = 20)
    {
        std::vector<UINT> order;
        MSG msg;
        while (limit-- > 0 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            order.push_back(msg.message);
            DispatchMessageA(&msg);
        }
        return order;
    }
    HWND hwnd = nullptr;
};

TEST(PlatformClass, RegistrationNeedsAFreshName)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    EXPECT_EQ(RegisterClassExA(nullptr), 0);
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc.lpszClassName = "";
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc.lpszClassName = "PlatformOnce";
    EXPECT_NE(RegisterClassExA(&wc), 0);
    wc.lpszClassName = "platformONCE";
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
}

TEST(PlatformClass, CreationSendsCreateThenSizeAndStartsHidden)
{
    seen.clear();
    HWND hwnd = CreateWindowExA(WS_EX_APPWINDOW, RegisteredClass(), "Title", WS_OVERLAPPEDWINDOW,
                                10, 20, 30, 40, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, WM_CREATE);
    EXPECT_EQ(seen[1].message, WM_SIZE);
    EXPECT_EQ(LOWORD(seen[1].lParam), 30);
    EXPECT_EQ(HIWORD(seen[1].lParam), 40);

    RECT outer, client;
    ASSERT_TRUE(GetWindowRect(hwnd, &outer));
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    EXPECT_EQ(outer.left, 10);
    EXPECT_EQ(outer.top, 20);
    EXPECT_EQ(outer.right - outer.left, client.right);
    EXPECT_EQ(outer.bottom - outer.top, client.bottom);
    RECT desktop;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
    EXPECT_EQ(desktop.right, 1920);
    EXPECT_EQ(desktop.bottom, 1080);

    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "hidden: no paint";
    seen.clear();
    EXPECT_TRUE(DestroyWindow(hwnd));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, WM_DESTROY);
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_FALSE(GetWindowRect(hwnd, &outer));
}

TEST_F(PlatformWindow, PostedMessagesKeepOrderAndPaintComesLast)
{
    ShowWindow(hwnd, SW_SHOWNORMAL);
    InvalidateRect(hwnd, nullptr, FALSE);
    InvalidateRect(hwnd, nullptr, FALSE);
    PostMessageA(hwnd, WM_KEYDOWN, 'A', 0);
    PostMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(3, 2));
    PostMessageA(hwnd, WM_KEYUP, 'A', 0);
    // The recording procedure hands WM_PAINT to DefWindowProcA, which validates the window.
    std::vector<UINT> expected = {WM_KEYDOWN, WM_MOUSEMOVE, WM_KEYUP, WM_PAINT};
    EXPECT_EQ(Drain(), expected);
}

TEST_F(PlatformWindow, UnvalidatedPaintComesBackUntilBeginPaint)
{
    ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_PAINT);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_PAINT);
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    EXPECT_EQ(hdc, GetDC(hwnd));
    EXPECT_EQ(ps.rcPaint.right, 8);
    EXPECT_EQ(ps.rcPaint.bottom, 4);
    EXPECT_TRUE(EndPaint(hwnd, &ps));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    // A hidden window is not painted, but showing it again invalidates it.
    InvalidateRect(hwnd, nullptr, FALSE);
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    ShowWindow(hwnd, SW_SHOW);
    EXPECT_EQ(Drain(), std::vector<UINT>{WM_PAINT});
}

TEST_F(PlatformWindow, QuitOvertakesPaintAndEndsGetMessage)
{
    ShowWindow(hwnd, SW_SHOW);
    PostMessageA(hwnd, WM_USER, 0, 0);
    PostQuitMessage(7);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_USER);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_PAINT);
}

TEST_F(PlatformWindow, HeadlessGetMessageFailsInsteadOfBlocking)
{
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(uintptr_t{0x7777}), 0, 0), -1);
}

TEST_F(PlatformWindow, GetMessageWaitsForTheTimer)
{
    // The clock is read before the timer is set: a slow build (ThreadSanitizer) or a busy
    // machine can spend milliseconds between the two, and the timer counts from its setting.
    DWORD start = GetTickCount();
    ASSERT_EQ(SetTimer(hwnd, 100, 10, nullptr), 100u);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, 100u);
    EXPECT_GE(GetTickCount() - start, 9u);
    // Re-arming: the next one is not due yet.
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(KillTimer(hwnd, 100));
    EXPECT_FALSE(KillTimer(hwnd, 100));
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
}

TEST_F(PlatformWindow, FiltersSelectWindowAndRange)
{
    PostMessageA(nullptr, WM_TIMER + 1, 0, 0);
    PostMessageA(hwnd, WM_KEYDOWN, 'B', 0);
    PostMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_MOUSEMOVE, WM_MOUSEWHEEL, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_MOUSEMOVE);
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(intptr_t{-1}), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    krvplat::SetKeyDown('B', false);
}

TEST_F(PlatformWindow, CloseDestroysThroughDefWindowProc)
{
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    PostMessageA(hwnd, WM_KEYDOWN, 'C', 0);
    EXPECT_EQ(Drain(), std::vector<UINT>{WM_CLOSE}) << "messages of a destroyed window vanish";
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].message, WM_DESTROY);
    EXPECT_FALSE(PostMessageA(hwnd, WM_KEYDOWN, 'C', 0));
    EXPECT_EQ(SendMessageA(hwnd, WM_CLOSE, 0, 0), 0);
}

TEST_F(PlatformWindow, MoveWindowResizesTheClientImageAndSendsSize)
{
    EXPECT_TRUE(MoveWindow(hwnd, 5, 6, 12, 10, FALSE));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, WM_SIZE);
    EXPECT_EQ(seen[0].lParam, MAKELPARAM(12, 10));
    int w = 0, h = 0;
    const unsigned char* pixels = nullptr;
    ASSERT_TRUE(krvplat::GetWindowImage(hwnd, w, h, pixels));
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 10);
    seen.clear();
    EXPECT_TRUE(MoveWindow(hwnd, 0, 0, 12, 10, FALSE));
    EXPECT_TRUE(seen.empty()) << "same size: no WM_SIZE";
    ShowWindow(hwnd, SW_MAXIMIZE);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 1920);
    EXPECT_EQ(client.bottom, 1080);
}

TEST_F(PlatformWindow, TitleRoundTripsAndTruncates)
{
    char text[8];
    EXPECT_EQ(GetWindowTextA(hwnd, text, sizeof(text)), 7);
    EXPECT_STREQ(text, "caption");
    EXPECT_TRUE(SetWindowTextA(hwnd, "FPS: 1234567"));
    EXPECT_EQ(GetWindowTextA(hwnd, text, sizeof(text)), 7);
    EXPECT_STREQ(text, "FPS: 12");
}

// ---------------------------------------------------------------------------------------------
TEST_F(PlatformWindow, KeyStateFollowsRetrievedInputMessages)
{
    const int vk = 'K';
    int toggle = GetKeyState(vk) & 1;
    PostMessageA(hwnd, WM_KEYDOWN, vk, 0);
    EXPECT_EQ(GetKeyState(vk) & 0x8000, 0) << "not retrieved yet";
    Drain();
    short held = GetKeyState(vk);
    EXPECT_NE(held & 0x8000, 0);
    EXPECT_NE(held & 0x100, 0);
    EXPECT_NE(held & 1, toggle);
    PostMessageA(hwnd, WM_KEYDOWN, vk, 0);  // auto-repeat does not toggle again
    PostMessageA(hwnd, WM_KEYUP, vk, 0);
    Drain();
    short released = GetKeyState(vk);
    EXPECT_EQ(released & 0x100, 0);
    EXPECT_EQ(released & 0x8000, 0);
    EXPECT_NE(released & 1, toggle) << "toggled but not held";

    struct Button {
        UINT down, up;
        int vk;
    };
    for (Button b : {Button{WM_LBUTTONDOWN, WM_LBUTTONUP, VK_LBUTTON},
                     Button{WM_RBUTTONDOWN, WM_RBUTTONUP, VK_RBUTTON},
                     Button{WM_MBUTTONDOWN, WM_MBUTTONUP, VK_MBUTTON}}) {
        PostMessageA(hwnd, b.down, 0, 0);
        Drain();
        EXPECT_NE(GetKeyState(b.vk) & 0x100, 0) << b.vk;
        PostMessageA(hwnd, b.up, 0, 0);
        Drain();
        EXPECT_EQ(GetKeyState(b.vk) & 0x100, 0) << b.vk;
    }
    krvplat::SetKeyDown(VK_SPACE, true);
    EXPECT_LT(GetKeyState(VK_SPACE), 0);
    krvplat::SetKeyDown(VK_SPACE, false);
    EXPECT_EQ(GetKeyState(999), 0);
}

TEST_F(PlatformWindow, TranslateMessagePostsCharacters)
{
    PostMessageA(hwnd, WM_KEYDOWN, 'Q', 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(TranslateMessage(&msg));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_CHAR);
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>('q'));
    krvplat::SetKeyDown('Q', false);
}

// ---------------------------------------------------------------------------------------------
// A bottom-up 24-bit DIB whose pixel (x, row-from-bottom) is given by a function.
struct Dib {
    BITMAPINFO info = {};
    std::vector<unsigned char> bits;
    int stride = 0;

    Dib(int w, int h)
    {
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        stride = (w * 3 + 3) & ~3;
        // Padding bytes hold a value no test expects, so copying them shows.
        bits.assign(static_cast<size_t>(stride) * h, 0xEE);
    }
    void Set(int x, int row, unsigned char b, unsigned char g, unsigned char r)
    {
        unsigned char* p = &bits[static_cast<size_t>(row) * stride + x * 3];
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

class PlatformBlit : public ::testing::Test {
protected:
    void SetUp() override
    {
        hdc = krvplat::CreateImageDC(4, 3);
        ASSERT_NE(hdc, nullptr);
    }
    void TearDown() override { krvplat::DestroyImageDC(hdc); }
    // Blue channel of the image, row by row from the top.
    std::vector<int> Blue()
    {
        int w, h;
        const unsigned char* p;
        EXPECT_TRUE(krvplat::GetImage(hdc, w, h, p));
        std::vector<int> out;
        for (int i = 0; i < w * h; ++i) out.push_back(p[i * 3]);
        return out;
    }
    HDC hdc = nullptr;
};

TEST_F(PlatformBlit, DeviceBlitTurnsBottomUpRowsTopDownAndSkipsPadding)
{
    // 3 x 2 DIB: the blue value is 10 * row-from-bottom + x; rows carry 3 bytes of padding.
    Dib dib(3, 2);
    for (int row = 0; row < 2; ++row)
        for (int x = 0; x < 3; ++x) dib.Set(x, row, static_cast<unsigned char>(10 * row + x), 1, 2);
    EXPECT_EQ(
        SetDIBitsToDevice(hdc, 0, 0, 3, 2, 0, 0, 0, 2, dib.bits.data(), &dib.info, DIB_RGB_COLORS),
        2);
    std::vector<int> expected = {10, 11, 12, 0, 0, 1, 2, 0, 0, 0, 0, 0};
    EXPECT_EQ(Blue(), expected);
    int w, h;
    const unsigned char* p;
    krvplat::GetImage(hdc, w, h, p);
    EXPECT_EQ(p[1], 1);
    EXPECT_EQ(p[2], 2);
}

TEST_F(PlatformBlit, NarrowerSourceThanRowCopiesOnlyItsColumns)
{
    // A 5-pixel-wide picture in an 8-pixel-wide buffer, as the renderer blits its colour buffer.
    Dib dib(8, 1);
    for (int x = 0; x < 8; ++x) dib.Set(x, 0, static_cast<unsigned char>(x + 1), 0, 0);
    ASSERT_NE(StretchDIBits(hdc, 0, 0, 3, 1, 0, 0, 3, 1, dib.bits.data(), &dib.info, DIB_RGB_COLORS,
                            SRCCOPY),
              0);
    EXPECT_EQ(Blue(), (std::vector<int>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(PlatformBlit, NearestStretchByOneAndAHalf)
{
    Dib dib(2, 2);
    dib.Set(0, 1, 10, 0, 0);  // top row
    dib.Set(1, 1, 20, 0, 0);
    dib.Set(0, 0, 30, 0, 0);  // bottom row
    dib.Set(1, 0, 40, 0, 0);
    EXPECT_EQ(GetStretchBltMode(hdc), COLORONCOLOR);
    EXPECT_EQ(StretchDIBits(hdc, 0, 0, 3, 3, 0, 0, 2, 2, dib.bits.data(), &dib.info, DIB_RGB_COLORS,
                            SRCCOPY),
              2);
    // Each destination pixel takes the source pixel under its centre.
    EXPECT_EQ(Blue(), (std::vector<int>{10, 20, 20, 0, 30, 40, 40, 0, 30, 40, 40, 0}));
}

TEST_F(PlatformBlit, HalftoneSmoothsWhereNearestSteps)
{
    Dib dib(2, 1);
    dib.Set(0, 0, 0, 0, 0);
    dib.Set(1, 0, 255, 0, 0);
    struct Case {
        int mode;
        std::vector<int> row;
    };
    const Case cases[] = {{COLORONCOLOR, {0, 0, 255, 255}}, {HALFTONE, {0, 64, 191, 255}}};
    for (const Case& c : cases) {
        SetStretchBltMode(hdc, c.mode);
        ASSERT_EQ(StretchDIBits(hdc, 0, 0, 4, 3, 0, 0, 2, 1, dib.bits.data(), &dib.info,
                                DIB_RGB_COLORS, SRCCOPY),
                  1);
        std::vector<int> blue = Blue();
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(std::vector<int>(blue.begin() + y * 4, blue.begin() + y * 4 + 4), c.row)
                << "mode " << c.mode << " row " << y;
    }
    EXPECT_EQ(SetStretchBltMode(hdc, 99), 0);
    EXPECT_EQ(GetStretchBltMode(hdc), HALFTONE);
}

// The blit's tables and row caches against a direct per-pixel evaluation: sample centres
// aligned, positions clamped to the source, 8 fraction bits, rounding to nearest.
static int ReferenceSample(const Dib& dib, int x, int y, int k, int dw, int dh, int sw, int sh,
                           bool smooth)
{
    auto at = [&](int sx, int sy) {
        size_t row = static_cast<size_t>(sh - 1 - sy);
        return static_cast<int>(dib.bits[row * dib.stride + sx * 3 + k]);
    };
    if (!smooth) return at((2 * x + 1) * sw / (2 * dw), (2 * y + 1) * sh / (2 * dh));
    auto pos = [](int i, int d, int s) {
        long long p = (2LL * i + 1) * s * 256 / (2LL * d) - 128;
        return static_cast<int>(std::min(std::max(p, 0LL), (s - 1) * 256LL));
    };
    int px = pos(x, dw, sw), py = pos(y, dh, sh);
    int x0 = px >> 8, y0 = py >> 8, fx = px & 255, fy = py & 255;
    int x1 = std::min(x0 + 1, sw - 1), y1 = std::min(y0 + 1, sh - 1);
    int upper = at(x0, y0) * (256 - fx) + at(x1, y0) * fx;
    int lower = at(x0, y1) * (256 - fx) + at(x1, y1) * fx;
    return (upper * (256 - fy) + lower * fy + 32768) >> 16;
}

// Sources with and without row padding (4 x 3 has none: its last pixel ends the DIB), one pixel
// wide and as wide as the renderer's SPEED image, each to sizes that shrink, keep and enlarge it
// by whole and fractional factors. The image is a column wider than the blit: that column, right
// of the last destination pixel, stays clear.
TEST(PlatformStretch, MatchesThePerPixelReference)
{
    struct Size {
        int w, h;
    };
    const struct {
        Size src;
        std::vector<Size> dests;
    } sources[] = {
        {{7, 5}, {{17, 13}, {7, 5}, {4, 3}, {19, 2}, {30, 30}, {10, 7}, {1, 1}}},
        {{4, 3}, {{6, 4}, {4, 3}, {3, 2}, {1, 5}, {11, 11}}},
        {{1, 1}, {{1, 1}, {2, 3}, {9, 1}}},
        {{1, 4}, {{3, 6}, {1, 2}}},
        {{533, 3}, {{800, 4}, {533, 3}, {266, 2}, {1466, 1}}},
    };
    unsigned seed = 12345;
    for (const auto& source : sources) {
        const int sw = source.src.w, sh = source.src.h;
        Dib dib(sw, sh);
        for (unsigned char& b : dib.bits)
            b = static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 16 | 1u);
        for (int mode : {COLORONCOLOR, HALFTONE}) {
            for (Size c : source.dests) {
                HDC hdc = krvplat::CreateImageDC(c.w + 1, c.h);
                SetStretchBltMode(hdc, mode);
                ASSERT_EQ(StretchDIBits(hdc, 0, 0, c.w, c.h, 0, 0, sw, sh, dib.bits.data(),
                                        &dib.info, DIB_RGB_COLORS, SRCCOPY),
                          sh);
                int w, h;
                const unsigned char* p;
                ASSERT_TRUE(krvplat::GetImage(hdc, w, h, p));
                int wrong = 0;
                for (int y = 0; y < c.h; ++y)
                    for (int x = 0; x <= c.w; ++x)
                        for (int k = 0; k < 3; ++k)
                            wrong += p[(y * w + x) * 3 + k] !=
                                     (x == c.w ? 0
                                               : ReferenceSample(dib, x, y, k, c.w, c.h, sw, sh,
                                                                 mode == HALFTONE));
                EXPECT_EQ(wrong, 0)
                    << "mode " << mode << " " << sw << "x" << sh << " to " << c.w << "x" << c.h;
                krvplat::DestroyImageDC(hdc);
            }
        }
    }
}

TEST_F(PlatformBlit, DestinationIsClippedToTheImage)
{
    Dib dib(3, 3);
    for (int row = 0; row < 3; ++row)
        for (int x = 0; x < 3; ++x)
            dib.Set(x, row, static_cast<unsigned char>(100 + 10 * (2 - row) + x), 0, 0);
    // Top-left source pixel (100) lands at (-1, -1): only the lower-right 2 x 2 shows.
    EXPECT_EQ(StretchDIBits(hdc, -1, -1, 3, 3, 0, 0, 3, 3, dib.bits.data(), &dib.info,
                            DIB_RGB_COLORS, SRCCOPY),
              3);
    EXPECT_EQ(Blue(), (std::vector<int>{111, 112, 0, 0, 121, 122, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(
        SetDIBitsToDevice(hdc, 3, 2, 3, 3, 0, 0, 0, 3, dib.bits.data(), &dib.info, DIB_RGB_COLORS),
        3);
    EXPECT_EQ(Blue(), (std::vector<int>{111, 112, 0, 0, 121, 122, 0, 0, 0, 0, 0, 100}));
    // Wholly outside: succeeds and draws nothing.
    EXPECT_NE(StretchDIBits(hdc, 1000, 0, 3, 3, 0, 0, 3, 3, dib.bits.data(), &dib.info,
                            DIB_RGB_COLORS, SRCCOPY),
              0);
    EXPECT_NE(StretchDIBits(hdc, INT_MAX - 1, INT_MAX - 1, 1 << 24, 1 << 24, 0, 0, 3, 3,
                            dib.bits.data(), &dib.info, DIB_RGB_COLORS, SRCCOPY),
              0);
    EXPECT_EQ(Blue(), (std::vector<int>{111, 112, 0, 0, 121, 122, 0, 0, 0, 0, 0, 100}));
}

TEST_F(PlatformBlit, SourceRectangleHasItsOriginAtTheBottomLeft)
{
    Dib dib(1, 3);
    for (int row = 0; row < 3; ++row) dib.Set(0, row, static_cast<unsigned char>(row + 1), 0, 0);
    // Rows 1..2 from the bottom: row 2 is on top.
    ASSERT_NE(StretchDIBits(hdc, 0, 0, 1, 2, 0, 1, 1, 2, dib.bits.data(), &dib.info, DIB_RGB_COLORS,
                            SRCCOPY),
              0);
    EXPECT_EQ(Blue()[0], 3);
    EXPECT_EQ(Blue()[4], 2);
    // A band of scan lines: only row 0 is in memory, so only the bottom destination row is set.
    Dib band(1, 3);
    band.Set(0, 0, 77, 0, 0);
    ASSERT_EQ(SetDIBitsToDevice(hdc, 1, 0, 1, 3, 0, 0, 0, 1, band.bits.data(), &band.info,
                                DIB_RGB_COLORS),
              1);
    EXPECT_EQ(Blue()[1], 0);
    EXPECT_EQ(Blue()[5], 0);
    EXPECT_EQ(Blue()[9], 77);
}

TEST_F(PlatformBlit, BadArgumentsDrawNothingAndReturnZero)
{
    Dib dib(2, 2);
    dib.Set(0, 0, 9, 9, 9);
    const void* bits = dib.bits.data();
    Dib bits16 = dib, topDown = dib, compressed = dib, zeroWide = dib;
    bits16.info.bmiHeader.biBitCount = 16;
    topDown.info.bmiHeader.biHeight = -2;
    compressed.info.bmiHeader.biCompression = 1;
    zeroWide.info.bmiHeader.biWidth = 0;

    struct Case {
        const char* name;
        HDC hdc;
        int xDest, yDest, dw, dh, xSrc, ySrc, sw, sh;
        const void* bits;
        const BITMAPINFO* info;
        UINT usage;
        DWORD rop;
    };
    const Case cases[] = {
        {"null dc", nullptr, 0, 0, 2, 2, 0, 0, 2, 2, bits, &dib.info, 0, SRCCOPY},
        {"stale dc", reinterpret_cast<HDC>(uintptr_t{0x5}), 0, 0, 2, 2, 0, 0, 2, 2, bits, &dib.info,
         0, SRCCOPY},
        {"null bits", hdc, 0, 0, 2, 2, 0, 0, 2, 2, nullptr, &dib.info, 0, SRCCOPY},
        {"null info", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, nullptr, 0, SRCCOPY},
        {"zero dest width", hdc, 0, 0, 0, 2, 0, 0, 2, 2, bits, &dib.info, 0, SRCCOPY},
        {"negative dest height", hdc, 0, 0, 2, -2, 0, 0, 2, 2, bits, &dib.info, 0, SRCCOPY},
        {"negative src width", hdc, 0, 0, 2, 2, 0, 0, -2, 2, bits, &dib.info, 0, SRCCOPY},
        {"src past right", hdc, 0, 0, 2, 2, 1, 0, 2, 2, bits, &dib.info, 0, SRCCOPY},
        {"src past top", hdc, 0, 0, 2, 2, 0, 1, 2, 2, bits, &dib.info, 0, SRCCOPY},
        {"negative src x", hdc, 0, 0, 2, 2, -1, 0, 2, 2, bits, &dib.info, 0, SRCCOPY},
        {"16 bits", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &bits16.info, 0, SRCCOPY},
        {"top-down", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &topDown.info, 0, SRCCOPY},
        {"compressed", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &compressed.info, 0, SRCCOPY},
        {"zero-wide dib", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &zeroWide.info, 0, SRCCOPY},
        {"palette usage", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &dib.info, 1, SRCCOPY},
        {"other rop", hdc, 0, 0, 2, 2, 0, 0, 2, 2, bits, &dib.info, 0, 0x00EE0086},
    };
    const std::vector<int> untouched = Blue();
    for (const Case& c : cases) {
        EXPECT_EQ(StretchDIBits(c.hdc, c.xDest, c.yDest, c.dw, c.dh, c.xSrc, c.ySrc, c.sw, c.sh,
                                c.bits, c.info, c.usage, c.rop),
                  0)
            << c.name;
        if (c.dw >= 0 && c.dh >= 0 && c.sw == 2 && c.rop == SRCCOPY) {
            EXPECT_EQ(SetDIBitsToDevice(c.hdc, c.xDest, c.yDest, static_cast<DWORD>(c.dw),
                                        static_cast<DWORD>(c.dh), c.xSrc, c.ySrc, 0, 2, c.bits,
                                        c.info, c.usage),
                      0)
                << c.name;
        }
        EXPECT_EQ(Blue(), untouched) << c.name;
    }
    EXPECT_EQ(SetDIBitsToDevice(hdc, 0, 0, 0xFFFFFFFFu, 2, 0, 0, 0, 2, bits, &dib.info, 0), 0);
    EXPECT_EQ(SetDIBitsToDevice(hdc, 0, 0, 2, 2, 0, 0, 1, 2, bits, &dib.info, 0), 0)
        << "scan band past the DIB";
    EXPECT_EQ(SetDIBitsToDevice(hdc, 0, 0, 2, 2, 0, 0, 0, 0, bits, &dib.info, 0), 0);
    EXPECT_EQ(Blue(), untouched);
}

// ---------------------------------------------------------------------------------------------
TEST_F(PlatformBlit, SetPixelWritesTopDownBgrAndIgnoresOutside)
{
    EXPECT_TRUE(SetPixelV(hdc, 1, 2, RGB(0x11, 0x22, 0x33)));
    EXPECT_EQ(SetPixel(hdc, 3, 0, 0x00ABCDEF), 0x00ABCDEFu);
    EXPECT_FALSE(SetPixelV(hdc, 4, 0, 0));
    EXPECT_FALSE(SetPixelV(hdc, 0, -1, 0));
    EXPECT_FALSE(SetPixelV(nullptr, 0, 0, 0));
    EXPECT_EQ(SetPixel(hdc, -1, 0, 0), CLR_INVALID);
    int w, h;
    const unsigned char* p;
    ASSERT_TRUE(krvplat::GetImage(hdc, w, h, p));
    const unsigned char* px = p + (2 * 4 + 1) * 3;
    EXPECT_EQ(px[0], 0x33);
    EXPECT_EQ(px[1], 0x22);
    EXPECT_EQ(px[2], 0x11);
    EXPECT_EQ(p[3 * 3 + 0], 0xAB);
    EXPECT_EQ(p[3 * 3 + 2], 0xEF);
}

TEST(PlatformText, TextOutDrawsInTheTextColourOverTransparentOrOpaqueCells)
{
    HDC hdc = krvplat::CreateImageDC(20, 10);
    int w, h;
    const unsigned char* p;
    ASSERT_TRUE(krvplat::GetImage(hdc, w, h, p));
    auto count = [&](unsigned char b, unsigned char g, unsigned char r) {
        int n = 0;
        for (int i = 0; i < w * h; ++i)
            n += p[i * 3] == b && p[i * 3 + 1] == g && p[i * 3 + 2] == r;
        return n;
    };
    EXPECT_EQ(SetTextColor(hdc, RGB(44, 0, 0)), RGB(0, 0, 0));
    EXPECT_EQ(SetBkMode(hdc, TRANSPARENT), OPAQUE);
    EXPECT_TRUE(TextOutA(hdc, 1, 1, "Hi", 2));
    const int ink = count(0, 0, 44);
    EXPECT_GT(ink, 10);
    EXPECT_EQ(ink + count(0, 0, 0), w * h) << "background left alone";
    // The glyphs stay inside their cells: nothing in row 0 or column 0.
    for (int x = 0; x < w; ++x) EXPECT_EQ(p[x * 3 + 2], 0) << x;
    for (int y = 0; y < h; ++y) EXPECT_EQ(p[y * w * 3 + 2], 0) << y;

    SetBkMode(hdc, OPAQUE);
    SetBkColor(hdc, RGB(0, 0, 9));
    EXPECT_TRUE(TextOutA(hdc, 14, 2, " ", 1));
    EXPECT_EQ(count(9, 0, 0), 6 * 8);
    // Clipped at every edge, and empty or bad strings.
    EXPECT_TRUE(TextOutA(hdc, -3, -4, "Clipped text", 12));
    EXPECT_TRUE(TextOutA(hdc, 18, 7, "\x7f\x01", 2));
    EXPECT_TRUE(TextOutA(hdc, 0, 0, nullptr, 0));
    EXPECT_FALSE(TextOutA(hdc, 0, 0, nullptr, 3));
    EXPECT_FALSE(TextOutA(hdc, 0, 0, "x", -1));
    krvplat::DestroyImageDC(hdc);
}

TEST(PlatformDC, ImageAndWindowDCsSurviveReleaseAndDelete)
{
    HDC image = krvplat::CreateImageDC(2, 2);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ReleaseDC(nullptr, image), 1);
    EXPECT_TRUE(DeleteDC(image));
    EXPECT_TRUE(SetPixelV(image, 1, 1, RGB(1, 2, 3)));
    EXPECT_EQ(WindowFromDC(image), nullptr);
    krvplat::DestroyImageDC(image);
    int w, h;
    const unsigned char* p;
    EXPECT_FALSE(krvplat::GetImage(image, w, h, p));
    EXPECT_FALSE(SetPixelV(image, 1, 1, 0));
    EXPECT_EQ(krvplat::CreateImageDC(-1, 2), nullptr);

    HWND hwnd = CreateWindowExA(0, RegisteredClass(), "", 0, 0, 0, 4, 4, nullptr, nullptr, nullptr,
                                nullptr);
    HDC hdc = GetDC(hwnd);
    ASSERT_NE(hdc, nullptr);
    EXPECT_EQ(GetDC(hwnd), hdc);
    EXPECT_EQ(WindowFromDC(hdc), hwnd);
    PIXELFORMATDESCRIPTOR pfd = {};
    EXPECT_EQ(ChoosePixelFormat(hdc, &pfd), 1);
    EXPECT_TRUE(SetPixelFormat(hdc, 1, &pfd));
    EXPECT_EQ(ReleaseDC(hwnd, hdc), 1);
    EXPECT_TRUE(DeleteDC(hdc));
    EXPECT_TRUE(SetPixelV(hdc, 3, 3, RGB(255, 0, 0)));
    ASSERT_TRUE(krvplat::GetWindowImage(hwnd, w, h, p));
    EXPECT_EQ(p[(3 * 4 + 3) * 3 + 2], 255);
    DestroyWindow(hwnd);
    EXPECT_FALSE(SetPixelV(hdc, 3, 3, 0)) << "the DC dies with its window";
    EXPECT_EQ(ChoosePixelFormat(hdc, &pfd), 0);
}

// ---------------------------------------------------------------------------------------------
// A back end that records what the layer asks of it, with a Win32-like frame.
struct FakeBackend : krvplat::Backend {
    std::vector<std::string> calls;
    int presents = 0;
    int lastPresentWidth = 0;
    unsigned char firstByte = 0;
    bool OpenWindow(HWND, int w, int h, const char*) override
    {
        calls.push_back("open " + std::to_string(w) + "x" + std::to_string(h));
        return true;
    }
    void CloseWindow(HWND) override { calls.push_back("close"); }
    void ShowWindow(HWND, bool show) override { calls.push_back(show ? "show" : "hide"); }
    void ResizeWindow(HWND, int w, int h) override
    {
        calls.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
    }
    void MoveWindow(HWND, int x, int y) override
    {
        calls.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void SetTitle(HWND, const char* title) override
    {
        calls.push_back(std::string("title ") + title);
    }
    void Present(HWND, int w, int, const unsigned char* bgr) override
    {
        ++presents;
        lastPresentWidth = w;
        firstByte = bgr[0];
    }
    void PumpEvents(int) override {}
    void DesktopSize(int& w, int& h) override
    {
        w = 1920;
        h = 1080;
    }
    void FrameSize(int& w, int& h) override
    {
        w = 16;
        h = 39;
    }
    int MessageBox(const char*, const char*, unsigned) override { return IDCANCEL; }
};

TEST(PlatformBackend, FrameSizeSeparatesOuterAndClientAndOnePresentPerFrame)
{
    FakeBackend fake;
    krvplat::SetBackend(&fake);
    HWND hwnd = CreateWindowExA(0, RegisteredClass(), "t", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                                nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(fake.calls.front(), "open 784x561");
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(outer.right - outer.left - client.right, 16);
    EXPECT_EQ(outer.bottom - outer.top - client.bottom, 39);
    // The placement a frame loop computes for an 800 x 600 client area on this desktop.
    fake.calls.clear();
    MoveWindow(hwnd, 552, 221, 816, 639, FALSE);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"move 552,221", "resize 800x600"}));
    krvplat::WindowResized(hwnd, 640, 480);
    GetWindowRect(hwnd, &outer);
    EXPECT_EQ(outer.right - outer.left, 656);
    EXPECT_EQ(outer.bottom - outer.top, 519);

    ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_PAINT) {}
    ASSERT_EQ(msg.message, WM_PAINT);
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    fake.presents = 0;
    SetPixelV(hdc, 0, 0, RGB(0, 0, 200));
    GdiFlush();
    ReleaseDC(hwnd, hdc);
    EndPaint(hwnd, &ps);
    EXPECT_EQ(fake.presents, 1);
    EXPECT_EQ(fake.lastPresentWidth, 640);
    EXPECT_EQ(fake.firstByte, 200);
    TextOutA(hdc, 0, 0, "x", 1);
    ReleaseDC(hwnd, hdc);
    EXPECT_EQ(fake.presents, 2) << "drawing outside a paint shows once released";

    SetWindowTextA(hwnd, "FPS: 60");
    EXPECT_EQ(fake.calls.back(), "title FPS: 60");
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OKCANCEL), IDCANCEL);
    DestroyWindow(hwnd);
    EXPECT_EQ(fake.calls.back(), "close");
    krvplat::SetBackend(nullptr);
}

// ---------------------------------------------------------------------------------------------
TEST(PlatformKernel, ModuleFileNameIsTheExecutable)
{
    char real[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", real, sizeof(real) - 1), 0);
    char path[PATH_MAX];
    DWORD n = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof(path));
    EXPECT_EQ(n, std::strlen(real));
    EXPECT_STREQ(path, real);
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 4u);
    EXPECT_EQ(std::string(small), std::string(real, 4));
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 0), 0u);
    EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
}

TEST(PlatformKernel, ClocksAdvanceWithSleep)
{
    LARGE_INTEGER f, c0, c1;
    ASSERT_TRUE(QueryPerformanceFrequency(&f));
    EXPECT_EQ(f.QuadPart, 1000000000);
    ASSERT_TRUE(QueryPerformanceCounter(&c0));
    DWORD t0 = GetTickCount();
    Sleep(20);
    DWORD t1 = GetTickCount();
    ASSERT_TRUE(QueryPerformanceCounter(&c1));
    EXPECT_GE(t1 - t0, 20u);
    EXPECT_GE(c1.QuadPart - c0.QuadPart, 20000000);
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(PlatformKernel, NativePathTurnsBackslashes)
{
    EXPECT_EQ(krvplat::NativePath("Models\\golf\\golf.obj"), "Models/golf/golf.obj");
    EXPECT_EQ(krvplat::NativePath(nullptr), "");
}

TEST(PlatformKernel, HeadlessMessageBoxAnswersWithoutAsking)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "GetDC failed!", "HDC Error", MB_ICONWARNING), IDOK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "HDC Error: GetDC failed!\n");
}

}  // namespace
